// Opening an archive that is already in order: it must cost about one pass
// of the engine over the documents and write nothing.
//   the engine's own "SELECT DISTINCT DATABASEID" scan of the main database,
//   the open as the window and the CLI do it (probe, connect, list, renumber
//   check, list), its ratio to the scan, and the files it changed (0).
// Usage: bench_open [work-folder] [documents]   (default 1,200,000 documents
// in 5 sub databases; the archive is generated once and kept)
#include "database/CDatabase.h"
#include "database/access/OpenArchive.h"
#include "support/Settings.h"
#include "support/engine/Connection.h"
#include "bench/BenchArchive.h"
#include "tools/sample/SampleArchive.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

using namespace qx;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Size, inode, modification and change times of every file but the log.
std::map<std::string, std::string> Stamps(const std::string& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path().extension() == ".log") continue;
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        out[e.path().filename().string()] =
            std::to_string(st.st_ino) + "/" + std::to_string(st.st_size) + "/" + std::to_string(st.st_mtim.tv_sec) +
            "." + std::to_string(st.st_mtim.tv_nsec) + "/" + std::to_string(st.st_ctim.tv_nsec);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string work = argc > 1 ? argv[1] : "/var/tmp/quillex-bench";
    const long documents = argc > 2 ? std::atol(argv[2]) : 1200000;
    const std::string dir = work + "/open-" + std::to_string(documents);
    const std::string main = dir + "/Archief.dat";
    if (!fs::exists(main)) {
        SampleOptions o = bench::SampleFor(dir, documents);
        o.subDatabases = 5;
        o.documentSize = 64;
        bench::WriteFresh(o);
    }
    auto open = [&] {
        NullWindow window;
        CDatabase db(window, qx::RealEnv());
        const auto t0 = Clock::now();
        const OpenOutcome outcome = OpenDatabaseFile(db, main);
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        if (outcome != OpenOutcome::Opened) {
            std::fprintf(stderr, "could not open %s\n", main.c_str());
            std::exit(8);
        }
        return s;
    };
    open();  // whatever a first open of a new archive settles

    std::vector<double> scans, opens;
    int changed = 0;
    for (int round = 0; round < 5; ++round) {
        {
            engine::Connection cn(qx::RealEnv());
            cn.open(CDatabase::ConnectString(main, Settings::Get().DatabasePassword));
            const auto t0 = Clock::now();
            sql::Statement st(cn.database(), "SELECT DISTINCT DATABASEID FROM FOLDERS WHERE NOT ISFOLDER AND "
                                             "DATABASEID > 0 ORDER BY DATABASEID");
            while (st.step() == sql::Step::Row) {
            }
            scans.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        }
        const auto before = Stamps(dir);
        opens.push_back(open());
        if (Stamps(dir) != before) ++changed;
    }
    const double scan = Median(scans), opened = Median(opens);
    std::printf("open of an archive in order, %ld documents (median of 5)\n", documents);
    std::printf("  engine scan SELECT DISTINCT DATABASEID  %8.3f s\n", scan);
    std::printf("  open (probe, connect, lists, renumber)  %8.3f s   %.2fx the scan\n", opened, opened / scan);
    std::printf("  opens that changed a file of the archive  %d of 5\n", changed);
    return changed == 0 ? 0 : 1;
}
