// Crash tests of the repairing commands. Each command runs once with a trace
// of the failpoints it passes (learning their number T) and to its end (the
// finished state). Then, for a sample of k in 1..T (every point name once
// and a spread), on a fresh copy of the archive: the command is killed at
// its k-th point, or its k-th point fails with a full disk or an I/O error,
// or (with strace) it is killed inside its k-th commit before the journal is
// deleted; the archive is opened again (the recovery) and nothing may be
// lost; the command then runs to its end and must arrive at the finished
// state.
//
// For tools/crash-sweep.sh: QUILLEX_CRASH_DOCUMENTS=N writes samples of N
// documents instead of tens, QUILLEX_CRASH_ALL_FAULTS=1 puts every fault in
// every sample, QUILLEX_CRASH_KNOWN_FAULTS=1 also runs the cases skipped for
// a fault that is known and being worked on, QUILLEX_CRASH_MAX_POINTS=0
// tries every point and =n about n per case, spread evenly.
#include "database/access/FileNames.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/CrashRunner.h"
#include "tests/core/TestUtil.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace qx {
namespace {

namespace fs = std::filesystem;
using test::ArchiveSnapshot;
using test::Environment;
using test::Findings;
using test::Lines;
using test::Outcome;
using test::RunCli;
using test::RunProgram;
using test::Slurp;
using test::StracePath;
using test::TakeSnapshot;

// ------------------------------------------------------------ the invariants
//
// The driver is only as good as its comparisons: each must see the loss it
// is there for, and accept what an unfinished or a finished change leaves.

struct InvariantCase {
    const char* name;
    std::map<long, std::string> now;  // document -> bytes after the recovery
    std::map<long, long> parentsNow;
    std::set<std::pair<long, std::string>> dataNow;
    long lost, stray, stranded;
};

void PrintTo(const InvariantCase& c, std::ostream* os) { *os << c.name; }

class CrashInvariants : public ::testing::TestWithParam<InvariantCase> {};

TEST_P(CrashInvariants, SeeLossAndAcceptBothEndStates) {
    const InvariantCase& c = GetParam();
    ArchiveSnapshot before, reference, now;
    before.documents = {{1, "aa"}, {2, "bb"}};
    before.parents = {{1, 10}, {2, 10}, {10, 0}};
    before.dataRows = {{1, "aa"}, {2, "bb"}};
    // The finished change rewrote document 2 and kept its old bytes as document 3.
    reference.documents = {{1, "aa"}, {2, "b2"}, {3, "bb"}};
    reference.parents = {{1, 11}, {2, 10}, {10, 0}, {11, 0}};
    now.documents = c.now;
    now.parents = c.parentsNow;
    now.dataRows = c.dataNow;
    EXPECT_EQ(test::LostDocuments(before, reference, now).count, c.lost);
    EXPECT_EQ(test::StrayParents(before, reference, now).count, c.stray);
    EXPECT_EQ(test::StrandedData(before, now).count, c.stranded);
}

const std::map<long, long> kParentsBefore = {{1, 10}, {2, 10}, {10, 0}};
const std::set<std::pair<long, std::string>> kDataBefore = {{1, "aa"}, {2, "bb"}};

INSTANTIATE_TEST_SUITE_P(
    Cases, CrashInvariants,
    ::testing::Values(
        InvariantCase{"untouched", {{1, "aa"}, {2, "bb"}}, kParentsBefore, kDataBefore, 0, 0, 0},
        InvariantCase{"finished", {{1, "aa"}, {2, "b2"}, {3, "bb"}}, {{1, 11}, {2, 10}, {10, 0}, {11, 0}},
                      {{1, "aa"}, {3, "bb"}, {2, "b2"}}, 0, 0, 0},
        InvariantCase{"old_bytes_are_no_documents", {{1, "aa"}, {2, "b2"}}, kParentsBefore,
                      {{1, "aa"}, {3, "bb"}, {2, "b2"}}, 1, 0, 0},
        InvariantCase{"document_leads_nowhere", {{1, "aa"}}, kParentsBefore, kDataBefore, 2, 0, 0},
        InvariantCase{"document_leads_to_other_bytes", {{1, "zz"}, {2, "bb"}}, kParentsBefore, kDataBefore, 2, 0, 0},
        InvariantCase{"row_under_a_third_parent", {{1, "aa"}, {2, "bb"}}, {{1, 12}, {2, 10}, {10, 0}}, kDataBefore,
                      0, 1, 0},
        InvariantCase{"data_row_in_no_listed_file", {{1, "aa"}, {2, "bb"}}, kParentsBefore, {{1, "aa"}}, 0, 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Read from real files: a sub database renamed behind the archive's back
// strands its bytes and loses its documents; a stored path of another
// folder is found beside the main database, as the program finds it.
TEST(CrashSnapshot, ReadsTheArchiveAsTheProgramFindsIt) {
    test::TempDir dir;
    test::ArchiveBuilder a(dir.path());
    a.sub(1, {2, 3}).sub(2, {4}, "C:\\Elders\\Kantoor_2.pdb");
    const ArchiveSnapshot before = TakeSnapshot(a.main);
    ASSERT_TRUE(before.opened) << before.notes.front();
    EXPECT_EQ(before.documents.size(), 3u);
    EXPECT_EQ(before.dataRows.size(), 3u);
    EXPECT_EQ(before.parents.size(), 4u);  // the folder and three documents

    fs::rename(SubDatabaseName(a.main, 1), SubDatabaseName(a.main, 1) + ".obsolete");
    const ArchiveSnapshot now = TakeSnapshot(a.main);
    EXPECT_EQ(test::LostDocuments(before, before, now).count, 2);
    EXPECT_EQ(test::StrandedData(before, now).count, 2);
}

// ------------------------------------------------------------ the cases

// Cut: killed inside a commit, after the database and its journal were
// synced and before the journal is deleted. That is what a power cut leaves
// when the delete did not reach the disk: the next open rolls a commit back
// that the command went on from. No failpoint lies there; the system call
// tracer kills the program at its n-th file removal.
enum class Fault { Kill, NoSpace, IoError, Cut };

const char* FaultWord(Fault f) {
    switch (f) {
    case Fault::Kill: return "kill";
    case Fault::NoSpace: return "enospc";
    case Fault::IoError: return "eio";
    case Fault::Cut: return "cut";
    }
    return "?";
}

struct CommandCase {
    const char* name;
    std::vector<std::string> command;  // the archive's path goes last
    std::vector<std::string> faults;   // empty: every fault
    long documents;
    const char* damaged = nullptr;  // "sub" or "main": a page of that file is damaged first
};

const CommandCase kCommands[] = {
    {"Open", {"open", "--yes"}, {"sub-database-number-gaps", "unreferenced-sub-database"}, 40},
    {"CheckNormal", {"check", "--normal", "--yes"}, {}, 70},
    {"RepairMultipage", {"repair-multipage", "--yes"}, {"orphan-page-no-container", "orphan-page-container-not-mp"}, 40},
    // The main database's swap is the one that frees the archive's own name
    // for a moment; a sub database's swap passes the same points (the
    // compaction tests refuse each of them in turn).
    {"Compact", {"compact", "--main", "--omd", "--yes"}, {"data-in-other-sub-database", "parent-missing"}, 40},
    // Backups, storage-format repairs and the trash conversion.
    {"CheckThorough", {"check", "--thorough", "--yes"},
     {"double-byte-pdf", "zero-upper-half", "worked-example-pdf", "no-trash-support", "truncated-jpeg"}, 40},
    // Rows moved between sub databases in two commits each batch, each
    // source emptied by a compaction without its rows and retired; rows
    // without a document met on the way.
    {"Reorganize", {"reorganize", "--yes"}, {"unreferenced-empty-data", "unreferenced-data", "same-id-different-data"}, 30},
    // A damaged page: the readable rows into a fresh copy that takes the
    // file's place, the damaged file kept aside.
    {"Salvage", {"salvage", "--yes"}, {"unreferenced-data"}, 40, "sub"},
    // A page of FOLDERS: the records that read into a fresh main database,
    // the documents whose record was lost back as "Repaired document".
    {"SalvageMain", {"salvage", "--yes"}, {"unreferenced-data"}, 500, "main"},
};

// Cases that fail for a fault that is known and being worked on; they are
// skipped with the reason unless QUILLEX_CRASH_KNOWN_FAULTS is set.
struct KnownFault {
    const char* command;
    Fault fault;
    const char* reason;
};
// Faults the driver knows of and that are not repaired yet: listed here with
// the reason, skipped unless QUILLEX_CRASH_KNOWN_FAULTS is set.
const std::vector<KnownFault> kKnownFaults = {};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }
void PrintTo(Fault f, std::ostream* os) { *os << FaultWord(f); }

using CrashParam = std::tuple<CommandCase, Fault>;

std::string CrashName(const ::testing::TestParamInfo<CrashParam>& info) {
    return std::string(std::get<0>(info.param).name) + "_" + FaultWord(std::get<1>(info.param));
}

// The points of a case to try, 1-based, from the names of the points the
// command passes in order. `most` 0: every point; n > 0: about n spread
// evenly; none (the test command): the first hit of every point name and
// kSpread more spread evenly. The last point is always tried.
constexpr int kSpread = 6;

std::vector<int> PointsToTry(const std::vector<std::string>& names, std::optional<int> most) {
    const int last = static_cast<int>(names.size());
    std::set<int> chosen;
    if (last == 0) return {};
    const int spread = most ? *most : kSpread;
    const int step = spread > 0 && last > spread ? (last + spread - 1) / spread : 1;
    for (int k = 1; k <= last; k += step) chosen.insert(k);
    if (!most) {
        std::set<std::string> seen;
        for (int k = 1; k <= last; ++k)
            if (seen.insert(names[k - 1]).second) chosen.insert(k);
    }
    chosen.insert(last);
    return {chosen.begin(), chosen.end()};
}

std::optional<int> MostPoints() {
    const char* limit = std::getenv("QUILLEX_CRASH_MAX_POINTS");
    if (!limit) return std::nullopt;
    return std::max(0, std::atoi(limit));
}

TEST(CrashSample, TriesEveryKindOfPointAndASpreadButNotEveryHit) {
    const std::vector<std::string> trace = {"a", "b", "a", "a", "a", "a", "a", "a", "a", "a", "a", "a", "c", "a"};
    struct Case {
        const char* name;
        std::vector<std::string> names;
        std::optional<int> most;
        std::vector<int> expected;
    } cases[] = {
        {"every name once, a spread and the last", trace, std::nullopt, {1, 2, 4, 7, 10, 13, 14}},
        {"every point", trace, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
        {"about n spread evenly", trace, 3, {1, 6, 11, 14}},
        {"fewer points than the spread", {"a", "a", "b"}, std::nullopt, {1, 2, 3}},
        {"no point", {}, std::nullopt, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(PointsToTry(c.names, c.most), c.expected) << c.name;
}

// From a trace of the program's removals (`strace -f -e trace=unlink`): the
// number, among the removals of its main thread (the one that makes the most),
// of each that deleted a journal, and the journal's name.
void JournalDeletes(const std::string& trace, std::vector<int>& removal, std::vector<std::string>& journals) {
    std::map<std::string, int> made;
    for (const std::string& line : Lines(trace)) ++made[line.substr(0, line.find(' '))];
    std::string main;
    for (const auto& [pid, n] : made)
        if (main.empty() || n > made[main]) main = pid;
    int n = 0;
    for (const std::string& line : Lines(trace)) {
        if (line.substr(0, line.find(' ')) != main || line.find("unlink(\"") == std::string::npos) continue;
        ++n;
        const std::size_t open = line.find('"'), close = line.find('"', open + 1);
        const std::string path = line.substr(open + 1, close - open - 1);
        if (path.size() > 8 && path.compare(path.size() - 8, 8, "-journal") == 0 && line.find(") = 0") != std::string::npos) {
            removal.push_back(n);
            journals.push_back(fs::path(path).filename().string());
        }
    }
}

// The system's words for a full disk or a failed read or write, as the
// program reports them in its log or on stderr.
const char* const kErrorWords[] = {"No space left on device", "database or disk is full", "Input/output error",
                                   "disk I/O error"};

class CrashTest : public ::testing::TestWithParam<CrashParam>, protected test::SampleUnderTest {
public:
    static void TearDownTestSuite() {
        std::printf("crash test: %ld kill points, %ld error points, %ld commit cuts, %ld documents lost\n",
                    s_killPoints, s_errorPoints, s_cutPoints, s_documentsLost);
        RecordProperty("kill_points", std::to_string(s_killPoints));
        RecordProperty("error_points", std::to_string(s_errorPoints));
        RecordProperty("commit_cuts", std::to_string(s_cutPoints));
        RecordProperty("documents_lost", std::to_string(s_documentsLost));
    }

protected:
    // testing::Test has a Run of its own.
    using test::SampleUnderTest::Run;

    void SetUp() override {
        const CommandCase& c = std::get<0>(GetParam());
        SampleOptions o;
        o.documents = test::SampleDocuments(c.documents);
        o.folders = 6;
        o.faults = c.faults;
        o.allFaults = c.faults.empty() || std::getenv("QUILLEX_CRASH_ALL_FAULTS");
        if (o.allFaults) o.faults.clear();
        std::string error;
        ASSERT_TRUE(WriteSample(o, error)) << error;
        if (c.damaged && c.damaged == std::string("sub")) DamageSubDatabasePage();
        if (c.damaged && c.damaged == std::string("main")) DamageMainDatabaseTable();
    }

    std::vector<std::string> Command() const {
        std::vector<std::string> args = std::get<0>(GetParam()).command;
        args.push_back(mainPath);
        return args;
    }

    // The command under the tracer, which records its file removals in
    // `log` and, for `kill` > 0, kills it at its kill-th removal (before the
    // removal is made).
    std::vector<std::string> Traced(const std::string& log, int kill) const {
        std::vector<std::string> args = {"-f", "-qq", "-o", log, "-e", "trace=unlink"};
        if (kill > 0) args.insert(args.end(), {"-e", "inject=unlink:signal=KILL:when=" + std::to_string(kill)});
        args.push_back(QX_CLI_PATH);
        for (const std::string& a : Command()) args.push_back(a);
        return args;
    }

    static inline long s_killPoints = 0, s_errorPoints = 0, s_cutPoints = 0, s_documentsLost = 0;
};

TEST_P(CrashTest, NothingIsLostAndTheCommandFinishesAfterwards) {
    const auto& [c, fault] = GetParam();
    for (const KnownFault& known : kKnownFaults)
        if (known.command == std::string(c.name) && known.fault == fault && !std::getenv("QUILLEX_CRASH_KNOWN_FAULTS"))
            GTEST_SKIP() << "known fault: " << known.reason;

    const ArchiveSnapshot before = TakeSnapshot(mainPath);
    ASSERT_TRUE(before.opened) << before.notes.front();
    ASSERT_FALSE(before.documents.empty());

    // The finished state, and the points on the way there.
    const std::string trace = root.file("trace");
    const std::string strace = fault == Fault::Cut ? StracePath() : std::string();
    if (fault == Fault::Cut && strace.empty()) GTEST_SKIP() << "strace is not installed (tools/setup.sh installs it)";
    Outcome first = fault == Fault::Cut ? RunProgram(strace, Traced(trace, 0), {}, root.path())
                                        : Run(Command(), {{"QUILLEX_FAILPOINT_TRACE", trace}});
    ASSERT_FALSE(first.signaled) << first.describe();
    // For a cut: the number of each commit's journal delete among the
    // program's removals, and the journal's name.
    std::vector<int> removal;
    std::vector<std::string> points;
    if (fault == Fault::Cut)
        JournalDeletes(Slurp(trace), removal, points);
    else
        points = Lines(Slurp(trace));
    if (fault == Fault::Cut && points.empty()) GTEST_SKIP() << "the command commits nothing through a journal";
    ASSERT_FALSE(points.empty()) << "the command passed no failpoint";
    const ArchiveSnapshot reference = TakeSnapshot(mainPath);
    ASSERT_TRUE(reference.opened);
    {
        const Findings lost = test::LostDocuments(before, reference, reference);
        const Findings stranded = test::StrandedData(before, reference);
        EXPECT_EQ(lost.count + stranded.count, 0) << "the uninterrupted command itself:\n"
                                                  << lost.text() << stranded.text();
    }
    const int T = static_cast<int>(points.size());
    RecordProperty("points", T);

    long lostHere = 0;
    for (const int k : PointsToTry(points, MostPoints())) {
        // The document check commits as the clock allows, so a run may pass
        // fewer points than the first one; such a run is tried again.
        const std::string traceK = root.file("trace-" + std::to_string(k));
        Outcome hit;
        std::vector<std::string> passed;
        bool reached = false;
        for (int attempt = 0; attempt < 3 && !reached; ++attempt) {
            Restore();
            fs::remove(traceK);
            if (fault == Fault::Cut) {
                hit = RunProgram(strace, Traced("/dev/null", removal[k - 1]), {}, root.path());
                reached = hit.signaled;
            } else {
                hit = Run(Command(), {{"QUILLEX_FAILPOINTS", "*@" + std::to_string(k) + "=" + FaultWord(fault)},
                                      {"QUILLEX_FAILPOINT_TRACE", traceK}});
                passed = Lines(Slurp(traceK));
                reached = static_cast<int>(passed.size()) >= k;
            }
        }
        if (!reached) {
            // Three runs in a row committed less often than the first: the
            // point was never reached, so nothing was injected to be named.
            EXPECT_FALSE(hit.signaled) << "k=" << k << ": " << hit.describe();
            continue;
        }
        const std::string point = fault == Fault::Cut ? points[k - 1] : passed[k - 1];
        SCOPED_TRACE("k=" + std::to_string(k) + " of " + std::to_string(T) + " at " + point + " (" +
                     FaultWord(fault) + ")");
        if (fault == Fault::Cut) {
            ++s_cutPoints;
            EXPECT_EQ(hit.signal, SIGKILL) << hit.describe();
        } else if (fault == Fault::Kill) {
            ++s_killPoints;
            EXPECT_TRUE(hit.signaled && hit.signal == SIGKILL)
                << "the command was to die at this point: " << hit.describe() << "; it passed " << passed.size()
                << " points (3 tries)";
        } else {
            ++s_errorPoints;
            EXPECT_FALSE(hit.signaled) << hit.describe();
            const std::string said = hit.err + Slurp(LogName(mainPath));
            bool clear = false;
            for (const char* words : kErrorWords) clear = clear || said.find(words) != std::string::npos;
            EXPECT_TRUE(clear) << "neither stderr nor the log names the error; " << hit.describe();
            // A refused write passes for success ("fine", "all repaired") only
            // when the command got round it and left what a run without the
            // error leaves.
            if (hit.exit == 0 || hit.exit == 1) {
                const ArchiveSnapshot right = TakeSnapshot(mainPath);
                const Findings documents = test::MapDifferences(reference.documents, right.documents, "document");
                const Findings tree = test::MapDifferences(reference.parents, right.parents, "row");
                EXPECT_TRUE(right.opened && documents.count == 0 && tree.count == 0)
                    << "the exit code hides the error: " << hit.describe() << "\n" << documents.text() << tree.text();
            }
        }

        const Outcome recovered = Recover();
        // What a cut-off reorganize emptied and set aside is where the change
        // meant it to be; the open must not send the user to a backup for it.
        if (std::string(c.name) == "Reorganize") {
            EXPECT_EQ((recovered.out + recovered.err).find("niet gevonden"), std::string::npos)
                << recovered.describe();
        }
        const std::optional<ArchiveSnapshot> now =
            test::ExpectRecovered(recovered, archive, mainPath, before, reference, lostHere);
        if (!now) continue;
        const Findings stray = test::StrayParents(before, reference, *now);
        EXPECT_EQ(stray.count, 0) << "after the recovery:\n" << stray.text();

        const Outcome again = Run(Command());
        EXPECT_FALSE(again.signaled) << again.describe();
        const ArchiveSnapshot finished = TakeSnapshot(mainPath);
        const Findings documents = test::MapDifferences(reference.documents, finished.documents, "document");
        const Findings tree = test::MapDifferences(reference.parents, finished.parents, "row");
        EXPECT_EQ(documents.count, 0) << "run again to its end:\n" << documents.text();
        EXPECT_EQ(tree.count, 0) << "run again to its end:\n" << tree.text();
    }
    s_documentsLost += lostHere;
    RecordProperty("documents_lost", static_cast<int>(lostHere));
}

INSTANTIATE_TEST_SUITE_P(Commands, CrashTest,
                         ::testing::Combine(::testing::ValuesIn(kCommands),
                                            ::testing::Values(Fault::Kill, Fault::NoSpace, Fault::IoError, Fault::Cut)),
                         CrashName);

}  // namespace
}  // namespace qx
