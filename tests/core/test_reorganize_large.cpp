// Reorganizing documents larger than the room a sub database has left: the
// room is looked at before a document, never split across files, so a
// document larger than the whole capacity still moves whole into the
// destination it meets, and the documents after it go on to the next one.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/SysInfo.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <utility>
#include <vector>

using namespace qx;
using namespace qx::test;
namespace fs = std::filesystem;

namespace {

std::int64_t PlentyOfSpace(std::string_view) { return std::int64_t(1) << 50; }

constexpr int kLarge = 200 * 1024;  // beyond the capacity of 64 KiB the cases use

struct LargeCase {
    const char* name;
    std::vector<std::pair<long, int>> last;  // documents of sub database 3 (the first moved), with their sizes
    std::map<long, std::string> after;       // every document -> its DATABASEID after the run
};

void PrintTo(const LargeCase& c, std::ostream* os) { *os << c.name; }

class ReorganizeLarge : public ::testing::TestWithParam<LargeCase> {
protected:
    void SetUp() override {
        Settings::Reset();
        OverrideFolderFreeSpaceForTests(PlentyOfSpace);
        a = std::make_unique<ArchiveBuilder>(dir.path());
        Settings::Get().DatabasePassword = a->password;
        Settings::Get().LogFileName = LogFileNameFor(a->main);
    }
    void TearDown() override {
        OverrideFolderFreeSpaceForTests(nullptr);
        Settings::Reset();
    }
    void Store(long n, long id, int size) {
        sql::Error err;
        sql::Database pdb = sql::Database::open(SubDatabaseName(a->main, n), engine::PasswordBytes(a->password),
                                                sql::OpenMode::ReadWrite, err);
        ASSERT_TRUE(pdb.exec("UPDATE PICTURES SET PICTURE = randomblob(" + std::to_string(size) +
                                 ") WHERE ID = " + std::to_string(id),
                             &err))
            << err.message;
    }
    std::map<long, std::string> DatabaseIds() const {
        sql::Error err;
        sql::Database m =
            sql::Database::open(a->main, engine::PasswordBytes(a->password), sql::OpenMode::ReadWrite, err);
        std::map<long, std::string> out;
        sql::Statement st(m, "SELECT ID, DATABASEID FROM FOLDERS WHERE NOT ISFOLDER");
        while (st.step() == sql::Step::Row) out[static_cast<long>(st.getInt64(0))] = st.getText(1);
        return out;
    }

    TempDir dir;
    std::unique_ptr<ArchiveBuilder> a;
    ScriptedWindow window;
};

}  // namespace

TEST_P(ReorganizeLarge, MovesWholeAndTheDocumentsAfterItGoToTheNextDestination) {
    const LargeCase& c = GetParam();
    a->sub(1, {2});
    Store(1, 2, 1000);
    a->sub(2, {3});
    Store(2, 3, 1000);
    a->sub(3, {});
    for (const auto& [id, size] : c.last) {
        a->exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (" + std::to_string(id) +
                ", 1, 0, 'doc', 3)");
        sql::Error err;
        sql::Database pdb = sql::Database::open(SubDatabaseName(a->main, 3), engine::PasswordBytes(a->password),
                                                sql::OpenMode::ReadWrite, err);
        ASSERT_TRUE(pdb.exec("INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(id) + ", randomblob(" +
                                 std::to_string(size) + "))",
                             &err));
    }
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    window.state.m_sDatabaseName = a->main;
    CDatabase db(window);
    ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a->main, a->password)));
    db.m_nReorganizeCapacity = 64 * 1024;

    db.Reorganize();

    EXPECT_TRUE(db.m_sReorganizeStop.empty()) << db.m_sReorganizeStop;
    EXPECT_EQ(TakeSnapshot(a->main).documents, before.documents);
    EXPECT_EQ(DatabaseIds(), c.after);
    EXPECT_TRUE(fs::exists(SubDatabaseName(a->main, 3) + ".obsolete"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReorganizeLarge,
    ::testing::Values(
        LargeCase{"large_first_then_the_next_destination", {{30, kLarge}, {31, 1000}},
                  {{2, "1"}, {3, "2"}, {30, "1"}, {31, "2"}}},
        LargeCase{"small_first_leaves_room_for_the_large_one", {{30, 1000}, {31, kLarge}},
                  {{2, "1"}, {3, "2"}, {30, "1"}, {31, "1"}}},
        LargeCase{"two_large_one_destination_each", {{30, kLarge}, {31, kLarge}},
                  {{2, "1"}, {3, "2"}, {30, "1"}, {31, "2"}}}),
    [](const auto& info) { return std::string(info.param.name); });
