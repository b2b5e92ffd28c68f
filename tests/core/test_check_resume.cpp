// A thorough check stopped at random points (a time limit on a clock that
// moves one second per document, a kill at a record write) and gone on with
// --resume ends with the list, counters, JSON and documents of one run that
// never stopped; the options are refused where they cannot work, and a
// record that cannot be trusted is said and not used.
#include "database/CDatabase.h"
#include "database/CheckCommand.h"
#include "database/checks/CheckResume.h"
#include "support/Settings.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/CrashRunner.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <filesystem>
#include <random>

using namespace qx;
using namespace qx::test;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kFaults = {"parent-missing",      "parent-cycle",      "data-in-other-sub-database",
                                          "empty-data-with-copy", "double-byte-pdf",   "undecodable-image",
                                          "truncated-jpeg",       "no-data-row",       "worked-example-pdf"};

// The JSON without what differs between any two runs: the times, the
// files' sizes, the notices' own words (a backup file's name holds the minute).
std::string Comparable(const std::string& json) {
    QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    root.remove("started");
    root.remove("finished");
    QJsonArray subs;
    for (QJsonValue v : root["sub_databases"].toArray()) {
        QJsonObject o = v.toObject();
        o.remove("size");
        subs.append(o);
    }
    root["sub_databases"] = subs;
    QJsonArray warnings;
    for (QJsonValue v : root["warnings"].toArray()) {
        QJsonObject o = v.toObject();
        o.remove("text");
        warnings.append(o);
    }
    root["warnings"] = warnings;
    return QJsonDocument(root).toJson().toStdString();
}

struct End {
    Outcome outcome;
    std::string json;
    ArchiveSnapshot snapshot;
};

class CheckResume : public ::testing::Test {
protected:
    void SetUp() override {
        SampleOptions o;
        o.documents = 30;
        o.folders = 4;
        o.faults = kFaults;
        std::string error;
        ASSERT_TRUE(s.WriteSample(o, error)) << error;
        records = CheckProgressNames(s.mainPath);
        s.Restore();
        whole = Check({});
        ASSERT_FALSE(whole.outcome.signaled) << whole.outcome.describe();
        ASSERT_NE(whole.outcome.exit, 32) << whole.outcome.describe();
        ASSERT_TRUE(whole.snapshot.opened);
        ASSERT_FALSE(RecordLeft());
    }

    End Check(const std::vector<std::string>& more, const Environment& env = {}) {
        std::vector<std::string> args = {"check", s.mainPath, "--thorough", "--yes", "--json", json()};
        args.insert(args.end(), more.begin(), more.end());
        End e;
        e.outcome = s.Run(args, env);
        e.json = Slurp(json());
        e.snapshot = TakeSnapshot(s.mainPath);
        return e;
    }
    std::string json() const { return s.root.file("check.json"); }
    bool RecordLeft() const { return fs::exists(records[0]) || fs::exists(records[1]); }

    void ExpectSameEnd(const End& e, const std::string& how) {
        EXPECT_EQ(e.outcome.exit, whole.outcome.exit) << how << ": " << e.outcome.describe();
        EXPECT_EQ(e.outcome.out, whole.outcome.out) << how;
        EXPECT_EQ(Comparable(e.json), Comparable(whole.json)) << how;
        EXPECT_EQ(e.snapshot.documents, whole.snapshot.documents) << how;
        EXPECT_EQ(e.snapshot.parents, whole.snapshot.parents) << how;
        EXPECT_EQ(e.snapshot.dataRows, whole.snapshot.dataRows) << how;
        EXPECT_FALSE(RecordLeft()) << how << ": a finished check leaves no record";
    }

    SampleUnderTest s;
    std::array<std::string, 2> records;
    End whole;
};

}  // namespace

TEST_F(CheckResume, StoppedByTheClockEndsAsOneRun) {
    const Environment clock = {{"QUILLEX_CHECK_MS_PER_DOCUMENT", "1000"}};
    for (const unsigned seed : {1u, 2u}) {
        std::mt19937 rng(seed);
        s.Restore();
        std::string how = "seed " + std::to_string(seed) + ", stops after";
        End e;
        for (int run = 0; run < 12; ++run) {
            const int seconds = std::uniform_int_distribution<int>(1, 14)(rng);
            std::vector<std::string> more = {"--max-duration", std::to_string(seconds) + "s"};
            if (run > 0) more.push_back("--resume");
            e = Check(more, clock);
            if (e.outcome.exit != 32) break;
            how += " " + std::to_string(seconds);
            EXPECT_NE(e.outcome.err.find("--thorough --resume"), std::string::npos) << how << ": " << e.outcome.err;
            ASSERT_TRUE(RecordLeft()) << how;
        }
        ExpectSameEnd(e, how);
    }
}

TEST_F(CheckResume, KilledAroundARecordWriteLosesNoRepairAndMakesNoneTwice) {
    // Before a record is written, and right after one is durable: a repair
    // the record names as made must be committed by then.
    for (const char* point : {"check-progress.write@2", "check-progress.remove-old@3", "check-progress.remove-old@5",
                              "check-progress.remove-old@7"}) {
        s.Restore();
        const std::string how = std::string("killed at ") + point;
        const End killed = Check({}, {{"QUILLEX_FAILPOINTS", std::string(point) + "=kill"}});
        ASSERT_TRUE(killed.outcome.signaled && killed.outcome.signal == SIGKILL) << how << ": " << killed.outcome.describe();
        const End e = Check({"--resume"});
        EXPECT_NE(e.outcome.err.find("verder na"), std::string::npos) << how << ": " << e.outcome.err;
        // Documents after the last record are checked again: a repair made
        // before the kill is found made and not made again.
        EXPECT_EQ(e.snapshot.documents, whole.snapshot.documents) << how;
        EXPECT_EQ(e.snapshot.parents, whole.snapshot.parents) << how;
        EXPECT_EQ(e.snapshot.dataRows, whole.snapshot.dataRows) << how;
        EXPECT_FALSE(RecordLeft()) << how;
        const QJsonObject a = QJsonDocument::fromJson(QByteArray::fromStdString(e.json)).object();
        const QJsonObject b = QJsonDocument::fromJson(QByteArray::fromStdString(whole.json)).object();
        EXPECT_EQ(a["damaged"], b["damaged"]) << how;
        EXPECT_LE(a["fixed"].toInt(), b["fixed"].toInt()) << how;
    }
}

TEST_F(CheckResume, SaysWhenARecordIsNotUsedOrCannotBeKept) {
    const Environment clock = {{"QUILLEX_CHECK_MS_PER_DOCUMENT", "1000"}};
    const struct {
        const char* name;
        std::function<void()> prepare;
        std::vector<std::string> args;
        int exit;  // -1: as the uninterrupted run
        const char* said;
        bool recordAfter;
    } cases[] = {
        {"--resume without --thorough", [] {}, {"--resume"}, 16, "alleen samen met --thorough", false},
        {"no duration", [] {}, {"--max-duration", "90"}, 16, "geen duur", false},
        {"report-only --resume", [] {}, {"--resume", "-n"}, 16, "bewaart geen voortgang", false},
        {"--resume with nothing to go on from", [] {}, {"--resume"}, -1, "geen gestopte intensieve controle", false},
        {"--resume with a torn record", [&] { WriteFile(records[0], "quillex-check-progress\t1\nseq"); },
         {"--resume"}, -1, "niet gebruikt", false},
        {"--resume with the record of another copy of the archive",
         [&] {
             // The record of a stopped check of a copy beside this archive,
             // put under this archive's name.
             const std::string copy = s.root.file("copy");
             fs::remove_all(copy);
             fs::copy(s.archive, copy, fs::copy_options::recursive);
             const std::string copyMain = copy + "/" + fs::path(s.mainPath).filename().string();
             s.Run({"check", copyMain, "--thorough", "--yes", "--max-duration", "5s"}, clock);
             const auto names = CheckProgressNames(copyMain);
             WriteFile(records[0], Slurp(fs::exists(names[0]) ? names[0] : names[1]));
         },
         {"--resume"}, -1, "niet gebruikt (it is of another main database)", false},
        {"a report-only run stopped by the clock keeps nothing", [] {}, {"-n", "--max-duration", "5s"}, 32,
         "alleen rapporteert, bewaart geen voortgang", false},
    };
    for (const auto& c : cases) {
        s.Restore();
        c.prepare();
        std::vector<std::string> args = c.args;
        if (std::string(c.name) == "--resume without --thorough") {
            const Outcome o = s.Run({"check", s.mainPath, "--normal", "--resume"});
            EXPECT_EQ(o.exit, 16) << c.name;
            EXPECT_NE(o.err.find(c.said), std::string::npos) << c.name << ": " << o.err;
            continue;
        }
        const End e = Check(args, clock);
        EXPECT_EQ(e.outcome.exit, c.exit < 0 ? whole.outcome.exit : c.exit) << c.name << ": " << e.outcome.describe();
        EXPECT_NE(e.outcome.err.find(c.said), std::string::npos) << c.name << ": " << e.outcome.err;
        EXPECT_EQ(RecordLeft(), c.recordAfter) << c.name;
        if (c.exit < 0) ExpectSameEnd(e, c.name);
    }
}

TEST_F(CheckResume, CancelledInTheWindowEndsAsOneRun) {
    struct Result {
        std::vector<std::string> rows;
        long damaged = 0, fixed = 0, checked = 0;
        bool cancelled = false;
    };
    const auto check = [&](bool resume, int cancelAfterEvents, int cancelAfterUpdates = -1) {
        ScriptedWindow window;
        window.cancelAfterEvents = cancelAfterEvents;
        window.cancelAfterUpdates = cancelAfterUpdates;
        Settings::Get().DatabasePassword = PasswordForGeneration(8);
        Settings::Get().LogFileName = LogName(s.mainPath);
        Result out;
        {
            CDatabase db(window, window.env());
            EXPECT_TRUE(db.OpenDatabase(CDatabase::ConnectString(s.mainPath, Settings::Get().DatabasePassword)));
            CheckRun run;
            run.resume = resume;
            {
                const CheckRunScope scope(db, run);
                RunCheckCommand(db, CheckThorough);
            }
            for (const ListRow& row : window.lists[ListId::Documents]) out.rows.push_back(ListLine(row));
            out.damaged = db.Findings().damaged();
            out.fixed = db.Findings().fixed();
            out.cancelled = db.Findings().cancelled;
            out.checked = db.Findings().checked;
        }
        Settings::Reset();
        return out;
    };
    s.Restore();
    const Result reference = check(false, -1);
    const ArchiveSnapshot referenceFiles = TakeSnapshot(s.mainPath);
    ASSERT_FALSE(reference.cancelled);
    // The first update falls in the integrity pass, before any document:
    // that pass runs again whole, its findings so far are not kept twice.
    for (const unsigned seed : {0u, 7u, 8u}) {
        std::mt19937 rng(seed);
        const int at = seed == 0 ? -1 : std::uniform_int_distribution<int>(3, 30)(rng);
        const std::string how = seed == 0 ? "cancelled in the integrity pass" : "cancelled at event " + std::to_string(at);
        s.Restore();
        const Result stopped = check(false, at, seed == 0 ? 1 : -1);
        EXPECT_TRUE(stopped.cancelled) << how;
        if (seed == 0) EXPECT_EQ(stopped.checked, 0) << how;
        ASSERT_TRUE(RecordLeft()) << how;
        const Result end = check(true, -1);
        EXPECT_FALSE(end.cancelled) << how;
        EXPECT_EQ(end.rows, reference.rows) << how;
        EXPECT_EQ(end.damaged, reference.damaged) << how;
        EXPECT_EQ(end.fixed, reference.fixed) << how;
        const ArchiveSnapshot files = TakeSnapshot(s.mainPath);
        EXPECT_EQ(files.documents, referenceFiles.documents) << how;
        EXPECT_EQ(files.parents, referenceFiles.parents) << how;
        EXPECT_EQ(files.dataRows, referenceFiles.dataRows) << how;
        EXPECT_FALSE(RecordLeft()) << how;
    }
}
