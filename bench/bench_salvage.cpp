// Salvaging a sub database with 5 damaged pages against the engine's own
// full read of the same file (every row, every value), and the peak memory.
//
//   bench_salvage [--mb N]     (default 600; --quick: 60)
//
// The documents are 40 KB to 1 MB, as scans are. The full read runs on the
// undamaged file (a damaged one stops at its first bad page); the salvage on
// a copy with 5 pages overwritten by random bytes, the file in the page
// cache for both; the better of two rounds counts.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "database/maintenance/Salvage.h"
#include "support/Env.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/engine/Cipher.h"
#include "support/engine/Connection.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

using namespace qx;
namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_salvage: %s\n", what.c_str());
    std::exit(8);
}

void Exec(sql::Database& db, const std::string& sql) {
    sql::Error err;
    if (!db.exec(sql, &err)) Fail(sql + ": " + err.message);
}

// Every row and every value, as the engine reads them.
double FullRead(const std::string& path, const std::string& password, long& rows) {
    const auto t0 = std::chrono::steady_clock::now();
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadOnly, err);
    if (!db.isOpen()) Fail(err.message);
    sql::Statement st(db, "SELECT ID, path, PICTURE FROM PICTURES");
    rows = 0;
    std::int64_t bytes = 0;
    while (st.step() == sql::Step::Row) {
        ++rows;
        bytes += st.columnBytes(2);
    }
    if (bytes == 0) Fail("nothing read");
    return Seconds(t0);
}

}  // namespace

int main(int argc, char** argv) {
    long mb = 600;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) mb = 60;
        else if (std::strcmp(argv[i], "--mb") == 0 && i + 1 < argc) mb = std::atol(argv[++i]);
    }
    const std::string dir = (fs::temp_directory_path() / "quillex-bench-salvage").string();
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string main = dir + "/Bench.dat", sub = SubDatabaseName(main, 1), pristine = dir + "/pristine.pdb",
                      damaged = dir + "/damaged.pdb";
    const std::string password = PasswordForGeneration(8);

    sql::Error err;
    if (!CreateMainDatabase(qx::RealEnv(), main, 8, err) || !CreateOmdDatabase(qx::RealEnv(), OmdName(main), err) ||
        !CreateSubDatabaseFile(qx::RealEnv(), pristine, password, err))
        Fail(err.message);
    long documents = 0;
    {
        sql::Database db = sql::Database::open(qx::RealEnv(), pristine, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
        sql::Database m = sql::Database::open(qx::RealEnv(), main, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
        std::mt19937 rng(11);
        Exec(db, "BEGIN");
        Exec(m, "BEGIN");
        Exec(m, "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (1, 0, -1, 'Map')");
        for (std::int64_t total = 0; total < mb * 1048576LL;) {
            const long size = 40960 + static_cast<long>(rng() % (1048576 - 40960));
            const long id = 2 + documents++;
            Exec(db, "INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(id) + ", randomblob(" +
                         std::to_string(size) + "))");
            Exec(m, "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (" + std::to_string(id) +
                        ", 1, 0, 'doc', 1)");
            total += size;
        }
        Exec(db, "COMMIT");
        Exec(m, "INSERT INTO DATABASES (ID, DATABASE) VALUES (1, '" + sub + "')");
        Exec(m, "COMMIT");
    }
    // Five pages past the first, spread over the file.
    fs::copy_file(pristine, damaged);
    {
        const std::int64_t pages = qx::RealEnv().FileLength(damaged) / sql::kCipherPageSize;
        std::mt19937 rng(5);
        std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
        std::string junk(sql::kCipherPageSize, '\0');
        for (int i = 0; i < 5; ++i) {
            for (char& c : junk) c = static_cast<char>(rng() & 0xFF);
            f.seekp(static_cast<std::streamoff>(1 + rng() % (pages - 1)) * sql::kCipherPageSize);
            f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
        }
    }
    std::printf("salvaging a sub database of %.0f MB (%ld documents, 5 damaged pages)\n",
                qx::RealEnv().FileLength(pristine) / 1048576.0, documents);

    Settings::Get().DatabasePassword = password;
    Settings::Get().LogFileName = dir + "/Bench.log";
    NullWindow window;
    window.state.m_sDatabaseName = main;
    CDatabase database(window, qx::RealEnv());
    if (!database.OpenDatabase(CDatabase::ConnectString(main, password))) Fail("the archive does not open");

    double ours = 1e9, theirs = 1e9;
    long rows = 0;
    SalvageFileReport last;
    for (int round = 0; round < 2; ++round) {
        theirs = std::min(theirs, FullRead(pristine, password, rows));
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename().string().rfind("Bench_1.pdb", 0) == 0) fs::remove(e.path());
        fs::copy_file(damaged, sub);
        ::sync();
        (void)FullRead(pristine, password, rows);  // the page cache as warm as for the read
        SalvageFileReport report;
        const auto t0 = std::chrono::steady_clock::now();
        if (!database.SalvageSubDatabase(1, sub, report)) Fail("the salvage failed: " + report.error);
        ours = std::min(ours, Seconds(t0));
        last = report;
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("  engine full read      : %6.2f s   %ld rows\n", theirs, rows);
    std::printf("  SalvageSubDatabase    : %6.2f s   %lld rows salvaged, %lld lost, %lld unreadable ranges, peak RSS "
                "%ld MB\n",
                ours, static_cast<long long>(last.rowsSalvaged), static_cast<long long>(last.rowsLost),
                static_cast<long long>(last.unreadableRanges), ru.ru_maxrss / 1024);
    std::printf("  ratio                 : %6.2fx (goal <= 1.5x)\n", ours / theirs);
    fs::remove_all(dir);
    return 0;
}
