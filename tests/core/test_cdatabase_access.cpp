// Opening an archive through CDatabase, and finding its sub databases.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/OpenArchive.h"
#include "database/access/Schema.h"
#include "support/FileOperations.h"
#include "support/Settings.h"
#include "support/engine/Recordset.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace qx;
using qx::test::ScriptedWindow;
using qx::test::TempDir;
namespace fs = std::filesystem;

namespace {

const std::string kPwd = "\u00a9Pendrawix8";

// A generation-8 archive: folder 1 with documents 2..(1+subs), document k+1
// stored in sub database k whose DATABASES row holds `storedFolder`.
struct Archive : qx::test::ArchiveBuilder {
    Archive(const std::string& folder, int subs, const std::string& storedFolder = "") : ArchiveBuilder(folder) {
        for (long k = 1; k <= subs; ++k)
            sub(k, {k + 1},
                storedFolder.empty() ? "" : storedFolder + "/" + fs::path(SubDatabaseName(main, k)).filename().string());
    }
    std::string storedPath(long id) const {
        sql::Error err;
        sql::Database db = sql::Database::open(main, engine::PasswordBytes(kPwd), sql::OpenMode::ReadWrite, err);
        sql::Statement st(db, "SELECT DATABASE FROM DATABASES WHERE ID = " + std::to_string(id));
        return st.step() == sql::Step::Row ? st.getText(0) : "";
    }
};

class CDatabaseAccess : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        Settings::Get().DatabasePassword = kPwd;
        Settings::Get().LogFileName = dir.file("Kantoor.log");
    }
    void TearDown() override { Settings::Reset(); }
    TempDir dir;
    ScriptedWindow window;
};

}  // namespace

TEST_F(CDatabaseAccess, OpenDatabaseReportsEachFailureTheWayItShould) {
    Archive a(dir.path(), 1);
    struct Case {
        std::string name, path, pwd;
        bool showErrors, opens;
        std::vector<std::string> titles;  // message boxes, in order
    } cases[] = {
        {"opens", a.main, kPwd, true, true, {}},
        {"missing, quiet", dir.file("none.dat"), kPwd, false, false, {}},
        {"missing", dir.file("none.dat"), kPwd, true, false, {"Resources not found", "Resources not found"}},
        {"wrong password", a.main, "\u00a9Pendrawix6", true, false, {"Resources not found"}},
        {"wrong password, quiet", a.main, "\u00a9Pendrawix6", false, false, {}},
    };
    for (const Case& c : cases) {
        window.boxes.clear();
        CDatabase db(window);
        db.m_bShowErrors = c.showErrors;
        EXPECT_EQ(db.OpenDatabase(CDatabase::ConnectString(c.path, c.pwd)), c.opens) << c.name;
        std::vector<std::string> titles;
        for (const auto& b : window.boxes) titles.push_back(b.title);
        if (c.name.rfind("missing", 0) != 0 && !c.titles.empty()) titles.resize(c.titles.size());
        EXPECT_EQ(titles.size(), c.titles.size()) << c.name;
        if (c.opens) { EXPECT_EQ(db.MainDatabaseName(), a.main); }
    }
}

TEST_F(CDatabaseAccess, OmdProblemsWarnButTheArchiveOpens) {
    Archive a(dir.path(), 1);
    const std::string omd = OmdName(a.main);
    struct Case { std::string name; std::function<void()> damage; std::string title; bool quiet; } cases[] = {
        {"missing", [&] { fs::remove(omd); }, "OCR data niet gevonden...", true},
        {"damaged", [&] { qx::test::WriteFile(omd, std::string(5000, 'z')); }, "OCR data corrupt...", true},
        {"damaged, loud", [&] { qx::test::WriteFile(omd, std::string(5000, 'z')); }, "OCR data corrupt...", false},
    };
    for (const Case& c : cases) {
        c.damage();
        window.boxes.clear();
        CDatabase db(window);
        db.m_bShowErrors = !c.quiet;
        ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, kPwd))) << c.name;
        ASSERT_FALSE(window.boxes.empty()) << c.name;
        const auto& box = window.boxes.back();  // a loud open also shows the connection error first
        EXPECT_NE(box.title.find("OCR"), std::string::npos) << c.name;
        EXPECT_NE(box.text.find("'" + omd + "'"), std::string::npos) << box.text;
        EXPECT_EQ(box.icon, MsgIcon::Exclamation);
        EXPECT_EQ(window.boxes.size(), c.quiet ? 1u : 2u) << c.name;
    }
}

TEST_F(CDatabaseAccess, AReadOnlyArchiveIsRefusedEvenWhenItsLastTableIsEmpty) {
    Archive a(dir.path(), 1);
    qx::test::Immutable lock(a.main);
    if (!lock.ok()) GTEST_SKIP() << "chattr +i is not available: no read-only file can be made for root";
    CDatabase db(window);
    EXPECT_FALSE(db.OpenDatabase(CDatabase::ConnectString(a.main, kPwd)));
    EXPECT_TRUE(window.boxes.empty());
    const auto lines = qx::test::ReadLines(Settings::Get().LogFileName);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Database '" + a.main + "' is readonly!");
}

TEST_F(CDatabaseAccess, OpenPicbaseFindsRelocatesAndReusesSubDatabases) {
    Archive a(dir.path(), 3, "/old/place");
    // A same-named file at a stored path that exists elsewhere loses against
    // the one beside the main database.
    TempDir elsewhere;
    fs::copy_file(SubDatabaseName(a.main, 3), elsewhere.file("Kantoor_3.pdb"));
    {
        sql::Error err;
        sql::Database m = sql::Database::open(a.main, engine::PasswordBytes(kPwd), sql::OpenMode::ReadWrite, err);
        m.exec("UPDATE DATABASES SET DATABASE = '" + elsewhere.file("Kantoor_3.pdb") + "' WHERE ID = 3");
        m.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (10, 1, 0, 'zero', 0)");
        m.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (11, 1, 0, 'second', 1)");
        m.exec("INSERT INTO DATABASES (ID, DATABASE) VALUES (4, '/nowhere/Kantoor_4.pdb')");
        m.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (12, 1, 0, 'lost', 4)");
    }
    CDatabase db(window);
    ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, kPwd)));

    struct Case { long id; short status; std::string name; long databaseId; } cases[] = {
        {2, 0, "Kantoor_1.pdb", 1},
        {4, 0, "Kantoor_3.pdb", 3},
        {10, 1, "", -1},
        {999, 1, "", -1},
        {12, 2, "Kantoor_4.pdb", 4},
    };
    for (const Case& c : cases) {
        long id = c.id, databaseId = -1;
        std::string name = "unchanged";
        EXPECT_EQ(db.OpenPicbase(id, &name, &databaseId), c.status) << c.id;
        EXPECT_EQ(name, c.name) << c.id;
        EXPECT_EQ(databaseId, c.databaseId) << c.id;
    }
    EXPECT_EQ(a.storedPath(1), SubDatabaseName(a.main, 1));
    EXPECT_EQ(a.storedPath(3), SubDatabaseName(a.main, 3));
    EXPECT_EQ(a.storedPath(4), "/nowhere/Kantoor_4.pdb");

    // The same sub database again: the open connection is reused.
    long id = 2;
    ASSERT_EQ(db.OpenPicbase(id), 0);
    const engine::Connection* open = db.m_AdoCnPdb.get();
    id = 11;
    EXPECT_EQ(db.OpenPicbase(id), 0);
    EXPECT_EQ(db.m_AdoCnPdb.get(), open);
}

TEST_F(CDatabaseAccess, OpenPicbaseReportsWhatKeepsASubDatabaseFromOpening) {
    Archive a(dir.path(), 2);
    qx::test::WriteFile(SubDatabaseName(a.main, 2), std::string(40000, 'q'));
    CDatabase db(window);
    long id = 2;
    EXPECT_EQ(db.OpenPicbase(id), 512);  // no main connection
    db.m_bShowErrors = false;
    ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, kPwd)));
    id = 3;
    EXPECT_EQ(db.OpenPicbase(id), 512);  // not a database
    EXPECT_TRUE(window.boxes.size() <= 1);  // only the OMD check may have spoken
    fs::rename(a.main, a.main + ".away");
    id = 2;
    EXPECT_EQ(db.OpenPicbase(id), 32);  // the main database itself is gone
}

TEST_F(CDatabaseAccess, CreateSubDatabaseSetsTheOldFileAside) {
    Archive a(dir.path(), 1);
    CDatabase db(window);
    const std::string path = dir.file("Kantoor_9.pdb");
    ASSERT_TRUE(CDatabaseTestAccess::CreateSubDatabase(db, path));
    ASSERT_TRUE(CDatabaseTestAccess::CreateSubDatabase(db, path));
    ASSERT_TRUE(CDatabaseTestAccess::CreateSubDatabase(db, path));
    EXPECT_TRUE(fs::exists(path + ".deleted"));
    EXPECT_TRUE(fs::exists(dir.file("Kantoor_9.pdb_001.deleted")));
    engine::Connection cn;
    EXPECT_TRUE(cn.open(CDatabase::ConnectString(path, kPwd)));
    const auto lines = qx::test::ReadLines(Settings::Get().LogFileName);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Creating '" + path + "'..."), 3);
}

TEST_F(CDatabaseAccess, ARefusedFileGetsItsReadOnlyAttributeBack) {
    struct Case {
        std::string name;
        std::function<std::string(const std::string& folder)> make;
        OpenOutcome outcome;
        bool readOnlyAfter;
    } cases[] = {
        {"outdated generation 6",
         [](const std::string& folder) { return qx::test::ArchiveBuilder(folder, 6).main; }, OpenOutcome::Outdated,
         true},
        {"not a database",
         [](const std::string& folder) {
             qx::test::WriteFile(folder + "/notes.dat", std::string(3000, 'n'));
             return folder + "/notes.dat";
         },
         OpenOutcome::UnknownFormat, true},
        {"accepted generation 8",
         [](const std::string& folder) { return qx::test::ArchiveBuilder(folder, 8).main; }, OpenOutcome::Opened,
         false},
    };
    for (const Case& c : cases) {
        TempDir folder;
        const std::string file = c.make(folder.path());
        SetFileReadOnly(file, true);
        CDatabase db(window);
        EXPECT_EQ(OpenDatabaseFile(db, file), c.outcome) << c.name;
        EXPECT_EQ(IsFileReadOnly(file), c.readOnlyAfter) << c.name;
    }
}
