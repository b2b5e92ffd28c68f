// How a reorganize ends: every stop says why and is no success; a file set
// aside on purpose is never called missing; a journal left by a cut-off run
// is rolled back by the next open; document IDs at the ends of the 64-bit
// range are moved, checked and numbered without overflow.
#include "database/checks/ResultCodes.h"
#include "database/maintenance/LeftoverJournals.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/CliRunner.h"
#include "tests/core/ReorganizeFixture.h"

#include <limits>

using namespace qx;
using namespace qx::test;
using namespace qx::test::reorganize;

namespace {

constexpr long kMax = std::numeric_limits<long>::max();
constexpr long kMin = std::numeric_limits<long>::min();

struct StopCase {
    const char* name;
    void (*damage)(Reorganize&);  // after the archive is built, before it is opened
    const char* reason;           // part of the reason left for the caller
};
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class ReorganizeStops : public Reorganize, public ::testing::WithParamInterface<StopCase> {
public:
    using Reorganize::Pictures;
    using Reorganize::Sub;
    std::unique_ptr<ArchiveBuilder>& builder() { return a; }
    CancellingWindow& win() { return window; }
};

}  // namespace

// A run that stops before it is done leaves its reason, so that no caller
// reports it as done; nothing has moved.
TEST_P(ReorganizeStops, TheRunLeavesItsReasonAndMovesNothing) {
    const StopCase& c = GetParam();
    SubWith(1, {2}, 1000);
    SubWith(2, {3}, 1000);
    c.damage(static_cast<Reorganize&>(*this));
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    Open();

    db->Reorganize();

    EXPECT_NE(db->m_sReorganizeStop.find(c.reason), std::string::npos) << db->m_sReorganizeStop;
    EXPECT_EQ(TakeSnapshot(a->main).documents, before.documents);
    EXPECT_TRUE(window.enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReorganizeStops,
    ::testing::Values(
        StopCase{"too_little_free_space", [](Reorganize&) { g_freeSpace = 1000; }, "100 MB"},
        StopCase{"stored_path_not_the_standard_one",
                 [](Reorganize& t) {
                     static_cast<ReorganizeStops&>(t).builder()->exec(
                         "UPDATE DATABASES SET DATABASE = '/elders/Kantoor_2.pdb' WHERE ID = 2");
                 },
                 "wijkt af van het verwachte pad"},
        StopCase{"listed_sub_database_without_a_file",
                 [](Reorganize& t) {
                     auto& self = static_cast<ReorganizeStops&>(t);
                     self.builder()->exec("INSERT INTO DATABASES (ID, DATABASE) VALUES (3, " +
                                          ArchiveBuilder::SqlText(self.Sub(3)) + ")");
                     self.builder()->exec(
                         "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (9, 1, 0, 'x', 3)");
                 },
                 "niet gevonden"}),
    [](const auto& info) { return std::string(info.param.name); });

// A stop reaches the command line as exit code 8, said in Dutch with what to
// do; the log's own words follow on an indented line of their own.
TEST(ReorganizeCommandEnds, AStopExitsWithEightAndSaysWhyInDutch) {
    const struct {
        const char* name;
        const char* failpoints;  // "" for none
        bool subWithoutFile;
        const char* says;      // in the Dutch line
        const char* logWords;  // in the indented line below it
    } cases[] = {
        {"a listed sub database without a file", "", true,
         "gestopt: het archief kon niet verder worden gereorganiseerd", "niet gevonden"},
        {"the disk fills while the copies are saved", "reorganize.copied@1=enospc", false,
         "gestopt: de schijf is vol. Maak ten minste", "saving the copies"},
        {"a write error while the copies are saved", "reorganize.copied@1=eio", false,
         "gestopt: het archief kon niet verder worden gereorganiseerd", "saving the copies"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ArchiveBuilder a(dir.path());
        a.sub(1, {2}).sub(2, {3});
        if (c.subWithoutFile) {
            a.exec("INSERT INTO DATABASES (ID, DATABASE) VALUES (3, " +
                   ArchiveBuilder::SqlText(SubDatabaseName(a.main, 3)) + ")");
            a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (9, 1, 0, 'x', 3)");
        }
        if (*c.failpoints) setenv("QUILLEX_FAILPOINTS", c.failpoints, 1);
        const CliRun r = RunCli("reorganize --yes " + ShellQuote(a.main), dir);
        unsetenv("QUILLEX_FAILPOINTS");

        EXPECT_EQ(r.exit, 8) << r.out << r.err;
        const std::string lead = "quillex-cli: gestopt: ";
        const std::size_t at = r.err.find(lead);
        ASSERT_NE(at, std::string::npos) << r.err;
        const std::size_t end = r.err.find('\n', at);
        const std::string line = r.err.substr(at, end - at);
        const std::string next = r.err.substr(end + 1, r.err.find('\n', end + 1) - end - 1);
        EXPECT_NE(line.find(c.says), std::string::npos) << line;
        for (const char* english : {"checking", "saving", "while", "the archive", "reading"})
            EXPECT_EQ(line.find(english), std::string::npos) << english << " in: " << line;
        EXPECT_TRUE(next.starts_with("    ")) << next;
        EXPECT_NE(next.find(c.logWords), std::string::npos) << next;
    }
}

// A sub database a cut-off reorganize emptied and set aside, still listed
// but referred to by no document, is where the change meant it to be: the
// next open does not call it missing.
TEST_F(Reorganize, ASubDatabaseSetAsideOnPurposeIsNotCalledMissing) {
    SubWith(1, {2, 3}, 1000);
    a->sub(2, {});
    fs::rename(Sub(2), Sub(2) + ".obsolete");
    Open();

    EXPECT_TRUE(db->ManagePdbList(ListId::Picbases));

    EXPECT_TRUE(window.boxes.empty()) << window.boxes.front().text;
    EXPECT_NE(Log().find("was emptied and set aside"), std::string::npos);
}

// A journal a cut-off run left beside a sub database is played back through
// the engine when the archive is next opened, before the open sets that sub
// database aside (which would part the journal from its file for good).
TEST(LeftoverJournal, TheNextOpenRollsItBackBeforeTheFileIsSetAside) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2}).sub(2, {});
    const std::string sub2 = SubDatabaseName(a.main, 2), journal = sub2 + "-journal";
    a.execIn(2, "WITH RECURSIVE n(v) AS (SELECT 100 UNION ALL SELECT v + 1 FROM n WHERE v < 400) "
                "INSERT INTO PICTURES (ID, PICTURE) SELECT v, randomblob(3000) FROM n");
    {
        // A change under way, its pages spilled into the file: the file and
        // its journal as a crash leaves them.
        sql::Error err;
        sql::Database db = sql::Database::open(qx::RealEnv(), sub2, engine::PasswordBytes(a.password), sql::OpenMode::ReadWrite, err);
        ASSERT_TRUE(db.exec("PRAGMA cache_size = 2", &err)) << err.message;
        ASSERT_TRUE(db.exec("BEGIN; DELETE FROM PICTURES WHERE ID % 2 = 0", &err)) << err.message;
        ASSERT_TRUE(fs::exists(journal));
        fs::copy_file(sub2, dir.file("cut.pdb"));
        fs::copy_file(journal, dir.file("cut.journal"));
        ASSERT_TRUE(db.exec("ROLLBACK", &err)) << err.message;
    }
    fs::remove(sub2);
    fs::rename(dir.file("cut.pdb"), sub2);
    fs::rename(dir.file("cut.journal"), journal);
    ASSERT_GT(fs::file_size(journal), 0u);

    const CliRun r = RunCli("open --yes " + ShellQuote(a.main), dir);

    EXPECT_TRUE(r.exit == 0 || r.exit == 4) << r.out << r.err;
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().string().find("-journal"), std::string::npos) << e.path() << " is left";
    // Wherever the open put the file, it holds every row again.
    std::string file = sub2;
    if (!fs::exists(file)) file = sub2 + ".obsolete";
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), file, engine::PasswordBytes(a.password), sql::OpenMode::ReadOnly, err);
    sql::Statement st(db, "SELECT count(*) FROM PICTURES");
    ASSERT_EQ(st.step(), sql::Step::Row) << err.message;
    EXPECT_EQ(st.getInt64(0), 301);
    EXPECT_NE(Slurp(LogFileNameFor(a.main)).find("was rolled back"), std::string::npos);
}

// A journal whose header was never completed (the run stopped before the
// journal reached the disk, so its file was not touched yet) is no change to
// roll back; the engine retires it at the next open, whichever file of the
// archive it lies beside, and the file keeps every row.
TEST(LeftoverJournal, OneNeverCompletedIsRetiredBesideEveryFileOfTheArchive) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2, 3});
    const std::string sub1 = SubDatabaseName(a.main, 1);
    const test::ArchiveSnapshot before = test::TakeSnapshot(a.main);
    const std::vector<std::string> journals = {a.main + "-journal", sub1 + "-journal",
                                               dir.file("Kantoor20261207152701.bak-journal")};
    for (const std::string& journal : journals) std::ofstream(journal) << std::string(4096, '\0');
    // A backup file killed while it was being made: still empty.
    std::ofstream(dir.file("Kantoor20261207152701.bak")).flush();

    EXPECT_EQ(RollBackLeftoverJournals(qx::RealEnv(), a.main, a.password), 3);

    for (const std::string& journal : journals) EXPECT_FALSE(fs::exists(journal)) << journal << " is left";
    EXPECT_EQ(test::TakeSnapshot(a.main).documents, before.documents);
}

// A journal is never deleted blindly: one without its file stays.
TEST(LeftoverJournal, OneWithoutItsFileStays) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2});
    const std::string orphan = SubDatabaseName(a.main, 5) + "-journal";
    { std::ofstream(orphan) << "not ours to delete"; }

    EXPECT_EQ(RollBackLeftoverJournals(qx::RealEnv(), a.main, a.password), 0);

    EXPECT_EQ(Slurp(orphan), "not ours to delete");
}

// Document IDs at the ends of the 64-bit range: moved and checked like any
// other; a new number is never made past the highest one.
struct EdgeCase {
    const char* name;
    std::vector<long> ids;  // documents of sub database 2, moved into 1
    long strayId;           // 0: none; else a row with other data under this ID in sub database 1
    bool stops;             // no number left for the other row
};
void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.name; }
class ReorganizeEdgeIds : public Reorganize, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(ReorganizeEdgeIds, MovedWithoutOverflow) {
    const EdgeCase& c = GetParam();
    SubWith(1, {2}, 1000);
    a->sub(2, {});
    for (const long id : c.ids) {
        a->exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (" + std::to_string(id) +
                ", 1, 0, 'edge', 2)");
        Pictures(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(id) + ", randomblob(700))");
    }
    if (c.strayId) Pictures(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(c.strayId) +
                                   ", randomblob(900))");
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    Open();

    db->Reorganize();

    const ArchiveSnapshot after = TakeSnapshot(a->main);
    EXPECT_EQ(after.documents, before.documents);
    EXPECT_EQ(db->m_sReorganizeStop.find("no document number is left") != std::string::npos, c.stops)
        << db->m_sReorganizeStop;
    if (c.stops) return;
    EXPECT_EQ(RowsIn(Sub(2) + ".obsolete").size(), 0u);
    for (const auto& [id, databaseId] : Main("SELECT ID, DATABASEID FROM FOLDERS WHERE NOT ISFOLDER"))
        EXPECT_EQ(databaseId, "1") << "document " << id;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReorganizeEdgeIds,
    ::testing::Values(EdgeCase{"highest_ids", {kMax - 1, kMax}, 0, false},
                      EdgeCase{"lowest_and_zero", {kMin, kMin + 1, -5, 0}, 0, false},
                      EdgeCase{"both_ends", {kMin, kMax}, 0, false},
                      EdgeCase{"no_number_left_for_a_new_document", {kMax}, kMax, true}),
    [](const auto& info) { return std::string(info.param.name); });

// The checks read the sizes of a sub database whose IDs span the whole range.
TEST(EdgeIdsCheck, ANormalCheckFindsNothingWrong) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {kMin, -1, 7, kMax});

    const CliRun r = RunCli("check --normal --yes " + ShellQuote(a.main), dir);

    EXPECT_EQ(r.exit, 0) << r.out << r.err;
}
