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
    // The role is what the user reads in a refusal: Dutch, naming the file.
    const struct {
        const char* name;
        std::string path;
        std::string role;  // "" for a file that is not the archive's
    } cases[] = {
        {"main database", a.main, "de hoofddatabase"},
        {"main database through a symlink elsewhere", elsewhere + "/main-link", "de hoofddatabase"},
        {"main database through a dot-dot path", elsewhere + "/../Kantoor.dat", "de hoofddatabase"},
        {"OCR database", OmdName(a.main), "de OCR-database"},
        {"log", LogName(a.main), "het logboek"},
        {"lock, not there yet", LockName(a.main), "het vergrendelingsbestand"},
        {"intent record, not there yet", IntentName(a.main), "het bestand van de lopende wijziging"},
        {"sub database", sub1, "de subdatabasenaam Kantoor_1.pdb"},
        {"hard link elsewhere to a sub database", elsewhere + "/hard.bin", "subdatabase 2"},
        {"sub database named in DATABASES outside the folder", elsewhere + "/kept.pdb", "subdatabase 3"},
        {"sub database name not in use", in("Kantoor_9.pdb"), "de subdatabasenaam Kantoor_9.pdb"},
        {"sub database name in other case", in("KANTOOR_1.PDB"), "de subdatabasenaam KANTOOR_1.PDB"},
        {"set aside as obsolete", in("Kantoor_1.pdb.obsolete"), "de subdatabasenaam Kantoor_1.pdb.obsolete"},
        {"set aside with a counter", in("Kantoor_4.pdb_002.deleted"), "de subdatabasenaam Kantoor_4.pdb_002.deleted"},
        {"compacted copy", in("Kantoor_2.pdb.compacted"), "de subdatabasenaam Kantoor_2.pdb.compacted"},
        {"journal of the main database", a.main + "-journal", "het hulpbestand '-journal' van de hoofddatabase"},
        {"backup that opens as a sub database", in("Kantoor_backup.pdb"),
         "de kopie van een subdatabase Kantoor_backup.pdb"},
        {"symlink elsewhere to that backup", elsewhere + "/backup-link",
         "de kopie van een subdatabase Kantoor_backup.pdb"},
        {"new list beside the archive", in("lijst.txt"), ""},
        {"other file beside the archive", in("notes.txt"), ""},
        {"backup-like name that is no database", in("Kantoor_backup.txt"), ""},
        {"sub database name of another archive", in("Archief_1.pdb"), ""},
        {"file elsewhere", elsewhere + "/list.txt", ""},
    };
    for (const auto& c : cases) {
        ArchiveFileKind kind = ArchiveFileKind::Other;
        EXPECT_EQ(ArchiveFileRole(db, c.path, &kind), c.role) << c.name << ": " << c.path;
        EXPECT_EQ(kind, c.role.empty()                  ? ArchiveFileKind::None
                        : c.path == LogName(a.main) ? ArchiveFileKind::Log
                                                    : ArchiveFileKind::Other)
            << c.name;
        EXPECT_EQ(IsArchiveOwnFile(db, c.path), !c.role.empty()) << c.name;
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
