#include "support/Env.h"
// Compacting a sub database against the engine's own export of the same
// file plus an fsync, side by side in one run, and the peak memory of both.
//
//   bench_compact [--mb N]     (default 200; --quick: 40)
//
// The file holds documents of 1 MB, a fifth of them deleted, so that the
// copy is smaller than its source as in real use. Both sides run twice,
// alternately, with the source in the page cache; the better time counts.
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

}  // namespace

int main(int argc, char** argv) {
    long mb = 200;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) mb = 40;
        else if (std::strcmp(argv[i], "--mb") == 0 && i + 1 < argc) mb = std::atol(argv[++i]);
    }
    const std::string dir = (fs::temp_directory_path() / "quillex-bench-compact").string();
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string main = dir + "/Bench.dat", sub = SubDatabaseName(main, 1), pristine = dir + "/pristine.pdb";
    const std::string password = PasswordForGeneration(8);

    // The archive: a main database and one sub database of `mb` MB after
    // the deletions.
    sql::Error err;
    if (!CreateMainDatabase(qx::RealEnv(), main, 8, err) || !CreateOmdDatabase(qx::RealEnv(), OmdName(main), err) ||
        !CreateSubDatabaseFile(qx::RealEnv(), pristine, password, err))
        Fail(err.message);
    {
        sql::Database db = sql::Database::open(qx::RealEnv(), pristine, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
        const long rows = mb * 5 / 4;
        Exec(db, "BEGIN");
        for (long id = 1; id <= rows; ++id)
            Exec(db, "INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(id) + ", randomblob(1048576))");
        Exec(db, "DELETE FROM PICTURES WHERE ID % 5 = 0");
        Exec(db, "COMMIT");
        sql::Database m = sql::Database::open(qx::RealEnv(), main, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
        Exec(m, "INSERT INTO DATABASES (ID, DATABASE) VALUES (1, '" + sub + "')");
    }
    std::printf("compacting a sub database of %.0f MB (%ld MB of documents after deletions)\n",
                qx::RealEnv().FileLength(pristine) / 1048576.0, mb);

    Settings::Get().DatabasePassword = password;
    Settings::Get().LogFileName = dir + "/Bench.log";
    NullWindow window;
    window.state.m_sDatabaseName = main;
    CDatabase database(window, qx::RealEnv());
    if (!database.OpenDatabase(CDatabase::ConnectString(main, password))) Fail("the archive does not open");

    double ours = 1e9, theirs = 1e9;
    long theirPeak = 0;
    std::int64_t ourSize = 0;
    for (int round = 0; round < 2; ++round) {
        theirs = std::min(theirs, EngineExport(pristine, dir + "/export.pdb", password, theirPeak));
        fs::remove(sub);
        fs::copy_file(pristine, sub);
        ::sync();
        const auto t0 = std::chrono::steady_clock::now();
        if (!database.CompactSingle(sub, password)) Fail("CompactSingle failed; see " + dir + "/Bench.log");
        ours = std::min(ours, Seconds(t0));
        ourSize = qx::RealEnv().FileLength(sub);
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("  engine export + fsync : %6.2f s   peak RSS %4ld MB   %lld bytes\n", theirs, theirPeak / 1024,
                static_cast<long long>(qx::RealEnv().FileLength(dir + "/export.pdb")));
    std::printf("  CompactSingle         : %6.2f s   peak RSS %4ld MB   %lld bytes\n", ours, ru.ru_maxrss / 1024,
                static_cast<long long>(ourSize));
    std::printf("  ratio                 : %6.2fx (goal <= 1.2x)\n", ours / theirs);
    fs::remove_all(dir);
    return 0;
}
