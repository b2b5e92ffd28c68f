// Compacting the data files of an archive: what a compacted file keeps
// (every document's bytes, user_version, the key), when compaction is
// refused (free space, a missing file), a copy left by an earlier
// run, and a swap cut off midway that the next open completes.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/OpenArchive.h"
#include "database/maintenance/IntentRecord.h"
#include "database/maintenance/RunOutcome.h"
#include "support/Failpoint.h"
#include "support/Log.h"
#include "support/FileOperations.h"
#include "support/Settings.h"
#include "support/SysInfo.h"
#include "support/TextResources.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/CliRunner.h"
#include "tests/core/SampleFixture.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include "support/Env.h"

#include <gtest/gtest.h>

#include <sstream>

#include <filesystem>
#include <functional>
#include <set>

using namespace qx;
using namespace qx::test;
namespace fs = std::filesystem;

namespace {

std::int64_t g_freeSpace = -1;  // what the folder is said to have free; -1: plenty

std::int64_t InjectedFreeSpace(std::string_view) { return g_freeSpace >= 0 ? g_freeSpace : std::int64_t(1) << 50; }

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

std::int64_t UserVersion(const std::string& path, const std::string& password) {
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
    sql::Statement st(db, "PRAGMA user_version");
    return st.step() == sql::Step::Row ? st.getInt64(0) : -1;
}

// Every object as stored, and every table's rows with their rowids and the
// type of each value, one hash per row.
std::vector<std::string> Contents(const std::string& path, const std::string& password) {
    std::vector<std::string> out;
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
    std::vector<std::string> tables;
    sql::Statement schema(db, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name");
    while (schema.step() == sql::Step::Row) {
        out.push_back(schema.getText(0) + " " + schema.getText(1) + " " + schema.getText(2) + " " + schema.getText(3));
        if (schema.getText(0) == "table") tables.push_back(schema.getText(1));
    }
    for (const std::string& table : tables) {
        sql::Statement rows(db, "SELECT rowid, * FROM \"" + table + "\" ORDER BY rowid");
        while (rows.step() == sql::Step::Row) {
            std::string row = table + " " + rows.getText(0);
            for (int c = 1; c < rows.columnCount(); ++c) {
                const auto bytes = rows.getBlob(c);
                row += " " + std::to_string(static_cast<int>(rows.columnType(c))) + ":" +
                       std::to_string(std::hash<std::string>{}(std::string(bytes.begin(), bytes.end())));
            }
            out.push_back(row);
        }
    }
    return out;
}

class Compact : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        failpoints::Reset();
        a = std::make_unique<ArchiveBuilder>(dir.path());
        a->sub(1, {2, 3, 4, 5}).sub(2, {6, 7});
        // Documents big enough that deleting some frees whole pages.
        for (long id : {2, 3, 4, 5})
            ArchiveBuilder::Exec(SubDatabaseName(a->main, 1), a->password,
                 "UPDATE PICTURES SET PICTURE = randomblob(200000) WHERE ID = " + std::to_string(id));
        // Free pages in both, so that a copy makes each of them smaller.
        for (long n : {1, 2})
            ArchiveBuilder::Exec(SubDatabaseName(a->main, n), a->password,
                                 "CREATE TABLE scratch (x BLOB); INSERT INTO scratch VALUES (randomblob(100000)); "
                                 "DROP TABLE scratch;");
        Settings::Get().DatabasePassword = a->password;
        Settings::Get().LogFileName = LogFileNameFor(a->main);
        OverrideFolderFreeSpaceForTests(InjectedFreeSpace);
        g_freeSpace = -1;
        db = std::make_unique<CDatabase>(window, window.env());
        ASSERT_TRUE(db->OpenDatabase(CDatabase::ConnectString(a->main, a->password)));
        window.state.m_sDatabaseName = a->main;
    }
    void TearDown() override {
        db.reset();
        OverrideFolderFreeSpaceForTests(nullptr);
        SetStringLibraryFolder("");
        failpoints::Reset();
        Settings::Reset();
    }
    std::string Log() const { return Slurp(LogFileNameFor(a->main)); }
    std::string Sub(long n) const { return SubDatabaseName(a->main, n); }

    TempDir dir;
    std::unique_ptr<ArchiveBuilder> a;
    ScriptedWindow window;
    std::unique_ptr<CDatabase> db;
};

}  // namespace

// What each kind of file keeps: every document's bytes, its user_version and
// its key (or none); and it comes out smaller after rows were deleted.
TEST_F(Compact, EveryKindOfFileKeepsItsContentsAndShrinks) {
    ArchiveBuilder::Exec(Sub(1), a->password, "DELETE FROM PICTURES WHERE ID IN (4, 5)");
    ArchiveBuilder::Exec(a->main, a->password, "DELETE FROM FOLDERS WHERE ID IN (4, 5)");
    ArchiveBuilder::Exec(a->main, a->password, "UPDATE FOLDERS SET NOTES = zeroblob(300000) WHERE ID = 1");
    ArchiveBuilder::Exec(a->main, a->password, "UPDATE FOLDERS SET NOTES = NULL WHERE ID = 1");
    ArchiveBuilder::Exec(OmdName(a->main), "", "INSERT INTO OCRWORDS (DOCUMENTID, WORD) SELECT 1, hex(randomblob(2000)) FROM "
                               "(SELECT 1 UNION SELECT 2 UNION SELECT 3 UNION SELECT 4 UNION SELECT 5)");
    ArchiveBuilder::Exec(OmdName(a->main), "", "DELETE FROM OCRWORDS");
    struct Case {
        const char* name;
        std::string path, password;
        bool main;
    } cases[] = {{"sub_database", Sub(1), a->password, false},
                 {"ocr_database", OmdName(a->main), "", false},
                 {"main_database", a->main, a->password, true}};
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    ASSERT_TRUE(before.opened);
    for (const Case& c : cases) {
        ArchiveBuilder::Exec(c.path, c.password, "PRAGMA user_version = 4242");
        const std::int64_t length = qx::RealEnv().FileLength(c.path);
        std::string connect;
        if (c.main) {
            connect = db->m_AdoCnMain->connectionString();
            CDatabase::Disconnect(db->m_AdoCnMain);
        }
        EXPECT_TRUE(db->CompactSingle(c.path, c.password)) << c.name << "\n" << Log();
        if (c.main) db->SetDatabase(std::make_unique<engine::Connection>(qx::RealEnv())), db->m_AdoCnMain->open(connect);
        EXPECT_LT(qx::RealEnv().FileLength(c.path), length) << c.name;
        EXPECT_EQ(UserVersion(c.path, c.password), 4242) << c.name;
    }
    const ArchiveSnapshot after = TakeSnapshot(a->main);
    EXPECT_EQ(after.documents, before.documents);
    EXPECT_EQ(after.dataRows, before.dataRows);
    EXPECT_EQ(after.parents, before.parents);
    EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"Kantoor.dat", "Kantoor.log", "Kantoor.omd",
                                                        "Kantoor_1.pdb", "Kantoor_2.pdb"}));
}

// A compacted copy holds what its source held: every object as stored, every
// row under its rowid, the AUTOINCREMENT counters; values too large to copy in
// one piece come back byte for byte, and no trigger fires during the copy.
TEST_F(Compact, TheCopyHoldsEveryObjectRowAndCounterOfItsSource) {
    ArchiveBuilder::Exec(Sub(1), a->password,
        "CREATE TABLE IF NOT EXISTS notes (n INTEGER, body TEXT, extra BLOB);"
        "CREATE UNIQUE INDEX notes_n ON notes (n);"
        "CREATE VIEW big AS SELECT ID FROM PICTURES WHERE length(PICTURE) > 1000000;"
        "CREATE TABLE fired (what TEXT);"
        "CREATE TRIGGER noted AFTER INSERT ON notes BEGIN INSERT INTO fired VALUES ('noted'); END;"
        "INSERT INTO notes VALUES (1, 'one', x'01'), (2, 'two', NULL);"
        "DELETE FROM notes WHERE n = 1;"
        "INSERT INTO notes VALUES (3, hex(randomblob(700000)), randomblob(1500000));"
        "DELETE FROM fired;"
        "UPDATE PICTURES SET PICTURE = randomblob(3000000) WHERE ID = 3;"
        "UPDATE PICTURES SET path = hex(randomblob(600000)), PICTURE = randomblob(2000000) WHERE ID = 5;"
        "UPDATE PICTURES SET PICTURE = zeroblob(1048577) WHERE ID = 4;"
        "UPDATE sqlite_sequence SET seq = 900 WHERE name = 'PICTURES';");
    const std::vector<std::string> before = Contents(Sub(1), a->password);
    ASSERT_TRUE(db->CompactSingle(Sub(1), a->password)) << Log();
    EXPECT_EQ(Contents(Sub(1), a->password), before);
}

TEST_F(Compact, CompactAllCompactsEverySubDatabaseAndTheMainDatabaseAndReconnects) {
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    const std::string omd = Slurp(OmdName(a->main));
    EXPECT_TRUE(db->CompactAll()) << Log();
    EXPECT_TRUE(CDatabase::Connected(db->m_AdoCnMain));
    for (const std::string& f : {Sub(1), Sub(2), a->main})
        EXPECT_NE(Log().find("Compact: " + f + " compacted successfully"), std::string::npos) << f;
    EXPECT_EQ(Slurp(OmdName(a->main)), omd) << "the OCR database is not part of it";
    EXPECT_EQ(TakeSnapshot(a->main).documents, before.documents);
    // Each copy is logged by the engine, with no stray state number after it.
    const std::string log = "\n" + Log();
    EXPECT_NE(log.find("Compact engine: copying"), std::string::npos) << log;
    EXPECT_EQ(log.find("\n-1\r\n"), std::string::npos) << log;
}

// The free space needed is the file's length and 50 MiB: exactly that is
// enough, one byte less is refused with a box (when boxes are allowed)
// and a log line, before anything is written.
TEST_F(Compact, FreeSpaceMustHoldTheFileAndFiftyMegabytes) {
    struct Case {
        const char* name;
        std::int64_t spare;  // free space beyond what is needed
        bool showErrors, compacts;
        std::size_t boxes;
    } cases[] = {{"one_byte_less", -1, true, false, 1},
                 {"one_byte_less_without_boxes", -1, false, false, 0},
                 // Last: once compacted, the file is skipped without asking for space.
                 {"exactly_enough", 0, true, true, 0}};
    for (const Case& c : cases) {
        window.boxes.clear();
        const std::string bytes = Slurp(Sub(1));
        g_freeSpace = qx::RealEnv().FileLength(Sub(1)) + 52'428'800 + c.spare;
        db->m_bShowErrors = c.showErrors;
        EXPECT_EQ(db->CompactSingle(Sub(1), a->password), c.compacts) << c.name;
        ASSERT_EQ(window.boxes.size(), c.boxes) << c.name;
        if (!c.compacts) {
            EXPECT_EQ(Slurp(Sub(1)), bytes) << c.name;
            EXPECT_NE(Log().find("Compact: " + Sub(1) + ": not enough free disk space!"), std::string::npos);
        }
        if (c.boxes) {
            // One byte short is one KB short, named with the file and its disk.
            EXPECT_NE(window.boxes[0].text.find(" 1 KB "), std::string::npos) << window.boxes[0].text;
            EXPECT_NE(window.boxes[0].text.find("Kantoor_1.pdb"), std::string::npos);
            EXPECT_EQ(window.boxes[0].title, GetResString(83, ""));
        }
    }
}

TEST_F(Compact, ACopyLeftByAnEarlierRunIsKeptAndTheNextFreeNameIsUsed) {
    WriteFile(Sub(1) + ".compacted", "left behind");
    EXPECT_TRUE(db->CompactSingle(Sub(1), a->password)) << Log();
    EXPECT_EQ(Slurp(Sub(1) + ".compacted"), "left behind");
    EXPECT_NE(Log().find(dir.file("Kantoor_1.pdb_001.compacted")), std::string::npos) << Log();
    EXPECT_FALSE(fs::exists(dir.file("Kantoor_1.pdb_001.compacted")));
}

// Refusals that write nothing: not even the engine is asked.
TEST_F(Compact, WhatCannotBeCompactedIsLeftAloneWithALogLine) {
    TempDir outside;
    struct Case {
        const char* name;
        std::function<std::string()> prepare;  // the file to compact
        std::string logLine;
    } cases[] = {
        {"missing_file", [&] { return dir.file("Kantoor_9.pdb"); }, "Kantoor_9.pdb does not exist!"},
        {"outside_the_archive_folder",
         [&] {
             WriteFile(outside.file("Elders.pdb"), "x");
             return outside.file("Elders.pdb");
         },
         "is not a file in the archive folder"},
    };
    for (const Case& c : cases) {
        const std::set<std::string> names = Names(dir.path());
        const std::string bytes = Slurp(Sub(1));
        const std::string file = c.prepare();
        EXPECT_FALSE(db->CompactSingle(file, a->password)) << c.name;
        EXPECT_NE(Log().find(c.logLine), std::string::npos) << c.name << "\n" << Log();
        EXPECT_EQ(Log().find("Compact engine"), std::string::npos) << c.name;
        EXPECT_EQ(Slurp(Sub(1)), bytes) << c.name;
        std::set<std::string> now = Names(dir.path());
        now.erase("Kantoor.log");
        std::set<std::string> was = names;
        was.erase("Kantoor.log");
        EXPECT_EQ(now, was) << c.name;
    }
}

// The engine is part of the program: without the string library the texts
// fall back to their defaults, and compacting works as ever.
TEST_F(Compact, CompactingNeedsNoStringLibrary) {
    TempDir noLibrary;
    SetStringLibraryFolder(noLibrary.path());
    const std::vector<std::string> before = Contents(Sub(1), a->password);
    EXPECT_TRUE(db->CompactSingle(Sub(1), a->password)) << Log();
    EXPECT_EQ(Contents(Sub(1), a->password), before);
}

// An entry that is no database file, or whose engine side file leads out of
// the folder, is never compacted into a database: it stays as it was.
TEST_F(Compact, AnEmptyFileALinkOrAnOddSideFileIsNeverCompacted) {
    namespace fs = std::filesystem;
    TempDir away;
    struct Case {
        const char* name;
        std::function<std::string()> plant;  // the file to compact
        std::string logLine;
    } cases[] = {
        {"its journal a dangling link",
         [&] { return fs::create_symlink(away.file("j"), Sub(1) + "-journal"), Sub(1); },
         "-journal is a link or no regular file"},
        {"its write-ahead file a folder", [&] { return fs::create_directory(Sub(1) + "-wal"), Sub(1); },
         "-wal is a link or no regular file"},
        {"an empty file", [&] { return fs::resize_file(Sub(2), 0), Sub(2); }, "is empty, no database"},
        {"a link to a sub database of the folder",
         [&] { return fs::remove(Sub(2)), fs::create_symlink(Sub(1), Sub(2)), Sub(2); },
         "is not a file in the archive folder"},
    };
    for (const Case& c : cases) {
        const std::string file = c.plant();
        const std::string bytes = Slurp(file), first = Slurp(Sub(1));
        const auto kind = qx::RealEnv().KindOf(file);
        EXPECT_FALSE(db->CompactSingle(file, a->password)) << c.name;
        EXPECT_NE(Log().find(c.logLine), std::string::npos) << c.name << "\n" << Log();
        EXPECT_EQ(qx::RealEnv().KindOf(file), kind) << c.name;
        EXPECT_EQ(Slurp(file), bytes) << c.name;
        EXPECT_EQ(Slurp(Sub(1)), first) << c.name;
        EXPECT_TRUE(fs::is_empty(away.path())) << c.name;
        EXPECT_EQ(qx::RealEnv().KindOf(IntentName(a->main)), EntryKind::None) << c.name;
        for (const char* side : {"-journal", "-wal"}) fs::remove(Sub(1) + side);
    }
}

TEST_F(Compact, ADryRunSaysWhatItWouldDoAndWritesNothing) {
    const std::string bytes = Slurp(Sub(1));
    db->SetDryRun(true);
    EXPECT_TRUE(db->CompactSingle(Sub(1), a->password));
    EXPECT_EQ(Slurp(Sub(1)), bytes);
    EXPECT_NE(Log().find("would be compacted"), std::string::npos);
    EXPECT_EQ(Names(dir.path()).count("Kantoor_1.pdb.compacted"), 0u);
}

// A refused step anywhere leaves the whole file under its name, old or
// compacted, and nothing else once the archive has been opened again; the
// main database, briefly under another name during its swap, included.
TEST_F(Compact, ARefusedStepLeavesTheWholeFileOnceTheArchiveIsOpenedAgain) {
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    const char* points[] = {"compact.intent",     "compact.create_copy", "compact.copying",
                            "compact.copy_written", "compact.set_aside",  "compact.swap",
                            "compact.remove_aside", "intent.remove"};
    for (const char* point : points) {
        for (const std::string& file : {Sub(1), a->main}) {
            SCOPED_TRACE(std::string(point) + " " + file);
            failpoints::Reset();
            failpoints::Arm(point, 1, FailAction::IoError);
            // With the swap refused, putting the file back is refused too:
            // only the next open can finish it.
            if (std::string(point) == "compact.swap") failpoints::Arm("compact.put_back", 1, FailAction::IoError);
            std::string connect = db->m_AdoCnMain->connectionString();
            CDatabase::Disconnect(db->m_AdoCnMain);
            db->CompactSingle(file, a->password);
            failpoints::Reset();
            db.reset();
            db = std::make_unique<CDatabase>(window, window.env());
            EXPECT_EQ(OpenDatabaseFile(*db, a->main), OpenOutcome::Opened) << Log();
            EXPECT_EQ(TakeSnapshot(a->main).documents, before.documents);
            EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"Kantoor.dat", "Kantoor.lock", "Kantoor.log",
                                                                "Kantoor.omd", "Kantoor_1.pdb", "Kantoor_2.pdb"}));
        }
    }
}

TEST(IntentRecordFiles, RemovedAndDiscardedFilesReadBackAndADiscardNeedsNoMarker) {
    IntentRecord r;
    r.operation = "compact Kantoor_1.pdb";
    r.renames = {{"Kantoor_1.pdb", "Kantoor_1.pdb.uncompacted", {1, 2}},
                 {"Kantoor_1.pdb.compacted", "Kantoor_1.pdb", {1, 3}}};
    r.removes = {{"Kantoor_1.pdb.uncompacted", {1, 2}}};
    r.discards = {{"Kantoor_1.pdb.compacted", {1, 3}}};
    std::string why;
    EXPECT_EQ(IntentRecord::Parse(r.serialize(), why), r) << why;
    r.marker = 7;
    EXPECT_FALSE(IntentRecord::Parse(r.serialize(), why));
    r.marker.reset();
    r.removes[0].name = "../Kantoor_1.pdb";
    EXPECT_FALSE(IntentRecord::Parse(r.serialize(), why));
}

// The command: which files each choice compacts, and the exit codes.
TEST_F(Compact, TheCommandCompactsTheChosenFilesAndExitsAsTheOtherCommandsDo) {
    db.reset();
    TempDir scratch;
    const std::string archive = ShellQuote(a->main);
    struct Case {
        const char* name;
        std::string args;
        int exit;
        std::size_t compacted;  // files named on standard output
        std::size_t skipped;    // files named as already compact
        const char* skipLine;
    } cases[] = {
        {"all_by_default", "compact " + archive, 0, 4, 0, ""},
        // Compacted just now, and nothing deleted since.
        {"sub_databases_again", "compact --sub-databases " + archive, 0, 0, 2, "al compact, niet gekopieerd"},
        // Files that hold no documents are always copied.
        {"main_and_ocr", "compact --main --omd " + archive, 0, 2, 0, ""},
        {"dry_run", "compact --dry-run " + archive, 0, 0, 2, "al compact, zou niet worden gekopieerd"},
        {"no_archive", "compact", 16, 0, 0, ""},
        {"missing_archive", "compact " + ShellQuote(dir.file("Weg.dat")), 8, 0, 0, ""},
    };
    for (const Case& c : cases) {
        const std::string bytes = Slurp(Sub(1));
        const CliRun run = RunCli(c.args, scratch);
        EXPECT_EQ(run.exit, c.exit) << c.name << ": " << run.err;
        std::size_t lines = 0;
        std::istringstream out(run.out);
        for (std::string line; std::getline(out, line);)
            if (!line.starts_with("zou ") && line.find(": ") != std::string::npos && line.find(" -> ") != std::string::npos)
                ++lines;
        EXPECT_EQ(lines, c.compacted) << c.name << ": " << run.out;
        std::size_t skipped = 0;
        for (std::size_t at = 0; *c.skipLine && (at = run.out.find(c.skipLine, at)) != std::string::npos; ++at)
            ++skipped;
        EXPECT_EQ(skipped, c.skipped) << c.name << ": " << run.out;
        if (c.compacted == 0) { EXPECT_EQ(Slurp(Sub(1)), bytes) << c.name; }
    }
    // A listed sub database that is gone: the others are compacted all the same.
    a->exec("INSERT INTO DATABASES (ID, DATABASE) VALUES (3, " + ArchiveBuilder::SqlText(Sub(3)) + ")");
    a->exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (20, 1, 0, 'doc20', 3)");
    const CliRun run = RunCli("compact --sub-databases " + archive, scratch);
    EXPECT_EQ(run.exit, 8) << run.err;
    EXPECT_NE(run.err.find("Kantoor_3.pdb kon niet worden gecomprimeerd"), std::string::npos) << run.err;
}

namespace {

std::int64_t FreePages(const std::string& path, const std::string& password) {
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadOnly, err);
    sql::Statement st(db, "PRAGMA freelist_count");
    return st.step() == sql::Step::Row ? st.getInt64(0) : -1;
}

}  // namespace

// Whether a copy could make a file smaller is asked of the file itself each
// time: a file with no free pages whose rows fill its pages is left as it
// is and counted as skipped; rows deleted since, whether their pages went
// free or not, make it compacted again.
TEST(CompactSkip, AFileACopyCannotShrinkIsLeftAsItIsUntilRowsAreDeleted) {
    TempDir dir;
    const SampleManifest m = WriteSample(dir, {}, 240, 6);
    ASSERT_FALSE(m.subDatabases.empty());
    const std::string sub = m.subDatabases[0].path, password = PasswordForGeneration(m.generation);
    Settings::Reset();
    Settings::Get().DatabasePassword = password;
    Settings::Get().LogFileName = LogFileNameFor(m.mainDatabase);
    ScriptedWindow window;
    window.state.m_sDatabaseName = m.mainDatabase;
    CDatabase db(window, window.env());
    ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(m.mainDatabase, password)));
    auto exec = [&](const std::string& text) { ArchiveBuilder::Exec(sub, password, text); };
    struct Case {
        const char* name;
        std::function<void()> change;
        bool reportOnly;
        bool skipped;
        const char* logLine;
    } cases[] = {
        {"fresh_sample", {}, false, true, "is already compact"},
        {"fresh_sample_report_only", {}, true, true, "would not be copied"},
        // Small rows gone from the middle of their leaves free no page.
        // One document in three gone: every leaf keeps two of its three
        // rows, which frees no page, and a copy packs three to a leaf again.
        {"rows_deleted_without_free_pages",
         [&] {
             exec("DELETE FROM PICTURES WHERE (SELECT count(*) FROM PICTURES p WHERE p.ID < PICTURES.ID) % 3 = 1");
             ASSERT_EQ(FreePages(sub, password), 0);
         },
         false, false, "compacted successfully"},
        {"just_compacted", {}, false, true, "is already compact"},
        {"rows_deleted_report_only", [&] { exec("DELETE FROM PICTURES WHERE ID % 4 = 0"); }, true, false,
         "would be compacted"},
        {"rows_deleted", {}, false, false, "compacted successfully"},
        {"compacted_again", {}, false, true, "is already compact"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.change) c.change();
        fs::remove(LogFileNameFor(m.mainDatabase));
        const std::string bytes = Slurp(sub);
        const auto id = qx::RealEnv().IdentityOf(sub);
        db.SetDryRun(c.reportOnly);
        EXPECT_TRUE(db.CompactSingle(sub, password));
        db.SetDryRun(false);
        const std::string log = Slurp(LogFileNameFor(m.mainDatabase));
        EXPECT_EQ(db.m_compactSkipped, c.skipped);
        EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
        if (c.skipped || c.reportOnly) {
            // Not even a copy was begun.
            EXPECT_EQ(Slurp(sub), bytes);
            EXPECT_EQ(qx::RealEnv().IdentityOf(sub), id);
            EXPECT_EQ(log.find("Compact engine"), std::string::npos) << log;
        } else {
            EXPECT_NE(qx::RealEnv().IdentityOf(sub), id);
        }
    }
    // Files that hold no documents are copied as before.
    const std::string omd = m.omdDatabase;
    EXPECT_TRUE(db.CompactSingle(omd, ""));
    EXPECT_FALSE(db.m_compactSkipped);
    Settings::Reset();
}

TEST(CompactSkip, TheSummaryCountsSkippedFilesApartFromCompactedOnes) {
    struct Case {
        const char* name;
        long compacted, skipped;
        bool mentionsSkipped;
    } cases[] = {{"none_skipped", 2, 0, false}, {"some_skipped", 1, 2, true}};
    for (const Case& c : cases) {
        CompactOutcome o;
        o.files = c.compacted + c.skipped;
        o.compacted = c.compacted;
        o.skipped = c.skipped;
        std::string title;
        const std::string text = DescribeCompactEnd(o, title);
        EXPECT_NE(text.find("Gecomprimeerde bestanden: " + std::to_string(c.compacted) + " van " +
                            std::to_string(o.files)),
                  std::string::npos)
            << c.name << ": " << text;
        EXPECT_EQ(text.find("Al compact en daarom overgeslagen: " + std::to_string(c.skipped) + "."),
                  c.mentionsSkipped ? text.find("Al compact") : std::string::npos)
            << c.name << ": " << text;
        EXPECT_EQ(text.find("Al compact") != std::string::npos, c.mentionsSkipped) << c.name;
    }
}
