// Opening an archive through CDatabase, and finding its sub databases.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/OpenArchive.h"
#include "support/FileOperations.h"
#include "support/Settings.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/SubDatabaseArchive.h"

#include "support/Env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

using namespace qx;
using namespace qx::test;
namespace fs = std::filesystem;

namespace {

// Folder 1 with documents 2..(1+subs), document k+1 stored in sub database k
// whose DATABASES row names `storedFolder` (empty: its standard path).
Archive WithSubs(const std::string& folder, int subs, const std::string& storedFolder = "") {
    Archive a(folder);
    for (long k = 1; k <= subs; ++k)
        a.sub(k, {k + 1}, storedFolder.empty() ? "" : storedFolder + "/" + fs::path(a.at(k)).filename().string());
    return a;
}

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
    Archive a = WithSubs(dir.path(), 1);
    const std::tuple<const char*, std::string, std::string, bool, bool, std::size_t> cases[] = {
        // name, path, password, show errors, opens, message boxes
        {"opens", a.main, kPwd, true, true, 0},
        {"missing, quiet", dir.file("none.dat"), kPwd, false, false, 0},
        {"missing", dir.file("none.dat"), kPwd, true, false, 2},
        {"wrong password", a.main, kOldPwd, true, false, 1},
        {"wrong password, quiet", a.main, kOldPwd, false, false, 0},
    };
    for (const auto& [name, path, pwd, showErrors, opens, boxes] : cases) {
        window.boxes.clear();
        CDatabase db(window, window.env());
        db.m_bShowErrors = showErrors;
        EXPECT_EQ(db.OpenDatabase(CDatabase::ConnectString(path, pwd)), opens) << name;
        EXPECT_EQ(window.boxes.size(), boxes) << name;
        if (opens) { EXPECT_EQ(db.MainDatabaseName(), a.main); }
    }
}

TEST_F(CDatabaseAccess, OmdProblemsWarnButTheArchiveOpens) {
    Archive a = WithSubs(dir.path(), 1);
    const std::string omd = OmdName(a.main);
    const std::pair<const char*, bool> cases[] = {{"missing", true}, {"damaged", true}, {"damaged, loud", false}};
    for (const auto& [name, quiet] : cases) {
        if (name == std::string("missing")) fs::remove(omd);
        else WriteFile(omd, std::string(5000, 'z'));
        window.boxes.clear();
        CDatabase db(window, window.env());
        db.m_bShowErrors = !quiet;
        ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, kPwd))) << name;
        // One box for one file, loud or quiet: the engine's words are its details.
        ASSERT_EQ(window.boxes.size(), 1u) << name;
        const auto& box = window.boxes.back();
        EXPECT_NE(box.title.find("OCR"), std::string::npos) << name;
        EXPECT_NE(box.text.find("'" + omd + "'"), std::string::npos) << box.text;
        EXPECT_EQ(box.icon, MsgIcon::Exclamation);
        EXPECT_EQ(box.details.find("(26)") != std::string::npos, name != std::string("missing")) << box.details;
    }
}

TEST_F(CDatabaseAccess, AReadOnlyArchiveIsRefusedEvenWhenItsLastTableIsEmpty) {
    Archive a = WithSubs(dir.path(), 1);
    Immutable lock(a.main);
    if (!lock.ok()) GTEST_SKIP() << "chattr +i is not available: no read-only file can be made for root";
    CDatabase db(window, window.env());
    EXPECT_FALSE(db.OpenDatabase(CDatabase::ConnectString(a.main, kPwd)));
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(LastLogLine(), "Database '" + a.main + "' is readonly!");
}

TEST_F(CDatabaseAccess, OpenPicbaseFindsRelocatesAndReusesSubDatabases) {
    Archive a = WithSubs(dir.path(), 3, "/old/place");
    // A same-named file at a stored path that exists elsewhere loses against
    // the one beside the main database.
    TempDir elsewhere;
    fs::copy_file(a.at(3), elsewhere.file("Kantoor_3.pdb"));
    a.exec("UPDATE DATABASES SET DATABASE = '" + elsewhere.file("Kantoor_3.pdb") + "' WHERE ID = 3");
    a.doc(10, 0), a.doc(11, 1), a.doc(12, 4);
    a.list(4, "/nowhere/Kantoor_4.pdb");
    CDatabase db(window, window.env());
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
    EXPECT_EQ(a.databases(), (std::map<long, std::string>{{1, a.at(1)}, {2, "/old/place/Kantoor_2.pdb"},
                                                           {3, a.at(3)}, {4, "/nowhere/Kantoor_4.pdb"}}));

    // The same sub database again: the open connection is reused.
    long id = 2;
    ASSERT_EQ(db.OpenPicbase(id), 0);
    const engine::Connection* open = db.m_AdoCnPdb.get();
    id = 11;
    EXPECT_EQ(db.OpenPicbase(id), 0);
    EXPECT_EQ(db.m_AdoCnPdb.get(), open);
}

TEST_F(CDatabaseAccess, OpenPicbaseReportsWhatKeepsASubDatabaseFromOpening) {
    Archive a = WithSubs(dir.path(), 2);
    WriteFile(a.at(2), std::string(40000, 'q'));
    CDatabase db(window, window.env());
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
    Archive a = WithSubs(dir.path(), 1);
    CDatabase db(window, window.env());
    const std::string path = dir.file("Kantoor_9.pdb");
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(CDatabaseTestAccess::CreateSubDatabase(db, path));
    EXPECT_TRUE(fs::exists(path + ".deleted") && fs::exists(dir.file("Kantoor_9.pdb_001.deleted")));
    engine::Connection cn(qx::RealEnv());
    EXPECT_TRUE(cn.open(CDatabase::ConnectString(path, kPwd)));
    EXPECT_EQ(std::ranges::count(LogLines(), "Creating '" + path + "'..."), 3);
}

TEST_F(CDatabaseAccess, ARefusedFileGetsItsReadOnlyAttributeBack) {
    const std::tuple<const char*, int, OpenOutcome, bool> cases[] = {  // name, generation (0: no database), ...
        {"outdated generation 6", 6, OpenOutcome::Outdated, true},
        {"not a database", 0, OpenOutcome::UnknownFormat, true},
        {"accepted generation 8", 8, OpenOutcome::Opened, false},
    };
    for (const auto& [name, generation, outcome, readOnlyAfter] : cases) {
        TempDir folder;
        const std::string file = generation ? ArchiveBuilder(folder.path(), generation).main : folder.file("notes.dat");
        if (!generation) WriteFile(file, std::string(3000, 'n'));
        qx::RealEnv().SetReadOnly(file, true);
        CDatabase db(window, window.env());
        EXPECT_EQ(OpenDatabaseFile(db, file), outcome) << name;
        EXPECT_EQ(qx::RealEnv().IsReadOnly(file), readOnlyAfter) << name;
    }
}
