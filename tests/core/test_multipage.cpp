// The multipage repairs: pages without a container row become single pages,
// the pages of each container are numbered from two in their old order (the
// outcomes on hand-made rows are recorded), a container with more pages than
// the page field numbers, and a save the disk refuses, undone per batch and
// reported, in process and through quillex-cli repair-multipage.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "support/Failpoint.h"
#include "support/Settings.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CliRunner.h"
#include "tests/core/ScriptedWindow.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

using namespace qx;
using namespace qx::test;

namespace {

constexpr long kMaxPage = std::numeric_limits<std::int16_t>::max();

// Every FOLDERS row as "rowid TEMPLATE1 PAGE WIDTH HEIGHT" (quoted: types shown), in rowid order.
std::vector<std::string> Dump(const std::string& main, const std::string& password,
                              const std::string& where = "1") {
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), main, engine::PasswordBytes(password), sql::OpenMode::ReadOnly, err);
    EXPECT_FALSE(err) << err.message;
    sql::Statement st(db, "SELECT rowid || ' ' || quote(TEMPLATE1) || ' ' || quote(PAGE) || ' ' || quote(WIDTH) || "
                          "' ' || quote(HEIGHT) FROM FOLDERS WHERE " + where + " ORDER BY rowid");
    std::vector<std::string> rows;
    while (st.step() == sql::Step::Row) rows.push_back(st.getText(0));
    return rows;
}

std::string Read(const ArchiveBuilder& a, long id) {
    const auto rows = Dump(a.main, a.password, "ID = " + std::to_string(id));
    return rows.empty() ? "no row" : rows[0];
}

// Many rows in one statement: `select` yields the values of
// (ID, TEMPLATE1, PAGE, WIDTH, HEIGHT) from a counter i = 1..count.
void Rows(ArchiveBuilder& a, long count, const std::string& select) {
    a.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(count) +
           ") INSERT INTO FOLDERS (ID, TEMPLATE1, PAGE, WIDTH, HEIGHT, PARENT, ISFOLDER, NAME) SELECT " + select +
           ", 1, 0, 'p' FROM n");
}

void Row(ArchiveBuilder& a, long id, const char* marker, const char* page) {
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, TEMPLATE1, PAGE, WIDTH, HEIGHT) VALUES (" +
           std::to_string(id) + ", 1, 0, 'p', " + (marker ? "'" + std::string(marker) + "'" : "NULL") + ", " + page +
           ", 640, 480)");
}

class Multipage : public ::testing::Test {
protected:
    void TearDown() override {
        failpoints::Reset();
        Settings::Reset();
    }

    // Runs f on the archive opened the way the program opens it.
    template <typename F>
    void With(const std::string& main, const std::string& password, F f) {
        Settings::Get().DatabasePassword = password;
        Settings::Get().LogFileName = LogName(main);
        CDatabase db(window, window.env());
        ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(main, password)));
        f(db);
    }

    ScriptedWindow window;
};

}  // namespace

TEST_F(Multipage, OnlyPagesWithoutAContainerRowBecomeSinglePages) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    Row(a, 12, "MP", "5");
    Row(a, 41, nullptr, "1");  // a plain document: its pages still have a container row
    const struct {
        long id;
        const char* marker;
        bool becomesSingle;
    } cases[] = {
        {101, "MC40", true}, {102, "mc40", true}, {103, "mC40", true},  // row 40 does not exist; any case
        {111, "MC41", false}, {112, "Mc12", false}, {113, "mc12", false},
        {141, "MC", false}, {142, "MCX7", false}, {143, "MC040", false}, {144, "MC4.0", false},
        {145, "mc4x", false}, {146, "MC99999999999", false},  // no container number: left alone
        {151, "MC-5", true},
    };
    for (const auto& c : cases) Row(a, c.id, c.marker, "3");
    long result = -1;
    With(a.main, a.password, [&](CDatabase& db) { result = db.CheckMultipageParentMissing(); });
    EXPECT_EQ(result, 0);
    for (const auto& c : cases) {
        const std::string id = std::to_string(c.id);
        EXPECT_EQ(Read(a, c.id), c.becomesSingle ? id + " NULL 1 0 0" : id + " '" + c.marker + "' 3 640 480")
            << c.marker;
    }
    EXPECT_EQ(Read(a, 41), "41 NULL 1 640 480");
    EXPECT_TRUE(window.boxes.empty());  // quietly
    EXPECT_TRUE(window.lists[ListId::Documents].empty());
    EXPECT_TRUE(window.State().m_sSaveError.empty()) << window.State().m_sSaveError;

    CDatabase closed(window, window.env());  // nothing happens without an open database
    EXPECT_EQ(closed.CheckMultipageParentMissing(), 0);
    closed.MultipageRenumberPages();
}

// Containers are marked "MP" in any case; their pages are numbered from 2 in
// PAGE order (Null first, text last), equal numbers in rowid order.
TEST_F(Multipage, PagesAreNumberedFromTwoInTheirOldOrder) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    const struct {
        long id;
        const char* marker;
        const char* page;
        const char* after;
    } cases[] = {
        {12, "MP", "5", "1"}, {13, "MC12", "3", "2"}, {14, "MC12", "7", "4"}, {15, "MC12", "3", "3"},
        {20, "MP", "0", "1"},                         // no pages
        {30, "MPX", "9", "9"}, {31, "MC30", "5", "5"},  // not "MP": left alone, pages too
        {32, " MP", "9", "9"}, {33, "MC32", "5", "5"},
        {34, nullptr, "9", "9"}, {35, "MC34", "5", "5"},
        {40, "mp", "4", "1"}, {41, "mc40", "6", "2"},
        {51, "MC5", "9", "9"},  // pages of a container number with no row are not touched
        {60, "MP", "1", "1"}, {61, "MC60", "2", "2"}, {62, "MC60", "3", "3"},  // already in order
        {7, "Mp", "9", "1"}, {75, "MC7", "'x'", "8"}, {71, "mc7", "NULL", "3"}, {73, "MC7", "1", "5"},
        {72, "mC7", "2.5", "7"}, {74, "mc7", "1", "6"}, {70, "MC7", "NULL", "2"}, {76, "MC7", "0", "4"},
    };
    for (const auto& c : cases) Row(a, c.id, c.marker, c.page);
    With(a.main, a.password, [](CDatabase& db) { db.MultipageRenumberPages(); });
    EXPECT_TRUE(window.State().m_sSaveError.empty()) << window.State().m_sSaveError;
    for (const auto& c : cases) {
        const std::string row = Read(a, c.id);
        const std::string marker = c.marker ? "'" + std::string(c.marker) + "'" : "NULL";
        EXPECT_EQ(row, std::to_string(c.id) + " " + marker + " " + c.after + " 640 480") << c.id;
    }
}

// The outcome of the row-at-a-time repair on these rows, recorded (running
// it as the reference takes minutes for this many pages): a container with
// more pages than the 16-bit field numbers ends the renumbering inside it.
TEST_F(Multipage, MorePagesThanThePageFieldHoldsEndTheRenumbering) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    Row(a, 5, "MP", "0");
    Row(a, 6, "MC5", "0");
    Row(a, 10, "MP", "0");
    // One page more than can be numbered, in descending PAGE order.
    Rows(a, kMaxPage, "100000 + i, CASE i % 2 WHEN 0 THEN 'MC10' ELSE 'mc10' END, 40000 - i, 0, 0");
    Row(a, 20, "MP", "0");
    Row(a, 21, "MC20", "0");
    With(a.main, a.password, [](CDatabase& db) { db.MultipageRenumberPages(); });
    EXPECT_TRUE(window.State().m_sSaveError.empty()) << window.State().m_sSaveError;
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), a.main, engine::PasswordBytes(a.password), sql::OpenMode::ReadOnly, err);
    const struct {
        const char* what;
        const char* sql;
        long expected;
    } checks[] = {
        {"the container before is numbered", "SELECT PAGE FROM FOLDERS WHERE ID = 5", 1},
        {"its page too", "SELECT PAGE FROM FOLDERS WHERE ID = 6", 2},
        {"pages numbered 2 .. 32767 from the lowest PAGE",
         "SELECT count(*) FROM FOLDERS WHERE ID > 100001 AND PAGE = 32767 - (ID - 100000) + 2", kMaxPage - 1},
        {"the page beyond the limit keeps its number", "SELECT PAGE FROM FOLDERS WHERE ID = 100001", 39999},
        {"the full container keeps its number", "SELECT PAGE FROM FOLDERS WHERE ID = 10", 0},
        {"the container after it is left", "SELECT PAGE FROM FOLDERS WHERE ID = 20", 0},
        {"and its page", "SELECT PAGE FROM FOLDERS WHERE ID = 21", 0},
    };
    for (const auto& c : checks) {
        sql::Statement st(db, c.sql);
        ASSERT_EQ(st.step(), sql::Step::Row) << c.what;
        EXPECT_EQ(st.getInt64(0), c.expected) << c.what;
    }
}

// ------------------------------------------------------- refused saves

struct RefusedCase {
    std::string name;
    bool renumber;  // else the orphan repair
    long rows;
    int commit;     // the commit the disk refuses, counted from 1
    FailAction action;
    const char* words;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class MultipageRefused : public Multipage, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(MultipageRefused, UndoesTheBatchAndSaysSo) {
    const RefusedCase& c = GetParam();
    TempDir dir;
    ArchiveBuilder a(dir.path());
    if (c.renumber) {
        Row(a, 10, "MP", "0");
        Rows(a, c.rows, "100000 + i, 'MC10', 0, 0, 0");
    } else {
        Rows(a, c.rows, "100000 + i, 'MC40', 3, 640, 480");
    }
    const std::vector<std::string> before = Dump(a.main, a.password);
    With(a.main, a.password, [&](CDatabase& db) {
        failpoints::Arm("engine.commit", c.commit, c.action);
        if (c.renumber) db.MultipageRenumberPages();
        else db.CheckMultipageParentMissing();
    });
    const std::string& error = window.State().m_sSaveError;
    EXPECT_NE(error.find(c.words), std::string::npos) << error;
    EXPECT_NE(error.find(a.main), std::string::npos) << error;
    // Batches are all or nothing: the changed rows are those of the batches
    // committed before the refused one, one run of rows in rowid order.
    const std::vector<std::string> after = Dump(a.main, a.password);
    ASSERT_EQ(after.size(), before.size());
    std::vector<size_t> differing;
    for (size_t i = 0; i < after.size(); ++i)
        if (after[i] != before[i]) differing.push_back(i);
    const size_t changed = differing.size();
    if (changed > 0) { EXPECT_EQ(differing.back() - differing.front() + 1, changed) << "not one run of rows"; }
    EXPECT_EQ(changed == 0, c.commit == 1) << changed;
    EXPECT_LT(changed, static_cast<size_t>(c.rows));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MultipageRefused,
    ::testing::Values(RefusedCase{"OrphansIoError", false, 5, 1, FailAction::IoError, "disk I/O error"},
                      RefusedCase{"OrphansDiskFull", false, 5, 1, FailAction::NoSpace, "database or disk is full"},
                      RefusedCase{"RenumberIoError", true, 5, 1, FailAction::IoError, "disk I/O error"},
                      RefusedCase{"OrphansSecondBatch", false, 45000, 2, FailAction::IoError, "disk I/O error"},
                      RefusedCase{"RenumberSecondBatch", true, 30000, 2, FailAction::IoError, "disk I/O error"}),
    [](const auto& info) { return info.param.name; });

// ------------------------------------------------------- the command line

TEST_F(Multipage, CommandLineSaysWhatWasSavedWhenTheDiskRefuses) {
    const struct {
        const char* name;
        const char* failpoints;  // QUILLEX_FAILPOINTS; "" for none
        int exit;
        const char* counted;
    } cases[] = {
        {"no fault", "", 0, ": 5 paginaregels gewijzigd (2 losse pagina's tot enkele pagina gemaakt, 3 hernummerd).\n"},
        {"orphan repair refused", "engine.commit@1=eio", 8,
         ": 0 paginaregels gewijzigd (0 losse pagina's tot enkele pagina gemaakt, 0 hernummerd).\n"},
        {"renumbering refused", "engine.commit@2=eio", 8,
         ": 2 paginaregels gewijzigd (2 losse pagina's tot enkele pagina gemaakt, 0 hernummerd).\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ArchiveBuilder a(dir.path());
        using R = std::tuple<long, const char*, const char*>;
        for (const auto& [id, marker, page] : {R{12, "MP", "5"}, R{13, "MC12", "3"}, R{14, "MC12", "7"},
                                               R{15, "MC12", "3"}, R{101, "MC40", "2"}, R{102, "mc40", "3"}})
            Row(a, id, marker, page);
        if (*c.failpoints) ::setenv("QUILLEX_FAILPOINTS", c.failpoints, 1);
        const CliRun run = RunCli("repair-multipage " + ShellQuote(a.main) + " --no", dir);
        ::unsetenv("QUILLEX_FAILPOINTS");
        EXPECT_EQ(run.exit, c.exit) << c.name << ": " << run.err;
        EXPECT_NE(run.out.find(c.counted), std::string::npos) << c.name << ": " << run.out;
        if (c.exit == 0) {
            EXPECT_EQ(run.err, "") << c.name;
            // Read back from the file: the repairs were saved.
            EXPECT_EQ(Read(a, 101), "101 NULL 1 0 0");
            EXPECT_EQ(Read(a, 14), "14 'MC12' 4 640 480");
        } else {
            EXPECT_NE(run.err.find("de pagina's konden niet allemaal worden gewijzigd: '" + a.main + "': disk I/O error"),
                      std::string::npos)
                << c.name << ": " << run.err;
        }
    }
    TempDir dir;
    EXPECT_EQ(RunCli("repair-multipage", dir).exit, 16);
    EXPECT_EQ(RunCli("repair-multipage '" + dir.file("a.dat") + "' --yes --no", dir).exit, 16);
    EXPECT_EQ(RunCli("repair-multipage '" + dir.file("missing.dat") + "' --no", dir).exit, 8);
}
