// Cost of the integrity pass on a generated archive without damage:
//   the normal check (which reads every page of the main and OCR databases
//   first) against the engine's own scan of the same files, and the pass
//   alone;
//   the thorough check's pass (the engine's full check of every file, with
//   its page cache) against the engine's own `PRAGMA integrity_check` of the
//   same files on a connection as it comes.
// Usage: bench_integrity [work-folder] [--documents N] [--keep]
//   (default 1,200,000 documents; --keep reuses an archive left by --keep)
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/OpenArchive.h"
#include "database/access/Schema.h"
#include "database/checks/Integrity.h"
#include "support/Settings.h"
#include "support/engine/Connection.h"
#include "bench/BenchArchive.h"
#include "tools/sample/SampleArchive.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace qx;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

struct Files {
    std::string main, omd;
    std::vector<std::string> subs;
};

Files FilesOf(const std::string& mainPath) {
    Files f{mainPath, OmdName(mainPath), {}};
    for (long n = 1; std::filesystem::exists(SubDatabaseName(mainPath, n)); ++n)
        f.subs.push_back(SubDatabaseName(mainPath, n));
    return f;
}

const std::string& Key() {
    static const std::string key = engine::PasswordBytes(PasswordForGeneration(8));
    return key;
}

void Drain(const std::string& path, std::string_view key, const char* sqlText, std::int64_t cacheBytes = 0) {
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), path, key, sql::OpenMode::ReadOnly, err);
    if (cacheBytes > 0) db.exec("PRAGMA cache_size = -" + std::to_string(cacheBytes / 1024));
    sql::Statement st(db, sqlText);
    while (st.ok() && st.step() == sql::Step::Row) {
    }
    if (!st.ok()) std::fprintf(stderr, "%s: %s\n", path.c_str(), st.error().message.c_str());
}

// The yardstick of the normal check (as in bench_check): the engine's own
// reading of the document rows and of every data row's size.
double EngineScan(const Files& f) {
    const auto t0 = Clock::now();
    Drain(f.main, Key(), "SELECT count(*), sum(length(NAME)) FROM FOLDERS");
    for (const std::string& s : f.subs) Drain(s, Key(), "SELECT count(*), sum(length(PICTURE)) FROM PICTURES");
    return Since(t0);
}

double EngineIntegrityCheck(const Files& f) {
    const auto t0 = Clock::now();
    Drain(f.main, Key(), "PRAGMA integrity_check");
    Drain(f.omd, "", "PRAGMA integrity_check");
    for (const std::string& s : f.subs) Drain(s, Key(), "PRAGMA integrity_check");
    return Since(t0);
}

double Pass(const Files& f, integrity::Depth depth) {
    const auto t0 = Clock::now();
    const bool full = depth == integrity::Depth::Full;
    auto one = [&](const std::string& path, std::string_view key) {
        const integrity::Verdict v = integrity::VerifyFile(qx::RealEnv(), path, key, depth, full ? integrity::CacheFor(qx::RealEnv(), path) : 0);
        if (v.kind != integrity::Verdict::Kind::Clean) std::fprintf(stderr, "%s is not clean\n", path.c_str());
    };
    one(f.main, Key());
    one(f.omd, "");
    if (full)
        for (const std::string& s : f.subs) one(s, Key());
    return Since(t0);
}

double NormalCheck(const std::string& mainPath) {
    NullWindow window;
    CDatabase db(window, qx::RealEnv());
    const auto t0 = Clock::now();
    if (OpenDatabaseFile(db, mainPath) != OpenOutcome::Opened) {
        std::fprintf(stderr, "could not open %s\n", mainPath.c_str());
        std::exit(8);
    }
    Settings::Get().LogFileName.clear();
    short flags = 23;
    db.Analyse(flags);
    if (window.state.m_nDamaged > 0) std::printf("  unexpected findings: %ld\n", window.state.m_nDamaged);
    return Since(t0);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    std::string work = "/var/tmp/quillex-bench-integrity";
    long documents = 1200000;
    bool keep = false;
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--documents") == 0 && i + 1 < argc) documents = std::atol(argv[++i]);
        else if (std::strcmp(argv[i], "--keep") == 0) keep = true;
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else work = argv[i];
    }
    const std::string dir = work + "/archive-" + std::to_string(documents);
    std::string mainPath;
    if (keep && std::filesystem::exists(dir + "/Archief.dat")) {
        mainPath = dir + "/Archief.dat";
    } else {
        SampleOptions o = bench::SampleFor(dir, documents);
        o.subDatabases = std::max<int>(1, static_cast<int>(documents / 200000));
        o.documentSize = 1024;  // as bench_check
        mainPath = bench::WriteFresh(o).mainDatabase;
    }
    const Files f = FilesOf(mainPath);
    std::printf("Integrity benchmark, %ld documents, %zu sub databases, main database %.0f MB\n", documents,
                f.subs.size(), std::filesystem::file_size(f.main) / 1048576.0);

    EngineScan(f);  // the files into the page cache
    std::vector<double> scan, normal, pagePass, engineFull, fullPass;
    for (int r = 0; r < rounds; ++r) {
        scan.push_back(EngineScan(f));
        normal.push_back(NormalCheck(mainPath));
        pagePass.push_back(Pass(f, integrity::Depth::Pages));
        engineFull.push_back(EngineIntegrityCheck(f));
        fullPass.push_back(Pass(f, integrity::Depth::Full));
    }
    const double s = Median(scan), n = Median(normal), p = Median(pagePass), e = Median(engineFull),
                 t = Median(fullPass);
    std::printf("medians of %d rounds:\n", rounds);
    std::printf("  engine scan %.2f s; open + normal check %.2f s = %.2fx (goal: at most 1.5x)\n", s, n, n / s);
    std::printf("  of that, the page pass over the main and OCR databases %.2f s = %.2fx the scan\n", p, p / s);
    std::printf("  engine's integrity_check of every file %.2f s; the thorough pass %.2f s = %.2fx (goal: at most "
                "1.3x)\n",
                e, t, t / e);
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("peak RSS of the benchmark: %ld MB\n", ru.ru_maxrss / 1024);
    return 0;
}
