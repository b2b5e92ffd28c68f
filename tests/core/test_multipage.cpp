// The multipage repairs: orphaned pages become single pages, and the pages of
// each container are numbered 2, 3, ... in their old order.
#include "database/CDatabase.h"
#include "support/Settings.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>

using namespace qx;
using qx::test::ArchiveBuilder;
using qx::test::ScriptedWindow;
using qx::test::TempDir;

namespace {

struct PageRow {
    std::optional<std::string> marker;  // TEMPLATE1; nullopt = Null
    long page, width, height;
    bool operator==(const PageRow&) const = default;
};

std::ostream& operator<<(std::ostream& os, const PageRow& r) {
    return os << "{" << r.marker.value_or("<Null>") << ", " << r.page << ", " << r.width << ", " << r.height << "}";
}

class Multipage : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Get().LogFileName = dir.file("Kantoor.log");
        Settings::Get().DatabasePassword = a.password;
    }
    void TearDown() override { Settings::Reset(); }

    void Row(long id, const char* marker, long page, long width = 0, long height = 0) {
        a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, TEMPLATE1, PAGE, WIDTH, HEIGHT) VALUES (" +
               std::to_string(id) + ", 1, 0, 'p', " + (marker ? "'" + std::string(marker) + "'" : "NULL") + ", " +
               std::to_string(page) + ", " + std::to_string(width) + ", " + std::to_string(height) + ")");
    }
    PageRow Read(long id) {
        sql::Error err;
        sql::Database db = sql::Database::open(a.main, engine::PasswordBytes(a.password), sql::OpenMode::ReadWrite, err);
        sql::Statement st(db, "SELECT TEMPLATE1, PAGE, WIDTH, HEIGHT FROM FOLDERS WHERE ID = " + std::to_string(id));
        EXPECT_EQ(st.step(), sql::Step::Row) << id;
        return {st.isNull(0) ? std::nullopt : std::optional<std::string>(st.getText(0)), static_cast<long>(st.getInt64(1)),
                static_cast<long>(st.getInt64(2)), static_cast<long>(st.getInt64(3))};
    }
    template <typename F>
    void WithDatabase(F f) {
        CDatabase db(window);
        ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
        f(db);
    }

    TempDir dir;
    ArchiveBuilder a{dir.path()};
    ScriptedWindow window;
};

const PageRow kSingle{std::nullopt, 1, 0, 0};

}  // namespace

TEST_F(Multipage, OnlyPagesWithoutAContainerRowBecomeSinglePages) {
    Row(41, nullptr, 1);  // a plain document: its pages still have a container row
    Row(60, "MP", 1);
    struct Case {
        long id;
        const char* marker;
        bool becomesSingle;
    } cases[] = {
        {101, "MC40", true},  {102, "MC40", true},  {103, "MC40", true},  // row 40 does not exist
        {111, "MC41", false}, {112, "MC41", false},
        {121, "MC60", false},
        {131, "mc50", true},  // markers are compared without regard to case
        {141, "MC", false},   {142, "MCX7", false}, {143, "MC040", false}, {144, "MC4.0", false},
        {145, "MC 40", false}, {146, "MC99999999999", false},  // no container number: left alone
        {151, "MC-5", true},
    };
    for (const Case& c : cases) Row(c.id, c.marker, 3, 640, 480);
    long result = -1;
    WithDatabase([&](CDatabase& db) { result = db.CheckMultipageParentMissing(); });
    EXPECT_EQ(result, 0);
    for (const Case& c : cases)
        EXPECT_EQ(Read(c.id), c.becomesSingle ? kSingle : (PageRow{c.marker, 3, 640, 480})) << c.id << " " << c.marker;
    EXPECT_EQ(Read(41), (PageRow{std::nullopt, 1, 0, 0}));
    EXPECT_TRUE(std::none_of(window.calls.begin(), window.calls.end(), [](const std::string& c) {
        return c.starts_with("ListAdd") || c.starts_with("MsgBox");
    }));
}

TEST_F(Multipage, PagesAreNumberedFromTwoInTheirOldOrder) {
    Row(12, "MP", 5);
    Row(13, "MC12", 3);
    Row(14, "MC12", 7);
    Row(15, "MC12", 3);
    Row(20, "MP", 0);  // no pages
    Row(30, "MPX", 9);  // not exactly "MP": left alone, pages too
    Row(31, "MC30", 5);
    Row(32, "MC30", 8);
    Row(40, "mp", 4);  // matched like the product's engine matches it
    Row(41, "mc40", 6);
    Row(50, nullptr, 1);
    Row(51, "MC5", 9);  // pages of another container number are not touched
    WithDatabase([](CDatabase& db) { db.MultipageRenumberPages(); });

    EXPECT_EQ(Read(12).page, 1);
    EXPECT_EQ(Read(14).page, 4);
    const long a13 = Read(13).page, a15 = Read(15).page;
    EXPECT_EQ(std::min(a13, a15), 2);
    EXPECT_EQ(std::max(a13, a15), 3);
    const struct {
        long id, page;
    } expected[] = {{20, 1}, {30, 9}, {31, 5}, {32, 8}, {40, 1}, {41, 2}, {50, 1}, {51, 9}};
    for (const auto& e : expected) EXPECT_EQ(Read(e.id).page, e.page) << e.id;
    EXPECT_EQ(Read(13).marker, std::optional<std::string>("MC12"));
}

TEST_F(Multipage, NothingHappensWithoutAnOpenDatabase) {
    CDatabase db(window);
    EXPECT_EQ(db.CheckMultipageParentMissing(), 0);
    db.MultipageRenumberPages();
}

TEST_F(Multipage, CommandLineRepairsAndCountsTheChangedRows) {
    Row(12, "MP", 5);
    Row(13, "MC12", 3);
    Row(14, "MC12", 7);
    Row(15, "MC12", 3);
    Row(101, "MC40", 2, 640, 480);
    Row(102, "MC40", 3, 640, 480);
    const std::string out = dir.file("out.txt");
    auto run = [&](const std::string& args) {
        const std::string cmd = std::string(QX_CLI_PATH) + " repair-multipage " + args + " >'" + out + "' 2>/dev/null";
        return WEXITSTATUS(std::system(cmd.c_str()));
    };
    ASSERT_EQ(run("'" + a.main + "' --no"), 0);
    std::ifstream in(out);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    // Container 12 and two of its pages get new numbers; one page of 3 keeps it.
    EXPECT_NE(text.find("5 page rows changed (2 orphaned pages made single pages, 3 renumbered)"), std::string::npos)
        << text;
    EXPECT_EQ(Read(101), kSingle);
    EXPECT_EQ(Read(14).page, 4);

    EXPECT_EQ(run(""), 16);
    EXPECT_EQ(run("'" + a.main + "' --yes --no"), 16);
    EXPECT_EQ(run("'" + dir.file("missing.dat") + "' --no"), 8);
}
