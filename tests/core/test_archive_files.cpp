// The files of an open archive, as judged for what Quillex writes besides
// it: the saved list and the JSON findings must never land on one of them.
#include "database/ArchiveFiles.h"
#include "database/CheckCommand.h"
#include "support/Settings.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CliRunner.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace qx;
using qx::test::ArchiveBuilder;
using qx::test::TempDir;
namespace fs = std::filesystem;

namespace {

class ArchiveFiles : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        Settings::Get().DatabasePassword = a.password;
        Settings::Get().LogFileName = LogName(a.main);
        fs::create_directory(elsewhere);
        // Sub database 3 is kept outside the archive folder.
        a.sub(1, {2, 3}).sub(2, {4});
        sql::Error err;
        ASSERT_TRUE(CreateSubDatabaseFile(elsewhere + "/kept.pdb", a.password, err)) << err.message;
        a.exec("INSERT INTO DATABASES (ID, DATABASE) VALUES (3, '" + elsewhere + "/kept.pdb')");
        db.m_bShowErrors = false;
        ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
    }
    void TearDown() override { Settings::Reset(); }
    std::string in(const std::string& name) const { return dir.file(name); }

    TempDir dir;
    ArchiveBuilder a{dir.path()};
    const std::string elsewhere = dir.file("elders");
    qx::test::ScriptedWindow window;
    CDatabase db{window};
};

}  // namespace

TEST_F(ArchiveFiles, EveryFileOfTheArchiveCountsHoweverItIsNamed) {
    const std::string sub1 = SubDatabaseName(a.main, 1), sub2 = SubDatabaseName(a.main, 2);
    fs::copy_file(sub1, in("Kantoor_backup.pdb"));
    qx::test::WriteFile(in("notes.txt"), "mine");
    qx::test::WriteFile(in("Kantoor_backup.txt"), std::string(5000, 'b'));
    qx::test::WriteFile(LogName(a.main), "log\r\n");
    struct Case {
        std::string name;
        std::function<std::string()> path;  // may make a link first
        bool archive;
    } cases[] = {
        {"main database", [&] { return a.main; }, true},
        {"main database through a symlink elsewhere",
         [&] {
             fs::create_symlink(a.main, elsewhere + "/main-link");
             return elsewhere + "/main-link";
         },
         true},
        {"main database through a dot-dot path", [&] { return elsewhere + "/../Kantoor.dat"; }, true},
        {"OCR database", [&] { return OmdName(a.main); }, true},
        {"log", [&] { return LogName(a.main); }, true},
        {"lock, not there yet", [&] { return LockName(a.main); }, true},
        {"intent record, not there yet", [&] { return IntentName(a.main); }, true},
        {"sub database", [&] { return sub1; }, true},
        {"hard link elsewhere to a sub database",
         [&] {
             fs::create_hard_link(sub2, elsewhere + "/hard.bin");
             return elsewhere + "/hard.bin";
         },
         true},
        {"sub database named in DATABASES outside the folder", [&] { return elsewhere + "/kept.pdb"; }, true},
        {"sub database name not in use", [&] { return in("Kantoor_9.pdb"); }, true},
        {"sub database name in other case", [&] { return in("KANTOOR_1.PDB"); }, true},
        {"set aside as obsolete", [&] { return in("Kantoor_1.pdb.obsolete"); }, true},
        {"set aside with a counter", [&] { return in("Kantoor_4.pdb_002.deleted"); }, true},
        {"compacted copy", [&] { return in("Kantoor_2.pdb.compacted"); }, true},
        {"journal of the main database", [&] { return a.main + "-journal"; }, true},
        {"backup that opens as a sub database", [&] { return in("Kantoor_backup.pdb"); }, true},
        {"symlink elsewhere to that backup",
         [&] {
             fs::create_symlink(in("Kantoor_backup.pdb"), elsewhere + "/backup-link");
             return elsewhere + "/backup-link";
         },
         true},
        {"new list beside the archive", [&] { return in("lijst.txt"); }, false},
        {"other file beside the archive", [&] { return in("notes.txt"); }, false},
        {"backup-like name that is no database", [&] { return in("Kantoor_backup.txt"); }, false},
        {"sub database name of another archive", [&] { return in("Archief_1.pdb"); }, false},
        {"file elsewhere", [&] { return elsewhere + "/list.txt"; }, false},
    };
    for (const Case& c : cases) {
        const std::string path = c.path();
        const std::string role = ArchiveFileRole(db, path);
        EXPECT_EQ(!role.empty(), c.archive) << c.name << ": " << path << " -> '" << role << "'";
        EXPECT_EQ(IsArchiveOwnFile(db, path), c.archive) << c.name;
    }
}

TEST_F(ArchiveFiles, NothingCountsWithoutAnOpenArchive) {
    CDatabase closed(window);
    EXPECT_FALSE(IsArchiveOwnFile(closed, a.main));
}

TEST_F(ArchiveFiles, AnUnreadableSubDatabaseTableRulesNothingOut) {
    ASSERT_TRUE(db.m_AdoCnMain->execute("ALTER TABLE DATABASES RENAME TO GONE"));
    EXPECT_TRUE(IsArchiveOwnFile(db, in("lijst.txt")));
}

TEST_F(ArchiveFiles, SaveListRefusesAnArchiveFileAndWritesNothing) {
    const std::vector<ListRow> rows{{"K 2", "doc2", {"\\Map\\", "Kantoor_1.pdb", "beschadigd"}, 0, false}};
    const std::string sub1 = SubDatabaseName(a.main, 1);
    const std::string before = qx::test::Slurp(sub1);
    EXPECT_EQ(SaveList(db, rows, sub1), SaveListOutcome::ArchiveFile);
    EXPECT_TRUE(qx::test::Slurp(sub1) == before) << "the sub database changed";
    EXPECT_EQ(SaveList(db, rows, in("Kantoor_7.pdb")), SaveListOutcome::ArchiveFile);
    EXPECT_FALSE(fs::exists(in("Kantoor_7.pdb")));

    EXPECT_EQ(SaveList(db, rows, in("lijst.txt")), SaveListOutcome::Saved);
    EXPECT_EQ(qx::test::Slurp(in("lijst.txt")), "beschadigd\t\\Map\\doc2\r\n");
    EXPECT_EQ(SaveList(db, rows, in("missing/lijst.txt")), SaveListOutcome::NotWritten);
}
