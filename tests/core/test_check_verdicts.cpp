// How a check run ends, as the command line tells it: a file another
// program holds and a full disk are said as such (exit 8), never as damage
// and never as "no errors"; the outcome and exit code follow one rule.
#include "database/CheckCommand.h"
#include "database/access/Schema.h"
#include "support/TextResources.h"
#include "support/engine/Connection.h"
#include "tests/core/CliRunner.h"
#include "tests/core/SampleFixture.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>

using namespace qx;
using qx::test::CliRun;
using qx::test::RunCli;
using qx::test::TempDir;

namespace {

QJsonObject Json(const CliRun& r) { return QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object(); }

// Arms failpoints in the environment the command line inherits.
struct ArmedFailpoints {
    explicit ArmedFailpoints(const std::string& points) { setenv("QUILLEX_FAILPOINTS", points.c_str(), 1); }
    ~ArmedFailpoints() { unsetenv("QUILLEX_FAILPOINTS"); }
};

}  // namespace

TEST(CheckVerdicts, OutcomeAndExitCodeFollowHowTheRunEndedBeforeWhatItFound) {
    struct Case {
        std::string name;
        bool cancelled = false, failed = false, diskFull = false;
        std::vector<std::string> inUse;
        long damaged = 0, fixed = 0;
        std::string outcome;
        int exit;
    } cases[] = {
        {"nothing found", false, false, false, {}, 0, 0, "clean", 0},
        {"all repaired", false, false, false, {}, 0, 3, "repaired", 1},
        {"damage remains", false, false, false, {}, 1, 3, "damaged", 4},
        {"a file in use", false, false, false, {"/a/x_2.pdb"}, 0, 0, "in_use", 8},
        {"in use beside damage", false, false, false, {"/a/x_2.pdb"}, 2, 0, "in_use", 8},
        {"disk full", false, true, true, {}, 0, 1, "disk_full", 8},
        {"save error", false, true, false, {}, 0, 1, "error", 8},
        {"cancelled with nothing found", true, false, false, {}, 0, 0, "cancelled", 32},
        {"cancelled with damage", true, false, false, {}, 2, 0, "cancelled", 32},
        {"cancelled with a file in use", true, false, false, {"/a/x_2.pdb"}, 0, 0, "cancelled", 32},
        {"cancelled after a save error", true, true, false, {}, 0, 1, "cancelled", 32},
    };
    for (const Case& c : cases) {
        CheckRunFacts facts;
        facts.cancelled = c.cancelled;
        facts.failed = c.failed;
        facts.diskFull = c.diskFull;
        facts.inUse = c.inUse;
        facts.damaged = c.damaged;
        facts.fixed = c.fixed;
        const QJsonObject json = CheckJson(facts, {}).object();
        EXPECT_EQ(json["outcome"].toString().toStdString(), c.outcome) << c.name;
        EXPECT_EQ(json["cancelled"].toBool(), c.cancelled) << c.name;
        EXPECT_EQ(CheckExitCode(facts), c.exit) << c.name;
        EXPECT_EQ(json["in_use"].toArray().size(), static_cast<qsizetype>(c.inUse.size())) << c.name;
    }
}

// A sub database another program holds: waited for once, named, its
// documents no findings, exit 8; at the thorough level its integrity pass
// finds it held first.
TEST(CheckVerdicts, ASubDatabaseInUseIsNamedAndItsDocumentsAreNoFindings) {
    TempDir dir;
    const SampleManifest m = qx::test::WriteSample(dir, {});
    ASSERT_FALSE(m.subDatabases.empty());
    const std::string held = m.subDatabases.front().path;
    const qx::test::ShortBusyWait shortWait;
    sql::Error err;
    sql::Database holder = sql::Database::open(qx::RealEnv(), held, engine::PasswordBytes(PasswordForGeneration(m.generation)),
                                               sql::OpenMode::ReadWrite, err);
    ASSERT_TRUE(holder.exec("BEGIN EXCLUSIVE; UPDATE PICTURES SET ID = ID;", &err)) << err.message;
    for (const char* level : {"--normal", "--quick", "--thorough"}) {
        SCOPED_TRACE(level);
        const CliRun r = RunCli(std::string("check ") + level + " '" + m.mainDatabase + "' --no --json -", dir);
        EXPECT_EQ(r.exit, 8) << r.err;
        const QJsonObject json = Json(r);
        EXPECT_EQ(json["outcome"].toString(), "in_use");
        EXPECT_EQ(json["in_use"].toArray(), QJsonArray{QString::fromStdString(held)});
        EXPECT_EQ(json["findings"].toArray().size(), 0) << r.out;
        EXPECT_EQ(json["damaged"].toInt(), 0);
        EXPECT_NE(r.err.find(held + "' is in gebruik door een ander programma"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(GetResString(101, "")), std::string::npos);
        EXPECT_EQ(r.err.find("niet gevonden"), std::string::npos) << r.err;  // opening names it in use too
    }
    holder.exec("ROLLBACK;");
}

// Writes the disk refuses: a full disk, exit 8, texts 209 and 210, and not
// one finding made of the refusal.
TEST(CheckVerdicts, AFullDiskIsAFullDiskNeverAFinding) {
    struct Case { std::string name, level, fault; } cases[] = {
        {"normal check moving documents to the root", "--normal", "parent-missing"},
        {"thorough check moving documents to the root", "--thorough", "parent-missing"},
        {"quick check linking stored data", "--quick", "unreferenced-data"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const SampleManifest m = qx::test::WriteSample(dir, {c.fault});
        const CliRun r = [&] {
            const ArmedFailpoints full("engine.commit@1=enospc");
            return RunCli("check " + c.level + " '" + m.mainDatabase + "' --yes --json -", dir);
        }();
        EXPECT_EQ(r.exit, 8) << r.err;
        const QJsonObject json = Json(r);
        EXPECT_EQ(json["outcome"].toString(), "disk_full") << r.out;
        for (const QJsonValue f : json["findings"].toArray())
            EXPECT_EQ(f["name"].toString().indexOf("full"), -1) << r.out;
        // The box's title leads the notice, without its dots.
        std::string title = GetResString(210, "");
        while (title.ends_with('.')) title.pop_back();
        EXPECT_NE(r.err.find(title + ": Niet alle"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Niet alle reparaties konden worden opgeslagen"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(GetResString(101, "")), std::string::npos);
    }
}
