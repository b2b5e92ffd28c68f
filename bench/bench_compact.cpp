// Compacting a sub database against the engine's own export of the same
// file plus an fsync, side by side in one run, for documents of several
// sizes, and the peak memory of both.
//
//   bench_compact [--quick] [--mb N] [--rounds N] [--sizes KB,KB,...] [--ours-only N]
//
// Each file holds `mb` MB of documents of one size after a fifth of them
// were deleted, so that the copy is smaller than its source as in real use.
// The two sides run in pairs, their order alternating (A B, B A, ...), with
// the source in the page cache; the median of the pairs' ratios counts, and
// their spread is printed beside it. --ours-only N compacts N times and
// nothing else (for a profiler).
#include "support/Env.h"
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/engine/Cipher.h"
#include "support/engine/Connection.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace qx;
namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_compact: %s\n", what.c_str());
    std::exit(8);
}

void Exec(sql::Database& db, const std::string& sql) {
    sql::Error err;
    if (!db.exec(sql, &err)) Fail(sql + ": " + err.message);
}

// The yardstick: the sqlcipher shell exporting into a keyed file, then an
// fsync of the result (`sync FILE`), in a child process whose peak RSS
// the system reports.
double EngineExport(const std::string& src, const std::string& dst, const std::string& password, long& peakKb) {
    fs::remove(dst);
    const std::string key = sql::RawKeyFor(engine::PasswordBytes(password));
    const std::string script = dst + ".sql";
    {
        std::FILE* f = std::fopen(script.c_str(), "w");
        std::fprintf(f,
                     "PRAGMA key = \"%s\";\nPRAGMA cipher_page_size = %d;\n"
                     "ATTACH DATABASE '%s' AS c KEY \"%s\";\nPRAGMA c.cipher_page_size = %d;\n"
                     "SELECT sqlcipher_export('c');\nDETACH DATABASE c;\n",
                     key.c_str(), sql::kCipherPageSize, dst.c_str(), key.c_str(), sql::kCipherPageSize);
        std::fclose(f);
    }
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string cmd = "sqlcipher -bail '" + src + "' < '" + script + "' >/dev/null && sync '" + dst + "'";
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage ru{};
    ::wait4(child, &status, 0, &ru);
    const double s = Seconds(t0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("the sqlcipher shell failed");
    peakKb = std::max(peakKb, ru.ru_maxrss);
    fs::remove(script);
    return s;
}

// A sub database of documents of `size` bytes, `mb` MB after a fifth of
// them were deleted; rows are written in ID order as the program writes
// them.
void WriteSource(const std::string& path, const std::string& password, long size, long mb) {
    sql::Error err;
    fs::remove(path);
    if (!CreateSubDatabaseFile(qx::RealEnv(), path, password, err)) Fail(err.message);
    sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
    const long rows = std::max<long>(5, mb * 1048576 / size * 5 / 4);
    Exec(db, "BEGIN");
    Exec(db, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(rows) +
                 ") INSERT INTO PICTURES (ID, PICTURE) SELECT i, randomblob(" + std::to_string(size) + ") FROM n");
    Exec(db, "DELETE FROM PICTURES WHERE ID % 5 = 0");
    Exec(db, "COMMIT");
}

double LoadAverage() {
    double load = 0;
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = 0;
        std::fclose(f);
    }
    return load;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    long mb = 100;
    int rounds = 5, oursOnly = 0;
    std::vector<long> sizesKb{1, 4, 64, 1024};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) mb = 20, rounds = 3;
        else if (std::strcmp(argv[i], "--mb") == 0 && i + 1 < argc) mb = std::atol(argv[++i]);
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--ours-only") == 0 && i + 1 < argc) oursOnly = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc) {
            sizesKb.clear();
            for (const char* p = argv[++i]; *p;) {
                char* end = nullptr;
                sizesKb.push_back(std::strtol(p, &end, 10));
                p = *end == ',' ? end + 1 : end;
                if (end == p && *p) break;
            }
        }
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string dir = (fs::temp_directory_path() / "quillex-bench-compact").string();
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string main = dir + "/Bench.dat", sub = SubDatabaseName(main, 1), pristine = dir + "/pristine.pdb";
    const std::string password = PasswordForGeneration(8);
    sql::Error err;
    if (!CreateMainDatabase(qx::RealEnv(), main, 8, err) || !CreateOmdDatabase(qx::RealEnv(), OmdName(main), err))
        Fail(err.message);
    {
        sql::Database m = sql::Database::open(qx::RealEnv(), main, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
        Exec(m, "INSERT INTO DATABASES (ID, DATABASE) VALUES (1, '" + sub + "')");
    }
    Settings::Get().DatabasePassword = password;
    Settings::Get().LogFileName = dir + "/Bench.log";
    NullWindow window;
    window.state.m_sDatabaseName = main;
    CDatabase database(window, qx::RealEnv());
    if (!database.OpenDatabase(CDatabase::ConnectString(main, password))) Fail("the archive does not open");

    std::printf("machine: %ld cores, load %.1f at the start; %d pairs per size, order alternating\n",
                ::sysconf(_SC_NPROCESSORS_ONLN), LoadAverage(), rounds);
    long theirPeak = 0;
    for (const long kb : sizesKb) {
        const long size = kb * 1024;
        WriteSource(pristine, password, size, mb);
        std::printf("documents of %ld KB: a sub database of %.0f MB (%ld MB of documents after deletions)\n", kb,
                    qx::RealEnv().FileLength(pristine) / 1048576.0, mb);
        auto ours = [&] {
            fs::remove(sub);
            fs::copy_file(pristine, sub);
            ::sync();
            const auto t0 = std::chrono::steady_clock::now();
            if (!database.CompactSingle(sub, password)) Fail("CompactSingle failed; see " + dir + "/Bench.log");
            return Seconds(t0);
        };
        if (oursOnly > 0) {
            for (int r = 0; r < oursOnly; ++r) std::printf("  CompactSingle %.3f s\n", ours());
            continue;
        }
        std::vector<double> engine, ourTimes, ratios;
        std::vector<double> loads;
        for (int r = 0; r < rounds; ++r) {
            loads.push_back(LoadAverage());
            double e = 0, o = 0;
            if (r % 2 == 0) {
                e = EngineExport(pristine, dir + "/export.pdb", password, theirPeak);
                o = ours();
            } else {
                o = ours();
                e = EngineExport(pristine, dir + "/export.pdb", password, theirPeak);
            }
            engine.push_back(e);
            ourTimes.push_back(o);
            ratios.push_back(o / e);
        }
        // The file just compacted has nothing to win: the time to find that out.
        std::vector<double> checks;
        for (int r = 0; r < 3; ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            if (!database.CompactSingle(sub, password) || !database.m_compactSkipped)
                Fail("the compacted file was not skipped; see " + dir + "/Bench.log");
            checks.push_back(Seconds(t0));
        }
        const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
        std::printf("  engine export + fsync : median %6.3f s   %lld bytes\n", Median(engine),
                    static_cast<long long>(qx::RealEnv().FileLength(dir + "/export.pdb")));
        std::printf("  CompactSingle         : median %6.3f s   %lld bytes\n", Median(ourTimes),
                    static_cast<long long>(qx::RealEnv().FileLength(sub)));
        std::printf("  ratio                 : median %5.2fx (%.2f - %.2f; goal <= 1.2x), load %.1f - %.1f\n",
                    Median(ratios), *low, *high, *std::min_element(loads.begin(), loads.end()),
                    *std::max_element(loads.begin(), loads.end()));
        std::printf("  skipped as compact    : median %6.3f s   (%.2fx the engine's export)\n", Median(checks),
                    Median(checks) / Median(engine));
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("peak RSS: engine shell %ld MB, this process %ld MB\n", theirPeak / 1024, ru.ru_maxrss / 1024);
    fs::remove_all(dir);
    return 0;
}
