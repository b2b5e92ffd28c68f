// quillex-cli check against generated archives, one per kind of damage:
// every injected fault is found with its code, repaired where it can be, and
// a second run finds only what stays damaged. Also the list and JSON files.
#include "database/access/FileNames.h"
#include "database/checks/CheckProgressRecord.h"
#include "database/checks/ResultCodes.h"
#include "tests/core/CliRunner.h"
#include "tests/core/SampleFixture.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>

#include <filesystem>
#include <map>
#include <set>

using namespace qx;
using qx::test::CliRun;
using qx::test::RunCli;
using qx::test::TempDir;
namespace fs = std::filesystem;

namespace {

struct Findings {
    std::map<long, int> codes;  // document id -> code
    int damaged = 0, fixed = 0;
    std::string outcome;
};

Findings ReadJson(const std::string& path) {
    Findings f;
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(qx::test::Slurp(path))).object();
    for (const QJsonValue v : root["findings"].toArray()) {
        const QJsonObject o = v.toObject();
        f.codes[static_cast<long>(o["id"].toInteger())] = static_cast<int>(o["code"].toInteger());
        EXPECT_EQ(o["code_name"].toString().toStdString(), ResultCodeName(o["code"].toInt()));
        EXPECT_EQ(o["repaired"].toBool(), IsRepaired(o["code"].toInt()));
    }
    f.damaged = root["damaged"].toInt();
    f.fixed = root["fixed"].toInt();
    f.outcome = root["outcome"].toString().toStdString();
    return f;
}

}  // namespace

TEST(CliCheck, FindsEachFaultAndConverges) {
    struct Case {
        std::string fault, kind;
        int code;          // reported for every document the fault touched
        int codeAgain;     // reported for them by a second run; 0 = nothing
        int exitFirst, exitAgain;
    } cases[] = {
        {"no-data-row", "--normal", ResultBadLink, ResultBadLink, 4, 4},
        {"data-in-other-sub-database", "--normal", ResultBadLinkFixed, 0, 1, 0},
        {"empty-data-with-copy", "--normal", ResultEmptyFixed, 0, 1, 0},
        {"empty-data-without-copy", "--normal", ResultEmptyDocument, ResultEmptyDocument, 4, 4},
        {"parent-missing", "--normal", ResultVirtualPathFixed, 0, 1, 0},
        {"parent-cycle", "--normal", ResultVirtualPathFixed, 0, 1, 0},
        {"databaseid-zero", "--normal", ResultPdbDamaged, ResultPdbDamaged, 4, 4},
        {"sub-database-file-missing", "--normal", ResultPdbNotFound, ResultPdbNotFound, 4, 4},
        {"unopenable-sub-database", "--normal", ResultPdbOpenError, ResultPdbOpenError, 4, 4},
        {"unreferenced-data", "--quick", ResultLinkCreated, 0, 1, 0},
        {"unreferenced-empty-data", "--quick", 0, 0, 0, 0},
        // The document keeps its own data; the other row is reported, never moved onto it.
        {"same-id-different-data", "--quick", ResultStrayDuplicate, ResultStrayDuplicate, 4, 4},
        {"same-id-different-data", "--normal", ResultStrayDuplicate, ResultStrayDuplicate, 4, 4},
        {"same-id-different-data", "--thorough", ResultStrayDuplicate, ResultStrayDuplicate, 4, 4},
        {"orphan-page-no-container", "--quick", ResultMultipageOrphanFixed, 0, 1, 0},
        {"orphan-page-container-not-mp", "--quick", ResultMultipageOrphanFixed, 0, 1, 0},
        {"empty-data-with-copy", "--quick", ResultEmptyFixed, 0, 1, 0},
        {"empty-folders", "--empty-folders", ResultEmptyFolder, ResultEmptyFolder, 4, 4},
        // The thorough check: healthy images and PDFs of the sample load and
        // pass, so only the fault's documents are reported.
        {"double-byte-pdf", "--thorough", ResultDoubleByteFormatFixed, 0, 1, 0},
        {"zero-upper-half", "--thorough", ResultDoubleByteFormatFixed, 0, 1, 0},
        {"worked-example-pdf", "--thorough", ResultDoubleByteFormatFixed, 0, 1, 0},
        {"undecodable-image", "--thorough", ResultCorruptDocument, ResultCorruptDocument, 4, 4},
        {"truncated-jpeg", "--thorough", ResultCorruptDocument, ResultCorruptDocument, 4, 4},
        {"damaged-tiff-page", "--thorough", ResultCorruptDocument, ResultCorruptDocument, 4, 4},
        {"oversized-images", "--thorough", ResultCorruptDocument, ResultCorruptDocument, 4, 4},
        {"trashed-without-trash-rows", "--thorough", 0, 0, 0, 0},
        // A copy that does not load is no repair: nothing is relinked.
        {"data-in-other-sub-database", "--thorough", ResultBadLinkFixed, 0, 1, 0},
        {"damaged-copy-in-other-sub-database", "--thorough", ResultBadLink, ResultBadLink, 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault + " " + c.kind);
        TempDir dir;
        const SampleManifest m = qx::test::WriteSample(dir, {c.fault});
        const std::string json = dir.file("f.json");
        const std::string args = "check " + c.kind + " '" + m.mainDatabase + "' --json '" + json + "'";
        const CliRun first = RunCli(args, dir);
        EXPECT_EQ(first.exit, c.exitFirst) << first.out << first.err;
        // Decoders speak into the log, never onto the terminal.
        for (const char* decoder : {"TIFF", "JPEG", "libpng", "QImage"})
            EXPECT_EQ(first.err.find(decoder), std::string::npos) << first.err;
        const Findings f1 = ReadJson(json);
        // The exit code, the counters and the outcome tell the same story.
        const std::map<int, std::string> outcomes = {{0, "clean"}, {1, "repaired"}, {4, "damaged"}};
        EXPECT_EQ(f1.outcome, outcomes.at(c.exitFirst));
        EXPECT_EQ(c.exitFirst == 4, f1.damaged > 0);
        EXPECT_EQ(c.exitFirst == 1, f1.damaged == 0 && f1.fixed > 0);
        // Each touched document with its code; nothing else in a sample with one fault.
        const auto& ids = m.faultIds.at(c.fault);
        const auto expected = [&](int code) {
            std::map<long, int> codes;
            if (code) for (long id : ids) codes[id] = code;
            return codes;
        };
        std::map<long, int> found = f1.codes;
        found.erase(0);
        EXPECT_EQ(found, expected(c.code));

        const CliRun again = RunCli(args, dir);
        EXPECT_EQ(again.exit, c.exitAgain) << again.out << again.err;
        found.clear();
        for (const auto& [id, code] : ReadJson(json).codes)
            if (std::count(ids.begin(), ids.end(), id)) found[id] = code;
        EXPECT_EQ(found, expected(c.codeAgain)) << "the second run";
    }
}

TEST(CliCheck, SavesTheListAndReportsUsageErrors) {
    TempDir dir;
    const SampleManifest m = qx::test::WriteSample(dir, {"no-data-row"});
    const std::string report = dir.file("lijst.txt");
    const CliRun r = RunCli("check --normal '" + m.mainDatabase + "' --report '" + report + "'", dir);
    EXPECT_EQ(r.exit, 4);
    const std::string saved = qx::test::Slurp(report);
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 3);
    EXPECT_NE(saved.find("\t"), std::string::npos);
    EXPECT_NE(saved.find("\r\n"), std::string::npos);
    EXPECT_NE(r.out.find(saved.substr(0, saved.find('\r'))), std::string::npos);  // the same lines on screen

    struct Case { std::string args; int exit; } cases[] = {
        {"check '" + m.mainDatabase + "'", 16},
        {"check --quick --normal '" + m.mainDatabase + "'", 16},
        {"check --quick", 16},
        {"check --quick --json", 16},
        {"check --quick '" + dir.file("nothing.dat") + "'", 8},
        {"check --quick '" + m.mainDatabase + "' --report /nonexistent/dir/x.txt", 8},
    };
    for (const Case& c : cases) EXPECT_EQ(RunCli(c.args, dir).exit, c.exit) << c.args;
}

TEST(CliCheck, RefusesToWriteTheListOrJsonOntoAFileOfTheArchive) {
    TempDir dir;
    const SampleManifest m = qx::test::WriteSample(dir, {"no-data-row"});
    const std::string sub1 = SubDatabaseName(m.mainDatabase, 1);
    const std::string mainLink = dir.file("main-link.dat"), hardLink = dir.file("hard-link.bin");
    fs::create_symlink(m.mainDatabase, mainLink);
    fs::create_hard_link(SubDatabaseName(m.mainDatabase, 2), hardLink);
    // Opening the archive writes to the main database itself (sub-database
    // list upkeep, fresh cipher pages), so that one is proven whole by
    // opening it again; the others stay byte for byte the same.
    struct Case { std::string name, option, target; bool opensAfter; } cases[] = {
        {"report onto a sub database", "--report", sub1, false},
        {"report onto the OCR database", "--report", m.omdDatabase, false},
        {"report onto the main database through a symlink", "--report", mainLink, true},
        {"report onto a hard link to a sub database", "--report", hardLink, false},
        {"JSON onto the OCR database", "--json", m.omdDatabase, false},
        {"JSON onto a sub database", "--json", sub1, false},
        {"JSON onto the name of the check's progress record", "--json", CheckProgressNames(m.mainDatabase)[1], false},
    };
    for (const Case& c : cases) {
        const std::string before = qx::test::Slurp(c.target);
        fs::remove(LogName(m.mainDatabase));
        const CliRun r = RunCli("check --normal '" + m.mainDatabase + "' " + c.option + " '" + c.target + "'", dir);
        EXPECT_EQ(r.exit, 16) << c.name << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find("geweigerd, het hoort bij het archief"), std::string::npos) << c.name << "\n" << r.err;
        if (c.opensAfter) { EXPECT_EQ(RunCli("open '" + m.mainDatabase + "'", dir).exit, 0) << c.name; }
        else { EXPECT_TRUE(qx::test::Slurp(c.target) == before) << c.name << ": the file changed"; }
        // Refused before the check ran.
        EXPECT_EQ(qx::test::Slurp(LogName(m.mainDatabase)).find("check started"), std::string::npos) << c.name;
    }
}

TEST(CliCheck, JsonToStandardOutputLeavesTheListOnStandardError) {
    TempDir dir;
    const SampleManifest m = qx::test::WriteSample(dir, {"no-data-row"});
    const CliRun r = RunCli("check --normal '" + m.mainDatabase + "' --json -", dir);
    EXPECT_EQ(r.exit, 4) << r.err;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n" << r.out;
    EXPECT_EQ(doc.object()["findings"].toArray().size(), 3) << r.out;
    EXPECT_FALSE(fs::exists(dir.file("-")));
    EXPECT_NE(r.err.find("\t"), std::string::npos) << r.err;  // the list lines
}

// Checks at two levels in turn converge on every kind of damage the sample
// writer knows: what one run repairs, no later run repairs again, and a
// later normal run finds exactly what the first one left.
TEST(CliCheck, LevelsInTurnConvergeOnEveryFaultFamily) {
    for (const std::string& fault : SampleFaultNames()) {
        TempDir dir;
        const std::string folder = dir.file("a");
        if (RunCli("sample '" + folder + "' --documents 80 --faults " + fault, dir).exit != 0) continue;
        const std::string main = folder + "/Archief.dat", json = dir.file("f.json");
        std::vector<std::pair<long, long>> counts;  // fixed, damaged per run
        for (const char* level : {"--normal", "--quick", "--normal", "--quick"}) {
            const CliRun r = RunCli(std::string("check ") + level + " --yes '" + main + "' --json '" + json + "'", dir);
            const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(test::Slurp(json))).object();
            counts.emplace_back(o["fixed"].toInteger(), o["damaged"].toInteger());
        }
        EXPECT_EQ(counts[2].first, 0) << fault << ": the second normal run repaired again";
        EXPECT_EQ(counts[3].first, 0) << fault << ": the second quick run repaired again";
        EXPECT_EQ(counts[2].second, counts[0].second) << fault << ": the damage found changed";
    }
}
