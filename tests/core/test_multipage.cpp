// The multipage repairs: the single-pass repairs give the same rows as the
// row-at-a-time repairs they replaced, and a save the disk refuses is undone
// per batch and reported, in process and through quillex-cli repair-multipage.
#include "database/CDatabase.h"
#include "database/checks/CheckSupport.h"
#include "database/access/FileNames.h"
#include "support/Failpoint.h"
#include "support/Settings.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CliRunner.h"
#include "tests/core/ScriptedWindow.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

using namespace qx;
using namespace qx::test;
namespace fs = std::filesystem;

namespace {

constexpr long kMaxPage = std::numeric_limits<std::int16_t>::max();

// ------------------------------------------------ the row-at-a-time reference
// The repairs as they were before they read FOLDERS once: a lookup and a
// scan per container, a transaction per row. Kept here only as the
// reference the results are compared with.


std::string RefPagesOf(long nContainerId) {
    return "FROM FOLDERS WHERE TEMPLATE1 = 'MC" + std::to_string(nContainerId) + "' COLLATE NOCASE";
}

void RefParentMissing(engine::Connection& cn) {
    engine::Recordset markers;
    ASSERT_TRUE(markers.open("SELECT DISTINCT TEMPLATE1 FROM FOLDERS WHERE TEMPLATE1 LIKE 'MC%'", cn,
                             engine::CursorMode::Lookup));
    for (; !markers.eof(); markers.moveNext()) {
        long nContainerId = 0;
        if (!ContainerOf(NullToStr(markers.value(0)), nContainerId)) continue;
        sql::Statement* container = cn.prepared("SELECT TEMPLATE1 FROM FOLDERS WHERE ID = ?");
        ASSERT_TRUE(container);
        container->bind(1, static_cast<std::int64_t>(nContainerId));
        const sql::Step found = container->step();
        container->reset();
        ASSERT_NE(found, sql::Step::Failed);
        if (found == sql::Step::Row) continue;
        engine::Recordset pages;
        ASSERT_TRUE(pages.open("SELECT TEMPLATE1, PAGE, WIDTH, HEIGHT " + RefPagesOf(nContainerId), cn,
                               engine::CursorMode::Edit));
        for (; !pages.eof(); pages.moveNext())
            ASSERT_TRUE(pages.setValue("TEMPLATE1", Variant()) && pages.setValue("PAGE", 1) &&
                        pages.setValue("WIDTH", 0) && pages.setValue("HEIGHT", 0) && pages.update());
    }
}

void RefRenumber(engine::Connection& cn) {
    engine::Recordset containers;
    ASSERT_TRUE(containers.open("SELECT ID, PAGE FROM FOLDERS WHERE TEMPLATE1 LIKE 'MP'", cn, engine::CursorMode::Edit));
    for (; !containers.eof(); containers.moveNext()) {
        ASSERT_TRUE(containers.setValue("PAGE", 1));
        const long nId = containers.value("ID").toLong();
        engine::Recordset pages;
        ASSERT_TRUE(pages.open("SELECT PAGE " + RefPagesOf(nId) + " ORDER BY PAGE ASC", cn, engine::CursorMode::Edit));
        long number = 2;
        for (; !pages.eof(); pages.moveNext()) {
            if (number > kMaxPage) return;
            ASSERT_TRUE(pages.setValue("PAGE", number) && pages.update());
            ++number;
        }
        pages.close();
        ASSERT_TRUE(containers.update());
    }
}

// ------------------------------------------------------------------- helpers

// Every FOLDERS row as "rowid TEMPLATE1 PAGE WIDTH HEIGHT" (types shown), in rowid order.
std::vector<std::string> Dump(const std::string& main, const std::string& password) {
    sql::Error err;
    sql::Database db = sql::Database::open(main, engine::PasswordBytes(password), sql::OpenMode::ReadOnly, err);
    EXPECT_FALSE(err) << err.message;
    sql::Statement st(db, "SELECT rowid || ' ' || ifnull(quote(TEMPLATE1), 'Null') || ' ' || ifnull(quote(PAGE), "
                          "'Null') || ' ' || ifnull(WIDTH, 'Null') || ' ' || ifnull(HEIGHT, 'Null') "
                          "FROM FOLDERS ORDER BY rowid");
    std::vector<std::string> rows;
    while (st.step() == sql::Step::Row) rows.push_back(st.getText(0));
    return rows;
}

long Differences(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    long n = static_cast<long>(a.size() > b.size() ? a.size() - b.size() : b.size() - a.size());
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) n += a[i] != b[i];
    return n;
}

std::string FirstDifference(const std::vector<std::string>& expected, const std::vector<std::string>& actual) {
    for (size_t i = 0; i < std::min(expected.size(), actual.size()); ++i)
        if (expected[i] != actual[i]) return "expected row " + expected[i] + ", got " + actual[i];
    return expected.size() == actual.size() ? "" : "row counts differ";
}

// Many rows in one statement: `select` yields the values of
// (ID, TEMPLATE1, PAGE, WIDTH, HEIGHT) from a counter i = 1..count.
void Rows(ArchiveBuilder& a, long count, const std::string& select) {
    a.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(count) +
           ") INSERT INTO FOLDERS (ID, TEMPLATE1, PAGE, WIDTH, HEIGHT, PARENT, ISFOLDER, NAME) SELECT " + select +
           ", 1, 0, 'p' FROM n");
}

// id 0: the next free ID.
void Row(ArchiveBuilder& a, long id, const char* marker, const char* page) {
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, TEMPLATE1, PAGE, WIDTH, HEIGHT) VALUES (" +
           (id ? std::to_string(id) : std::string("NULL")) + ", 1, 0, 'p', " + (marker ? "'" + std::string(marker) + "'" : "NULL") + ", " + page +
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
        CDatabase db(window);
        ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(main, password)));
        f(db);
    }

    ScriptedWindow window;
};

}  // namespace

// ------------------------------------------------- same rows as the reference

struct SameCase {
    std::string name;
    std::function<void(ArchiveBuilder&)> fill;  // nullptr: a generated sample archive
};

void PrintTo(const SameCase& c, std::ostream* os) { *os << c.name; }

class MultipageSameRows : public Multipage, public ::testing::WithParamInterface<SameCase> {};

TEST_P(MultipageSameRows, AsTheRowAtATimeRepair) {
    TempDir dir, refDir;
    std::string main, password;
    std::optional<ArchiveBuilder> built;
    if (GetParam().fill) {
        built.emplace(dir.path());
        GetParam().fill(*built);
        main = built->main;
        password = built->password;
    } else {
        SampleOptions o;
        o.directory = dir.file("sample");
        o.documents = 400;
        o.folders = 6;
        o.faults = {"orphan-page-no-container", "orphan-page-container-not-mp"};
        SampleManifest m;
        std::string error;
        ASSERT_TRUE(WriteSampleArchive(o, m, error)) << error;
        main = m.mainDatabase;
        password = PasswordForGeneration(m.generation);
        ASSERT_GT(m.pageRows, 0);
    }
    const std::string ref = refDir.file("reference.dat");
    fs::copy_file(main, ref);
    const std::vector<std::string> before = Dump(main, password);

    engine::Connection cn;
    ASSERT_TRUE(cn.open(CDatabase::ConnectString(ref, password)));
    // One transaction around the reference: its per-row commits would take minutes.
    ASSERT_TRUE(cn.execute("BEGIN").has_value());
    RefParentMissing(cn);
    ASSERT_TRUE(cn.execute("COMMIT").has_value());
    const std::vector<std::string> refSingle = Dump(ref, password);
    ASSERT_TRUE(cn.execute("BEGIN").has_value());
    RefRenumber(cn);
    ASSERT_TRUE(cn.execute("COMMIT").has_value());
    cn.close();
    const std::vector<std::string> refRenumbered = Dump(ref, password);

    std::vector<std::string> single, renumbered;
    With(main, password, [&](CDatabase& db) {
        db.CheckMultipageParentMissing();
        single = Dump(main, password);
        db.MultipageRenumberPages();
        renumbered = Dump(main, password);
    });
    EXPECT_TRUE(window.State().m_sSaveError.empty()) << window.State().m_sSaveError;
    EXPECT_EQ(Differences(refSingle, single), 0) << FirstDifference(refSingle, single);
    EXPECT_EQ(Differences(refRenumbered, renumbered), 0) << FirstDifference(refRenumbered, renumbered);
    EXPECT_GT(Differences(before, renumbered), 0) << "the case repairs nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MultipageSameRows,
    ::testing::Values(
        SameCase{"SampleWithBothOrphanFaults", nullptr},
        SameCase{"PageMarkersInEitherCase",
                 [](ArchiveBuilder& a) {
                     Row(a, 12, "MP", "5");
                     for (const char* m : {"MC12", "mc12", "Mc12", "mC12"}) Row(a, 0, m, "3");
                     Row(a, 0, "mc12", "1");
                     for (const char* m : {"MC40", "mc40", "mC40", "MC040", "mc4x", "MC-7", "mc"}) Row(a, 0, m, "4");
                 }},
        SameCase{"EqualPageValuesKeepRowOrder",
                 [](ArchiveBuilder& a) {
                     Row(a, 7, "MP", "9");
                     // Inserted out of rowid order; Null, text and fractions sort as the engine sorts them.
                     Rows(a, 60, "1000 - i * 7 % 61, CASE i % 3 WHEN 0 THEN 'MC7' ELSE 'mc7' END, "
                                 "CASE i % 5 WHEN 0 THEN NULL WHEN 1 THEN 'x' WHEN 2 THEN 2.5 ELSE i % 2 END, 1, 1");
                 }},
        SameCase{"ContainersMarkedMpInEitherCase",
                 [](ArchiveBuilder& a) {
                     const struct { long id; const char* marker; } containers[] = {
                         {20, "MP"}, {21, "mp"}, {22, "Mp"}, {23, "MPX"}, {24, " MP"}, {25, nullptr}};
                     for (const auto& c : containers) {
                         Row(a, c.id, c.marker, "6");
                         const std::string page = "MC" + std::to_string(c.id);
                         Row(a, c.id * 10 + 1, page.c_str(), "8");
                         Row(a, c.id * 10 + 2, page.c_str(), "3");
                     }
                 }},
        SameCase{"AlreadyNumberedAndNotMp",
                 [](ArchiveBuilder& a) {
                     Row(a, 30, "MP", "1");
                     Row(a, 31, "MC30", "2");
                     Row(a, 32, "MC30", "3");
                     Row(a, 40, nullptr, "1");  // a page's container that is no multipage document
                     Row(a, 41, "MC40", "5");
                     Row(a, 50, "MP", "2");
                     Row(a, 51, "MC50", "2");
                 }}),
    [](const auto& info) { return info.param.name; });

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
    sql::Database db = sql::Database::open(a.main, engine::PasswordBytes(a.password), sql::OpenMode::ReadOnly, err);
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
    if (changed > 0) {
        EXPECT_EQ(differing.back() - differing.front() + 1, changed) << "the changed rows are not one run";
    }
    if (c.commit == 1) {
        EXPECT_EQ(changed, 0u);
    } else {
        EXPECT_GT(changed, 0u);
        EXPECT_LT(changed, static_cast<size_t>(c.rows));
    }
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
        {"no fault", "", 0, ": 5 page rows changed (2 orphaned pages made single pages, 3 renumbered).\n"},
        {"orphan repair refused", "engine.commit@1=eio", 8,
         ": 0 page rows changed (0 orphaned pages made single pages, 0 renumbered).\n"},
        {"renumbering refused", "engine.commit@2=eio", 8,
         ": 2 page rows changed (2 orphaned pages made single pages, 0 renumbered).\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ArchiveBuilder a(dir.path());
        Row(a, 12, "MP", "5");
        Row(a, 13, "MC12", "3");
        Row(a, 14, "MC12", "7");
        Row(a, 15, "MC12", "3");
        Row(a, 101, "MC40", "2");
        Row(a, 102, "mc40", "3");
        if (*c.failpoints) ::setenv("QUILLEX_FAILPOINTS", c.failpoints, 1);
        const CliRun run = RunCli("repair-multipage " + ShellQuote(a.main) + " --no", dir);
        ::unsetenv("QUILLEX_FAILPOINTS");
        EXPECT_EQ(run.exit, c.exit) << c.name << ": " << run.err;
        EXPECT_NE(run.out.find(c.counted), std::string::npos) << c.name << ": " << run.out;
        if (c.exit == 0) {
            EXPECT_EQ(run.err, "") << c.name;
        } else {
            EXPECT_NE(run.err.find("the pages could not all be changed: '" + a.main + "': disk I/O error"),
                      std::string::npos)
                << c.name << ": " << run.err;
        }
    }
}
