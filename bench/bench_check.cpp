// The normal and quick checks against the engine's own reading of the same
// files, each run as a process of its own (the whole process is timed and
// its peak memory read from wait4), paired and alternated:
//   the normal check with its open at 120,000, 600,000 and 1,200,000
//   documents of 1 KB, beside the engine's scan of every stored value's size
//   and of the document rows: time, ratio and the check's peak RSS;
//   the same with the document IDs spread over the 64-bit range;
//   the quick check with documents of 64 KB against 1 KB, beside how much
//   the engine's own size read grows.
// Usage: bench_check [work-folder] [--quick] [--pairs N]   (--quick: 10x fewer documents)
//        bench_check --child generate FOLDER DOCUMENTS SIZE   (an archive to profile by hand)
//        bench_check --child check ARCHIVE.dat FLAGS | scan ARCHIVE.dat | sizes ARCHIVE.dat
#include "database/CDatabase.h"
#include "database/access/OpenArchive.h"
#include "database/access/Schema.h"
#include "support/engine/Connection.h"
#include "support/Settings.h"
#include "bench/BenchArchive.h"
#include "tools/sample/SampleArchive.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

using namespace qx;
using Clock = std::chrono::steady_clock;

namespace {

SampleManifest Generate(const std::string& dir, long documents, long size) {
    SampleOptions o = bench::SampleFor(dir, documents);
    o.subDatabases = std::max<int>(1, static_cast<int>(documents / 200000));
    o.documentSize = size;
    return bench::WriteFresh(o);
}

// -- the child processes ------------------------------------------------------

// The engine's reading of the files: every stored value's size in every sub
// database, and a pass over the document rows (or, `dataOnly`, the sizes only).
int ChildScan(const std::string& main, bool dataOnly) {
    auto scan = [](const std::string& path, const char* sql) {
        engine::Connection cn(qx::RealEnv());
        cn.open(CDatabase::ConnectString(path, PasswordForGeneration(8)));
        sql::Statement st(cn.database(), sql);
        while (st.step() == sql::Step::Row) {
        }
    };
    std::vector<std::string> subs;
    {
        engine::Connection cn(qx::RealEnv());
        cn.open(CDatabase::ConnectString(main, PasswordForGeneration(8)));
        sql::Statement st(cn.database(), "SELECT DATABASE FROM DATABASES ORDER BY ID");
        while (st.step() == sql::Step::Row) subs.push_back(st.getText(0));
    }
    if (!dataOnly) scan(main, "SELECT count(*), sum(length(NAME)) FROM FOLDERS");
    for (const std::string& s : subs) scan(s, "SELECT count(*), sum(length(PICTURE)) FROM PICTURES");
    return 0;
}

int ChildCheck(const std::string& main, short flags) {
    NullWindow window;
    CDatabase db(window, qx::RealEnv());
    if (OpenDatabaseFile(db, main) != OpenOutcome::Opened) {
        std::fprintf(stderr, "could not open %s\n", main.c_str());
        return 8;
    }
    Settings::Get().LogFileName.clear();  // the log is not what is measured
    window.state.m_nDamaged = 0;
    db.Analyse(flags);
    if (window.state.m_nDamaged > 0) std::fprintf(stderr, "  unexpected findings: %ld\n", window.state.m_nDamaged);
    return 0;
}

// -- the parent -----------------------------------------------------------------

struct Run {
    double seconds = 0;
    long peakKb = 0;
};

// This program again, as a child doing one job; its whole time and its peak.
Run Spawn(const std::vector<std::string>& args) {
    std::vector<std::string> all{"/proc/self/exe", "--child"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto t0 = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(8);
    }
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    Run r;
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    r.peakKb = ru.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "child %s failed\n", args.front().c_str());
        std::exit(8);
    }
    return r;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Paired {
    std::vector<double> a, b, ratio;
    long peakA = 0, peakB = 0;
};

// A B A B ...: each pair under the same load.
Paired Alternate(int pairs, const std::vector<std::string>& a, const std::vector<std::string>& b) {
    Spawn(b);  // the files into the page cache
    Paired p;
    for (int i = 0; i < pairs; ++i) {
        const Run ra = Spawn(a), rb = Spawn(b);
        p.a.push_back(ra.seconds);
        p.b.push_back(rb.seconds);
        p.ratio.push_back(ra.seconds / rb.seconds);
        p.peakA = std::max(p.peakA, ra.peakKb);
        p.peakB = std::max(p.peakB, rb.peakKb);
    }
    return p;
}

void PrintNormal(const char* label, long documents, const Paired& p) {
    std::printf("  %-8s %9ld documents: check %6.2f s, engine scan %6.2f s, ratio %.2fx (%.2f-%.2f; goal <= 1.3x), "
                "peak RSS check %ld MiB, scan %ld MiB\n",
                label, documents, Median(p.a), Median(p.b), Median(p.ratio),
                *std::min_element(p.ratio.begin(), p.ratio.end()), *std::max_element(p.ratio.begin(), p.ratio.end()),
                p.peakA / 1024, p.peakB / 1024);
}

// Half the documents (not the pages of a multipage document, whose marks
// name their container) moved far up the ID range, in their rows and their
// stored data: IDs 1 to N and 2^62 + 2 to 2^62 + N.
void SpreadIds(const SampleManifest& m) {
    const std::int64_t far = std::int64_t{1} << 62;
    engine::Connection cn(qx::RealEnv());
    cn.open(CDatabase::ConnectString(m.mainDatabase, PasswordForGeneration(8)));
    std::vector<std::int64_t> ids;
    {
        sql::Statement st(cn.database(), "SELECT ID FROM FOLDERS WHERE NOT ISFOLDER AND ID % 2 = 0 AND "
                                         "(TEMPLATE1 IS NULL OR TEMPLATE1 NOT LIKE 'M%')");
        while (st.step() == sql::Step::Row) ids.push_back(st.getInt64(0));
    }
    cn.execute("UPDATE FOLDERS SET ID = ID + 4611686018427387904 WHERE NOT ISFOLDER AND ID % 2 = 0 AND "
               "(TEMPLATE1 IS NULL OR TEMPLATE1 NOT LIKE 'M%')");
    for (const SampleSubDatabase& s : m.subDatabases) {
        if (!s.fileWritten) continue;
        engine::Connection pdb(qx::RealEnv());
        pdb.open(CDatabase::ConnectString(s.path, PasswordForGeneration(8)));
        pdb.execute("BEGIN");
        sql::Statement up(pdb.database(), "UPDATE PICTURES SET ID = ? WHERE ID = ?");
        for (const std::int64_t id : ids) {
            up.bind(1, far + id);
            up.bind(2, id);
            up.step();
            up.reset();
        }
        pdb.execute("COMMIT");
    }
    std::printf("  (%zu document IDs moved above 2^62)\n", ids.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--child") == 0) {
        const std::string job = argv[2], main = argv[3];
        if (job == "scan") return ChildScan(main, false);
        if (job == "sizes") return ChildScan(main, true);
        if (job == "check" && argc >= 5) return ChildCheck(main, static_cast<short>(std::atoi(argv[4])));
        // For profiling by hand: an archive kept in the given folder.
        if (job == "generate" && argc >= 6) return Generate(main, std::atol(argv[4]), std::atol(argv[5])), 0;
        return 2;
    }
    std::string work = "/var/tmp/quillex-bench";
    long scale = 1;
    int pairs = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) scale = 10;
        else if (std::strcmp(argv[i], "--pairs") == 0 && i + 1 < argc) pairs = std::max(1, std::atoi(argv[++i]));
        else work = argv[i];
    }
    std::printf("Check benchmark, work folder %s, %d alternating pairs per figure (median, range)\n\n", work.c_str(),
                pairs);

    std::printf("normal check (open included) against the engine's scan, documents of 1 KB\n");
    for (const long documents : {120000 / scale, 600000 / scale, 1200000 / scale}) {
        const std::string dir = work + "/check-" + std::to_string(documents);
        const SampleManifest m = Generate(dir, documents, 1024);
        PrintNormal("dense", m.documentRows, Alternate(pairs, {"check", m.mainDatabase, "23"}, {"scan", m.mainDatabase}));
        if (documents == 120000 / scale) {
            SpreadIds(m);
            PrintNormal("sparse", m.documentRows,
                        Alternate(pairs, {"check", m.mainDatabase, "23"}, {"scan", m.mainDatabase}));
        }
        std::filesystem::remove_all(dir);
    }

    std::printf("\nquick check, the same number of documents of 1 KB and of 64 KB\n");
    const long docs = 20000 / scale * 2;
    Paired small, large;
    {
        const SampleManifest c = Generate(work + "/quick-1k", docs, 1024);
        small = Alternate(pairs, {"check", c.mainDatabase, "32"}, {"sizes", c.mainDatabase});
    }
    {
        const SampleManifest d = Generate(work + "/quick-64k", docs, 65536);
        large = Alternate(pairs, {"check", d.mainDatabase, "32"}, {"sizes", d.mainDatabase});
    }
    std::printf("  quick check: 1 KB %.2f s, 64 KB %.2f s: %.2fx; the engine's size read: 1 KB %.2f s, 64 KB %.2f s: "
                "%.2fx (goal: the check grows no more than the engine's read); peak RSS %ld / %ld MiB\n",
                Median(small.a), Median(large.a), Median(large.a) / Median(small.a), Median(small.b), Median(large.b),
                Median(large.b) / Median(small.b), small.peakA / 1024, large.peakA / 1024);
    std::filesystem::remove_all(work + "/quick-1k");
    std::filesystem::remove_all(work + "/quick-64k");
    return 0;
}
