// Reorganizing: the stored data packed into as few sub databases as
// possible, every document keeping its bytes; duplicates and unreferenced
// rows met on the way; emptied files retired as ".obsolete"; a report-only
// run that tells the same and changes nothing; the start checks.
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/ReorganizeFixture.h"

#include <algorithm>

using namespace qx;
using namespace qx::test;
using namespace qx::test::reorganize;


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

// Cut off when a full destination is left, before the rows moved into it
// are deleted from their source: the next run starts again at that
// destination, meets them there and leaves each document in one place.
TEST_F(Reorganize, ACutOffAtAFullDestinationLeavesEveryDocumentInOnePlaceAfterTheNextRun) {
    for (long n = 1; n <= 5; ++n) SubWith(n, {10 * n, 10 * n + 1, 10 * n + 2}, 20000);
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    Open();
    db->m_nReorganizeCapacity = 150'000;
    failpoints::Arm("reorganize.emptying", 1, FailAction::IoError);

    db->Reorganize();
    ASSERT_FALSE(db->m_sReorganizeStop.empty()) << Log();
    EXPECT_EQ(TakeSnapshot(a->main).documents, before.documents);
    failpoints::Reset();
    db->Reorganize();

    EXPECT_TRUE(db->m_sReorganizeStop.empty()) << db->m_sReorganizeStop;
    EXPECT_EQ(TakeSnapshot(a->main).documents, before.documents);
    std::size_t rows = 0;
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path().string().find(".pdb") != std::string::npos) rows += RowsIn(e.path().string()).size();
    EXPECT_EQ(rows, 15u);
}

// Two rows under one ID in two sub databases: the document's row is the one
// its DATABASEID names, wherever the move meets the other. The document
// keeps its bytes; the other row, when it holds data no one else has, becomes
// a document "Fixed N" of its own; an empty one, or a copy of the document's
// own bytes, is left behind.
struct DuplicateCase {
    const char* name;
    long own;              // the sub database document 50 is linked to and stored in
    const char* ownValue;  // its bytes (SQL)
    long stray;            // the sub database holding the other row with ID 50
    const char* strayValue;
    bool fixed;            // the other row's bytes become a document "Fixed N"
};
void PrintTo(const DuplicateCase& c, std::ostream* os) { *os << c.name; }

class ReorganizeDuplicate : public Reorganize, public ::testing::WithParamInterface<DuplicateCase> {};

TEST_P(ReorganizeDuplicate, TheDocumentKeepsItsOwnRowAndTheOtherRowIsNeverLost) {
    const DuplicateCase& c = GetParam();
    // Sources are emptied from the highest: 3, then 2, into 1.
    SubWith(1, {2}, 1000);
    SubWith(2, {3}, 1000);
    SubWith(3, {4}, 1000);
    a->exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (50, 1, 0, 'Brief', " +
            std::to_string(c.own) + ")");
    Pictures(c.own, std::string("INSERT INTO PICTURES (ID, PICTURE) VALUES (50, ") + c.ownValue + ")");
    Pictures(c.stray, std::string("INSERT INTO PICTURES (ID, PICTURE) VALUES (50, ") + c.strayValue + ")");
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    std::string strayBytes;
    for (const auto& [id, sha] : before.dataRows)
        if (id == 50 && sha != before.documents.at(50)) strayBytes = sha;
    Open();

    db->Reorganize();

    EXPECT_TRUE(db->m_sReorganizeStop.empty()) << db->m_sReorganizeStop;
    const ArchiveSnapshot after = TakeSnapshot(a->main);
    for (const auto& [id, sha] : before.documents) EXPECT_EQ(after.documents.at(id), sha) << "document " << id;
    // No stored bytes are lost: every non-empty row leads somewhere.
    std::set<std::string> reachable;
    for (const auto& [id, sha] : after.documents) reachable.insert(sha);
    for (const auto& [id, sha] : before.dataRows) EXPECT_TRUE(reachable.count(sha)) << "row " << id;
    const auto fixedRows = Main("SELECT ID, NAME FROM FOLDERS WHERE NAME LIKE 'Fixed %'");
    if (!c.fixed) {
        EXPECT_TRUE(fixedRows.empty());
        EXPECT_TRUE(window.lists[ListId::Documents].empty());
        return;
    }
    ASSERT_EQ(fixedRows.size(), 1u);
    const long newId = fixedRows.begin()->first;
    EXPECT_EQ(fixedRows.begin()->second, "Fixed " + std::to_string(newId));
    EXPECT_EQ(after.documents.at(newId), strayBytes);
    const std::string log = Log();
    EXPECT_NE(log.find("Reorganize: 50 - Duplicate reference found: creating new reference"), std::string::npos);
    EXPECT_NE(log.find("Reorganize: New entry created: " + std::to_string(newId)), std::string::npos);
    ASSERT_EQ(window.lists[ListId::Documents].size(), 1u);
    EXPECT_EQ(window.lists[ListId::Documents][0].tag, 2052);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReorganizeDuplicate,
    ::testing::Values(
        // The document's row waits in the destination; the other row comes in.
        DuplicateCase{"own_row_in_destination_other_data_comes_in", 1, "randomblob(4096)", 3, "randomblob(6642)", true},
        DuplicateCase{"own_row_in_destination_same_size_comes_in", 1, "randomblob(4096)", 3, "randomblob(4096)", true},
        DuplicateCase{"own_row_in_destination_empty_row_comes_in", 1, "randomblob(4096)", 3, "x''", false},
        DuplicateCase{"own_row_in_destination_its_copy_comes_in", 1, "zeroblob(4096)", 3, "zeroblob(4096)", false},
        // The document's row comes in; the other row waits in the destination.
        DuplicateCase{"own_row_comes_in_other_data_waits", 3, "randomblob(4000)", 1, "randomblob(3000)", true},
        DuplicateCase{"own_row_comes_in_same_size_other_bytes_wait", 3, "randomblob(4000)", 1, "randomblob(4000)",
                      true},
        DuplicateCase{"own_row_comes_in_empty_row_waits", 3, "randomblob(4000)", 1, "x''", false},
        DuplicateCase{"own_row_comes_in_its_copy_waits", 3, "zeroblob(4000)", 1, "zeroblob(4000)", false},
        // Neither is in the destination: the other row comes first.
        DuplicateCase{"own_row_in_a_later_source_other_data_comes_first", 2, "randomblob(4096)", 3, "randomblob(3000)",
                      true},
        DuplicateCase{"own_row_in_a_later_source_empty_row_comes_first", 2, "randomblob(4096)", 3, "x''", false}),
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
    // What was moved is gone from its old place.
    std::size_t rows = 0;
    for (long n : {1, 2, 3}) rows += RowsIn(Sub(n)).size();
    EXPECT_EQ(rows, 7u);
}

// A sub database moved out whole is compacted without reading its rows: the
// compaction leaves them out. When that cannot be done, or another program
// wrote the file during the move, the moved rows are deleted one by one and
// the file is compacted as usual; a row the move did not take stays.
struct EmptiedCase {
    const char* name;
    const char* failpoint;  // armed for its first hit: the destination, unchanged, is not copied
    bool otherProgramWrites;
    bool leftOut;
};
void PrintTo(const EmptiedCase& c, std::ostream* os) { *os << c.name; }
class ReorganizeEmptied : public Reorganize, public ::testing::WithParamInterface<EmptiedCase> {};

TEST_P(ReorganizeEmptied, ASourceMovedOutWholeIsCompactedWithoutItsRows) {
    const EmptiedCase& c = GetParam();
    SubWith(1, {2}, 1000);
    SubWith(2, {3, 4}, 3000);
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    Open();
    if (c.failpoint) failpoints::Arm(c.failpoint, 1, FailAction::IoError);
    if (c.otherProgramWrites)
        window.everyTurn = [&] {
            if (RowsIn(Sub(1)).size() < 3) return false;  // not before the move has copied the rows
            sql::Error err;
            sql::Database other =
                sql::Database::open(qx::RealEnv(), Sub(2), engine::PasswordBytes(a->password), sql::OpenMode::ReadWrite, err);
            // Refused while the move holds the file; tried again at the next turn.
            return other.exec("PRAGMA busy_timeout = 0; INSERT INTO PICTURES (ID, PICTURE) VALUES (99, x'0909')");
        };

    db->Reorganize();

    EXPECT_TRUE(db->m_sReorganizeStop.empty()) << db->m_sReorganizeStop;
    EXPECT_EQ(TakeSnapshot(a->main).documents, before.documents);
    // The copy that took the file's place: the engine's last one of it.
    const std::string log = Log(), copied = "Compact engine: " + Sub(2) + " copied to";
    const std::size_t last = log.rfind(copied);
    const std::size_t skipped = log.rfind("Compact: " + Sub(2) + " is already compact");
    if (skipped != std::string::npos && (last == std::string::npos || skipped > last)) {
        // Its rows deleted one by one, the file had nothing a copy could win.
        EXPECT_FALSE(c.leftOut) << log;
    } else {
        ASSERT_NE(last, std::string::npos) << log;
        const std::string line = log.substr(last, log.find('\n', last) - last);
        EXPECT_EQ(line.find("rows of PICTURES left out") != std::string::npos, c.leftOut) << line;
    }
    EXPECT_EQ(RowsIn(Sub(2) + ".obsolete"), c.otherProgramWrites ? std::vector<long>{99} : std::vector<long>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, ReorganizeEmptied,
                         ::testing::Values(EmptiedCase{"moved_out_whole", nullptr, false, true},
                                           EmptiedCase{"its_copy_fails", "compact.copying", false, false},
                                           EmptiedCase{"its_swap_fails", "compact.set_aside", false, false},
                                           EmptiedCase{"another_program_adds_a_row", nullptr, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

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

// A document larger than the room left, or than the whole capacity, moves
// whole into the destination it meets; the documents after it go on to the next.
struct LargeCase {
    const char* name;
    std::vector<std::pair<long, int>> last;  // documents of sub database 3 (the first moved), with their sizes
    std::map<long, std::string> after;       // every document -> its DATABASEID after the run
};

void PrintTo(const LargeCase& c, std::ostream* os) { *os << c.name; }

class ReorganizeLarge : public Reorganize, public ::testing::WithParamInterface<LargeCase> {};

TEST_P(ReorganizeLarge, MovesWholeAndTheDocumentsAfterItGoToTheNextDestination) {
    const LargeCase& c = GetParam();
    SubWith(1, {2}, 1000);
    SubWith(2, {3}, 1000);
    a->sub(3, {});
    for (const auto& [id, size] : c.last) {
        a->exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (" + std::to_string(id) +
                ", 1, 0, 'doc', 3)");
        Pictures(3, "INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(id) + ", randomblob(" +
                        std::to_string(size) + "))");
    }
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    Open();
    db->m_nReorganizeCapacity = 64 * 1024;

    db->Reorganize();

    EXPECT_TRUE(db->m_sReorganizeStop.empty()) << db->m_sReorganizeStop;
    EXPECT_EQ(TakeSnapshot(a->main).documents, before.documents);
    EXPECT_EQ(Main("SELECT ID, DATABASEID FROM FOLDERS WHERE NOT ISFOLDER"), c.after);
    EXPECT_TRUE(fs::exists(Sub(3) + ".obsolete"));
}

constexpr int kLarge = 200 * 1024;  // beyond the capacity of 64 KiB the cases use

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

// A destination is copied before the move only when a copy could make it
// smaller: one that nothing changed is left as it is, one with free pages is
// copied.
TEST_F(Reorganize, TheDestinationIsCopiedBeforeTheMoveOnlyWhenThatShrinksIt) {
    struct Case {
        const char* name;
        bool freePages;
        bool copiedBeforeMove;
    } cases[] = {{"unchanged_destination", false, false}, {"destination_with_free_pages", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        for (const auto& e : fs::directory_iterator(dir.path())) fs::remove_all(e.path());
        SetUp();
        SubWith(1, {2, 3}, 3000);
        SubWith(2, {4, 5}, 5000);
        if (c.freePages)
            Pictures(1, "CREATE TABLE scratch (x BLOB); INSERT INTO scratch VALUES (randomblob(100000)); "
                        "DROP TABLE scratch;");
        const ArchiveSnapshot before = TakeSnapshot(a->main);
        Open();
        EXPECT_TRUE(db->Reorganize());
        EXPECT_EQ(TakeSnapshot(a->main).documents, before.documents);
        const std::string log = Log();
        const std::size_t moved = log.find("Reorganize: switching to new source sub database");
        ASSERT_NE(moved, std::string::npos) << log;
        const std::string beforeMove = log.substr(0, moved);
        EXPECT_EQ(beforeMove.find("Compact: " + Sub(1) + " is already compact") != std::string::npos,
                  !c.copiedBeforeMove)
            << beforeMove;
        EXPECT_EQ(beforeMove.find("Compact engine: copying " + Sub(1)) != std::string::npos, c.copiedBeforeMove)
            << beforeMove;
    }
}
