// The empty-folder check: which folders count as empty, what their list rows
// and log lines say, when the progress window appears and how Cancel stops it.
#include "database/CDatabase.h"
#include "database/checks/ResultCodes.h"
#include "support/Settings.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace qx;
using qx::test::ArchiveBuilder;
using qx::test::ScriptedWindow;
using qx::test::TempDir;

namespace {

std::vector<std::string> LogLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l.substr(0, l.size() - (l.ends_with('\r') ? 1 : 0)));
    return lines;
}

class FolderCheck : public ::testing::Test {
protected:
    void SetUp() override { Settings::Get().LogFileName = dir.file("Kantoor.log"); }
    void TearDown() override { Settings::Reset(); }

    void Run(ArchiveBuilder& a) {
        Settings::Get().DatabasePassword = a.password;
        CDatabase db(window);
        ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
        CDatabaseTestAccess::AnalyseFolders(db);
    }
    const std::vector<ListRow>& Rows() { return window.lists[ListId::Documents]; }
    bool Called(const std::string& call) {
        return std::find(window.calls.begin(), window.calls.end(), call) != window.calls.end();
    }

    TempDir dir;
    ScriptedWindow window;
};

}  // namespace

TEST_F(FolderCheck, ReportsExactlyTheFoldersThatNothingNamesAsParent) {
    ArchiveBuilder a(dir.path());  // folder 1 "Map"
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (2, 1, 0, 'doc')");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (10, 0, -1, 'A')");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (11, 10, -1, 'B')");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (20, 20, -1, 'Self')");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (30, 0, -1, 'Leeg')");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (40, 0, -1, 'Prullenbak')");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, TRASHMARK) VALUES (41, 40, 0, 'weg', -1)");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (50, NULL, -1, NULL)");
    Run(a);

    struct Expected {
        std::string key, name, path;
    } expected[] = {
        {"ID11", "B", "\\A\\"},  // A holds only this empty folder: A is not empty, B is
        {"ID30", "Leeg", "\\"},
        {"ID50", "", "\\"},      // Null name and parent
    };
    ASSERT_EQ(Rows().size(), std::size(expected));
    for (const Expected& e : expected) {
        auto row = std::find_if(Rows().begin(), Rows().end(), [&](const ListRow& r) { return r.key == e.key; });
        ASSERT_NE(row, Rows().end()) << e.key;
        EXPECT_EQ(row->text, e.name) << e.key;
        EXPECT_EQ(row->tag, ResultEmptyFolder) << e.key;
        ASSERT_EQ(row->subItems.size(), 3u);
        EXPECT_EQ(row->subItems[0], e.path) << e.key;
        EXPECT_EQ(row->subItems[1], "") << e.key;  // no sub database
    }
    const auto log = LogLines(dir.file("Kantoor.log"));
    EXPECT_NE(std::find(log.begin(), log.end(), "11 [\\A\\B] - This is an empty folder"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "30 [\\Leeg] - This is an empty folder"), log.end());
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.find("Folder Check") != std::string::npos; }), 0);

    EXPECT_TRUE(Called("ProgressShow"));
    EXPECT_TRUE(Called("ProgressHide"));
    EXPECT_FALSE(window.progressVisible);
    EXPECT_EQ(window.progressUpdates, 7);  // one per folder
    EXPECT_EQ(window.lastProgress.value, 100);
}

TEST_F(FolderCheck, WithoutFoldersNothingIsShownOrReported) {
    ArchiveBuilder a(dir.path());
    a.exec("DELETE FROM FOLDERS");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (5, 0, 0, 'doc')");
    Run(a);
    EXPECT_TRUE(Rows().empty());
    EXPECT_FALSE(Called("ProgressShow"));
    EXPECT_FALSE(Called("ProgressHide"));
    EXPECT_EQ(window.progressUpdates, 0);
}

TEST_F(FolderCheck, CancelStopsAfterTheCurrentFolderAndKeepsWhatWasReported) {
    ArchiveBuilder a(dir.path());
    a.exec("DELETE FROM FOLDERS");
    for (int id = 1; id <= 6; ++id)
        a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (" + std::to_string(id) + ", 0, -1, 'F" +
               std::to_string(id) + "')");
    window.cancelAfterUpdates = 2;
    Run(a);
    EXPECT_EQ(Rows().size(), 2u);
    EXPECT_EQ(window.progressUpdates, 2);
    EXPECT_EQ(window.state.m_nDamaged, -1 + 2);
}
