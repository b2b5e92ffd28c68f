// Speed of the checks on generated archives without damage:
//   the normal check at 100,000 and 1,000,000 documents (documents per
//   second, and how the time grows with the archive),
//   the quick check with small and with large documents (it must not read
//   the document bytes, so the size must not matter).
// Usage: bench_check [work-folder] [--quick]   (--quick: 10x fewer documents)
#include "database/CDatabase.h"
#include "database/access/OpenArchive.h"
#include "database/access/Schema.h"
#include "support/engine/Connection.h"
#include "support/Settings.h"
#include "bench/BenchArchive.h"
#include "tools/sample/SampleArchive.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

using namespace qx;
using Clock = std::chrono::steady_clock;

namespace {

SampleManifest Generate(const std::string& dir, long documents, long size) {
    SampleOptions o = bench::SampleFor(dir, documents);
    o.subDatabases = std::max<int>(1, static_cast<int>(documents / 200000));
    o.documentSize = size;
    return bench::WriteFresh(o);
}

// The engine's own reading of the same files, the yardstick of the normal
// check: every data row's size in every sub database, and a pass over the
// document rows.
double Yardstick(const SampleManifest& m) {
    const auto t0 = Clock::now();
    auto scan = [](const std::string& path, const char* sql) {
        engine::Connection cn(qx::RealEnv());
        cn.open(CDatabase::ConnectString(path, PasswordForGeneration(8)));
        sql::Statement st(cn.database(), sql);
        while (st.step() == sql::Step::Row) {
        }
    };
    scan(m.mainDatabase, "SELECT count(*), sum(length(NAME)) FROM FOLDERS");
    for (const SampleSubDatabase& s : m.subDatabases)
        if (s.fileWritten) scan(s.path, "SELECT count(*), sum(length(PICTURE)) FROM PICTURES");
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Seconds for one check command on an archive opened the usual way; the
// open itself in *openSeconds.
double Check(const SampleManifest& m, short flags, double* openSeconds = nullptr) {
    NullWindow window;
    CDatabase db(window, qx::RealEnv());
    const auto opening = Clock::now();
    const OpenOutcome opened = OpenDatabaseFile(db, m.mainDatabase);
    if (openSeconds) *openSeconds = std::chrono::duration<double>(Clock::now() - opening).count();
    if (opened != OpenOutcome::Opened) {
        std::fprintf(stderr, "could not open %s\n", m.mainDatabase.c_str());
        std::exit(8);
    }
    Settings::Get().LogFileName.clear();  // the log is not what is measured
    window.state.m_nDamaged = 0;
    window.state.m_nFixed = 0;
    const auto t0 = Clock::now();
    db.Analyse(flags);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (window.state.m_nDamaged > 0) std::printf("  unexpected findings: %ld\n", window.state.m_nDamaged);
    return s;
}

// The normal check with its open, printed beside the yardstick; the check's
// own seconds are returned.
double NormalAgainstYardstick(const SampleManifest& m) {
    double opening = 0;
    const double t = Check(m, 23, &opening);
    const double y = Yardstick(m);
    std::printf("  %8ld documents: %7.2f s  %9.0f documents/s; open + check %.2f s = %.1fx the engine's scan "
                "(%.2f s; goal: at most 2x)\n",
                m.documentRows, t, m.documentRows / t, opening + t, (opening + t) / y, y);
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* only = std::getenv("QX_BENCH_ONLY")) {  // profiling one check: QX_BENCH_ONLY=docs,flags
        long docs = std::atol(only);
        const short flags = static_cast<short>(std::atoi(std::strchr(only, ',') + 1));
        SampleManifest m;
        m.mainDatabase = "/var/tmp/quillex-bench/profile/Archief.dat";
        m.documentRows = docs;
        const char* size = std::getenv("QX_BENCH_SIZE");
        if (!std::filesystem::exists(m.mainDatabase))
            m = Generate("/var/tmp/quillex-bench/profile", docs, size ? std::atol(size) : 1024);
        const double t = Check(m, flags);
        std::printf("%ld documents: %.2f s, %.0f documents/s\n", m.documentRows, t, m.documentRows / t);
        return 0;
    }
    std::string work = "/var/tmp/quillex-bench";
    long scale = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) scale = 10;
        else work = argv[i];
    }
    std::printf("Check benchmark, work folder %s\n\n", work.c_str());

    const long small = 100000 / scale, large = 1000000 / scale;
    std::printf("normal check, documents of 1 KB\n");
    const SampleManifest a = Generate(work + "/check-small", small, 1024);
    const double ta = NormalAgainstYardstick(a);
    std::filesystem::remove_all(work + "/check-small");
    const SampleManifest b = Generate(work + "/check-large", large, 1024);
    const double tb = NormalAgainstYardstick(b);
    std::printf("  time ratio %.1fx for %.1fx the documents (goal: at most 11x for 10x)\n\n", tb / ta,
                double(b.documentRows) / a.documentRows);
    std::filesystem::remove_all(work + "/check-large");

    std::printf("quick check, the same number of documents of 1 KB and of 64 KB\n");
    const long docs = 20000 / scale * 2;
    const SampleManifest c = Generate(work + "/quick-1k", docs, 1024);
    const double tc = Check(c, 32);
    const SampleManifest d = Generate(work + "/quick-64k", docs, 65536);
    const double td = Check(d, 32);
    std::printf("  1 KB: %.2f s   64 KB: %.2f s   ratio %.2f (goal: about 1)\n", tc, td, td / tc);
    std::filesystem::remove_all(work + "/quick-1k");
    std::filesystem::remove_all(work + "/quick-64k");

    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("\npeak RSS of the benchmark: %ld MB\n", ru.ru_maxrss / 1024);
    return 0;
}
