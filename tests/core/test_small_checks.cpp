// The small checks: the large-document statistics and the empty-folder check
// (the multipage repairs are in test_multipage.cpp).
#include "database/CDatabase.h"
#include "database/checks/ResultCodes.h"
#include "support/HumanFormat.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/TestUtil.h"
#include "tests/core/ScriptedWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

using namespace qx;
using namespace qx::test;

namespace {

std::string Stats(long pages, long average, long exceeded) {
    return "Size check: " + std::to_string(pages) + " pages analysed, average size: " + std::to_string(average) +
           " bytes, size limit exceeded: " + std::to_string(exceeded) + " times";
}

class SmallChecks : public ::testing::Test {
protected:
    void SetUp() override { Settings::Get().DatabasePassword = a.password; }
    void TearDown() override { Settings::Reset(); }

    // Opens archive b (default: a) and runs f on it; returns the lines of b's log.
    template <typename F>
    std::vector<std::string> With(F f, ArchiveBuilder* b = nullptr) {
        b = b ? b : &a;
        Settings::Get().LogFileName = LogName(b->main);
        {
            CDatabase db(window, window.env());
            EXPECT_TRUE(db.OpenDatabase(CDatabase::ConnectString(b->main, b->password)));
            f(db);
        }
        return ReadLines(LogName(b->main));
    }
    std::vector<std::string> Large(ArchiveBuilder& b, bool showErrors = false) {
        return With([&](CDatabase& db) {
            db.m_bShowErrors = showErrors;
            CDatabaseTestAccess::AnalyseLargeDocs(db);
            stats = db.m_largeDocuments;
        }, &b);
    }
    CDatabase::LargeDocumentStats stats;
    // Document id in sub database n with data of `size` bytes (-1: Null).
    static void Doc(ArchiveBuilder& b, long n, long id, long size) {
        b.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (" + std::to_string(id) +
               ", 1, 0, 'd', " + std::to_string(n) + ")");
        b.execIn(n, "INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(id) + ", " +
                        (size < 0 ? "NULL" : "zeroblob(" + std::to_string(size) + ")") + ")");
    }
    const std::vector<ListRow>& Rows() { return window.lists[ListId::Documents]; }
    bool Called(const std::string& call) { return std::count(window.calls.begin(), window.calls.end(), call) > 0; }

    TempDir dir;
    ArchiveBuilder a{dir.path()};
    ScriptedWindow window;
};

}  // namespace

TEST_F(SmallChecks, LargeDocumentsRunningAverageAndLimit) {
    struct Case {
        const char* name;
        std::vector<long> sizes;  // -1 = Null data
        long average, exceeded;
        std::vector<long> over;   // document IDs (10 + index) over the limit
    } cases[] = {
        {"average kept whole after every row (100, 150, 233)", {100, 200, 400}, 233, 0, {}},
        {"exactly the limit is not over it", {204800, 204800}, 204800, 0, {}},
        {"halves go to the even neighbour", {204800, 204801}, 204800, 1, {11}},
        {"halves go to the even neighbour, upwards", {3, 4}, 4, 0, {}},
        {"empty and Null data count as pages of size 0", {0, -1, 300}, 100, 0, {}},
        {"no stored documents", {}, 0, 0, {}},
        {"over the limit in both sub databases", {300000, 1, 204801, 5}, 126202, 2, {10, 12}},
    };
    for (const Case& c : cases) {
        TempDir d;
        ArchiveBuilder b(d.path());
        b.sub(1, {}).sub(2, {});
        // Spread over two sub databases: the average runs on across them.
        for (size_t i = 0; i < c.sizes.size(); ++i) Doc(b, i < c.sizes.size() / 2 ? 1 : 2, 10 + i, c.sizes[i]);
        window.boxes.clear();
        const auto log = Large(b);
        ASSERT_FALSE(log.empty()) << c.name;
        EXPECT_EQ(log.back(), Stats(c.sizes.size(), c.average, c.exceeded)) << c.name;
        // The statistics are shown as well (grouped the Dutch way, the log
        // keeps plain digits), and kept for the JSON.
        ASSERT_EQ(window.boxes.size(), 1u) << c.name;
        EXPECT_EQ(window.boxes[0].text,
                  FormatMsg(GetResString(287, ""), {FormatCount(static_cast<long>(c.sizes.size())),
                                                    FormatCount(c.average), FormatCount(c.exceeded)}))
            << c.name;
        EXPECT_TRUE(stats.measured) << c.name;
        EXPECT_EQ(stats.pages, static_cast<long>(c.sizes.size())) << c.name;
        EXPECT_EQ(stats.average, c.average) << c.name;
        EXPECT_EQ(stats.exceeded, c.exceeded) << c.name;
        EXPECT_EQ(stats.exceededIds, c.over) << c.name;
    }
}

TEST_F(SmallChecks, LargeDocumentsSkipMissingUnreadableAndUnreferencedSubDatabases) {
    a.sub(1, {}).sub(3, {}).sub(5, {}).sub(7, {}).sub(8, {});
    Doc(a, 1, 2, 250000);
    Doc(a, 3, 4, 100);
    Doc(a, 5, 5, 1);
    WriteFile(SubDatabaseName(a.main, 5), std::string(4096, 'x'));  // does not open
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (6, 1, 0, 'weg', 6)");  // no file
    // Sub database 7 is found only under its stored path: the standard name counts.
    Doc(a, 7, 7, 1);
    const std::string moved = dir.file("elders.pdb");
    std::filesystem::rename(SubDatabaseName(a.main, 7), moved);
    a.exec("UPDATE DATABASES SET DATABASE = '" + moved + "' WHERE ID = 7");
    Doc(a, 8, 8, 300000);
    a.exec("UPDATE FOLDERS SET DATABASEID = 0 WHERE ID = 8");  // nothing refers to sub database 8 any more

    const std::string tmpl = GetResString(127, "De subdatabase '%s' is niet gevonden!");
    const std::vector<std::string> expected{FormatMsg(tmpl, {SubDatabaseName(a.main, 6)}),
                                            FormatMsg(tmpl, {SubDatabaseName(a.main, 7)})};
    for (bool showErrors : {false, true}) {
        window.boxes.clear();
        const auto log = Large(a, showErrors);
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log.back(), Stats(2, 125050, 1));
        EXPECT_EQ(std::count_if(log.begin(), log.end(), [&](const std::string& l) {
                      return l.starts_with("Size check: sub database '" + SubDatabaseName(a.main, 5) +
                                           "' could not be read: ");
                  }), 1 + showErrors);  // one line per run, the log is kept
        std::vector<std::string> missing;
        for (const auto& box : window.boxes)
            if (std::count(expected.begin(), expected.end(), box.text)) {
                EXPECT_TRUE(box.icon == MsgIcon::Exclamation && box.title.empty()) << box.text;
                missing.push_back(box.text);
            }
        EXPECT_EQ(missing, expected) << "showErrors " << showErrors;
        if (!showErrors) {
            EXPECT_EQ(window.boxes.size(), 3u) << "missing files are shown even with errors off, then the statistics";
        }
    }
}

TEST_F(SmallChecks, FolderCheckReportsExactlyTheFoldersThatNothingNamesAsParent) {
    // Folder 1 "Map" holds a document; A holds only the empty folder B, so A is not empty but B is.
    for (const char* values : {"2, 1, 0, 'doc'", "10, 0, -1, 'A'", "11, 10, -1, 'B'", "20, 20, -1, 'Self'",
                               "30, 0, -1, 'Leeg'", "40, 0, -1, 'Prullenbak'", "50, NULL, -1, NULL"})
        a.exec(std::string("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (") + values + ")");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, TRASHMARK) VALUES (41, 40, 0, 'weg', -1)");
    const auto log = With([](CDatabase& db) { CDatabaseTestAccess::AnalyseFolders(db); });

    // Own parent (20) is never empty; Null name and parent (50) are reported.
    // Key, name, code, path and sub database (none) of every row.
    std::multiset<std::string> rows;
    for (const ListRow& r : Rows())
        rows.insert(r.key + " " + r.text + " " + std::to_string(r.tag) + " " +
                    (r.subItems.size() == 3 ? r.subItems[0] + "|" + r.subItems[1] : "?"));
    const std::string code = " " + std::to_string(ResultEmptyFolder) + " ";
    EXPECT_EQ(rows, (std::multiset<std::string>{"ID11 B" + code + "\\A\\|", "ID30 Leeg" + code + "\\|",
                                                "ID50 " + code + "\\|"}));
    for (const char* line : {"11 [\\A\\B] - This is an empty folder", "30 [\\Leeg] - This is an empty folder"})
        EXPECT_EQ(std::count(log.begin(), log.end(), line), 1) << line;
    EXPECT_TRUE(std::none_of(log.begin(), log.end(), [](auto& l) { return l.starts_with("Folder Check"); }));
    EXPECT_TRUE(Called("ProgressShow") && Called("ProgressHide") && !window.progressVisible);
    // The first items are always drawn, the rest at most 30 times a second.
    EXPECT_GE(window.progressUpdates, 5);
    EXPECT_EQ(window.lastProgress.value, 100);
}

TEST_F(SmallChecks, FolderCheckWithoutFoldersShowsNoProgressAndCancelStops) {
    a.exec("DELETE FROM FOLDERS");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (5, 0, 0, 'doc')");
    With([](CDatabase& db) { CDatabaseTestAccess::AnalyseFolders(db); });
    EXPECT_TRUE(Rows().empty());
    EXPECT_FALSE(Called("ProgressShow") || Called("ProgressHide") || window.progressUpdates);

    // Cancel stops after the current folder and keeps what was reported.
    for (int id = 11; id <= 16; ++id)
        a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (" + std::to_string(id) + ", 0, -1, 'F')");
    window.cancelAfterUpdates = 2;
    With([](CDatabase& db) { CDatabaseTestAccess::AnalyseFolders(db); });
    EXPECT_EQ(Rows().size(), 2u);
    EXPECT_EQ(window.progressUpdates, 2);
    EXPECT_EQ(window.state.m_nDamaged, 2);  // derived from the findings kept
}
