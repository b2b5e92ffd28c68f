// Reorganizing: the stored data packed into as few sub databases as
// possible, every document keeping its bytes; duplicates and unreferenced
// rows met on the way; emptied files retired as ".obsolete"; a report-only
// run that tells the same and changes nothing; the start checks.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "support/Failpoint.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/SysInfo.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

using namespace qx;
using namespace qx::test;
namespace fs = std::filesystem;

namespace {

std::int64_t g_freeSpace = -1;
std::int64_t InjectedFreeSpace(std::string_view) { return g_freeSpace >= 0 ? g_freeSpace : std::int64_t(1) << 50; }

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every file of the folder but the log, with its bytes.
std::map<std::string, std::string> Files(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() != ".log") files[e.path().filename().string()] = ReadAll(e.path().string());
    return files;
}

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& [name, bytes] : Files(folder)) names.insert(name);
    return names;
}

// A window whose Cancel is pressed after a number of turns of the event loop.
class CancellingWindow : public ScriptedWindow {
public:
    int cancelReorganizeAfter = -1;
    void DoEvents() override {
        ScriptedWindow::DoEvents();
        if (m_reorganize && --cancelReorganizeAfter == 0) m_reorganize = false;
    }
};

class Reorganize : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        failpoints::Reset();
        OverrideFolderFreeSpaceForTests(InjectedFreeSpace);
        g_freeSpace = -1;
        a = std::make_unique<ArchiveBuilder>(dir.path());
        Settings::Get().DatabasePassword = a->password;
        Settings::Get().LogFileName = LogFileNameFor(a->main);
    }
    void TearDown() override {
        db.reset();
        OverrideFolderFreeSpaceForTests(nullptr);
        failpoints::Reset();
        Settings::Reset();
    }
    void Open() {
        db = std::make_unique<CDatabase>(window);
        ASSERT_TRUE(db->OpenDatabase(CDatabase::ConnectString(a->main, a->password)));
        window.state.m_sDatabaseName = a->main;
    }
    std::string Sub(long n) const { return SubDatabaseName(a->main, n); }
    // Sub database n holding documents `ids`, each of `size` bytes of its own.
    void SubWith(long n, std::initializer_list<long> ids, int size) {
        a->sub(n, ids);
        for (long id : ids) Pictures(n, "UPDATE PICTURES SET PICTURE = randomblob(" + std::to_string(size) +
                                            ") WHERE ID = " + std::to_string(id));
    }
    void Pictures(long n, const std::string& text) {
        sql::Error err;
        sql::Database pdb =
            sql::Database::open(Sub(n), engine::PasswordBytes(a->password), sql::OpenMode::ReadWrite, err);
        ASSERT_TRUE(pdb.exec(text, &err)) << text << ": " << err.message;
    }
    std::map<long, std::string> Main(const std::string& text) const {
        sql::Error err;
        sql::Database m =
            sql::Database::open(a->main, engine::PasswordBytes(a->password), sql::OpenMode::ReadWrite, err);
        std::map<long, std::string> out;
        sql::Statement st(m, text);
        while (st.step() == sql::Step::Row) out[static_cast<long>(st.getInt64(0))] = st.getText(1);
        return out;
    }
    std::string Log() const { return ReadAll(LogFileNameFor(a->main)); }

    TempDir dir;
    std::unique_ptr<ArchiveBuilder> a;
    CancellingWindow window;
    std::unique_ptr<CDatabase> db;
};

}  // namespace

// Four small sub databases fit into the first: the others are retired, and
// every document leads to the very bytes it led to before.
TEST_F(Reorganize, SmallSubDatabasesPackIntoTheFirstAndEveryDocumentKeepsItsBytes) {
    SubWith(1, {2, 3}, 3000);
    SubWith(2, {4, 5}, 5000);
    SubWith(3, {6}, 7000);
    SubWith(4, {7, 8, 9}, 2000);
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    Open();

    EXPECT_TRUE(db->Reorganize());

    const ArchiveSnapshot after = TakeSnapshot(a->main);
    EXPECT_EQ(after.documents, before.documents);
    EXPECT_EQ(Main("SELECT ID, DATABASE FROM DATABASES"), (std::map<long, std::string>{{1, Sub(1)}}));
    EXPECT_EQ(Main("SELECT ID, DATABASEID FROM FOLDERS WHERE NOT ISFOLDER").size(), 8u);
    for (const auto& [id, databaseId] : Main("SELECT ID, DATABASEID FROM FOLDERS WHERE NOT ISFOLDER"))
        EXPECT_EQ(databaseId, "1") << "document " << id;
    for (long n : {2, 3, 4}) {
        EXPECT_FALSE(fs::exists(Sub(n))) << n;
        EXPECT_TRUE(fs::exists(Sub(n) + ".obsolete")) << n;
    }
    const std::string log = Log();
    EXPECT_NE(log.find("Reorganize: switching to new source sub database"), std::string::npos);
    EXPECT_TRUE(window.enabled);
    EXPECT_FALSE(window.ReorganizeVisible());
    EXPECT_TRUE(db->m_sReorganizeStop.empty()) << db->m_sReorganizeStop;
}

// With a small capacity the first sub database fills up and the next one
// takes what is left: fewer files than before, none holds more than fits.
TEST_F(Reorganize, AFullDestinationPassesOnToTheNextOne) {
    for (long n = 1; n <= 5; ++n) SubWith(n, {10 * n, 10 * n + 1}, 20000);
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    Open();
    db->m_nReorganizeCapacity = 100'000;

    db->Reorganize();

    const ArchiveSnapshot after = TakeSnapshot(a->main);
    EXPECT_EQ(after.documents, before.documents);
    const auto listed = Main("SELECT ID, DATABASE FROM DATABASES");
    EXPECT_GE(listed.size(), 2u);
    EXPECT_LT(listed.size(), 5u);
    EXPECT_NE(Log().find("Reorganize: switching to new destination sub database"), std::string::npos);
}

struct DuplicateCase {
    const char* name;
    int storedSize;  // of the row already in the destination under the same ID
    bool fixed;      // a new document "Fixed N" receives the stored row
};

class ReorganizeDuplicate : public Reorganize, public ::testing::WithParamInterface<DuplicateCase> {};

TEST_P(ReorganizeDuplicate, TheMovedRowTakesTheIdAndADifferentStoredRowBecomesItsOwnDocument) {
    const DuplicateCase& c = GetParam();
    SubWith(1, {2}, 1000);
    SubWith(2, {5}, 4000);
    // randomblob(0) gives one byte, not none.
    const std::string value = c.storedSize == 0 ? "x''" : "randomblob(" + std::to_string(c.storedSize) + ")";
    Pictures(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, " + value + ")");
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    std::string stored;
    for (const auto& [id, sha] : before.dataRows)
        if (id == 5 && sha != before.documents.at(5)) stored = sha;
    Open();

    db->Reorganize();

    const ArchiveSnapshot after = TakeSnapshot(a->main);
    EXPECT_EQ(after.documents.at(5), before.documents.at(5));
    EXPECT_EQ(after.documents.at(2), before.documents.at(2));
    const std::string log = Log();
    EXPECT_NE(log.find("Reorganize: 5 - Duplicate entries detected!"), std::string::npos);
    const auto fixedRows = Main("SELECT ID, NAME FROM FOLDERS WHERE NAME LIKE 'Fixed %'");
    if (!c.fixed) {
        EXPECT_TRUE(fixedRows.empty());
        EXPECT_EQ(log.find("Duplicate reference found"), std::string::npos);
        return;
    }
    ASSERT_EQ(fixedRows.size(), 1u);
    const long newId = fixedRows.begin()->first;
    EXPECT_EQ(fixedRows.begin()->second, "Fixed " + std::to_string(newId));
    if (!stored.empty()) EXPECT_EQ(after.documents.at(newId), stored);
    EXPECT_NE(log.find("Reorganize: New entry created: " + std::to_string(newId)), std::string::npos);
    ASSERT_EQ(window.lists[ListId::Documents].size(), 1u);
    EXPECT_EQ(window.lists[ListId::Documents][0].tag, 2052);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReorganizeDuplicate,
                         ::testing::Values(DuplicateCase{"same_size_overwritten", 4000, false},
                                           DuplicateCase{"stored_empty_overwritten", 0, false},
                                           DuplicateCase{"different_size_becomes_fixed_document", 3000, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A row no document refers to: an empty one stays where it is, one with
// data becomes the "Repaired document" of its ID.
TEST_F(Reorganize, UnreferencedRowsAreSkippedWhenEmptyAndRepairedWhenTheyHoldData) {
    SubWith(1, {2}, 1000);
    SubWith(2, {3}, 1000);
    Pictures(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (40, x'')");
    Pictures(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (41, randomblob(500))");
    Open();

    db->Reorganize();

    const std::string log = Log();
    EXPECT_NE(log.find("Reorganize: 40 - Unreferenced empty document: skipping"), std::string::npos);
    EXPECT_NE(log.find("Reorganize: skipping source field 2, destination field 1"), std::string::npos);
    EXPECT_NE(log.find("Reorganize: 41 - Unreferenced: creating new entry"), std::string::npos);
    EXPECT_EQ(Main("SELECT ID, NAME || ':' || DATABASEID FROM FOLDERS WHERE ID = 41"),
              (std::map<long, std::string>{{41, "Repaired document:1"}}));
    EXPECT_TRUE(Main("SELECT ID, NAME FROM FOLDERS WHERE ID = 40").empty());
    EXPECT_TRUE(fs::exists(Sub(2) + ".obsolete"));
}

// The report-only run says what the real one does, and leaves every byte.
TEST_F(Reorganize, ADryRunLogsTheMovesAndChangesNoFile) {
    SubWith(1, {2}, 1000);
    SubWith(2, {3}, 1000);
    Pictures(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (41, randomblob(500))");
    const auto files = Files(dir.path());
    Open();
    ASSERT_TRUE(db->SetDryRun(true));

    db->Reorganize();

    EXPECT_EQ(Files(dir.path()), files);
    EXPECT_NE(Log().find("Reorganize: 41 - Unreferenced: creating new entry"), std::string::npos);
    EXPECT_NE(Log().find("Reorganize: switching to new source sub database"), std::string::npos);
}

TEST_F(Reorganize, TooLittleFreeSpaceStopsBeforeAnythingIsTouched) {
    SubWith(1, {2}, 1000);
    SubWith(2, {3}, 1000);
    const auto names = Names(dir.path());
    Open();
    g_freeSpace = 104'857'599;

    EXPECT_FALSE(db->Reorganize());

    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(Names(dir.path()), names);
    EXPECT_EQ(Main("SELECT ID, DATABASEID FROM FOLDERS WHERE ID = 3"), (std::map<long, std::string>{{3, "2"}}));
}

// A cancelled run keeps what it moved; nothing is lost, and the emptied
// sub databases stay listed under their names.
TEST_F(Reorganize, CancelKeepsWhatWasMovedAndLosesNothing) {
    SubWith(1, {2}, 1000);
    SubWith(2, {3, 4, 5}, 1000);
    SubWith(3, {6, 7, 8}, 1000);
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    Open();
    window.cancelReorganizeAfter = 3;

    db->Reorganize();

    const ArchiveSnapshot after = TakeSnapshot(a->main);
    EXPECT_EQ(after.documents, before.documents);
    EXPECT_EQ(Main("SELECT ID, DATABASE FROM DATABASES").size(), 3u);
    EXPECT_EQ(Log().find("Compacting OMD database..."), std::string::npos);
    EXPECT_TRUE(window.enabled);
}

// Cut off after the copies, or after FOLDERS: the documents still lead to
// their bytes, and the next run finishes the move.
class ReorganizeInterrupted : public Reorganize, public ::testing::WithParamInterface<const char*> {};

TEST_P(ReorganizeInterrupted, AfterACommitNothingIsLostAndTheNextRunFinishes) {
    SubWith(1, {2}, 1000);
    SubWith(2, {3, 4}, 3000);
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    Open();
    failpoints::Arm(GetParam(), 1, FailAction::IoError);

    db->Reorganize();

    EXPECT_FALSE(db->m_sReorganizeStop.empty());
    EXPECT_EQ(TakeSnapshot(a->main).documents, before.documents);
    failpoints::Reset();
    db->Reorganize();
    EXPECT_TRUE(db->m_sReorganizeStop.empty()) << db->m_sReorganizeStop;
    EXPECT_EQ(TakeSnapshot(a->main).documents, before.documents);
    EXPECT_EQ(Main("SELECT ID, DATABASE FROM DATABASES").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Points, ReorganizeInterrupted,
                         ::testing::Values("reorganize.copied", "reorganize.repointed"),
                         [](const auto& info) {
                             std::string n = info.param;
                             std::replace(n.begin(), n.end(), '.', '_');
                             return n;
                         });
