// Sub databases that a stored path finds outside the archive folder are
// read, never changed; a stored path naming the main database or one of its
// own files is no sub database at all. Judged by file identity.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/checks/ResultCodes.h"
#include "support/Env.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/CliRunner.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/SubDatabaseArchive.h"
#include "tests/core/WriteWatch.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <functional>
#include <map>

using namespace qx;
using namespace qx::test;
namespace fs = std::filesystem;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::map<long, int> JsonCodes(const std::string& path) {
    std::map<long, int> out;
    const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(Slurp(path)));
    for (const QJsonValue v : json.object()["findings"].toArray())
        out[static_cast<long>(v["id"].toInteger())] = v["code"].toInt();
    return out;
}

std::string Written(const std::string& path) {
    WriteFile(path, "x");
    return path;
}

// An archive whose sub database 1 holds document 2 and sub database 2
// document 3; its main database also has stored data for document 3, so
// that it would pass for a sub database if it were opened as one.
struct Layout {
    TempDir dir, elsewhere;
    ArchiveBuilder a{dir.path()};
    Layout() {
        a.sub(1, {2}).sub(2, {3});
        a.exec("CREATE TABLE PICTURES (ID INTEGER PRIMARY KEY, PICTURE BLOB)");
        a.exec("INSERT INTO PICTURES (ID, PICTURE) VALUES (3, x'01')");
    }
    std::string sub2() const { return SubDatabaseName(a.main, 2); }
    std::string home(const std::string& name) const { return dir.file(name); }
    std::string away(const std::string& name) const { return elsewhere.file(name); }
    // Sub database 2's file moved elsewhere under `name`.
    std::string moveOut(const std::string& name) {
        fs::rename(sub2(), away(name));
        return away(name);
    }
    void linkOut() { fs::create_symlink(moveOut("echt.pdb"), sub2()); }  // its standard name leads there
};

}  // namespace

TEST(OutsideSubDatabases, OpenPicbaseOpensOutsideFilesReadOnlyAndNeverTheArchiveOwnFiles) {
    struct Case {
        std::string name;
        std::function<std::string(Layout&)> store;  // arranges the files; the path to store for sub database 2
        short status;
        bool readOnly;      // of the open sub database, when status is 0
        bool relocated;     // the row now holds the standard path
        std::string logged; // after "'<stored path>"
    };
    const auto own = [](const char* name, std::function<std::string(Layout&)> store, const std::string& role) {
        return Case{name, std::move(store), ResultPdbOpenError, false, false, "' names the " + role};
    };
    const auto oldPlace = [](Layout&) { return std::string("/old/place/Kantoor_2.pdb"); };
    const Case cases[] = {
        {"beside the main database", [](Layout& l) { return l.sub2(); }, 0, false, true, ""},
        {"moved with its archive", oldPlace, 0, false, true, ""},
        {"outside the archive folder, write-protected",
         [](Layout& l) {
             const std::string out = l.moveOut("Elders_2.pdb");
             fs::permissions(out, fs::perms::owner_read);
             return out;
         },
         0, true, false, ""},
        {"outside, a folder of its name beside the main database",
         [](Layout& l) { return fs::create_directory(l.home("Elders_2.pdb")), l.moveOut("Elders_2.pdb"); }, 0, true,
         false, ""},
        {"its name beside the main database a link leading out",
         [&](Layout& l) { return l.linkOut(), oldPlace(l); }, ResultPdbNotFound, false, false, ""},
        {"the standard name a link leading out", [](Layout& l) { return l.linkOut(), l.sub2(); }, 0, true, true, ""},
        // A link is never a place to write, wherever it leads.
        {"its name beside the main database a link within the folder",
         [&](Layout& l) {
             fs::rename(l.sub2(), l.home("Echt.pdb"));
             fs::create_symlink("Echt.pdb", l.sub2());
             return oldPlace(l);
         },
         ResultPdbNotFound, false, false, ""},
        {"the standard name a link within the folder",
         [](Layout& l) {
             fs::rename(l.sub2(), l.home("Echt.pdb"));
             fs::create_symlink("Echt.pdb", l.sub2());
             return l.sub2();
         },
         0, true, true, ""},
        own("the main database", [](Layout& l) { return l.a.main; },
            "main database of this archive, not a sub database; it is not opened"),
        own("the main database by another path", [](Layout& l) { return l.home("./Kantoor.dat"); }, "main database"),
        own("the main database through a link elsewhere",
            [](Layout& l) { return fs::create_symlink(l.a.main, l.away("Elders.pdb")), l.away("Elders.pdb"); },
            "main database"),
        own("the main database through a hard link elsewhere",
            [](Layout& l) { return fs::create_hard_link(l.a.main, l.away("Elders_2.pdb")), l.away("Elders_2.pdb"); },
            "main database"),
        own("the OCR database", [](Layout& l) { return OmdName(l.a.main); }, "OCR database"),
        own("the log", [](Layout& l) { return LogName(l.a.main); }, "log"),
        own("the lock file", [](Layout& l) { return Written(LockName(l.a.main)); }, "lock file"),
        own("the intent file", [](Layout& l) { return Written(IntentName(l.a.main)); }, "intent file"),
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Layout l;
        Settings::Reset();
        Settings::Get().LogFileName = LogName(l.a.main);
        WriteFile(LogName(l.a.main), "");
        const std::string stored = c.store(l);
        l.a.exec("UPDATE DATABASES SET DATABASE = '" + stored + "' WHERE ID = 2");
        const auto before = FolderBytes(l.elsewhere.path());
        const fs::perms permissions = fs::status(stored).permissions();

        ScriptedWindow window;
        CDatabase db(window, window.env());
        Settings::Get().DatabasePassword = l.a.password;
        db.m_bShowErrors = false;
        ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(l.a.main, l.a.password)));
        long id = 3;
        EXPECT_EQ(db.OpenPicbase(id), c.status);
        if (c.status == 0) {
            ASSERT_TRUE(CDatabase::Connected(db.m_AdoCnPdb));
            EXPECT_EQ(db.m_AdoCnPdb->isReadOnly(), c.readOnly);
            EXPECT_EQ(HeldOpenAs(db.m_AdoCnPdb->dataSource()), c.readOnly ? "read" : "read-write");
        } else if (CDatabase::Connected(db.m_AdoCnPdb)) {
            EXPECT_FALSE(qx::RealEnv().SameFile(db.m_AdoCnPdb->dataSource(), l.a.main));
        }
        EXPECT_EQ(Query(l.a.main, "SELECT ID, DATABASE FROM DATABASES")[2], c.relocated ? l.sub2() : stored);
        if (c.readOnly) { EXPECT_EQ(fs::status(stored).permissions(), permissions); }  // its read-only attribute stays
        db.SetPicbase(nullptr);
        db.SetDatabase(nullptr);
        EXPECT_TRUE(ChangedFiles(before, FolderBytes(l.elsewhere.path())).empty());
        const std::string log = Slurp(LogName(l.a.main));
        if (!c.logged.empty()) { EXPECT_TRUE(Contains(log, "'" + stored + c.logged)) << log; }
    }
    Settings::Reset();
}

TEST(OutsideSubDatabases, SearchAndSizeCheckReadFilesElsewhereAndSkipTheArchiveOwn) {
    // Sub database 2 is the main database under both its names; sub
    // database 3 lies elsewhere, its standard name a link leading there.
    Layout l;
    ArchiveBuilder& a = l.a;
    a.sub(3, {4});
    a.exec("INSERT INTO PICTURES (ID, PICTURE) VALUES (2, x'01')");
    fs::remove(l.sub2());
    fs::create_symlink(a.main, l.sub2());
    const std::string outside = l.away("Kantoor_3.pdb");
    fs::rename(SubDatabaseName(a.main, 3), outside);
    fs::create_symlink(outside, SubDatabaseName(a.main, 3));
    ArchiveBuilder::Exec(outside, a.password, "INSERT INTO PICTURES (ID, PICTURE) VALUES (2, x'0A')");
    a.exec("UPDATE DATABASES SET DATABASE = '" + a.main + "' WHERE ID = 2");
    a.exec("UPDATE DATABASES SET DATABASE = '" + outside + "' WHERE ID = 3");
    Settings::Reset();
    Settings::Get().LogFileName = LogName(a.main);

    ScriptedWindow window;
    CDatabase db(window, window.env());
    Settings::Get().DatabasePassword = a.password;
    db.m_bShowErrors = false;
    ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
    WriteWatch watch;
    watch.add(l.elsewhere.path());
    watch.add(a.main);  // open here already: a second opening for writing would show

    EXPECT_EQ(CDatabaseTestAccess::FindAlternativePicbase(db, 1, 2), 3);
    CDatabaseTestAccess::AnalyseLargeDocs(db);
    const std::string log = Slurp(LogName(a.main));
    EXPECT_TRUE(Contains(log, "Sub database 2: '" + l.sub2() + "' names the main database")) << log;
    EXPECT_TRUE(Contains(log, "Size check: 3 pages analysed")) << log;  // 1's and 3's, not the main database's
    EXPECT_EQ(watch.changes(), std::vector<std::string>{});
    Settings::Reset();
}

TEST(OutsideSubDatabasesCli, CheckingACopyLeavesTheArchiveItCameFromByteForByte) {
    // In the source, sub database 2 holds documents 4 and 5 (empty, with a
    // copy in sub database 1) and an empty data row no document refers to;
    // sub database 3 is a text file. The copy lacks sub database 2.
    TempDir dir;
    const std::string source = dir.file("bron"), copy = dir.file("kopie");
    fs::create_directory(source);
    {
        ArchiveBuilder a(source);
        a.sub(1, {2, 3}).sub(2, {4, 5});
        a.execIn(2,
            "UPDATE PICTURES SET PICTURE = x'' WHERE ID = 5; INSERT INTO PICTURES (ID, PICTURE) VALUES (500, x'')");
        a.execIn(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, x'0A0B')");
        WriteFile(source + "/passwd", "root:x:0:0:root:/root:/bin/bash\n" + std::string(5000, '#'));
        a.exec("INSERT INTO DATABASES (ID, DATABASE) VALUES (3, '" + source + "/passwd')");
        a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (6, 1, 0, 'doc6', 3)");
    }
    fs::copy(source, copy);
    fs::remove(copy + "/Kantoor_2.pdb");
    const auto before = FolderBytes(source);
    WriteWatch watch;
    watch.add(source);

    const std::string json = dir.file("f.json"), copyMain = copy + "/Kantoor.dat";
    const std::string pdb = source + "/Kantoor_2.pdb";
    const CliRun quick = RunCli("check --quick '" + copyMain + "' --yes --json '" + json + "'", dir);
    EXPECT_EQ(quick.exit, 4) << quick.out << quick.err;
    // The relink to the copy and the removal of the empty row go together.
    EXPECT_EQ(JsonCodes(json),  // 0: the text file
              (std::map<long, int>{{500, ResultEmptyDocument}, {5, ResultEmptyDocument}, {0, ResultPdbOpenError}}));
    const std::string log = Slurp(LogName(copyMain));
    const std::string outside = " not repaired: sub database '" + pdb + "' lies outside the archive folder\r\n";
    EXPECT_TRUE(Contains(log, "500 - Empty unreferenced document detected," + outside)) << log;
    EXPECT_TRUE(Contains(log, "5 - Empty document" + outside)) << log;
    EXPECT_FALSE(Contains(log, "detected: deleting"));

    // The document check writes the copy's main database only.
    const CliRun normal = RunCli("check --normal '" + copyMain + "' --yes --json '" + json + "'", dir);
    EXPECT_EQ(normal.exit, 4) << normal.out << normal.err;
    // The sub database read from the other archive is a finding of its own,
    // named for where it lies.
    EXPECT_EQ(JsonCodes(json),
              (std::map<long, int>{{0, ResultPdbOutsideArchive}, {5, ResultEmptyFixed}, {6, ResultPdbOpenError}}));

    // Named for where it lies, on opening as well: it is there, not "not found".
    for (const CliRun* run : {&quick, &normal}) {
        EXPECT_FALSE(Contains(run->err, pdb + "' is niet gevonden")) << run->err;
        EXPECT_TRUE(Contains(run->err, FormatMsg(GetResString(266, ""), {pdb}))) << run->err;
    }

    EXPECT_EQ(watch.changes(), std::vector<std::string>{});
    EXPECT_TRUE(ChangedFiles(before, FolderBytes(source)).empty());
}

TEST(OutsideSubDatabasesCli, AStoredPathNamingTheMainDatabaseIsNoSubDatabase) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2});
    a.exec("CREATE TABLE PICTURES (ID INTEGER PRIMARY KEY, PICTURE BLOB)");
    a.exec("INSERT INTO DATABASES (ID, DATABASE) VALUES (3, '" + a.main + "')");
    a.exec("WITH RECURSIVE r(i) AS (SELECT 10 UNION ALL SELECT i + 1 FROM r WHERE i < 49) "
           "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) SELECT i, 1, 0, 'd', 3 FROM r");
    a.exec("WITH RECURSIVE r(i) AS (SELECT 10 UNION ALL SELECT i + 1 FROM r WHERE i < 49) "
           "INSERT INTO PICTURES (ID, PICTURE) SELECT i, x'01' FROM r");

    const std::string json = dir.file("f.json");
    const CliRun normal = RunCli("check --normal '" + a.main + "' --yes --json '" + json + "'", dir);
    EXPECT_EQ(normal.exit, 4) << normal.out << normal.err;
    std::map<long, int> eachOpenError;
    for (long id = 10; id <= 49; ++id) eachOpenError[id] = ResultPdbOpenError;
    EXPECT_EQ(JsonCodes(json), eachOpenError);
    EXPECT_TRUE(Contains(Slurp(LogName(a.main)), "'" + a.main + "' names the main database of this archive"));

    const CliRun quick = RunCli("check --quick '" + a.main + "' --yes --json '" + json + "'", dir);
    EXPECT_EQ(quick.exit, 4) << quick.out << quick.err;
    EXPECT_EQ(JsonCodes(json), (std::map<long, int>{{0, ResultPdbOpenError}}));
}

namespace {

// The links (with their targets), folders and empty files directly in a folder.
std::map<std::string, std::string> OddEntries(const std::string& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        switch (qx::RealEnv().KindOf(e.path().string())) {
        case EntryKind::Link: out[name] = "link to " + fs::read_symlink(e.path()).string(); break;
        case EntryKind::Folder: out[name] = "folder"; break;
        case EntryKind::RegularFile:
            if (fs::file_size(e.path()) == 0 && e.path().extension() != ".lock") out[name] = "empty file";
            break;
        default: out[name] = "other"; break;
        }
    }
    return out;
}

}  // namespace

// Nothing is written through a link, nor into an entry on a standard name
// that is no regular, non-empty file: not by reorganize, compact or the
// checks, and no engine side file is followed out of the folder. Judged by
// the archive's documents (each ID's bytes), the other folder byte for byte
// and the places the links lead to.
TEST(OutsideSubDatabasesCli, NothingIsWrittenThroughALinkOrIntoAnOddEntry) {
    struct Case {
        std::string name;
        std::string command;  // before the archive's path
        // Plants the entry in `a`'s folder; `other` is a second archive, `away` a folder outside both.
        std::function<void(ArchiveBuilder& a, ArchiveBuilder& other, const std::string& away)> plant;
        std::string told;     // a fragment the terminal shows
        std::string absent;   // below `away`: a file that must not come into being
    };
    const std::string linkText = "is een koppeling of geen gewoon bestand";
    const std::string reorganizeText = "is een koppeling, geen gewoon bestand of leeg";
    const Case cases[] = {
        {"reorganize, a sub database's name a link into another archive", "reorganize",
         [](ArchiveBuilder& a, ArchiveBuilder& other, const std::string&) {
             fs::remove(SubDatabaseName(a.main, 2));
             fs::create_symlink(SubDatabaseName(other.main, 2), SubDatabaseName(a.main, 2));
         },
         reorganizeText, ""},
        {"reorganize, a sub database's name a link to its own file moved aside", "reorganize",
         [](ArchiveBuilder& a, ArchiveBuilder&, const std::string&) {
             fs::rename(SubDatabaseName(a.main, 2), fs::path(a.main).parent_path() / "Echt.pdb");
             fs::create_symlink("Echt.pdb", SubDatabaseName(a.main, 2));
         },
         reorganizeText, ""},
        {"reorganize, an empty file on a sub database's name", "reorganize",
         [](ArchiveBuilder& a, ArchiveBuilder&, const std::string&) {
             fs::resize_file(SubDatabaseName(a.main, 2), 0);
         },
         reorganizeText, ""},
        {"compact, an empty file on a sub database's name", "compact --all",
         [](ArchiveBuilder& a, ArchiveBuilder&, const std::string&) {
             fs::resize_file(SubDatabaseName(a.main, 2), 0);
         },
         "", ""},
        {"compact, a sub database's write-ahead file a folder", "compact --all",
         [](ArchiveBuilder& a, ArchiveBuilder&, const std::string&) {
             fs::create_directory(SubDatabaseName(a.main, 1) + "-wal");
         },
         linkText, ""},
        {"check, the main database's journal a dangling link", "check --normal",
         [](ArchiveBuilder& a, ArchiveBuilder&, const std::string& away) {
             fs::create_symlink(away + "/journal", a.main + "-journal");
         },
         linkText, "journal"},
        {"check, a sub database's journal a dangling link", "check --normal",
         [](ArchiveBuilder& a, ArchiveBuilder&, const std::string& away) {
             fs::create_symlink(away + "/journal", SubDatabaseName(a.main, 1) + "-journal");
         },
         linkText, "journal"},
        {"remove, a document's sub database journal a dangling link", "remove",
         [](ArchiveBuilder& a, ArchiveBuilder&, const std::string& away) {
             fs::create_symlink(away + "/journal", SubDatabaseName(a.main, 1) + "-journal");
         },
         linkText, "journal"},
        {"reorganize, a sub database's shared-memory file a link", "reorganize",
         [](ArchiveBuilder& a, ArchiveBuilder&, const std::string& away) {
             fs::create_symlink(away + "/shm", SubDatabaseName(a.main, 2) + "-shm");
         },
         reorganizeText, "shm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::create_directories(dir.file("ours"));
        fs::create_directories(dir.file("theirs"));
        fs::create_directories(dir.file("away"));
        ArchiveBuilder a(dir.file("ours"));
        a.sub(1, {2, 3}).sub(2, {4, 5});
        a.execIn(2, "UPDATE PICTURES SET PICTURE = randomblob(3000)");
        ArchiveBuilder other(dir.file("theirs"), 8, "Kantoor");
        other.sub(1, {20}).sub(2, {21, 22});
        const auto ours = TakeSnapshot(a.main);
        c.plant(a, other, dir.file("away"));
        const auto theirs = FolderBytes(dir.file("theirs"));
        const auto odd = OddEntries(dir.file("ours"));

        const std::string args = c.command == "remove" ? "remove '" + a.main + "' 2 --yes"
                                                       : c.command + " '" + a.main + "' --yes";
        if (c.command == "reorganize") {  // its preview stops at the same entry
            const CliRun plan = RunCli("reorganize '" + a.main + "' --plan", dir);
            EXPECT_TRUE(Contains(plan.out + plan.err, c.told)) << plan.out << plan.err;
        }
        const CliRun r = RunCli(args, dir);
        if (!c.told.empty()) EXPECT_TRUE(Contains(r.err + r.out, c.told)) << r.out << r.err;
        // A stopped reorganize's exit code is settled elsewhere; the others say they could not.
        if (c.command != "reorganize") { EXPECT_NE(r.exit, 0) << r.out << r.err; }

        EXPECT_TRUE(ChangedFiles(theirs, FolderBytes(dir.file("theirs"))).empty());
        if (!c.absent.empty()) { EXPECT_FALSE(fs::exists(fs::symlink_status(dir.file("away/" + c.absent)))); }
        EXPECT_EQ(qx::RealEnv().KindOf(IntentName(a.main)), EntryKind::None);
        const auto oddAfter = OddEntries(dir.file("ours"));
        for (const auto& [name, what] : odd) {
            const auto it = oddAfter.find(name);
            EXPECT_TRUE(it != oddAfter.end() && it->second == what) << name << " was " << what;
        }
        // Every document of ours still leads to its bytes, the planted entries taken away.
        for (const char* side : {"-journal", "-wal", "-shm"})
            for (const std::string& f : {a.main, SubDatabaseName(a.main, 1), SubDatabaseName(a.main, 2)})
                if (qx::RealEnv().KindOf(f + side) == EntryKind::Link || qx::RealEnv().KindOf(f + side) == EntryKind::Folder)
                    fs::remove(f + side);
        const auto after = TakeSnapshot(a.main);
        std::map<long, std::string> expected = ours.documents;
        if (c.name.find("empty file") != std::string::npos) expected.erase(4), expected.erase(5);
        if (c.name.find("into another archive") != std::string::npos) expected.erase(4), expected.erase(5);
        EXPECT_EQ(after.documents, expected);
    }
}

// A side file of a sub database that is a link or no regular file keeps
// that sub database from being opened for writing; its documents are not
// damaged for that. Every check level stops before judging any of them,
// says why, exits 8 and leaves the folder as it was.
TEST(OutsideSubDatabasesCli, ACheckStopsAtASideFileThatIsNoRegularFile) {
    struct Plant {
        std::string name;
        std::function<void(const std::string& side, const std::string& away)> make;
    };
    const Plant plants[] = {
        {"a dangling link", [](const std::string& side, const std::string& away) {
             fs::create_symlink(away + "/journal", side);
         }},
        {"a folder", [](const std::string& side, const std::string&) { fs::create_directory(side); }},
        {"a link to a file elsewhere", [](const std::string& side, const std::string& away) {
             WriteFile(away + "/journal", "x");
             fs::create_symlink(away + "/journal", side);
         }},
    };
    struct Level {
        std::string option;
        const char* side;
    };
    const Level levels[] = {{"--normal", "-journal"}, {"--thorough", "-journal"}, {"--quick", "-journal"},
                            {"--normal --dry-run", "-journal"}, {"--normal", "-wal"}};
    for (const Plant& p : plants) {
        for (const Level& l : levels) {
            SCOPED_TRACE(p.name + " as " + l.side + ", check " + l.option);
            TempDir dir;
            fs::create_directories(dir.file("ours"));
            fs::create_directories(dir.file("away"));
            ArchiveBuilder a(dir.file("ours"));
            a.sub(1, {2, 3}).sub(2, {4, 5});
            p.make(SubDatabaseName(a.main, 1) + l.side, dir.file("away"));
            const auto before = FolderBytes(dir.file("ours"));
            const auto away = FolderBytes(dir.file("away"));

            const CliRun r = RunCli("check " + l.option + " '" + a.main + "' --yes --log '" + dir.file("check.log") +
                                        "' --json '" + dir.file("f.json") + "'",
                                    dir);
            EXPECT_EQ(r.exit, 8) << r.out << r.err;
            EXPECT_TRUE(Contains(r.out + r.err, "is een koppeling of geen gewoon bestand")) << r.out << r.err;
            EXPECT_TRUE(JsonCodes(dir.file("f.json")).empty()) << r.out;
            EXPECT_EQ(ChangedFiles(before, FolderBytes(dir.file("ours"))), std::vector<std::string>{});
            EXPECT_EQ(ChangedFiles(away, FolderBytes(dir.file("away"))), std::vector<std::string>{});
        }
    }
}

// The window says it at every check it stops, not only the first time the
// file is met in a session; nothing is listed.
TEST(OutsideSubDatabases, EveryStoppedCheckSaysWhy) {
    TempDir dir, away;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2, 3}).sub(2, {4});
    fs::create_symlink(away.file("journal"), SubDatabaseName(a.main, 2) + "-journal");
    Settings::Reset();
    Settings::Get().LogFileName = away.file("check.log");
    Settings::Get().DatabasePassword = a.password;
    ScriptedWindow window;
    CDatabase db(window, window.env());
    db.m_bShowErrors = false;
    ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
    const std::string told = "is een koppeling of geen gewoon bestand";
    for (short flags : {short(23), short(23), short(319)}) {
        SCOPED_TRACE(flags);
        window.boxes.clear();
        db.Analyse(flags);
        ASSERT_EQ(window.boxes.size(), 1u);
        EXPECT_TRUE(Contains(window.boxes[0].text, told)) << window.boxes[0].text;
        EXPECT_TRUE(db.Findings().all().empty());
        EXPECT_FALSE(db.Findings().stopped.empty());
        EXPECT_FALSE(window.state.m_bAnalysed);
    }
    Settings::Reset();
}
