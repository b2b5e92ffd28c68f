// Report-only runs: on every kind of damage the sample writer knows, a
// report-only run finds what a real run on an identical archive finds, and
// leaves every entry of the archive folder as it was (bytes, names, modes,
// times).
#include "support/ReportOnly.h"
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"
#include "tests/core/CliRunner.h"
#include "tests/core/WriteWatch.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

using namespace qx;
using qx::test::CliRun;
using qx::test::RunCli;
using qx::test::TempDir;
namespace fs = std::filesystem;

namespace {

struct Report {
    std::set<std::pair<long, int>> findings;  // id, code
    long damaged = -1, fixed = -1;
    bool dryRun = false, anyRepaired = false;
};

Report ReadReport(const std::string& path) {
    Report r;
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(test::Slurp(path))).object();
    for (const QJsonValue v : root["findings"].toArray()) {
        const QJsonObject o = v.toObject();
        r.findings.insert({static_cast<long>(o["id"].toInteger()), o["code"].toInt()});
        r.anyRepaired = r.anyRepaired || o["repaired"].toBool();
    }
    r.damaged = static_cast<long>(root["damaged"].toInteger());
    r.fixed = static_cast<long>(root["fixed"].toInteger());
    r.dryRun = root["dry_run"].toBool();
    return r;
}

// The lines `open` prints about the archive in `folder`, without the
// report-only ones and with the folder's name taken out.
std::string OpenSummary(const std::string& out, const std::string& folder) {
    std::istringstream in(out);
    std::string kept;
    for (std::string line; std::getline(in, line);) {
        for (std::size_t f; (f = line.find(folder)) != std::string::npos;) line.replace(f, folder.size(), "ARCHIVE");
        if (!line.starts_with("would ") && !line.starts_with("report only")) kept += line + "\n";
    }
    return kept;
}

}  // namespace

TEST(DryRun, FindsWhatARealRunFindsAndChangesNothing) {
    const std::vector<std::string> commands = {"check --normal --yes", "check --quick --yes", "open --yes"};
    for (const std::string& fault : SampleFaultNames()) {
        TempDir dir;
        const std::string sample = dir.file("sample");
        if (RunCli("sample '" + sample + "' --documents 60 --faults " + fault, dir).exit != 0) continue;
        for (const std::string& command : commands) {
            SCOPED_TRACE(fault + ": " + command);
            const std::string dry = dir.file("dry"), real = dir.file("real");
            for (const std::string& copy : {dry, real}) {
                fs::remove_all(copy);
                fs::copy(sample, copy, fs::copy_options::recursive);
            }
            const bool check = command.rfind("check", 0) == 0;
            const auto json = [&](const char* name) { return check ? " --json '" + dir.file(name) + "'" : ""; };

            const auto before = test::FolderStamps(dry);
            const CliRun d = RunCli(command + " --dry-run '" + dry + "/Archief.dat'" + json("d.json"), dir);
            EXPECT_EQ(test::FolderStamps(dry), before) << d.out << d.err;
            const CliRun r = RunCli(command + " '" + real + "/Archief.dat'" + json("r.json"), dir);

            EXPECT_EQ(d.exit, r.exit) << d.out << d.err << "\n---\n" << r.out << r.err;
            if (!check) {
                EXPECT_EQ(OpenSummary(d.out, dry), OpenSummary(r.out, real));
                continue;
            }
            const Report dr = ReadReport(dir.file("d.json")), rr = ReadReport(dir.file("r.json"));
            EXPECT_EQ(dr.findings, rr.findings);
            EXPECT_EQ(std::pair(dr.damaged, dr.fixed), std::pair(rr.damaged, rr.fixed)) << "damaged, fixed";
            EXPECT_TRUE(dr.dryRun);
            EXPECT_FALSE(dr.anyRepaired) << "a report-only finding says it was repaired";
        }
    }
}

TEST(DryRun, WritesNoLogUnlessAskedAndNeverIntoAnArchiveFile) {
    TempDir dir;
    const std::string folder = dir.file("a");
    ASSERT_EQ(RunCli("sample '" + folder + "' --documents 40 --faults data-in-other-sub-database", dir).exit, 0);
    const std::string main = folder + "/Archief.dat";
    const auto before = test::FolderStamps(folder);

    EXPECT_EQ(RunCli("check --normal -n '" + main + "'", dir).exit, 1);
    EXPECT_FALSE(fs::exists(folder + "/Archief.log"));

    const std::string log = dir.file("elsewhere.log");
    EXPECT_EQ(RunCli("check --normal -n '" + main + "' --log '" + log + "'", dir).exit, 1);
    EXPECT_NE(test::Slurp(log).find("report only: not saved"), std::string::npos) << test::Slurp(log);

    // A log appended to a sub database would damage it: the run is refused.
    const CliRun refused = RunCli("check --normal -n '" + main + "' --log '" + folder + "/Archief_1.pdb'", dir);
    EXPECT_EQ(refused.exit, 8) << refused.out << refused.err;
    EXPECT_EQ(test::FolderStamps(folder), before);
}

// The engine's file layer of a report-only run: commits are seen by later
// connections, under the names the run gave the files, and never on disk.
TEST(DryRun, ChangesLiveInMemoryAcrossConnectionsAndRenames) {
    TempDir dir;
    const std::string path = dir.file("t.db"), moved = dir.file("u.db");
    {
        sql::Error err;
        sql::Database db = engine::CreateDatabaseFile(path, "", err);
        ASSERT_TRUE(db.exec("CREATE TABLE t(v); INSERT INTO t VALUES (1);")) << err.message;
    }
    const auto before = test::FolderStamps(dir.path());
    {
        reportonly::Scope scope;
        sql::Error err;
        {
            sql::Database db = sql::Database::open(path, "", sql::OpenMode::ReadWrite, err);
            ASSERT_TRUE(db.exec("INSERT INTO t VALUES (2); CREATE TABLE big(b);")) << err.message;
            ASSERT_TRUE(db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                                "INSERT INTO big SELECT randomblob(5000) FROM n;"));
        }
        ASSERT_EQ(reportonly::Rename(path, moved), 0);
        EXPECT_EQ(reportonly::Rename(moved, moved), EEXIST);
        sql::Database again = sql::Database::open(moved, "", sql::OpenMode::ReadWrite, err);
        ASSERT_TRUE(again.isOpen()) << err.message;
        sql::Statement st(again, "SELECT count(*), (SELECT count(*) FROM big) FROM t");
        ASSERT_EQ(st.step(), sql::Step::Row);
        EXPECT_EQ(std::pair(st.getInt64(0), st.getInt64(1)), (std::pair<std::int64_t, std::int64_t>(2, 300)));
        sql::Statement check(again, "PRAGMA integrity_check");
        ASSERT_EQ(check.step(), sql::Step::Row);
        EXPECT_EQ(check.getText(0), "ok");
        sql::Database gone = sql::Database::open(path, "", sql::OpenMode::ReadWrite, err);
        EXPECT_FALSE(gone.isOpen()) << "the old name still opens after the rename";
        sql::Database made = engine::CreateDatabaseFile(dir.file("new.db"), "", err);
        EXPECT_TRUE(made.exec("CREATE TABLE n(x)"));
    }
    EXPECT_EQ(test::FolderStamps(dir.path()), before);
}
