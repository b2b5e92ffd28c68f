// Changes to several files as one: the intent record, finishing or undoing an
// interrupted change when an archive is opened, errors at every step of a
// renumbering, the archive lock, and the open of an archive in order that
// writes nothing.
#include "database/CDatabase.h"
#include "database/access/OpenArchive.h"
#include "database/maintenance/IntentRecord.h"
#include "support/ArchiveLock.h"
#include "support/Env.h"
#include "support/Failpoint.h"
#include "support/FileOperations.h"
#include "support/TextResources.h"
#include "tests/core/CliRunner.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/SubDatabaseArchive.h"
#include "tests/core/WriteWatch.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace qx;
using namespace qx::test;
namespace fs = std::filesystem;

namespace {

// Everything a renumbering decides: where documents point, what the table
// says, which marker each listed file holds, and the names in the folder.
std::string StateOf(const Archive& a) {
    std::string s = a.links() + " |";
    for (const auto& [id, path] : a.databases())
        s += " " + std::to_string(id) + "=" + fs::path(path).filename().string() + ":" + std::to_string(MarkerOf(path));
    return s + " | " + Names(fs::path(a.main).parent_path().string());
}

// Documents of 3 and 7, an unused 1 and 5: the renumbering moves every file.
void NeedsRenumbering(Archive& a) {
    for (long n : {1, 3, 5, 7}) a.standardSub(n);
    for (auto [id, n] : {std::pair{103, 3}, {107, 7}, {13, 0}}) a.doc(id, n);
}

class ArchiveChange : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        Settings::Get().DatabasePassword = kPwd;
        Settings::Get().LogFileName = dir.file("Kantoor.log");
        failpoints::Reset();
    }
    void TearDown() override {
        failpoints::Reset();
        Settings::Reset();
    }
    std::unique_ptr<CDatabase> Open(const Archive& a) {
        auto db = std::make_unique<CDatabase>(window, window.env());
        EXPECT_TRUE(db->OpenDatabase(CDatabase::ConnectString(a.main, kPwd)));
        window.boxes.clear();
        return db;
    }
    TempDir dir;
    ScriptedWindow window;
};

}  // namespace

TEST(IntentRecordFormat, ReadsBackWhatItWroteAndRefusesAnythingElse) {
    IntentRecord r;
    r.operation = "renumber sub databases";
    r.marker = 123456789;
    r.renames = {{"Kantoor_3.pdb", "Kantoor_3.pdb.obsolete", {2049, 77}},
                 {"odd\tname%\n.pdb", "Kantoor_1.pdb", {2049, 78}}};
    const std::string text = r.serialize();
    std::string why;
    IntentRecord none = r;
    none.marker.reset();
    for (const IntentRecord& each : {r, none}) EXPECT_EQ(IntentRecord::Parse(each.serialize(), why), each) << why;

    const std::pair<const char*, std::string> damaged[] = {
        {"empty", ""},
        {"cut in the middle", text.substr(0, text.size() / 2)},
        {"cut before the checksum", text.substr(0, text.find("checksum"))},
        {"a changed letter", [&] { std::string t = text; t[t.find("Kantoor_1")] = 'X'; return t; }()},
        {"something else", "hello\n"},
    };
    for (const auto& [name, bytes] : damaged) EXPECT_FALSE(IntentRecord::Parse(bytes, why)) << name;

    // A record that names a file outside the folder is refused however it
    // was made: its checksum is right, its names are not.
    IntentRecord outside = r;
    outside.renames[0].to = "../elsewhere.pdb";
    EXPECT_FALSE(IntentRecord::Parse(outside.serialize(), why));
}

// An error at any step of the renumbering leaves the archive wholly as it
// was (before the commit) or, once the next open has finished the change,
// wholly renumbered (after it). Never anything in between.
TEST_F(ArchiveChange, AnErrorAtAnyStepLeavesTheArchiveBeforeOrAfterTheRenumbering) {
    std::string before, after;
    {
        TempDir ref;
        Settings::Get().LogFileName = ref.file("Kantoor.log");
        Archive a(ref.path());
        NeedsRenumbering(a);
        before = StateOf(a);
        Open(a)->UnlinkUnused();
        after = StateOf(a);
        ASSERT_NE(before, after);
    }
    const std::tuple<const char*, int, bool> cases[] = {  // failpoint, hit, after the commit
        {"intent.write", 1, false},           {"intent.write.sync", 1, false},
        {"intent.write.sync-folder", 1, false}, {"engine.commit", 1, false},
        {"intent.rename", 1, true},           {"intent.rename", 3, true},
        {"intent.rename", 5, true},           {"intent.rename.sync-folder", 2, true},
        {"intent.remove", 1, true},
    };
    for (const auto& [point, hit, committed] : cases) {
        for (FailAction action : {FailAction::NoSpace, FailAction::IoError}) {
            const bool full = action == FailAction::NoSpace;
            const std::string name = std::string(point) + "@" + std::to_string(hit) + (full ? " ENOSPC" : " EIO");
            TempDir here;
            Settings::Get().LogFileName = here.file("Kantoor.log");
            Archive a(here.path());
            NeedsRenumbering(a);
            failpoints::Reset();
            failpoints::Arm(point, hit, action);
            Open(a)->UnlinkUnused();
            failpoints::Reset();
            const std::string words = full ? "No space left on device" : "Input/output error";
            EXPECT_TRUE(std::ranges::any_of(LogLines(), [&](const std::string& l) {
                return l.find(words) != std::string::npos || l.find("disk") != std::string::npos;
            })) << name << ": the log does not say what went wrong";
            if (!committed) { EXPECT_EQ(StateOf(a), before) << name; }

            EXPECT_TRUE(Open(a)->FinishInterruptedChange()) << name;
            EXPECT_FALSE(fs::exists(IntentName(a.main))) << name;
            EXPECT_EQ(StateOf(a), committed ? after : before) << name;
        }
    }
}

TEST_F(ArchiveChange, AnOpenFinishesOrUndoesWhatItFindsAndRefusesWhatItCannotTell) {
    struct Case {
        const char* name;
        // Leaves the archive as an interrupted run would; returns the text
        // the user must be shown (0: nothing).
        std::function<int(Archive&, CDatabase&)> interrupt;
        bool opens;
        bool renumbered;
    };
    const auto record = [](Archive& a, const IntentRecord& r) { return WriteFile(IntentName(a.main), r.serialize()); };
    const Case cases[] = {
        {"renames half done after the commit",
         [](Archive&, CDatabase& db) {
             failpoints::Arm("intent.rename", 3, FailAction::IoError);
             return db.UnlinkUnused(), 202;
         },
         true, true},
        {"crash before the commit",
         [&](Archive& a, CDatabase&) {
             record(a, {"renumber sub databases", 4242,
                        {{"Kantoor_3.pdb", "Kantoor_3.pdb.obsolete", *qx::RealEnv().IdentityOf(a.at(3))}}, {}, {}});
             return 203;
         },
         true, false},
        {"torn record",
         [](Archive& a, CDatabase&) { return WriteFile(IntentName(a.main), "quillex-intent\t1\noperation\trenum"), 0; },
         true, false},
        {"a step's file was replaced",
         [&](Archive& a, CDatabase&) {
             record(a, {"renumber sub databases", std::nullopt, {{"Kantoor_3.pdb", "Kantoor_2.pdb", {1, 1}}}, {}, {}});
             return 204;
         },
         false, false},
        {"a folder on the record's name",
         [](Archive& a, CDatabase&) { return fs::create_directory(IntentName(a.main)), 204; }, false, false},
    };
    for (const Case& c : cases) {
        TempDir here;
        Settings::Get().LogFileName = here.file("Kantoor.log");
        Archive a(here.path());
        NeedsRenumbering(a);
        const std::string before = StateOf(a);
        failpoints::Reset();
        const int text = c.interrupt(a, *Open(a));
        failpoints::Reset();
        EXPECT_EQ(Open(a)->FinishInterruptedChange(), c.opens) << c.name;
        if (text == 0) {
            EXPECT_TRUE(window.boxes.empty()) << c.name;
        } else {
            ASSERT_EQ(window.boxes.size(), 1u) << c.name;
            EXPECT_TRUE(window.boxes[0].text.starts_with(GetResString(text, kNotFound).substr(0, 40))) << c.name;
            // The reason, in the log's English, is kept apart from the Dutch text.
            if (text == 204) {
                EXPECT_NE(window.boxes[0].text.find(GetResString(344, kNotFound)), std::string::npos) << c.name;
                EXPECT_NE(Slurp(Settings::Get().LogFileName).find(window.boxes[0].details), std::string::npos)
                    << window.boxes[0].details;
                EXPECT_FALSE(window.boxes[0].details.empty()) << c.name;
            }
        }
        if (!c.opens) continue;
        EXPECT_FALSE(fs::exists(IntentName(a.main))) << c.name;
        if (!c.renumbered) { EXPECT_EQ(StateOf(a).substr(0, before.find('|')), before.substr(0, before.find('|'))); }
        else { EXPECT_EQ(a.links(), "13:0 103:1 107:2") << c.name; }
    }
}

// Renumbering leaves the retired file of an old number behind; it holds other
// documents and must never stand in for a sub database that went missing.
TEST_F(ArchiveChange, ARetiredFileOfAnotherNumberingDoesNotReplaceAMissingSubDatabase) {
    Archive a(dir.path());
    NeedsRenumbering(a);
    Open(a)->UnlinkUnused();
    ASSERT_EQ(MarkerOf(a.at(1) + ".obsolete"), 101);
    fs::remove(a.at(1));  // sub database 1 (document 103) is lost
    auto db = Open(a);
    EXPECT_FALSE(db->ManagePdbList());
    EXPECT_FALSE(fs::exists(a.at(1)));
    EXPECT_EQ(MarkerOf(a.at(1) + ".obsolete"), 101);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, FormatMsg(GetResString(80, kNotFound), {"Kantoor", a.at(1), a.at(1)}));
}

TEST_F(ArchiveChange, ADamagedMainDatabaseIsNeverRenumbered) {
    Archive a(dir.path());
    NeedsRenumbering(a);
    // The FOLDERS table's tree is made to start at DATABASES' root page: the
    // file fails the engine's integrity check, and what it reads as
    // documents is nonsense.
    a.exec("PRAGMA writable_schema = ON; UPDATE sqlite_master SET rootpage = (SELECT rootpage FROM sqlite_master "
           "WHERE name = 'DATABASES') WHERE name = 'FOLDERS'; PRAGMA writable_schema = OFF;");
    const std::string names = Names(dir.path());
    const auto rows = a.databases();
    auto db = Open(a);
    db->ManagePdbList();
    db->UnlinkUnused();
    db->ManagePdbList();
    EXPECT_EQ(Names(dir.path()), names);
    EXPECT_EQ(a.databases(), rows);
    EXPECT_EQ(std::ranges::count_if(window.boxes, [&](const auto& b) {
                  return b.text == FormatMsg(GetResString(207, kNotFound), {a.main});
              }),
              1) << "told once, however many steps refuse";
}

TEST(ArchiveLockTest, OneHolderAtATimeAndTheKernelReleasesADeadOne) {
    TempDir dir;
    const std::string path = dir.file("Kantoor.lock");
    ArchiveLock::Outcome outcome;
    std::string holder;
    auto first = ArchiveLock::Acquire(qx::RealEnv(), path, outcome, holder);
    ASSERT_TRUE(first && outcome == ArchiveLock::Outcome::Held) << holder;
    first.reset();
    EXPECT_FALSE(fs::exists(path)) << "the holder removes the file when it lets go";

    // Another process is turned away and told who holds the lock; a holder
    // killed on the spot leaves no lock behind.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holderPid = fork();
    if (holderPid == 0) {
        auto lock = ArchiveLock::Acquire(qx::RealEnv(), path, outcome, holder);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_FALSE(ArchiveLock::Acquire(qx::RealEnv(), path, outcome, holder));
    EXPECT_EQ(outcome, ArchiveLock::Outcome::InUse);
    EXPECT_EQ(holder.find("proces " + std::to_string(holderPid)), 0u) << holder;
    kill(holderPid, SIGKILL);
    int status = 0;
    waitpid(holderPid, &status, 0);
    auto again = ArchiveLock::Acquire(qx::RealEnv(), path, outcome, holder);
    EXPECT_TRUE(again && outcome == ArchiveLock::Outcome::Held) << holder;
    close(ready[0]);
    close(ready[1]);
}

// Two runs at once: the second is told the archive is in use and changes
// nothing; the archive ends as one run alone would leave it.
TEST(ArchiveLockCli, ASecondQuillexIsTurnedAwayAndChangesNothing) {
    TempDir dir, scratch;
    Settings::Reset();
    Archive a(dir.path());
    NeedsRenumbering(a);
    {
        ArchiveLock::Outcome outcome;
        std::string holder;
        auto held = ArchiveLock::Acquire(qx::RealEnv(), LockName(a.main), outcome, holder);
        ASSERT_TRUE(held);
        const std::string before = StateOf(a);
        for (const char* command : {"open --yes", "check --normal --yes", "repair-multipage --yes"}) {
            const CliRun r = RunCli(std::string(command) + " '" + a.main + "'", scratch);
            EXPECT_EQ(r.exit, 8) << command << "\n" << r.err;
            EXPECT_NE(r.err.find("proces " + std::to_string(getpid())), std::string::npos) << command << r.err;
            EXPECT_EQ(StateOf(a), before) << command;
            EXPECT_FALSE(fs::exists(LogName(a.main))) << command;
        }
    }
    // Started together, they take turns or one is turned away.
    const std::string cmd = std::string("'") + QX_CLI_PATH + "' check --normal --yes '" + a.main + "' >/dev/null 2>&1";
    const std::string both = "(" + cmd + "; echo $? > '" + scratch.file("one") + "') & (" + cmd + "; echo $? > '" +
                             scratch.file("two") + "') & wait";
    ASSERT_EQ(std::system(both.c_str()), 0);
    const std::string exits = Slurp(scratch.file("one")) + Slurp(scratch.file("two"));
    EXPECT_TRUE(exits.find('8') == std::string::npos || exits.find_first_of("014") != std::string::npos) << exits;
    EXPECT_EQ(a.links(), "13:0 103:1 107:2");
    EXPECT_EQ(std::pair(MarkerOf(a.at(1)), MarkerOf(a.at(2))), std::pair(103L, 107L));
}

// An archive already in order is read, not written: no rename, no update,
// not even a changed time stamp on any of its files.
TEST(HealthyOpen, WritesNothing) {
    TempDir dir;
    Settings::Reset();
    const std::string folder = dir.file("archive");
    ASSERT_EQ(RunCli("sample '" + folder + "' --documents 30 --faults none", dir).exit, 0);
    const std::string main = folder + "/Archief.dat";
    ASSERT_EQ(RunCli("open --no '" + main + "'", dir).exit, 0);  // whatever a first open settles
    const auto before = FolderStamps(folder, false);
    const CliRun r = RunCli("open --no '" + main + "'", dir);
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(FolderStamps(folder, false), before);
    EXPECT_NE(Slurp(LogName(main)).find("under their standard names: nothing to change"), std::string::npos);
}

// Only an archive that is open is held: one that was refused is free for
// the next Quillex at once. A main database another program holds locked,
// or that may not be read, is said to be so: never called corrupt (that
// advice sends the user to a backup), asked once rather than once per
// password, and nothing changes.
TEST(OpenDatabaseFileTest, HeldExactlyWhileOpenAndALockedOrUnreadableArchiveIsNeverCalledCorrupt) {
    struct Case {
        const char* name;
        int generation;
        int text;  // of the one message box (0: none)
        OpenOutcome outcome;
    } cases[] = {{"current generation", 8, 0, OpenOutcome::Opened},
                 {"outdated generation", 6, -1, OpenOutcome::Outdated},
                 {"held in an exclusive transaction", 8, 211, OpenOutcome::InUse},
                 {"no permission to read", 8, 212, OpenOutcome::NotConnected}};
    const qx::test::ShortBusyWait shortWait;
    for (const Case& c : cases) {
        if (c.text == 212 && ::geteuid() == 0) continue;  // root reads everything
        TempDir dir;
        Settings::Reset();
        Archive a(dir.path(), c.generation);
        a.standardSub(1), a.doc(101, 1);
        sql::Error err;
        sql::Database other;
        if (c.text == 211) {
            other = sql::Database::open(qx::RealEnv(), a.main, engine::PasswordBytes(a.password), sql::OpenMode::ReadWrite, err);
            ASSERT_TRUE(other.exec("BEGIN EXCLUSIVE; UPDATE FOLDERS SET NAME = NAME;", &err)) << err.message;
        } else if (c.text == 212) {
            fs::permissions(a.main, fs::perms::none);
        }
        ScriptedWindow window;
        CDatabase db(window, window.env());
        EXPECT_EQ(OpenDatabaseFile(db, a.main), c.outcome) << c.name;
        if (c.text > 0) {
            ASSERT_EQ(window.boxes.size(), 1u) << c.name;
            EXPECT_EQ(window.boxes[0].text, FormatMsg(GetResString(c.text, kNotFound), {a.main})) << c.name;
        }
        fs::permissions(a.main, fs::perms::owner_read | fs::perms::owner_write);
        ArchiveLock::Outcome outcome;
        std::string holder;
        auto next = ArchiveLock::Acquire(qx::RealEnv(), LockName(a.main), outcome, holder);
        EXPECT_EQ(outcome, c.outcome == OpenOutcome::Opened ? ArchiveLock::Outcome::InUse : ArchiveLock::Outcome::Held)
            << c.name;
    }
    Settings::Reset();
}

// A full disk while a moved archive's sub database is found beside it: the
// sub database opens all the same, and the refusal is said as such (before,
// every document of it was reported unopenable, and the disk never named).
TEST_F(ArchiveChange, ARelocationTheDiskRefusesStillOpensTheSubDatabaseAndSaysSo) {
    Archive a(dir.path());
    MakeSub(a.at(1), 101);
    a.list(1, "/old/place/Kantoor_1.pdb");
    a.doc(101, 1);
    auto db = Open(a);
    failpoints::Arm("engine.commit", 1, FailAction::NoSpace);
    long id = 101;
    EXPECT_EQ(db->OpenPicbase(id), 0);
    EXPECT_NE(window.State().m_sSaveError.find("full"), std::string::npos) << window.State().m_sSaveError;
    EXPECT_EQ(a.databases()[1], "/old/place/Kantoor_1.pdb");
}

// A main database without a table or column every check reads is damaged:
// it is not opened (exit 8), and the reason is named.
TEST(SchemaAtOpen, AMissingTableOrColumnIsNamedAndTheArchiveNotOpened) {
    const std::tuple<const char*, const char*, const char*> cases[] = {  // name, damage, named as missing
        {"FOLDERS dropped", "DROP TABLE FOLDERS", "FOLDERS"},
        {"DATABASES dropped", "DROP TABLE DATABASES", "DATABASES"},
        {"FOLDERS without TEMPLATE1", "ALTER TABLE FOLDERS RENAME TO OLD; CREATE TABLE FOLDERS AS SELECT ID, PARENT, "
                                      "ISFOLDER, NAME, DATABASEID FROM OLD; DROP TABLE OLD", "FOLDERS."},
    };
    for (const auto& [name, damage, missing] : cases) {
        TempDir dir, scratch;
        Settings::Reset();
        Archive a(dir.path());
        a.standardSub(1), a.doc(101, 1);
        a.exec(damage);
        for (const char* command : {"open --no", "check --normal --yes", "check --quick --yes"}) {
            const CliRun r = RunCli(std::string(command) + " '" + a.main + "'", scratch);
            EXPECT_TRUE(r.exit == 8 && r.err.find(missing) != std::string::npos) << name << ", " << command << ": exit "
                                                                                 << r.exit << "\n" << r.err;
        }
    }
    Settings::Reset();
}
