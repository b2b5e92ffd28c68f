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
#include "tests/core/CliRunner.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <sys/stat.h>

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
    if (!stored.empty()) { EXPECT_EQ(after.documents.at(newId), stored); }
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

// -- The plan: what a run would do, told before it runs.

namespace {

std::map<long, std::int64_t> RowsOf(const std::string& path, const std::string& password) {
    std::map<long, std::int64_t> rows;
    sql::Error err;
    sql::Database db = sql::Database::open(path, engine::PasswordBytes(password), sql::OpenMode::ReadOnly, err);
    sql::Statement st(db, "SELECT ID, length(PICTURE) FROM PICTURES");
    while (st.step() == sql::Step::Row) rows[static_cast<long>(st.getInt64(0))] = st.isNull(1) ? 0 : st.getInt64(1);
    return rows;
}

std::int64_t PageCount(const std::string& path, const std::string& password, std::string* cipher = nullptr) {
    sql::Error err;
    sql::Database db = sql::Database::open(path, engine::PasswordBytes(password), sql::OpenMode::ReadOnly, err);
    sql::Statement st(db, "PRAGMA page_count");
    if (cipher) {
        sql::Statement v(db, "PRAGMA cipher_version");
        if (v.step() == sql::Step::Row) *cipher = v.getText(0);
    }
    return st.step() == sql::Step::Row ? st.getInt64(0) : -1;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Bytes, permissions and modification time of every file of the folder, the log included.
std::map<std::string, std::string> Everything(const std::string& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) {
        struct stat st {};
        ::stat(e.path().c_str(), &st);
        out[e.path().filename().string()] = ReadAll(e.path().string()) + "|mode " + std::to_string(st.st_mode) +
                                            "|mtime " + std::to_string(st.st_mtim.tv_sec) + "." +
                                            std::to_string(st.st_mtim.tv_nsec);
    }
    return out;
}

}  // namespace

class ReorganizePlanTest : public Reorganize {
public:
    using Reorganize::a;
    using Reorganize::Pictures;
    using Reorganize::Sub;
    using Reorganize::SubWith;
    // `count` rows from `first` on, each of `size` bytes (0: empty), in sub database n.
    void Many(long n, long first, long count, int size) {
        a->sub(n, {});
        const std::string value = size == 0 ? "x''" : "randomblob(" + std::to_string(size) + ")";
        a->exec("WITH RECURSIVE k(i) AS (SELECT " + std::to_string(first) + " UNION ALL SELECT i + 1 FROM k WHERE i < " +
                std::to_string(first + count - 1) + ") INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) "
                "SELECT i, 1, 0, 'doc' || i, " + std::to_string(n) + " FROM k");
        Pictures(n, "WITH RECURSIVE k(i) AS (SELECT " + std::to_string(first) + " UNION ALL SELECT i + 1 FROM k WHERE i < " +
                        std::to_string(first + count - 1) + ") INSERT INTO PICTURES (ID, PICTURE) SELECT i, " + value +
                        " FROM k");
    }
};

// The page model against files the engine compacted: rows of every kind of
// size, from cells many to a leaf to values spread over many pages.
struct PageCase {
    const char* name;
    std::vector<std::pair<long, int>> runs;  // rows, bytes each
};

void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }

class ReorganizePageModel : public ReorganizePlanTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(ReorganizePageModel, ACompactedFileHasThePagesTheModelCounts) {
    const PageCase& c = GetParam();
    long first = 2;
    long n = 1;
    for (const auto& [rows, size] : c.runs) {
        if (n == 1) Many(1, first, rows, size);
        else Pictures(1, "WITH RECURSIVE k(i) AS (SELECT " + std::to_string(first) +
                             " UNION ALL SELECT i + 1 FROM k WHERE i < " + std::to_string(first + rows - 1) +
                             ") INSERT INTO PICTURES (ID, PICTURE) SELECT i, randomblob(" + std::to_string(size) +
                             ") FROM k");
        first += rows;
        ++n;
    }
    if (c.runs.empty()) a->sub(1, {});
    Open();
    ASSERT_TRUE(db->CompactSingle(Sub(1), a->password));
    std::string cipher;
    const std::int64_t pages = PageCount(Sub(1), a->password, &cipher);
    std::vector<std::pair<long, std::int64_t>> rows;
    for (const auto& [id, length] : RowsOf(Sub(1), a->password)) rows.emplace_back(id, length);

    const std::int64_t model = plan::CompactedPages(rows, 16384, plan::kCipherReservedBytes);

    RecordProperty("pages_off", static_cast<int>(model - pages));
    EXPECT_NEAR(static_cast<double>(model), static_cast<double>(pages), 1.0) << c.name << " (cipher " << cipher << ")";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ReorganizePageModel,
    ::testing::Values(PageCase{"empty_table", {}}, PageCase{"many_small_rows", {{600, 100}}},
                      PageCase{"rows_of_a_few_kilobytes", {{60, 3000}}},
                      PageCase{"just_over_one_page", {{20, 16400}}},
                      PageCase{"one_overflow_page_each", {{15, 20000}}},
                      PageCase{"values_of_a_megabyte", {{4, 1'000'000}}},
                      PageCase{"mixed", {{50, 700}, {10, 40000}, {100, 50}, {5, 300000}}},
                      PageCase{"empty_values", {{200, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The plan against the run itself on the same archive: the same moves (from,
// to, documents, bytes), the same files retired, the same duplicates and
// unreferenced rows, the sizes afterwards within the stated pages.
struct PlanCase {
    const char* name;
    void (*build)(ReorganizePlanTest&);
    std::int64_t capacity = 671'088'640;
};

void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.name; }

class ReorganizePlanMatchesRun : public ReorganizePlanTest, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(ReorganizePlanMatchesRun, ThePlanTellsWhatTheRunDoes) {
    const PlanCase& c = GetParam();
    c.build(*this);
    Open();
    db->m_nReorganizeCapacity = c.capacity;
    ReorganizePlan plan;
    ASSERT_TRUE(db->PlanReorganize(plan)) << c.name;
    SCOPED_TRACE(c.name + std::string("\n") + DescribePlan(plan));

    // Where every row is before the run, under the numbers the renumbering gives.
    auto renumbered = [&](long id) {
        for (const auto& r : plan.renumbered)
            if (r.oldId == id) return r.newId;
        return id;
    };
    std::map<long, std::map<long, std::int64_t>> before;
    for (const auto& [id, path] : Main("SELECT ID, DATABASE FROM DATABASES"))
        if (fs::exists(path)) before[renumbered(id)] = RowsOf(path, a->password);
    std::set<std::string> namesBefore = Names(dir.path());

    db->Reorganize();

    if (!plan.refusal.empty()) {
        ASSERT_FALSE(window.boxes.empty());
        EXPECT_EQ(plan.refusal, window.boxes[0].text);
        EXPECT_TRUE(plan.moves.empty());
        return;
    }
    for (const auto& box : window.boxes) ADD_FAILURE() << "the run showed: " << box.text;

    // Where the rows are afterwards.
    std::map<long, std::pair<long, std::int64_t>> where;  // row ID -> DATABASES.ID, length
    for (const auto& [id, path] : Main("SELECT ID, DATABASE FROM DATABASES"))
        for (const auto& [row, length] : RowsOf(path, a->password)) where[row] = {id, length};
    std::map<std::pair<long, long>, std::pair<long, std::int64_t>> real, planned;
    for (const auto& [source, rows] : before)
        for (const auto& [row, length] : rows) {
            const auto it = where.find(row);
            if (it == where.end() || it->second.first == source || it->second.second != length) continue;
            auto& m = real[{source, it->second.first}];
            ++m.first;
            m.second += length;
        }
    for (const auto& m : plan.moves) {
        auto& p = planned[{m.sourceId, m.destinationId}];
        p.first += m.documents;
        p.second += m.bytes;
    }
    EXPECT_EQ(planned, real);

    std::set<std::string> retiredReal, retiredPlanned;
    for (const std::string& name : Names(dir.path()))
        if (!namesBefore.count(name) && name.size() > 9 && name.substr(name.size() - 9) == ".obsolete")
            retiredReal.insert(name);
    for (const std::string& path : plan.retired) retiredPlanned.insert(fs::path(path).filename().string() + ".obsolete");
    for (const auto& [path, aside] : plan.setAside) retiredPlanned.insert(fs::path(aside).filename().string());
    EXPECT_EQ(retiredPlanned, retiredReal);

    const std::string log = Log();
    EXPECT_EQ(plan.duplicatesOverwritten + plan.duplicatesFixed,
              static_cast<long>(Count(log, " - Duplicate entries detected!")));
    EXPECT_EQ(plan.duplicatesFixed, static_cast<long>(Count(log, " - Duplicate reference found: creating new reference")));
    EXPECT_EQ(plan.unreferencedSkipped, static_cast<long>(Count(log, "Unreferenced empty document: skipping")));
    EXPECT_EQ(plan.unreferencedRepaired, static_cast<long>(Count(log, "Unreferenced: creating new entry")));

    for (const auto& f : plan.files) {
        if (std::find(plan.retired.begin(), plan.retired.end(), f.path) != plan.retired.end()) continue;
        ASSERT_TRUE(fs::exists(f.path)) << f.path;
        const std::int64_t pages = PageCount(f.path, a->password);
        RecordProperty("pages_off_" + fs::path(f.path).filename().string(), static_cast<int>(f.after / 16384 - pages));
        EXPECT_NEAR(static_cast<double>(f.after / 16384), static_cast<double>(pages), plan.pageTolerance) << f.path;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Archives, ReorganizePlanMatchesRun,
    ::testing::Values(
        PlanCase{"several_small_ones_pack_into_one",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2, 3}, 3000);
                     t.SubWith(2, {4, 5}, 5000);
                     t.SubWith(3, {6}, 7000);
                     t.SubWith(4, {7, 8, 9}, 2000);
                 }},
        PlanCase{"a_small_capacity_switches_destinations",
                 [](ReorganizePlanTest& t) {
                     for (long n = 1; n <= 5; ++n) t.SubWith(n, {10 * n, 10 * n + 1}, 20000);
                 },
                 100'000},
        PlanCase{"the_switch_falls_in_the_middle_of_a_source",
                 [](ReorganizePlanTest& t) {
                     t.Many(1, 2, 3, 9000);
                     t.Many(2, 100, 40, 9000);
                     t.Many(3, 200, 40, 9000);
                 },
                 400'000},
        PlanCase{"many_rows_in_several_batches",
                 [](ReorganizePlanTest& t) {
                     t.Many(1, 2, 300, 500);
                     t.Many(2, 1000, 700, 800);
                     t.Many(3, 3000, 10, 70000);
                 }},
        PlanCase{"duplicate_of_equal_size_is_overwritten",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {5}, 4000);
                     t.Pictures(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, randomblob(4000))");
                 }},
        PlanCase{"empty_duplicate_is_overwritten",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {5}, 4000);
                     t.Pictures(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, x'')");
                 }},
        PlanCase{"different_duplicate_becomes_a_fixed_document",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {5, 6}, 4000);
                     t.Pictures(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, randomblob(3000))");
                 }},
        PlanCase{"unreferenced_rows_skipped_and_repaired",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {3}, 1000);
                     t.Pictures(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (40, x'')");
                     t.Pictures(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (41, randomblob(500))");
                 }},
        PlanCase{"one_sub_database", [](ReorganizePlanTest& t) { t.SubWith(1, {2, 3}, 5000); }},
        PlanCase{"no_sub_database", [](ReorganizePlanTest&) {}},
        PlanCase{"renumbered_before_the_moves",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(3, {4, 5}, 2000);
                     t.a->sub(4, {});
                 }},
        PlanCase{"a_read_only_sub_database_is_no_refusal",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {3}, 1000);
                     fs::permissions(t.Sub(2), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                                     fs::perm_options::remove);
                 }},
        PlanCase{"a_missing_file_is_refused",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {3}, 1000);
                     fs::remove(t.Sub(2));
                 }},
        PlanCase{"a_stored_path_not_standard_is_refused",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {3}, 1000);
                     // Listed twice: the renumbering stops, the list keeps a path that is not the standard one.
                     t.a->exec("INSERT INTO DATABASES (ID, DATABASE) VALUES (3, " +
                               ArchiveBuilder::SqlText(t.Sub(2)) + ")");
                     t.a->exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (9, 1, 0, 'x', 7)");
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReorganizePlanTest, ThePlanChangesNoByteModeOrTime) {
    SubWith(1, {2}, 1000);
    SubWith(2, {5, 6}, 4000);
    SubWith(4, {7}, 4000);
    a->sub(5, {});
    Pictures(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, randomblob(3000))");
    Pictures(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (40, x'')");
    fs::permissions(Sub(2), fs::perms::owner_write, fs::perm_options::remove);
    Open();
    WriteLog("opened");
    const auto files = Everything(dir.path());

    ReorganizePlan plan;
    ASSERT_TRUE(db->PlanReorganize(plan));
    const std::string text = DescribePlan(plan);

    EXPECT_EQ(Everything(dir.path()), files);
    EXPECT_TRUE(plan.refusal.empty()) << plan.refusal;
    EXPECT_FALSE(plan.renumbered.empty());
    EXPECT_FALSE(plan.moves.empty());
    EXPECT_NE(text.find(Sub(2)), std::string::npos) << text;
}

TEST_F(ReorganizePlanTest, TooLittleFreeSpaceIsTheRefusal) {
    SubWith(1, {2}, 1000);
    SubWith(2, {3}, 1000);
    Open();
    g_freeSpace = 1000;
    ReorganizePlan plan;
    ASSERT_TRUE(db->PlanReorganize(plan));
    db->Reorganize();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(plan.refusal, window.boxes[0].text);
    EXPECT_NE(DescribePlan(plan).find(plan.refusal), std::string::npos);
}

// The command line: the description, or the plan as JSON; nothing asked, nothing changed.
TEST_F(ReorganizePlanTest, TheCommandPrintsThePlanAndChangesNothing) {
    SubWith(1, {2, 3}, 3000);
    SubWith(2, {4, 5}, 5000);
    const auto files = Everything(dir.path());
    TempDir scratch;

    const CliRun text = RunCli("reorganize '" + a->main + "' --plan", scratch);
    const CliRun json = RunCli("reorganize '" + a->main + "' --plan --json", scratch);

    EXPECT_EQ(Everything(dir.path()), files);
    EXPECT_EQ(text.exit, 0) << text.err;
    EXPECT_NE(text.out.find("2 documenten"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(".obsolete"), std::string::npos) << text.out;
    ASSERT_EQ(json.exit, 0) << json.err;
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
    EXPECT_TRUE(o.value("refusal").isNull());
    EXPECT_EQ(o.value("documents_moved").toInt(), 2);
    EXPECT_EQ(o.value("bytes_moved").toInt(), 10000);
    ASSERT_EQ(o.value("moves").toArray().size(), 1);
    EXPECT_EQ(o.value("moves").toArray()[0].toObject().value("destination_id").toInt(), 1);
    EXPECT_EQ(o.value("retired").toArray().size(), 1);
}
