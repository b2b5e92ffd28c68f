// Cost of finding and opening the sub database of a document, as a check
// does once per document: consecutive documents of one sub database (the
// connection is reused), and documents alternating between two.
// Usage: bench_open_picbase [work-folder] [documents]
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/Settings.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

using namespace qx;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "/var/tmp/quillex-bench/picbase";
    const long docs = argc > 2 ? std::stol(argv[2]) : 100000;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string main = dir + "/Bench.dat";
    const std::string pwd = PasswordForGeneration(8);
    sql::Error err;
    CreateMainDatabase(qx::RealEnv(), main, 8, err);
    CreateOmdDatabase(qx::RealEnv(), OmdName(main), err);
    {
        sql::Database db = sql::Database::open(qx::RealEnv(), main, engine::PasswordBytes(pwd), sql::OpenMode::ReadWrite, err);
        sql::Transaction tx(db);
        for (int k = 1; k <= 2; ++k) {
            CreateSubDatabaseFile(qx::RealEnv(), SubDatabaseName(main, k), pwd, err);
            sql::Statement row(db, "INSERT INTO DATABASES (ID, DATABASE) VALUES (?, ?)");
            row.bind(1, std::int64_t(k));
            row.bind(2, std::string_view(SubDatabaseName(main, k)));
            row.run();
        }
        sql::Statement doc(db, "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (?, 0, 0, 'd', ?)");
        for (long id = 1; id <= docs; ++id) {
            doc.bind(1, std::int64_t(id));
            doc.bind(2, std::int64_t(id <= docs / 2 ? 1 : 2));
            doc.run();
        }
        tx.commit();
    }
    Settings::Get().DatabasePassword = pwd;
    NullWindow window;
    CDatabase db(window, qx::RealEnv());
    db.m_bShowErrors = false;
    if (!db.OpenDatabase(CDatabase::ConnectString(main, pwd))) {
        std::fprintf(stderr, "could not open %s\n", main.c_str());
        return 8;
    }
    auto run = [&](auto idOf) {
        auto t0 = Clock::now();
        long bad = 0;
        for (long i = 0; i < docs; ++i) {
            long id = idOf(i);
            bad += db.OpenPicbase(id) != 0;
        }
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        return std::make_pair(s * 1e6 / docs, bad);
    };
    auto [same, bad1] = run([](long i) { return i + 1; });
    // Each lookup on the main database takes and releases the file lock; a
    // loop that holds one read transaction pays that once.
    db.m_AdoCnMain->database().exec("BEGIN");
    auto [held, bad2] = run([](long i) { return i + 1; });
    db.m_AdoCnMain->database().exec("COMMIT");
    auto [alternating, bad3] = run([&](long i) { return (i % 2 == 0) ? (i / 2 + 1) : (docs / 2 + i / 2 + 1); });
    std::printf("OpenPicbase over %ld documents in 2 sub databases\n", docs);
    std::printf("  consecutive documents, same sub database:           %8.2f us/call\n", same);
    std::printf("  the same inside one read transaction on the main:   %8.2f us/call\n", held);
    std::printf("  alternating sub databases (a reopen every call):    %8.2f us/call   %.0fx the first\n",
                alternating, alternating / same);
    if (bad1 || bad2 || bad3) std::printf("  FAILED calls: %ld\n", bad1 + bad2 + bad3);
    std::filesystem::remove_all(dir);
    return 0;
}
