// Crash tests of the repairing commands. Each command runs once with a trace
// of the failpoints it passes (learning their number T) and to its end (the
// finished state). Then, for every k in 1..T, on a fresh copy of the archive:
// the command is killed at its k-th point, or its k-th point fails with a
// full disk or an I/O error; the archive is opened again (the recovery) and
// nothing may be lost; the command then runs to its end and must arrive at
// the finished state.
//
// For tools/crash-sweep.sh: QUILLEX_CRASH_DOCUMENTS=N writes samples of N
// documents instead of tens, QUILLEX_CRASH_ALL_FAULTS=1 puts every fault in
// every sample, QUILLEX_CRASH_KNOWN_FAULTS=1 also runs the cases skipped for
// a fault that is known and being worked on, QUILLEX_CRASH_MAX_POINTS=n
// tries at most about n points per case, spread evenly, where trying every
// one would take too long.
#include "database/access/FileNames.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/CliRunner.h"
#include "tests/core/TestUtil.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace qx {
namespace {

namespace fs = std::filesystem;
using test::ArchiveSnapshot;
using test::Findings;
using test::Slurp;
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

// ------------------------------------------------------------ running the CLI

struct Outcome {
    bool signaled = false;
    int signal = 0;
    int exit = -1;
    std::string out, err;

    std::string describe() const {
        std::string d = signaled ? "killed by signal " + std::to_string(signal) : "exit " + std::to_string(exit);
        if (!err.empty()) d += "; stderr: " + err.substr(0, 600);
        return d;
    }
};

using Environment = std::vector<std::pair<std::string, std::string>>;

// fork + execve rather than system(): a shell in between would turn the
// child's SIGKILL into an exit code. Everything the child needs is prepared
// before the fork, so that it only calls what is safe there.
Outcome RunCli(const std::vector<std::string>& args, const Environment& extra, const std::string& scratch) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QUILLEX_FAILPOINT", 17) != 0) env.emplace_back(*e);
    for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
    std::vector<char*> envp, argv;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = QX_CLI_PATH;
    std::vector<std::string> words = args;
    argv.push_back(program.data());
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const std::string outPath = scratch + "/cli.out", errPath = scratch + "/cli.err";

    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) ::_exit(125);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    Outcome o;
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        o.err = "could not run the command";
        return o;
    }
    o.signaled = WIFSIGNALED(status);
    o.signal = o.signaled ? WTERMSIG(status) : 0;
    o.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = Slurp(outPath);
    o.err = Slurp(errPath);
    return o;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// ------------------------------------------------------------ the cases

enum class Fault { Kill, NoSpace, IoError };

const char* FaultWord(Fault f) { return f == Fault::Kill ? "kill" : f == Fault::NoSpace ? "enospc" : "eio"; }

struct CommandCase {
    const char* name;
    std::vector<std::string> command;  // the archive's path goes last
    std::vector<std::string> faults;   // empty: every fault
    long documents;
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
};

// What a change leaves beside the archive while it is under way; after the
// recovery none of it may remain.
std::vector<std::string> WorkFilesIn(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        for (const char* tail : {".compacted", ".uncompacted", ".intent", "-journal"})
            if (name.size() >= std::strlen(tail) && name.compare(name.size() - std::strlen(tail), std::string::npos,
                                                                 tail) == 0)
                found.push_back(name);
    }
    return found;
}

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

// The point after k to try: the next one, or, when the sweep limits the
// points per case, one spread evenly so that the last is always tried.
int NextPoint(int k, int last) {
    const char* limit = std::getenv("QUILLEX_CRASH_MAX_POINTS");
    const int most = limit ? std::atoi(limit) : 0;
    const int step = most > 0 && last > most ? (last + most - 1) / most : 1;
    return k < last && k + step > last ? last : k + step;
}

long SampleDocuments(long wanted) {
    const char* n = std::getenv("QUILLEX_CRASH_DOCUMENTS");
    return n && std::atol(n) > wanted ? std::atol(n) : wanted;
}

// The system's words for a full disk or a failed read or write, as the
// program reports them in its log or on stderr.
const char* const kErrorWords[] = {"No space left on device", "database or disk is full", "Input/output error",
                                   "disk I/O error"};

class CrashTest : public ::testing::TestWithParam<CrashParam> {
public:
    static void TearDownTestSuite() {
        std::printf("crash test: %ld kill points, %ld error points, %ld documents lost\n", s_killPoints, s_errorPoints,
                    s_documentsLost);
        RecordProperty("kill_points", std::to_string(s_killPoints));
        RecordProperty("error_points", std::to_string(s_errorPoints));
        RecordProperty("documents_lost", std::to_string(s_documentsLost));
    }

protected:
    void SetUp() override {
        ASSERT_FALSE(root.path().empty());
        archive = root.file("archive");
        pristine = root.file("pristine");
        const CommandCase& c = std::get<0>(GetParam());
        SampleOptions o;
        o.directory = archive;
        o.documents = SampleDocuments(c.documents);
        o.folders = 6;
        o.faults = c.faults;
        o.allFaults = c.faults.empty() || std::getenv("QUILLEX_CRASH_ALL_FAULTS");
        if (o.allFaults) o.faults.clear();
        SampleManifest m;
        std::string error;
        ASSERT_TRUE(WriteSampleArchive(o, m, error)) << error;
        mainPath = m.mainDatabase;
        fs::copy(archive, pristine, fs::copy_options::recursive);
    }

    // The same folder every time, so that the paths stored in the archive
    // stay those of its files.
    void Restore() {
        fs::remove_all(archive);
        fs::copy(pristine, archive, fs::copy_options::recursive);
    }

    std::vector<std::string> Command() const {
        std::vector<std::string> args = std::get<0>(GetParam()).command;
        args.push_back(mainPath);
        return args;
    }

    Outcome Run(const std::vector<std::string>& args, const Environment& env = {}) {
        return RunCli(args, env, root.path());
    }

    // The recovery: the archive opened again, nothing else.
    Outcome Recover() { return Run({"open", "--no", mainPath}); }

    test::TempDir root;
    std::string archive, pristine, mainPath;

    static inline long s_killPoints = 0, s_errorPoints = 0, s_documentsLost = 0;
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
    Outcome first = Run(Command(), {{"QUILLEX_FAILPOINT_TRACE", trace}});
    ASSERT_FALSE(first.signaled) << first.describe();
    const std::vector<std::string> points = Lines(Slurp(trace));
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
    for (int k = 1; k <= T; k = NextPoint(k, T)) {
        // The document check commits as the clock allows, so a run may pass
        // fewer points than the first one; such a run is tried again.
        const std::string traceK = root.file("trace-" + std::to_string(k));
        Outcome hit;
        std::vector<std::string> passed;
        for (int attempt = 0; attempt < 3 && static_cast<int>(passed.size()) < k; ++attempt) {
            Restore();
            fs::remove(traceK);
            hit = Run(Command(), {{"QUILLEX_FAILPOINTS", "*@" + std::to_string(k) + "=" + FaultWord(fault)},
                                  {"QUILLEX_FAILPOINT_TRACE", traceK}});
            passed = Lines(Slurp(traceK));
        }
        if (static_cast<int>(passed.size()) < k) {
            // Three runs in a row committed less often than the first: the
            // point was never reached, so nothing was injected to be named.
            EXPECT_FALSE(hit.signaled) << "k=" << k << ": " << hit.describe();
            continue;
        }
        const std::string point = passed[k - 1];
        SCOPED_TRACE("k=" + std::to_string(k) + " of " + std::to_string(T) + " at " + point + " (" +
                     FaultWord(fault) + ")");
        if (fault == Fault::Kill) {
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
        EXPECT_TRUE(!recovered.signaled && (recovered.exit == 0 || recovered.exit == 4))
            << "the archive did not open again: " << recovered.describe();
        // What a cut-off reorganize emptied and set aside is where the change
        // meant it to be; the open must not send the user to a backup for it.
        if (std::string(c.name) == "Reorganize")
            EXPECT_EQ((recovered.out + recovered.err).find("niet gevonden"), std::string::npos)
                << recovered.describe();
        const ArchiveSnapshot now = TakeSnapshot(mainPath);
        if (!now.opened) {
            ADD_FAILURE() << "after the recovery the main database cannot be read: " << now.notes.front();
            continue;
        }
        const Findings lost = test::LostDocuments(before, reference, now);
        const Findings stranded = test::StrandedData(before, now);
        const Findings stray = test::StrayParents(before, reference, now);
        lostHere += lost.count;
        EXPECT_EQ(lost.count, 0) << "after the recovery:\n" << lost.text();
        EXPECT_EQ(stranded.count, 0) << "after the recovery:\n" << stranded.text();
        EXPECT_EQ(stray.count, 0) << "after the recovery:\n" << stray.text();
        EXPECT_EQ(WorkFilesIn(archive), std::vector<std::string>()) << "left after the recovery";

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
                                            ::testing::Values(Fault::Kill, Fault::NoSpace, Fault::IoError)),
                         CrashName);

}  // namespace
}  // namespace qx
