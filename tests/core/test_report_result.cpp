// Every finding: counted, logged in the exact form, listed once per document.
#include "database/checks/ResultCodes.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

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
    CDatabase db{window};
};

}  // namespace

TEST_F(ReportResultTest, LogsEachCodeInItsOwnWordsAndCountsByTheRepairBit) {
    struct Case { short code; std::string log; bool repaired; int state; } cases[] = {
        {ResultPdbOpenError, "Could not open pdb (/a/Kantoor_3.pdb)", false, 88},
        {ResultPdbDamaged, "Sub databese is damaged (/a/Kantoor_3.pdb)", false, 88},
        {ResultPdbNotFound, "Sub databse found (/a/Kantoor_3.pdb)", false, 103},
        {ResultEmptyFolder, "This is an empty folder", false, 90},
        {ResultMultipageOrphanFixed, "Fixed multipage orphan", true, 104},
        // Moved to the root: repaired, although the list keeps its damaged state text.
        {ResultVirtualPathFixed, "Fixed invalid virtual path (document has been moved to the root)", true, 88},
        {ResultDoubleByteFormatFixed, "Fixed invalid document (double-byte) format", true, 136},
        {4, "Unknown error", false, 88},
        {2048, "Unknown error", true, 88},
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
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "UpdateStatusBar"), 9);
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
