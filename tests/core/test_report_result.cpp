// Every finding: counted, logged in the exact form, listed once per document.
#include "database/CheckCommand.h"
#include "database/checks/ResultCodes.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>

using namespace qx;

namespace {

using qx::test::ReadLines;

class ReportResultTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        Settings::Get().LogFileName = dir.file("a.log");
        window.state.m_nDamaged = 0;
        window.state.m_nFixed = 0;
    }
    void TearDown() override { Settings::Reset(); }
    void report(long id, short code, const std::string& pdb = "", const std::string& name = "",
                const std::string& path = "") {
        CDatabaseTestAccess::ReportResult(db, id, code, pdb, name, path);
    }
    qx::test::TempDir dir;
    qx::test::ScriptedWindow window;
    CDatabase db{window, window.env()};
};

}  // namespace

TEST_F(ReportResultTest, LogsEachCodeInItsOwnWordsAndCountsByTheRepairBit) {
    struct Case { short code; std::string log; bool repaired; int state; } cases[] = {
        {ResultPdbOpenError, "Could not open pdb (/a/Kantoor_3.pdb)", false, 88},
        {ResultPdbDamaged, "Sub databese is damaged (/a/Kantoor_3.pdb)", false, 88},
        {ResultPdbNotFound, "Sub databse found (/a/Kantoor_3.pdb)", false, 103},
        {ResultEmptyFolder, "This is an empty folder", false, 90},
        {ResultMultipageOrphanFixed, "Fixed multipage orphan", true, 104},
        // Moved to the root, where it is reachable again: repaired, and shown so.
        {ResultVirtualPathFixed, "Fixed invalid virtual path (document has been moved to the root)", true, 89},
        {ResultDoubleByteFormatFixed, "Fixed invalid document (double-byte) format", true, 136},
        {ResultPdbOutsideArchive, "Sub database lies outside the archive folder (/a/Kantoor_3.pdb)", false, 264},
        {4, "Unknown error", false, 88},
        {2048, "Unknown error", true, 89},
    };
    long damaged = 0, fixed = 0;
    for (const Case& c : cases) {
        window.lists.clear();
        report(1234, c.code, "/a/Kantoor_3.pdb", "Factuur 12", "\\Klanten\\2006\\");
        (c.repaired ? fixed : damaged)++;
        EXPECT_EQ(ReadLines(Settings::Get().LogFileName).back(), "1234 [\\Klanten\\2006\\Factuur 12] - " + c.log);
        EXPECT_EQ(window.state.m_nDamaged, damaged) << c.code;
        EXPECT_EQ(window.state.m_nFixed, fixed) << c.code;
        const ListRow& row = window.lists[ListId::Documents].at(0);
        EXPECT_EQ(row.key, "ID1234");
        EXPECT_EQ(row.tag, c.code);
        EXPECT_EQ(row.subItems, (std::vector<std::string>{"\\Klanten\\2006\\", "Kantoor_3.pdb",
                                                          GetResString(c.state, "Resources not found")}));
    }
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "UpdateStatusBar"), 10);
}

TEST_F(ReportResultTest, OneRowPerDocumentButEveryFindingIsCountedAndLogged) {
    report(7, ResultBadLink, "", "doc", "\\");
    report(7, ResultEmptyDocument, "", "doc", "\\");
    report(0, ResultPdbOpenError, "/a/x_1.pdb");
    report(0, ResultPdbOpenError, "/a/x_2.pdb");
    EXPECT_EQ(window.state.m_nDamaged, 4);
    EXPECT_EQ(ReadLines(Settings::Get().LogFileName).size(), 4u);
    const auto& rows = window.lists[ListId::Documents];
    ASSERT_EQ(rows.size(), 3u);  // the second finding of document 7 keeps the first row
    EXPECT_EQ(rows[0].tag, ResultBadLink);
    EXPECT_EQ(rows[1].key, "");  // no key for a finding without a document
    EXPECT_EQ(ReadLines(Settings::Get().LogFileName)[2], "0 [] - Could not open pdb (/a/x_1.pdb)");
}

// The list, the counters, the JSON and the exit code are read from the same
// finding: for every code they agree, in a real and in a report-only run.
TEST_F(ReportResultTest, ListCountersJsonAndExitCodeAgreeForEveryCode) {
    const short codes[] = {ResultPdbDamaged, ResultPdbNotFound, ResultBadLink, ResultPdbLinkError,
                           ResultDatabaseError, ResultEmptyDocument, ResultVirtualPathFixed, ResultPdbOpenError,
                           ResultCorruptDocument, ResultDuplicateFixed, ResultBadLinkFixed, ResultLinkCreated,
                           ResultEmptyFixed, ResultMultipageOrphanFixed, ResultCorruptFixed, ResultEmptyFolder,
                           ResultDoubleByteFormat, ResultDoubleByteFormatFixed, ResultPdbOutsideArchive,
                           16, 16384, 18432, 4096 | 2048};
    const std::vector<std::string> repairedStates = {GetResString(89, ""), GetResString(104, ""),
                                                     GetResString(136, ""), GetResString(217, ""),
                                                     GetResString(251, "")};
    for (const bool dryRun : {false, true}) {
        for (const short code : codes) {
            SCOPED_TRACE(std::to_string(code) + (dryRun ? " report only" : ""));
            CDatabase fresh{window, window.env()};
            ASSERT_TRUE(fresh.SetDryRun(dryRun));
            window.lists.clear();
            window.state.m_nDamaged = window.state.m_nFixed = 0;
            CDatabaseTestAccess::ReportResult(fresh, 55, code, "/a/Kantoor_1.pdb", "Brief", "\\Post\\");
            const bool repaired = window.state.m_nFixed == 1;
            EXPECT_EQ(window.state.m_nDamaged + window.state.m_nFixed, 1);
            const std::string shown = window.lists[ListId::Documents].at(0).subItems.at(2);
            EXPECT_EQ(std::ranges::count(repairedStates, shown) == 1, repaired) << shown;

            CheckRunFacts facts;
            facts.dryRun = dryRun;
            TakeCheckFindings(facts, fresh.Findings());
            const QJsonObject json = CheckJson(facts, fresh.Findings().all()).object();
            const QJsonObject f = json["findings"].toArray().at(0).toObject();
            EXPECT_EQ(f["state"].toString().toStdString(), shown);
            EXPECT_EQ(f["repaired"].toBool() || f["would_be_repaired"].toBool(), repaired);
            EXPECT_EQ(f["repaired"].toBool(), repaired && !dryRun);
            EXPECT_EQ(json["fixed"].toInteger(), window.state.m_nFixed);
            EXPECT_EQ(json["damaged"].toInteger(), window.state.m_nDamaged);
            EXPECT_EQ(json["outcome"].toString().toStdString(), repaired ? "repaired" : "damaged");
            EXPECT_EQ(CheckExitCode(facts), repaired ? 1 : 4);
        }
    }
}

// Removing a document takes its findings out of the counters; a finding
// about a file, an unknown document or a window showing no check changes nothing.
TEST_F(ReportResultTest, CountersFollowRemovals) {
    struct Case { std::string name; long removed; long damaged, fixed; bool startUnshown; } cases[] = {
        {"a damaged document", 7, 2, 2, false},
        {"a document with two findings", 8, 2, 1, false},
        {"a repaired document", 9, 3, 1, false},
        {"a finding about a file", 0, 3, 2, false},
        {"no such document", 99, 3, 2, false},
        {"no check shown", 7, -1, -1, true},
    };
    for (const Case& c : cases) {
        CDatabase fresh{window, window.env()};
        window.state.m_nDamaged = window.state.m_nFixed = 0;
        CDatabaseTestAccess::ReportResult(fresh, 7, ResultBadLink, "", "a", "\\");
        CDatabaseTestAccess::ReportResult(fresh, 8, ResultEmptyDocument, "", "b", "\\");
        CDatabaseTestAccess::ReportResult(fresh, 8, ResultVirtualPathFixed, "", "b", "\\");
        CDatabaseTestAccess::ReportResult(fresh, 9, ResultBadLinkFixed, "", "c", "\\");
        CDatabaseTestAccess::ReportResult(fresh, 0, ResultPdbOpenError, "/a/x_2.pdb", "", "");
        if (c.startUnshown) window.state.m_nDamaged = window.state.m_nFixed = -1;
        fresh.ForgetFindings(c.removed);
        EXPECT_EQ(window.state.m_nDamaged, c.damaged) << c.name;
        EXPECT_EQ(window.state.m_nFixed, c.fixed) << c.name;
        if (!c.startUnshown) {
            EXPECT_EQ(fresh.Findings().damaged(), c.damaged) << c.name;
            EXPECT_EQ(fresh.Findings().fixed(), c.fixed) << c.name;
        }
    }
}
