// The large-document check: the statistics line, which data rows it counts,
// and what happens to sub databases that are missing or do not open.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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

std::string Stats(long pages, long average, long exceeded) {
    return "Size check: " + std::to_string(pages) + " pages analysed, average size: " + std::to_string(average) +
           " bytes, size limit exceeded: " + std::to_string(exceeded) + " times";
}

class LargeDocuments : public ::testing::Test {
protected:
    void SetUp() override { Settings::Get().LogFileName = dir.file("Kantoor.log"); }
    void TearDown() override { Settings::Reset(); }

    // Gives each document of sub database n data of the size listed, in ID order.
    void Sizes(long n, std::initializer_list<std::pair<long, long>> idSizes) {
        sql::Error err;
        sql::Database pdb = sql::Database::open(SubDatabaseName(a.main, n), engine::PasswordBytes(a.password),
                                                sql::OpenMode::ReadWrite, err);
        for (auto [id, size] : idSizes)
            EXPECT_TRUE(pdb.exec(size < 0 ? "UPDATE PICTURES SET PICTURE = NULL WHERE ID = " + std::to_string(id)
                                          : "UPDATE PICTURES SET PICTURE = zeroblob(" + std::to_string(size) +
                                                ") WHERE ID = " + std::to_string(id)));
    }

    std::vector<std::string> Run(bool showErrors = false) {
        Settings::Get().DatabasePassword = a.password;
        CDatabase db(window);
        EXPECT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
        db.m_bShowErrors = showErrors;
        CDatabaseTestAccess::AnalyseLargeDocs(db);
        lastPdb = CDatabase::Connected(db.m_AdoCnPdb) ? db.m_AdoCnPdb->dataSource() : "";
        return LogLines(dir.file("Kantoor.log"));
    }

    TempDir dir;
    ArchiveBuilder a{dir.path()};
    ScriptedWindow window;
    std::string lastPdb;
};

}  // namespace

TEST_F(LargeDocuments, RunningAverageAndLimit) {
    struct Case {
        const char* name;
        std::vector<long> sizes;  // -1 = Null data
        long average, exceeded;
    } cases[] = {
        {"average kept whole after every row", {100, 200, 400}, 233, 0},
        {"exactly the limit is not over it", {204800, 204800}, 204800, 0},
        {"halves go to the even neighbour", {204800, 204801}, 204800, 1},
        {"halves go to the even neighbour, upwards", {3, 4}, 4, 0},
        {"empty and Null data count as pages of size 0", {0, -1, 300}, 100, 0},
    };
    for (const Case& c : cases) {
        TempDir d;
        ArchiveBuilder b(d.path());
        std::vector<long> ids;
        for (size_t i = 0; i < c.sizes.size(); ++i) ids.push_back(static_cast<long>(10 + i));
        // Spread over two sub databases: the average runs on across them.
        const size_t half = ids.size() / 2;
        b.sub(1, {});
        b.sub(2, {});
        sql::Error err;
        for (size_t i = 0; i < ids.size(); ++i) {
            const long n = i < half ? 1 : 2;
            b.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (" + std::to_string(ids[i]) +
                   ", 1, 0, 'd', " + std::to_string(n) + ")");
            sql::Database pdb = sql::Database::open(SubDatabaseName(b.main, n), engine::PasswordBytes(b.password),
                                                    sql::OpenMode::ReadWrite, err);
            const std::string data = c.sizes[i] < 0 ? "NULL" : "zeroblob(" + std::to_string(c.sizes[i]) + ")";
            EXPECT_TRUE(pdb.exec("INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(ids[i]) + ", " + data + ")"));
        }
        Settings::Get().LogFileName = d.file("Kantoor.log");
        Settings::Get().DatabasePassword = b.password;
        CDatabase db(window);
        ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(b.main, b.password)));
        CDatabaseTestAccess::AnalyseLargeDocs(db);
        const auto log = LogLines(d.file("Kantoor.log"));
        ASSERT_FALSE(log.empty()) << c.name;
        EXPECT_EQ(log.back(), Stats(static_cast<long>(c.sizes.size()), c.average, c.exceeded)) << c.name;
        EXPECT_EQ(db.m_AdoCnPdb ? db.m_AdoCnPdb->dataSource() : "", SubDatabaseName(b.main, 2)) << c.name;
    }
}

TEST_F(LargeDocuments, WithoutStoredDocumentsTheLineReadsZero) {
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (2, 1, 0, 'd', 0)");
    const auto log = Run();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), Stats(0, 0, 0));
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(LargeDocuments, OnlySubDatabasesThatDocumentsReferToAreMeasured) {
    a.sub(1, {2});
    a.sub(2, {3});
    Sizes(1, {{2, 1000}});
    Sizes(2, {{3, 300000}});
    a.exec("UPDATE FOLDERS SET DATABASEID = 0 WHERE ID = 3");  // nothing refers to sub database 2 any more
    EXPECT_EQ(Run().back(), Stats(1, 1000, 0));
}

TEST_F(LargeDocuments, MissingSubDatabaseIsShownEvenWithErrorsOffAndTheRestMeasured) {
    a.sub(1, {2});
    a.sub(3, {4});
    Sizes(1, {{2, 500}});
    Sizes(3, {{4, 300}});
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (5, 1, 0, 'weg', 2)");
    // Sub database 3 is found only under its stored path: the standard name counts.
    const std::string moved = dir.file("elders.pdb");
    std::filesystem::rename(SubDatabaseName(a.main, 3), moved);
    a.exec("UPDATE DATABASES SET DATABASE = '" + moved + "' WHERE ID = 3");
    for (bool showErrors : {false, true}) {
        window.boxes.clear();
        const auto log = Run(showErrors);
        EXPECT_EQ(log.back(), Stats(1, 500, 0));
        const std::string tmpl = GetResString(127, "De subdatabase '%s' is niet gevonden!");
        const std::vector<std::string> expected{FormatMsg(tmpl, {SubDatabaseName(a.main, 2)}),
                                                FormatMsg(tmpl, {SubDatabaseName(a.main, 3)})};
        std::vector<std::string> missing;
        for (const auto& box : window.boxes)
            if (std::find(expected.begin(), expected.end(), box.text) != expected.end()) {
                EXPECT_EQ(box.icon, MsgIcon::Exclamation);
                EXPECT_EQ(box.title, "");
                missing.push_back(box.text);
            }
        EXPECT_EQ(missing, expected) << "showErrors " << showErrors;
        if (!showErrors) {
            EXPECT_EQ(window.boxes.size(), 2u);
        }
    }
}

TEST_F(LargeDocuments, SubDatabaseThatDoesNotOpenIsSkippedAndTheLineStillWritten) {
    a.sub(1, {2});
    a.sub(3, {4});
    Sizes(1, {{2, 250000}});
    Sizes(3, {{4, 100}});
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (5, 1, 0, 'kapot', 2)");
    qx::test::WriteFile(SubDatabaseName(a.main, 2), std::string(4096, 'x'));
    const auto log = Run();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.back(), Stats(2, 125050, 1));
    const auto skipped = std::find_if(log.begin(), log.end(), [&](const std::string& l) {
        return l.starts_with("Size check: sub database '" + SubDatabaseName(a.main, 2) + "' could not be read: ");
    });
    EXPECT_NE(skipped, log.end());
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(lastPdb, SubDatabaseName(a.main, 3));
}
