// Power-loss tests of the repairing commands. A kill leaves everything the
// process wrote to the kernel, so a missing or misplaced sync never shows in
// the crash tests; here the power-loss layer (QUILLEX_POWERCUT) puts the
// disk back to what was durable at its N-th cut point (a named point or an
// engine sync) before the process dies. Each command runs once with the
// trace to learn its cut points; then, for a sample holding every kind of
// point, the command is cut there on a fresh copy of the archive, the
// archive is opened again by a fresh process, and nothing may be lost:
// every document leads to its bytes (or to those the finished command gives
// it), no data row is stranded, no work file is left beside the archive.
//
// QUILLEX_POWERLOSS_ALL=1 tries every cut point, QUILLEX_CRASH_DOCUMENTS=N
// writes samples of N documents (tools/crash-sweep.sh -P).
#include "database/access/FileNames.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/CrashRunner.h"
#include "tests/core/TestUtil.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qx {
namespace {

namespace fs = std::filesystem;
using test::ArchiveSnapshot;
using test::Findings;
using test::Lines;
using test::Outcome;
using test::Slurp;
using test::TakeSnapshot;

// The kind of a cut point: the point's name, or for an engine sync the kind
// of file synced (main or sub database, journal).
std::string PointKind(const std::string& point) {
    const std::string engine = "engine.sync ";
    if (point.rfind(engine, 0) != 0) return point;
    const std::string file = point.substr(engine.size());
    const std::size_t dash = file.rfind('-'), dot = file.rfind('.');
    if (dash != std::string::npos && (dot == std::string::npos || dash > dot)) return engine + file.substr(dash);
    return engine + (dot == std::string::npos ? file : file.substr(dot));
}

// Every kind's first and last point, then points spread evenly until about
// `budget` are chosen; every point when the sweep asks for it.
std::vector<int> ChoosePoints(const std::vector<std::string>& points, int budget) {
    const int T = static_cast<int>(points.size());
    std::set<int> chosen;
    if (std::getenv("QUILLEX_POWERLOSS_ALL")) {
        for (int k = 1; k <= T; ++k) chosen.insert(k);
        return {chosen.begin(), chosen.end()};
    }
    std::map<std::string, std::pair<int, int>> kinds;
    for (int k = 1; k <= T; ++k) {
        auto [it, fresh] = kinds.emplace(PointKind(points[k - 1]), std::make_pair(k, k));
        if (!fresh) it->second.second = k;
    }
    for (const auto& [kind, range] : kinds) chosen.insert({range.first, range.second});
    const int room = budget - static_cast<int>(chosen.size());
    for (int i = 1; room > 0 && i <= room; ++i) chosen.insert(std::max(1, (i * T) / (room + 1)));
    return {chosen.begin(), chosen.end()};
}

TEST(PowerLossSample, EveryKindOfPointIsTried) {
    const std::vector<std::string> points = {"a", "engine.sync X.dat-journal", "engine.sync X.dat", "a", "b",
                                             "engine.sync X_1.pdb", "a", "a", "c", "engine.sync X.dat"};
    const std::vector<int> chosen = ChoosePoints(points, 0);
    std::set<std::string> kinds;
    for (int k : chosen) kinds.insert(PointKind(points[k - 1]));
    EXPECT_EQ(kinds, (std::set<std::string>{"a", "b", "c", "engine.sync -journal", "engine.sync .dat",
                                            "engine.sync .pdb"}));
    EXPECT_TRUE(std::count(chosen.begin(), chosen.end(), 8)) << "the last of a kind";
}

struct PowerCase {
    const char* name;
    std::vector<std::string> command;  // "ARCHIVE" stands for the main database, "IDS" for documents to remove
    std::vector<std::string> faults;   // empty: every fault
    long documents;
    int points;  // about how many cut points to try
    const char* damaged = nullptr;  // "sub" or "main": a page of that file is damaged first
};

const PowerCase kCases[] = {
    {"Open", {"open", "--yes", "ARCHIVE"}, {"sub-database-number-gaps", "unreferenced-sub-database"}, 20, 14},
    {"CheckNormal", {"check", "--normal", "--yes", "ARCHIVE"}, {}, 70, 24},
    {"CheckThorough", {"check", "--thorough", "--yes", "ARCHIVE"},
     {"double-byte-pdf", "zero-upper-half", "worked-example-pdf", "no-trash-support", "truncated-jpeg"}, 20, 18},
    {"Compact", {"compact", "--main", "--omd", "--yes", "ARCHIVE"}, {"data-in-other-sub-database", "parent-missing"},
     20, 18},
    {"Reorganize", {"reorganize", "--yes", "ARCHIVE"}, {"unreferenced-empty-data", "unreferenced-data"}, 20, 18},
    {"Remove", {"remove", "ARCHIVE", "IDS", "--yes"}, {"truncated-jpeg"}, 20, 10},
    {"Salvage", {"salvage", "--yes", "ARCHIVE"}, {"unreferenced-data"}, 30, 16, "sub"},
    {"SalvageMain", {"salvage", "--yes", "ARCHIVE"}, {"unreferenced-data"}, 500, 16, "main"},
};

void PrintTo(const PowerCase& c, std::ostream* os) { *os << c.name; }

class PowerLossTest : public ::testing::TestWithParam<PowerCase>, protected test::SampleUnderTest {
public:
    static void TearDownTestSuite() {
        std::printf("power-loss test: %ld cut points, %ld documents lost\n", s_cutPoints, s_documentsLost);
        RecordProperty("cut_points", std::to_string(s_cutPoints));
        RecordProperty("documents_lost", std::to_string(s_documentsLost));
    }

protected:
    // testing::Test has a Run of its own.
    using test::SampleUnderTest::Run;

    void SetUp() override {
        const PowerCase& c = GetParam();
        SampleOptions o;
        o.documents = test::SampleDocuments(c.documents);
        o.folders = 4;
        o.faults = c.faults;
        o.allFaults = c.faults.empty();
        std::string error;
        ASSERT_TRUE(WriteSample(o, error)) << error;
        if (c.damaged && c.damaged == std::string("sub")) DamageSubDatabasePage();
        if (c.damaged && c.damaged == std::string("main")) DamageMainDatabaseTable();
    }

    std::vector<std::string> Command(const ArchiveSnapshot& before) const {
        std::vector<std::string> args;
        for (const std::string& w : GetParam().command) {
            if (w == "ARCHIVE") {
                args.push_back(mainPath);
            } else if (w == "IDS") {
                // A few documents from the middle of the archive.
                int n = 0;
                for (auto it = before.documents.begin(); it != before.documents.end() && n < 8; ++it, ++n)
                    if (n % 2) args.push_back(std::to_string(it->first));
            } else {
                args.push_back(w);
            }
        }
        return args;
    }

    static inline long s_cutPoints = 0, s_documentsLost = 0;
};

// What the finished command removes on purpose may be there or gone after a
// cut, never half there; everything else is held to the state before.
ArchiveSnapshot Kept(ArchiveSnapshot before, const ArchiveSnapshot& reference) {
    for (auto it = before.documents.begin(); it != before.documents.end();)
        it = reference.documents.count(it->first) ? std::next(it) : before.documents.erase(it);
    for (auto it = before.dataRows.begin(); it != before.dataRows.end();)
        it = reference.dataRows.count(*it) ? std::next(it) : before.dataRows.erase(it);
    return before;
}

TEST_P(PowerLossTest, NothingIsLostAfterACutAndARecovery) {
    const PowerCase& c = GetParam();
    const ArchiveSnapshot before = TakeSnapshot(mainPath);
    ASSERT_TRUE(before.opened) << before.notes.front();
    ASSERT_FALSE(before.documents.empty());
    const std::vector<std::string> command = Command(before);

    const std::string trace = root.file("trace");
    const Outcome first = Run(command, {{"QUILLEX_POWERCUT_TRACE", trace}});
    ASSERT_FALSE(first.signaled) << first.describe();
    const std::vector<std::string> points = Lines(Slurp(trace));
    ASSERT_FALSE(points.empty()) << "the command passed no cut point";
    const ArchiveSnapshot reference = TakeSnapshot(mainPath);
    ASSERT_TRUE(reference.opened);
    const ArchiveSnapshot kept = c.name == std::string("Remove") ? Kept(before, reference) : before;
    {
        const Findings lost = test::LostDocuments(kept, reference, reference);
        EXPECT_EQ(lost.count, 0) << "the uninterrupted command itself:\n" << lost.text();
    }
    RecordProperty("points", static_cast<int>(points.size()));

    // Sub databases the sample leaves out on purpose are "not found" by any
    // open; a cut may add none.
    Restore();
    const Outcome untouched = Recover();
    const int notFoundBefore = test::Occurrences(untouched.out + untouched.err, "niet gevonden");

    long lostHere = 0;
    const std::vector<int> chosen = ChoosePoints(points, c.points);
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        const int k = chosen[i];
        const std::string traceK = root.file("trace-" + std::to_string(k));
        // Every other cut also tears the last unsynced write.
        const std::string tear = i % 2 ? "1" : "0";
        Outcome hit;
        std::vector<std::string> passed;
        // A command that commits as the clock allows may pass fewer points
        // than the first run; such a run is tried again.
        for (int attempt = 0; attempt < 3 && static_cast<int>(passed.size()) < k; ++attempt) {
            Restore();
            fs::remove(traceK);
            hit = Run(command, {{"QUILLEX_POWERCUT", std::to_string(k)},
                                {"QUILLEX_POWERCUT_TRACE", traceK},
                                {"QUILLEX_POWERCUT_TEAR", tear}});
            passed = Lines(Slurp(traceK));
        }
        if (static_cast<int>(passed.size()) < k) continue;
        SCOPED_TRACE("k=" + std::to_string(k) + " of " + std::to_string(points.size()) + " at " + passed[k - 1] +
                     (tear == "1" ? " (torn)" : ""));
        ++s_cutPoints;
        EXPECT_TRUE(hit.signaled && hit.signal == SIGKILL) << "the power was to fail here: " << hit.describe();

        const Outcome recovered = Recover();
        EXPECT_LE(test::Occurrences(recovered.out + recovered.err, "niet gevonden"), notFoundBefore)
            << "the recovery sends the user to a backup: " << recovered.describe();
        const std::optional<ArchiveSnapshot> found =
            test::ExpectRecovered(recovered, archive, mainPath, kept, reference, lostHere);
        if (!found) continue;
        const ArchiveSnapshot& now = *found;
        if (passed[k - 1] == "exit") {
            // The command has ended and told its outcome: all of it is durable.
            const Findings documents = test::MapDifferences(reference.documents, now.documents, "document");
            const Findings tree = test::MapDifferences(reference.parents, now.parents, "row");
            EXPECT_EQ(documents.count + tree.count, 0) << "the finished command's changes did not last:\n"
                                                       << documents.text() << tree.text();
        }
    }
    s_documentsLost += lostHere;
    RecordProperty("documents_lost", static_cast<int>(lostHere));
    std::printf("power-loss %s: %zu documents, %zu cut points, %zu tried, %ld documents lost\n", c.name,
                before.documents.size(), points.size(), chosen.size(), lostHere);
}

// The driver sees a missing sync: with the compacted copy's sync not done,
// a cut after the copy took the archive's name leaves a main database
// without its bytes.
TEST(PowerLossSelfCheck, AMissingSyncLosesDocuments) {
    test::SampleUnderTest sample;
    SampleOptions o;
    o.documents = 20;
    o.folders = 4;
    std::string error;
    ASSERT_TRUE(sample.WriteSample(o, error)) << error;
    const ArchiveSnapshot before = TakeSnapshot(sample.mainPath);
    ASSERT_TRUE(before.opened);
    const std::vector<std::string> command = {"compact", "--main", "--yes", sample.mainPath};
    const test::Environment ignore = {{"QUILLEX_POWERCUT_IGNORE_SYNC", "compact.copy_written"}};

    test::Environment traced = ignore;
    traced.push_back({"QUILLEX_POWERCUT_TRACE", sample.root.file("trace")});
    ASSERT_FALSE(sample.Run(command, traced).signaled);
    const std::vector<std::string> points = Lines(Slurp(sample.root.file("trace")));
    const auto swapped = std::find(points.begin(), points.end(), "compact.swap.sync-folder");
    ASSERT_NE(swapped, points.end()) << "the main database was not compacted";
    const int k = static_cast<int>(swapped - points.begin()) + 2;  // the point after the swap is durable

    sample.Restore();
    test::Environment cut = ignore;
    cut.push_back({"QUILLEX_POWERCUT", std::to_string(k)});
    const Outcome hit = sample.Run(command, cut);
    EXPECT_TRUE(hit.signaled) << hit.describe();
    sample.Recover();
    const ArchiveSnapshot now = TakeSnapshot(sample.mainPath);
    const long lost = now.opened ? test::LostDocuments(before, before, now).count
                                 : static_cast<long>(before.documents.size());
    EXPECT_GT(lost, 0) << "the driver cannot see a missing sync";
}

INSTANTIATE_TEST_SUITE_P(Commands, PowerLossTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qx
