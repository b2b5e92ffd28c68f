// Document records: folder paths, the information fields, removal, and the
// search for a document's data in other sub databases.
#include "support/Settings.h"
#include "support/engine/Recordset.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/CliRunner.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/SubDatabaseArchive.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

using namespace qx;
using qx::test::ArchiveBuilder;
using qx::test::TempDir;
namespace fs = std::filesystem;

namespace {

class Documents : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        Settings::Get().DatabasePassword = a.password;
        Settings::Get().LogFileName = dir.file("Kantoor.log");
    }
    void TearDown() override { Settings::Reset(); }
    void open() {
        db.m_bShowErrors = false;
        ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
    }
    long scalar(const std::string& sql) {
        engine::Recordset rs;
        EXPECT_TRUE(rs.open(sql, *db.m_AdoCnMain, engine::CursorMode::Lookup)) << sql;
        return rs.eof() ? -999 : rs.value(0).toLong();
    }
    qx::test::TempDir dir;
    ArchiveBuilder a{dir.path()};
    qx::test::ScriptedWindow window;
    CDatabase db{window, window.env()};
};

}  // namespace

TEST_F(Documents, VirtualPathsFollowTheFolderTreeAndStopAtLoops) {
    // 1 Map (top) > 20 B > 21 C; 22 is its own parent; 30 <-> 31 loop; 40 names a missing folder.
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (20, 1, -1, 'B'), (21, 20, -1, 'C'),"
           " (22, 22, -1, 'Self'), (30, 31, -1, 'X'), (31, 30, -1, 'Y')");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (100, 21, 0, 'd'), (101, NULL, 0, 'top'),"
           " (102, 22, 0, 'in self'), (103, 30, 0, 'looped'), (104, 40, 0, 'lost'), (105, 105, 0, 'own')");
    open();
    struct Case { long id; std::string path; short status; } cases[] = {
        {100, "\\Map\\B\\C\\", 0}, {101, "\\", 0}, {102, "\\Self\\", 0}, {104, "\\", 256}, {105, "\\", 0},
        {999, "\\", 256},
    };
    for (const Case& c : cases) {
        long id = c.id;
        std::string path = "unchanged";
        EXPECT_EQ(db.VirtualDocumentPath(id, path), c.status) << c.id;
        EXPECT_EQ(path, c.path) << c.id;
    }
    long id = 103;
    std::string path;
    EXPECT_EQ(db.VirtualDocumentPath(id, path), 256);
    EXPECT_EQ(std::count(path.begin(), path.end(), '\\'), 130);  // the names of 129 levels
}

TEST_F(Documents, InformationJoinsKeywordsAndShowsTheDate) {
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, word1, word3, NOTES, DATE, POSTAL) VALUES "
           "(50, 1, 0, 'Factuur', 'a', 'b', 'n', '20240305', '1234 AB'), (51, 1, 0, NULL, NULL, NULL, NULL, NULL, NULL)");
    open();
    std::string name, keywords, notes, date, zip;
    db.DocumentInfo(50, name, keywords, notes, date, zip);
    EXPECT_EQ(name + "|" + keywords + "|" + notes + "|" + zip, "Factuur|a; b;|n|1234 AB");
    EXPECT_EQ(date, "5-3-2024");  // Dutch order and the whole year, whatever the system's locale
    db.DocumentInfo(51, name, keywords, notes, date, zip);
    EXPECT_EQ(keywords, "");
    name = "kept";
    db.DocumentInfo(999, name, keywords, notes, date, zip);
    EXPECT_EQ(name, "kept");
}

TEST_F(Documents, RemoveDocDeletesDataOnlyFromTheDocumentsOwnSubDatabase) {
    a.sub(1, {2, 3}).sub(2, {4});
    // Document 5 points at sub database 3, which has no file; sub database 1
    // happens to hold a row under the same number.
    a.exec("INSERT INTO DATABASES (ID, DATABASE) VALUES (3, '/nowhere/Kantoor_3.pdb')");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (5, 1, 0, 'gone', 3)");
    a.execIn(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, x'AA'), (6, x'BB')");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (7, 1, 0, 'no data', 2)");
    open();
    long id = 2;
    EXPECT_TRUE(db.RemoveDoc(id));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM FOLDERS WHERE ID = 2"), 0);
    EXPECT_EQ(db.m_AdoCnPdb->execute("DELETE FROM PICTURES WHERE ID = 2"), 0);  // its data went with it

    id = 5;  // sub database 1 is still open from the last call
    EXPECT_TRUE(db.RemoveDoc(id));  // its own sub database is missing: the record goes all the same
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM FOLDERS WHERE ID = 5"), 0);
    engine::Connection sub1(qx::RealEnv());
    ASSERT_TRUE(sub1.open(CDatabase::ConnectString(SubDatabaseName(a.main, 1), a.password)));
    EXPECT_EQ(sub1.execute("UPDATE PICTURES SET path = NULL WHERE ID = 5"), 1);  // untouched

    id = 7;
    EXPECT_TRUE(db.RemoveDoc(id));  // no data row: the record still goes
}

TEST(RemoveDoc, RemovesTheRecordWhateverStateItsSubDatabaseIsIn) {
    // Document 2 lies in sub database 1 beside document 3. Documents 4 and 5
    // are pages of container 2 (markers in either case), 6 a page of 20.
    struct Case {
        std::string name;
        std::function<void(ArchiveBuilder&, sql::Database& holder, std::string& dataFile)> prepare;
        bool removed;              // RemoveDoc's answer and the FOLDERS row of 2
        bool dataRowRemoved;       // the PICTURES row of 2 in its file
        bool pagesRemoved;
        std::string logged;
    } cases[] = {
        {"healthy", [](auto&, auto&, auto&) {}, true, true, false, ""},
        {"sub database missing", [](ArchiveBuilder& a, auto&, auto&) { fs::remove(SubDatabaseName(a.main, 1)); },
         true, false, true, "2 - Data row not removed: sub database 'Kantoor_1.pdb' not found (2)"},
        {"sub database damaged",
         [](ArchiveBuilder& a, auto&, std::string& dataFile) {
             qx::test::WriteFile(SubDatabaseName(a.main, 1), std::string(5000, 'z'));
             dataFile.clear();
         },
         true, false, true, "2 - Data row not removed: sub database 'Kantoor_1.pdb' could not be opened (512)"},
        {"no sub database registered",
         [](ArchiveBuilder& a, auto&, auto&) { a.exec("UPDATE FOLDERS SET DATABASEID = 0 WHERE ID = 2"); },
         true, false, true, "2 - Data row not removed: no sub database is registered for it (1)"},
        {"sub database busy",
         [](ArchiveBuilder& a, sql::Database& holder, auto&) {
             sql::Error err;
             holder = sql::Database::open(qx::RealEnv(), SubDatabaseName(a.main, 1), engine::PasswordBytes(a.password),
                                          sql::OpenMode::ReadWrite, err);
             ASSERT_TRUE(holder.exec("BEGIN EXCLUSIVE", &err)) << err.message;
         },
         false, false, false, "2 - Not removed: sub database 'Kantoor_1.pdb' is locked by another program"},
        {"sub database read-only outside the folder",
         [](ArchiveBuilder& a, auto&, std::string& dataFile) {
             const std::string outside = fs::path(a.main).parent_path().string() + "/elsewhere";
             fs::create_directory(outside);
             dataFile = outside + "/Kantoor_1.pdb";
             fs::rename(SubDatabaseName(a.main, 1), dataFile);
             a.exec("UPDATE DATABASES SET DATABASE = " + ArchiveBuilder::SqlText(dataFile) + " WHERE ID = 1");
         },
         true, false, false, "2 - Data row left in '"},
    };
    // The lock is held for certain: waiting for it proves nothing.
    struct ShortWait {
        int before = sql::BusyTimeout();
        ShortWait() { sql::SetBusyTimeout(50); }
        ~ShortWait() { sql::SetBusyTimeout(before); }
    } shortWait;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Settings::Reset();
        TempDir dir;
        ArchiveBuilder a(dir.path());
        Settings::Get().DatabasePassword = a.password;
        Settings::Get().LogFileName = LogName(a.main);
        a.sub(1, {2, 3});
        a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, TEMPLATE1) VALUES (4, 1, 0, 'p2', 'MC2'),"
               " (5, 1, 0, 'p3', 'mc2'), (6, 1, 0, 'other', 'MC20')");
        a.exec("UPDATE FOLDERS SET TEMPLATE1 = 'MP' WHERE ID = 2");
        std::string dataFile = SubDatabaseName(a.main, 1);
        sql::Database holder;
        c.prepare(a, holder, dataFile);
        std::unique_ptr<qx::test::Immutable> frozen;
        if (c.name.find("read-only") != std::string::npos) {
            frozen = std::make_unique<qx::test::Immutable>(dataFile);
            if (!frozen->ok()) continue;  // no file that even root cannot write
        }
        qx::test::ScriptedWindow window;
        CDatabase db(window, window.env());
        db.m_bShowErrors = false;
        ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
        long id = 2;
        EXPECT_EQ(db.RemoveDoc(id), c.removed);
        EXPECT_EQ(qx::test::Query(a.main, "SELECT 0, group_concat(ID, ' ') FROM (SELECT ID FROM FOLDERS WHERE NOT "
                                          "ISFOLDER ORDER BY ID)")[0],
                  std::string(c.removed ? "" : "2 ") + "3 " + (c.pagesRemoved ? "" : "4 5 ") + "6");
        db.SetPicbase(nullptr);
        holder.close();
        frozen.reset();
        if (!dataFile.empty() && fs::exists(dataFile)) {
            const std::string rest = c.dataRowRemoved ? "3 " : "2 3 ";
            EXPECT_EQ(qx::test::Query(dataFile, "SELECT 0, group_concat(ID || ' ', '') FROM PICTURES")[0], rest);
        }
        const std::string log = qx::test::Slurp(LogName(a.main));
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    }
    Settings::Reset();
}

TEST_F(Documents, AlternativeSearchTakesTheFirstNonEmptyCopy) {
    a.sub(1, {2}).sub(2, {3}).sub(3, {4});
    a.execIn(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (9, x'')");
    a.execIn(3, "INSERT INTO PICTURES (ID, PICTURE) VALUES (9, x'0102'), (8, x'01')");
    a.exec("INSERT INTO DATABASES (ID, DATABASE) VALUES (4, '/nowhere/x.pdb')");
    open();
    struct Case { long linked, id, found; std::string log; } cases[] = {
        {1, 9, 3, "9 - alternative sub database found ( 3 - " + SubDatabaseName(a.main, 3) + " )"},
        {3, 9, 0, "9 - No alternative sub database found"},  // the only copy lies in the one that is skipped
        {1, 77, 0, "77 - No alternative sub database found"},
    };
    for (const bool kept : {false, true}) {
        const auto keep = kept ? CDatabaseTestAccess::KeepAlternativeCandidates(db) : nullptr;
        for (const Case& c : cases) {
            EXPECT_EQ(CDatabaseTestAccess::FindAlternativePicbase(db, c.linked, c.id), c.found) << c.id << kept;
            EXPECT_EQ(qx::test::LastLogLine(), c.log);
        }
    }
    // Kept connections hold no lock between searches and see what others wrote.
    const auto keep = CDatabaseTestAccess::KeepAlternativeCandidates(db);
    ASSERT_EQ(CDatabaseTestAccess::FindAlternativePicbase(db, 1, 9), 3);
    sql::Error err;
    sql::Database pdb = sql::Database::open(qx::RealEnv(), SubDatabaseName(a.main, 3), engine::PasswordBytes(a.password),
                                            sql::OpenMode::ReadWrite, err);
    ASSERT_TRUE(pdb.exec("DELETE FROM PICTURES WHERE ID = 9", &err)) << err.message;
    EXPECT_EQ(CDatabaseTestAccess::FindAlternativePicbase(db, 1, 9), 0);
}
