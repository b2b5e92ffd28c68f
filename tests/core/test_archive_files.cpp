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
#include <tuple>

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
        ASSERT_TRUE(CreateSubDatabaseFile(qx::RealEnv(), elsewhere + "/kept.pdb", a.password, err)) << err.message;
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
    CDatabase db{window, window.env()};
};

}  // namespace

TEST_F(ArchiveFiles, EveryFileOfTheArchiveCountsHoweverItIsNamed) {
    const std::string sub1 = SubDatabaseName(a.main, 1);
    fs::copy_file(sub1, in("Kantoor_backup.pdb"));
    qx::test::WriteFile(in("notes.txt"), "mine");
    qx::test::WriteFile(in("Kantoor_backup.txt"), std::string(5000, 'b'));
    qx::test::WriteFile(LogName(a.main), "log\r\n");
    fs::create_symlink(a.main, elsewhere + "/main-link");
    fs::create_hard_link(SubDatabaseName(a.main, 2), elsewhere + "/hard.bin");
    fs::create_symlink(in("Kantoor_backup.pdb"), elsewhere + "/backup-link");
    const std::tuple<const char*, std::string, bool> cases[] = {  // name, path, of the archive
        {"main database", a.main, true},
        {"main database through a symlink elsewhere", elsewhere + "/main-link", true},
        {"main database through a dot-dot path", elsewhere + "/../Kantoor.dat", true},
        {"OCR database", OmdName(a.main), true},
        {"log", LogName(a.main), true},
        {"lock, not there yet", LockName(a.main), true},
        {"intent record, not there yet", IntentName(a.main), true},
        {"sub database", sub1, true},
        {"hard link elsewhere to a sub database", elsewhere + "/hard.bin", true},
        {"sub database named in DATABASES outside the folder", elsewhere + "/kept.pdb", true},
        {"sub database name not in use", in("Kantoor_9.pdb"), true},
        {"sub database name in other case", in("KANTOOR_1.PDB"), true},
        {"set aside as obsolete", in("Kantoor_1.pdb.obsolete"), true},
        {"set aside with a counter", in("Kantoor_4.pdb_002.deleted"), true},
        {"compacted copy", in("Kantoor_2.pdb.compacted"), true},
        {"journal of the main database", a.main + "-journal", true},
        {"backup that opens as a sub database", in("Kantoor_backup.pdb"), true},
        {"symlink elsewhere to that backup", elsewhere + "/backup-link", true},
        {"new list beside the archive", in("lijst.txt"), false},
        {"other file beside the archive", in("notes.txt"), false},
        {"backup-like name that is no database", in("Kantoor_backup.txt"), false},
        {"sub database name of another archive", in("Archief_1.pdb"), false},
        {"file elsewhere", elsewhere + "/list.txt", false},
    };
    for (const auto& [name, path, archive] : cases) {
        const std::string role = ArchiveFileRole(db, path);
        EXPECT_EQ(!role.empty(), archive) << name << ": " << path << " -> '" << role << "'";
        EXPECT_EQ(IsArchiveOwnFile(db, path), archive) << name;
    }
}

// Without an open archive nothing counts; a sub-database table that cannot
// be read rules nothing out.
TEST_F(ArchiveFiles, NothingCountsWithoutAnOpenArchiveAndAnUnreadableTableRulesNothingOut) {
    CDatabase closed(window, window.env());
    EXPECT_FALSE(IsArchiveOwnFile(closed, a.main));
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
