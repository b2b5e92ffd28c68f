// The link check and the document check against small damaged archives:
// what is found, with which code, what is repaired, and that a second run
// finds only what stays damaged.
#include "database/StatusBar.h"
#include "database/checks/ResultCodes.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/engine/Recordset.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

using namespace qx;
using qx::test::ArchiveBuilder;
namespace fs = std::filesystem;

namespace {

// Overwrites bytes inside page `page` (0-based) of a file: the page then
// fails its authentication and every read of it fails.
void DamagePage(const std::string& path, long page) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(page * 16384 + 200);
    f.write("\xde\xad\xbe\xef\xde\xad\xbe\xef", 8);
}

struct Outcome {
    std::map<long, short> findings;  // document id -> code of its list row
    std::vector<short> unkeyed;      // codes of rows without a document
    std::map<long, std::string> shown;  // document id -> "location|name" of its list row
    bool analysed = false;
    bool noErrorsBox = false;
    bool partial = false;         // the list says the check was cancelled
    std::string statusCounters;   // the status bar's panel after the counters
    std::vector<std::string> boxes;  // the texts of the boxes shown during the check
    CheckFindings kept;              // what the core kept of the run
    std::vector<std::string> log;    // the log lines the run wrote
};

class Checks : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        Settings::Get().LogFileName = dir.file("Kantoor.log");
        // Sub database 1 holds documents 2, 3 and 4; sub database 2 holds 5.
        a.sub(1, {2, 3, 4}).sub(2, {5});
    }
    void TearDown() override { Settings::Reset(); }

    Outcome run(short flags, int cancelAfter = -1) {
        qx::test::ScriptedWindow window;
        window.cancelAfterEvents = cancelAfter;
        CDatabase db(window, window.env());
        Settings::Get().DatabasePassword = a.password;
        Settings::Get().DatabaseVersion = 8;
        db.m_bShowErrors = false;
        EXPECT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
        window.boxes.clear();
        const size_t logged = qx::test::ReadLines(Settings::Get().LogFileName).size();
        db.Analyse(flags);
        Outcome o;
        o.kept = db.Findings();
        const auto lines = qx::test::ReadLines(Settings::Get().LogFileName);
        o.log.assign(lines.begin() + static_cast<long>(std::min(logged, lines.size())), lines.end());
        for (const ListRow& r : window.lists[ListId::Documents]) {
            if (r.key.empty()) o.unkeyed.push_back(static_cast<short>(r.tag));
            else o.findings[std::stol(r.key.substr(2))] = static_cast<short>(r.tag);
            if (!r.key.empty()) o.shown[std::stol(r.key.substr(2))] = r.subItems.at(0) + "|" + r.text;
        }
        o.analysed = window.state.m_bAnalysed;
        o.partial = window.state.m_bListPartial;
        o.statusCounters = StatusBarTexts(window.env(), window.state, 1, 0)[2];
        for (const auto& b : window.boxes) {
            o.noErrorsBox |= b.icon == MsgIcon::Information;
            o.boxes.push_back(b.text);
        }
        return o;
    }
    std::string query(const std::string& sql) {
        engine::Connection cn(qx::RealEnv());
        EXPECT_TRUE(cn.open(CDatabase::ConnectString(a.main, a.password)));
        engine::Recordset rs;
        EXPECT_TRUE(rs.open(sql, cn, engine::CursorMode::Lookup)) << sql;
        std::string out;
        for (; !rs.eof(); rs.moveNext())
            for (int i = 0; i < rs.fieldCount(); ++i) out += (out.empty() ? "" : "|") + rs.value(i).toString();
        return out;
    }

    qx::test::TempDir dir;
    ArchiveBuilder a{dir.path()};
};

}  // namespace

TEST_F(Checks, LinkCheckRepairsStoredDataWithoutADocumentAndOrphanPages) {
    a.execIn(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (90, x''), (91, x'0102')");
    a.exec("UPDATE FOLDERS SET TEMPLATE1 = 'MC77' WHERE ID = 3");       // container missing
    a.exec("UPDATE FOLDERS SET TEMPLATE1 = 'MC5' WHERE ID = 4");        // container is no multipage document
    a.execIn(1, "UPDATE PICTURES SET PICTURE = x'' WHERE ID = 2");        // empty, no copy anywhere
    a.execIn(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (6, x'')");    // unreferenced and empty
    const Outcome first = run(32);
    EXPECT_EQ(first.findings, (std::map<long, short>{{91, ResultLinkCreated},
                                                      {3, ResultMultipageOrphanFixed},
                                                      {4, ResultMultipageOrphanFixed},
                                                      {2, ResultEmptyDocument}}));
    EXPECT_TRUE(first.analysed);
    EXPECT_EQ(query("SELECT NAME, ISFOLDER, DATABASEID, PARENT IS NULL FROM FOLDERS WHERE ID = 91"), "Fixed 91|0|1|1");
    // The list names the document the repair made, where it now stands.
    EXPECT_EQ(first.shown.at(91), "\\|Fixed 91");
    EXPECT_EQ(query("SELECT PAGE, TEMPLATE1 IS NULL, WIDTH, HEIGHT FROM FOLDERS WHERE ID IN (3, 4)"),
              "1|1|0|0|1|1|0|0");
    // Converged: what is left is the empty document that has no copy.
    const Outcome second = run(32);
    EXPECT_EQ(second.findings, (std::map<long, short>{{2, ResultEmptyDocument}}));
}

TEST_F(Checks, LinkCheckStopsAtASubDatabaseThatDoesNotOpen) {
    qx::test::WriteFile(SubDatabaseName(a.main, 1), std::string(20000, 'x'));
    const Outcome o = run(32);
    EXPECT_TRUE(o.findings.empty());
    EXPECT_EQ(o.unkeyed, (std::vector<short>{ResultPdbOpenError}));
}

TEST_F(Checks, DocumentCheckFindsAndRepairsLinksEmptyDataAndBrokenPaths) {
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (10, 1, 0, 'moved', 1),"
           " (11, 1, 0, 'lost', 1), (12, 40, 0, 'no folder', 2), (13, 40, 0, 'page', 2), (14, 1, 0, 'zero', 0),"
           " (15, 1, 0, 'missing file', 3)");
    a.exec("UPDATE FOLDERS SET TEMPLATE1 = 'MC5' WHERE ID = 13");
    a.exec("INSERT INTO DATABASES (ID, DATABASE) VALUES (3, '" + dir.file("Kantoor_3.pdb") + "')");
    a.execIn(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (10, x'01'), (12, x'01'), (13, x'01')");
    a.execIn(1, "UPDATE PICTURES SET PICTURE = x'' WHERE ID = 4");
    const Outcome first = run(23);
    EXPECT_EQ(first.findings, (std::map<long, short>{{10, ResultBadLinkFixed},
                                                      {11, ResultBadLink},
                                                      {4, ResultEmptyDocument},
                                                      {12, ResultVirtualPathFixed},
                                                      {14, ResultPdbDamaged},
                                                      {15, ResultPdbNotFound}}));
    EXPECT_EQ(query("SELECT DATABASEID FROM FOLDERS WHERE ID = 10"), "2");
    EXPECT_EQ(query("SELECT PARENT IS NULL FROM FOLDERS WHERE ID IN (12, 13) ORDER BY ID"), "1|0");  // pages stay
    const Outcome second = run(23);
    EXPECT_EQ(second.findings, (std::map<long, short>{{11, ResultBadLink},
                                                       {4, ResultEmptyDocument},
                                                       {14, ResultPdbDamaged},
                                                       {15, ResultPdbNotFound}}));
}

TEST_F(Checks, EveryDocumentIsVisitedOnceWhileTheirFoldersChange) {
    a.exec("WITH RECURSIVE r(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM r WHERE i < 159) "
           "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) SELECT i, 1000 + i % 7, 0, 'd', 1 FROM r");
    a.execIn(1, "WITH RECURSIVE r(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM r WHERE i < 159) "
              "INSERT INTO PICTURES (ID, PICTURE) SELECT i, x'01' FROM r");
    const Outcome o = run(23);
    EXPECT_EQ(o.findings.size(), 60u);  // each moved to the top exactly once
    EXPECT_EQ(query("SELECT COUNT(*) FROM FOLDERS WHERE PARENT IS NULL AND ID >= 100"), "60");
}

TEST_F(Checks, DocumentsAlternatingBetweenSubDatabasesAreEachCheckedInTheirOwn) {
    // In folder order the documents go 1, 2, 1, 2, ...: every document must
    // be looked up in its own sub database, also when it was opened before.
    a.exec("WITH RECURSIVE r(i) AS (SELECT 200 UNION ALL SELECT i + 1 FROM r WHERE i < 219) "
           "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) SELECT i, 1, 0, 'd', 1 + i % 2 FROM r");
    a.execIn(1, "WITH RECURSIVE r(i) AS (SELECT 200 UNION ALL SELECT i + 2 FROM r WHERE i < 218) "
              "INSERT INTO PICTURES (ID, PICTURE) SELECT i, x'01' FROM r WHERE i <> 210");
    a.execIn(2, "WITH RECURSIVE r(i) AS (SELECT 201 UNION ALL SELECT i + 2 FROM r WHERE i < 219) "
              "INSERT INTO PICTURES (ID, PICTURE) SELECT i, CASE i WHEN 215 THEN x'' ELSE x'01' END FROM r");
    EXPECT_EQ(run(23).findings, (std::map<long, short>{{210, ResultBadLink}, {215, ResultEmptyDocument}}));
}

// A cancelled check, wherever it stops, says how far it came and never
// that there were no errors: not in the window, not in the log.
TEST_F(Checks, ACancelledCheckIsNeverNoErrors) {
    a.exec("WITH RECURSIVE r(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM r WHERE i < 159) "
           "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) SELECT i, 1, 0, 'd', 1 FROM r");
    a.execIn(1, "WITH RECURSIVE r(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM r WHERE i < 159) "
              "INSERT INTO PICTURES (ID, PICTURE) SELECT i, x'01' FROM r");
    struct Case { std::string name; short flags; int cancelAfter; } cases[] = {
        // The integrity pass turns the event loop three times first (the
        // main and the OCR database, and its end).
        {"normal, during the integrity pass", 23, 1},
        {"normal, at the first document", 23, 4},
        {"normal, halfway", 23, 33},
        {"normal, at the last document", 23, 66},
        {"quick, at once", 32, 1},
        {"quick, halfway", 32, 30},
        {"thorough, early", 319, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = run(c.flags, c.cancelAfter);
        EXPECT_TRUE(o.kept.cancelled);
        EXPECT_FALSE(o.noErrorsBox);
        EXPECT_LT(o.kept.checked, o.kept.total);
        EXPECT_EQ(o.kept.total, 64);
        EXPECT_EQ(std::ranges::count(o.boxes, FormatMsg(GetResString(260, ""), {o.kept.checked, o.kept.total})), 1);
        EXPECT_EQ(std::ranges::count(o.log, "No errors found in this database"), 0);
        EXPECT_EQ(std::ranges::count(o.log, "Check cancelled after " + std::to_string(o.kept.checked) + " of 64 documents"),
                  1);
        EXPECT_TRUE(o.partial);
    }
    const Outcome whole = run(23);
    EXPECT_FALSE(whole.kept.cancelled);
    EXPECT_TRUE(whole.noErrorsBox);
}

TEST_F(Checks, CancellingKeepsRepairsAndSkipsTheRest) {
    a.exec("WITH RECURSIVE r(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM r WHERE i < 119) "
           "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) SELECT i, 999, 0, 'd', 1 FROM r");
    const Outcome o = run(23 | 32, 20);
    EXPECT_FALSE(o.analysed);
    EXPECT_LT(o.findings.size(), 20u);
    EXPECT_FALSE(o.findings.empty());
    EXPECT_TRUE(o.partial);
    EXPECT_NE(o.statusCounters.find(GetResString(218, "")), std::string::npos) << o.statusCounters;
    EXPECT_FALSE(run(23 | 32).partial);
}

TEST_F(Checks, ACleanArchiveSaysSo) {
    const Outcome normal = run(23);
    EXPECT_TRUE(normal.findings.empty());
    EXPECT_TRUE(normal.noErrorsBox);
    EXPECT_TRUE(normal.analysed);
}

// A damaged page of a sub database: the documents whose rows still read are
// judged by what they hold; those that cannot be read are reported as
// damaged, and none is moved to the copies another sub database holds.
TEST_F(Checks, ADamagedPageIsDamageNeverAMissingRow) {
    a.exec("WITH RECURSIVE r(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM r WHERE i < 399) "
           "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) SELECT i, 1, 0, 'd', 1 FROM r");
    a.execIn(1, "WITH RECURSIVE r(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM r WHERE i < 399) "
              "INSERT INTO PICTURES (ID, PICTURE) SELECT i, randomblob(1500) FROM r");
    a.execIn(2, "WITH RECURSIVE r(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM r WHERE i < 399) "
              "INSERT INTO PICTURES (ID, PICTURE) SELECT i, x'0102' FROM r");  // other data under the same IDs
    DamagePage(SubDatabaseName(a.main, 1), 12);
    for (short flags : {short(23), short(32)}) {
        const Outcome o = run(flags);
        EXPECT_EQ(query("SELECT COUNT(*) FROM FOLDERS WHERE DATABASEID <> 1 AND ID >= 100"), "0") << flags;
        bool damage = std::ranges::count(o.unkeyed, short(ResultPdbDamaged)) > 0;
        for (const auto& [id, code] : o.findings) {
            // The link check names the other data of a document whose own row still reads.
            if (flags == 32 && code == ResultStrayDuplicate) continue;
            EXPECT_EQ(code, ResultPdbDamaged) << flags << ": document " << id;
            damage = true;
        }
        EXPECT_TRUE(damage) << flags;
        EXPECT_FALSE(o.noErrorsBox) << flags;
    }
}

// An empty row in a sub database a document is not linked to is a leftover
// of that sub database: removed, and never a reason to move the document
// or to report it damaged.
class EmptyRowElsewhere : public Checks {
protected:
    void expectUntouched(short flags) {
        const std::string links = query("SELECT ID, DATABASEID FROM FOLDERS WHERE NOT ISFOLDER ORDER BY ID");
        EXPECT_TRUE(run(flags).findings.empty());
        EXPECT_EQ(query("SELECT ID, DATABASEID FROM FOLDERS WHERE NOT ISFOLDER ORDER BY ID"), links);
        EXPECT_TRUE(run(flags).findings.empty()) << "converged";
    }
};

TEST_F(EmptyRowElsewhere, LeftBehindByARelinkIsNoFindingOfTheQuickCheck) {
    a.execIn(1, "UPDATE PICTURES SET PICTURE = x'' WHERE ID = 3");
    a.execIn(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (3, x'0A0B')");
    EXPECT_EQ(run(23).findings, (std::map<long, short>{{3, ResultEmptyFixed}}));
    EXPECT_EQ(query("SELECT DATABASEID FROM FOLDERS WHERE ID = 3"), "2");
    expectUntouched(32);
    EXPECT_TRUE(run(32).noErrorsBox);
}

// The foreign data is named (finding 16) on every run, and left where it is.
TEST_F(EmptyRowElsewhere, BesideForeignDataNeverMovesAHealthyDocument) {
    a.sub(3, {});
    a.execIn(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (4, x'')");
    a.execIn(3, "INSERT INTO PICTURES (ID, PICTURE) VALUES (4, x'0909')");
    const std::string links = query("SELECT ID, DATABASEID FROM FOLDERS WHERE NOT ISFOLDER ORDER BY ID");
    for (const char* pass : {"first", "second"}) {
        EXPECT_EQ(run(32).findings, (std::map<long, short>{{4, ResultStrayDuplicate}})) << pass;
        EXPECT_EQ(query("SELECT ID, DATABASEID FROM FOLDERS WHERE NOT ISFOLDER ORDER BY ID"), links) << pass;
    }
}

// What cannot be read is a finding: the run never ends "no errors".
TEST_F(Checks, AnUnreadableTableIsAFinding) {
    const auto expectFinding = [&](short flags, short code) {
        const Outcome o = run(flags);
        EXPECT_FALSE(o.noErrorsBox) << flags;
        std::vector<short> codes = o.unkeyed;
        for (const auto& [id, c] : o.findings) codes.push_back(c);
        EXPECT_NE(std::ranges::count(codes, code), 0) << flags;
    };
    a.execIn(2, "DROP TABLE PICTURES");
    expectFinding(32, ResultPdbDamaged);
    a.exec("DROP TABLE FOLDERS");
    expectFinding(23, ResultDatabaseError);
    expectFinding(32, ResultDatabaseError);
}

// An archive copied without one of its sub databases still names the
// original's file: it is read (never changed), and the user is told.
TEST_F(Checks, ASubDatabaseFoundOnlyOutsideTheArchiveIsAFinding) {
    qx::test::TempDir original;
    const std::string elsewhere = original.file("Kantoor_2.pdb");
    fs::copy_file(SubDatabaseName(a.main, 2), elsewhere);
    fs::remove(SubDatabaseName(a.main, 2));
    a.exec("UPDATE DATABASES SET DATABASE = '" + elsewhere + "' WHERE ID = 2");
    const std::string said = "Sub database '" + elsewhere + "' lies outside the archive folder; it is read, never changed";
    for (short flags : {short(23), short(32)}) {
        const Outcome o = run(flags);
        EXPECT_EQ(o.unkeyed, std::vector<short>{ResultPdbOutsideArchive}) << flags;
        EXPECT_TRUE(o.findings.empty()) << flags;
        EXPECT_EQ(std::ranges::count(o.log, said), 1) << flags;
        EXPECT_FALSE(o.noErrorsBox) << flags;
    }
}

namespace {

// Counts the opens of one file while it lives (the kernel's own count, not ours).
class OpenCounter {
public:
    explicit OpenCounter(const std::string& path) : m_fd(inotify_init1(IN_NONBLOCK)) {
        inotify_add_watch(m_fd, path.c_str(), IN_OPEN);
    }
    ~OpenCounter() { close(m_fd); }
    int count() {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(m_fd, buffer, sizeof buffer)) > 0;)
            for (char* p = buffer; p < buffer + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len)
                ++m_opens;
        return m_opens;
    }

private:
    int m_fd;
    int m_opens = 0;
};

}  // namespace

// A sub database outside the folder is opened no more often than one inside
// it, however many documents it holds.
TEST_F(Checks, ASubDatabaseOutsideTheFolderIsOpenedOncePerCheck) {
    qx::test::TempDir original;
    const std::string elsewhere = original.file("Kantoor_2.pdb");
    a.exec("WITH RECURSIVE r(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM r WHERE i < 179) "
           "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) SELECT i, 1, 0, 'd', 1 + i % 2 FROM r");
    a.execIn(1, "INSERT INTO PICTURES (ID, PICTURE) SELECT ID, x'01' FROM (WITH RECURSIVE r(ID) AS (SELECT 100 "
                "UNION ALL SELECT ID + 2 FROM r WHERE ID < 178) SELECT ID FROM r)");
    a.execIn(2, "INSERT INTO PICTURES (ID, PICTURE) SELECT ID, x'01' FROM (WITH RECURSIVE r(ID) AS (SELECT 101 "
                "UNION ALL SELECT ID + 2 FROM r WHERE ID < 179) SELECT ID FROM r)");
    fs::copy_file(SubDatabaseName(a.main, 2), elsewhere);
    fs::remove(SubDatabaseName(a.main, 2));
    // Spelled the long way round, as a copied archive may have it.
    a.exec("UPDATE DATABASES SET DATABASE = '" + original.path() + "/./sub/../Kantoor_2.pdb' WHERE ID = 2");
    fs::create_directory(original.file("sub"));
    for (short flags : {short(23), short(32)}) {
        OpenCounter inside(SubDatabaseName(a.main, 1)), outside(elsewhere);
        const Outcome o = run(flags);
        EXPECT_EQ(o.unkeyed, std::vector<short>{ResultPdbOutsideArchive}) << flags;
        EXPECT_TRUE(o.findings.empty()) << flags;
        EXPECT_GE(outside.count(), 1) << flags;
        EXPECT_LE(outside.count(), inside.count()) << flags;
        EXPECT_LE(outside.count(), 2) << flags;  // the check, and the sizes read ahead
    }
}

// A missing sub database whose stored path lies outside the folder is one
// finding, "not found", and nothing claims it was found anywhere.
TEST_F(Checks, AMissingSubDatabaseOutsideTheFolderIsOneFinding) {
    qx::test::TempDir original;
    fs::remove(SubDatabaseName(a.main, 2));
    a.exec("UPDATE DATABASES SET DATABASE = '" + original.file("Kantoor_2.pdb") + "' WHERE ID = 2");
    for (short flags : {short(23), short(32)}) {
        const Outcome o = run(flags);
        std::vector<short> codes = o.unkeyed;
        for (const auto& [id, code] : o.findings) codes.push_back(code);
        EXPECT_EQ(codes, std::vector<short>{ResultPdbNotFound}) << flags;
        for (const std::string& line : o.log) EXPECT_EQ(line.find("outside the archive folder"), std::string::npos) << line;
    }
}

// A sub database another program holds locked is said to be locked, once;
// its documents are not judged (no findings) and not made to wait one by one.
TEST_F(Checks, ASubDatabaseLockedByAnotherProgramIsSaidOnce) {
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (6, 1, 0, 'd', 2), (7, 1, 0, 'd', 2)");
    a.execIn(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (6, x'01'), (7, x'01')");
    sql::Error err;
    sql::Database holder = sql::Database::open(qx::RealEnv(), SubDatabaseName(a.main, 2), engine::PasswordBytes(a.password),
                                               sql::OpenMode::ReadWrite, err);
    ASSERT_TRUE(holder.exec("BEGIN EXCLUSIVE; UPDATE PICTURES SET ID = ID;", &err)) << err.message;
    sql::SetBusyTimeout(100);
    const Outcome o = run(23);
    sql::SetBusyTimeout(5000);
    EXPECT_TRUE(o.findings.empty());
    EXPECT_TRUE(o.unkeyed.empty());
    EXPECT_EQ(o.kept.inUse, std::vector<std::string>{SubDatabaseName(a.main, 2)});
    const std::string locked = FormatMsg(GetResString(263, "Resources not found"), {SubDatabaseName(a.main, 2)});
    EXPECT_EQ(std::ranges::count(o.boxes, locked), 1);
    EXPECT_FALSE(o.noErrorsBox);
    holder.exec("ROLLBACK;");
}

// The link check walks on past a locked sub database: locked is no damage
// that makes the rest unreadable.
TEST_F(Checks, TheLinkCheckWalksOnPastALockedSubDatabase) {
    a.execIn(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (92, x'0102')");  // data without a document
    sql::Error err;
    sql::Database holder = sql::Database::open(qx::RealEnv(), SubDatabaseName(a.main, 1), engine::PasswordBytes(a.password),
                                               sql::OpenMode::ReadWrite, err);
    ASSERT_TRUE(holder.exec("BEGIN EXCLUSIVE; UPDATE PICTURES SET ID = ID;", &err)) << err.message;
    sql::SetBusyTimeout(100);
    const Outcome o = run(32);
    sql::SetBusyTimeout(5000);
    EXPECT_EQ(o.findings, (std::map<long, short>{{92, ResultLinkCreated}}));
    EXPECT_TRUE(o.unkeyed.empty());
    EXPECT_EQ(o.kept.inUse, std::vector<std::string>{SubDatabaseName(a.main, 1)});
    holder.exec("ROLLBACK;");
}
