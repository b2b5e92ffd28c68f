// quillex-cli's command line: usage errors, the generated help, the spellings
// scripts rely on, --quiet and the sample's summary.
#include "database/access/FileNames.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CliRunner.h"
#include "tests/core/SampleFixture.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

using qx::test::ArchiveBuilder;
using qx::test::CliRun;
using qx::test::RunCli;
using qx::test::ShellQuote;
using qx::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(CliUsage, AUsageErrorIsOneLineSayingWhatAndWhereTheHelpIs) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2});
    const std::string m = ShellQuote(a.main);
    struct Case { std::string name, args, command, why; } cases[] = {
        {"no command", "", "", "Geef OPDRACHT op"},
        {"unknown command", "frobnicate", "", "Onbekende opdracht: frobnicate"},
        {"check without an archive", "check --quick", "check", "archief (.dat) op"},
        {"check without a kind", "check " + m, "check", "Kies \xC3\xA9\xC3\xA9n soort controle: --quick, --normal"},
        {"check with two kinds", "check --quick --normal " + m, "check", "soort controle"},
        {"check with two archives", "check --quick " + m + " " + m, "check", "archief (.dat) op"},
        {"an unknown option", "check --quick --snel " + m, "check", "Onbekende optie: --snel"},
        {"a value missing at the end", "check --quick " + m + " --json", "check", "--json heeft een waarde nodig"},
        {"a value given twice", "check --quick " + m + " --log a --log b", "check", "--log mag maar"},
        {"compact with a cut-off option", "compact " + m + " --sub", "compact", "Onbekende optie: --sub"},
        {"compact without the log's file", "compact " + m + " --log", "compact", "--log heeft een waarde nodig"},
        {"reorganize --json without --plan", "reorganize " + m + " --json", "reorganize",
         "--json alleen samen met --plan"},
        {"yes and no", "open --yes --no " + m, "open", "--yes en --no sluiten elkaar uit"},
        {"remove without numbers", "remove " + m, "remove", "Geef ARCHIEF.dat ID... op"},
        {"info with a bad code", "info " + m + " 2 --code x", "info", "Geen geldig getal voor --code: x"},
        {"info with two numbers", "info " + m + " 2 3", "info", "Geef ARCHIEF.dat ID op"},
        {"sample without a folder", "sample", "sample", "Geef MAP op"},
        {"sample with a generation out of range", "sample " + ShellQuote(dir.file("s")) + " --generation 9",
         "sample", "Geen geldig getal voor --generation: 9 (4 - 8)"},
    };
    for (const Case& c : cases) {
        const CliRun r = RunCli(c.args, dir);
        const std::string program = c.command.empty() ? "quillex-cli" : "quillex-cli " + c.command;
        EXPECT_EQ(r.exit, 16) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_EQ(Lines(r.err).size(), 1u) << c.name << "\n" << r.err;
        EXPECT_EQ(r.err.rfind(program + ": ", 0), 0u) << c.name << "\n" << r.err;
        EXPECT_NE(r.err.find(c.why), std::string::npos) << c.name << "\n" << r.err;
        EXPECT_TRUE(r.err.ends_with(" (probeer '" + program + " --help')\n")) << c.name << "\n" << r.err;
    }
}

TEST(CliUsage, TheHelpIsMadeFromTheDeclaredOptions) {
    TempDir dir;
    const std::vector<std::string> shared = {"ARCHIEF.dat", "-n, --dry-run", "--log BESTAND", "--yes", "--no",
                                             "-q, --quiet", "-h, --help"};
    struct Case { std::string command; bool archive; std::vector<std::string> own; } cases[] = {
        {"open", true, {}},
        {"check", true, {"--quick", "--normal", "--thorough", "--empty-folders", "--large-documents",
                         "-showindicators", "--report BESTAND", "--json BESTAND", "--resume", "--max-duration DUUR"}},
        {"repair-multipage", true, {}},
        {"compact", true, {"--sub-databases", "--main", "--omd", "--all"}},
        {"reorganize", true, {"--plan", "--json"}},
        {"remove", true, {"ID..."}},
        {"info", true, {"ID", "--code N", "--json BESTAND"}},
        {"sample", false, {"MAP", "--name NAAM", "--generation G", "--documents N", "--faults LIJST", "--seed S",
                           "-q, --quiet", "--json"}},
    };
    const CliRun overview = RunCli("--help", dir);
    EXPECT_EQ(overview.exit, 0);
    for (const std::string& line : Lines(overview.out)) EXPECT_LE(QString::fromStdString(line).size(), 79) << line;
    for (const Case& c : cases) {
        const CliRun r = RunCli(c.command + " --help", dir);
        EXPECT_EQ(r.exit, 0) << c.command;
        EXPECT_EQ(r.out.rfind("Gebruik: quillex-cli " + c.command + " [opties] ", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("\nOpties:\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Exitcodes: 0 "), std::string::npos) << r.out;
        std::vector<std::string> expected = c.own;
        if (c.archive) expected.insert(expected.end(), shared.begin(), shared.end());
        for (const std::string& option : expected)
            EXPECT_NE(r.out.find("\n  " + option + " "), std::string::npos) << c.command << ": " << option << "\n" << r.out;
        for (const std::string& line : Lines(r.out)) EXPECT_LE(QString::fromStdString(line).size(), 79) << line;
        // Its first sentence is its line in the overview.
        EXPECT_NE(overview.out.find("  " + c.command + " "), std::string::npos) << overview.out;
    }
}

// Scripts use these spellings; they keep working.
TEST(CliUsage, TheSpellingsScriptsUseStillWork) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2});
    const std::string m = ShellQuote(a.main), log = ShellQuote(dir.file("elders.log"));
    struct Case { std::string name, args; } cases[] = {
        {"the storage switch in any case", "check --thorough -ShowIndicators --no " + m},
        {"a value after an equals sign", "check --quick " + m + " --log=" + log},
        {"the short report-only switch", "check --quick -n " + m},
        {"options before and after the archive", "check --dry-run " + m + " --quick"},
        {"json to standard output", "check --quick " + m + " --json -"},
        {"one dash for a long option", "check -quick " + m},
    };
    for (const Case& c : cases) {
        const CliRun r = RunCli(c.args, dir);
        EXPECT_NE(r.exit, 16) << c.name << "\n" << r.err;
        EXPECT_EQ(r.err.find("probeer"), std::string::npos) << c.name << "\n" << r.err;
    }
    EXPECT_TRUE(fs::exists(dir.file("elders.log")));
}

// A folder or a missing file is named as such, and a pipe is never opened
// (reading one may never end).
TEST(CliUsage, WhatIsNoArchiveIsNamedAsSuch) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pijp.dat").c_str(), 0600), 0);
    struct Case { std::string name, path, told; } cases[] = {
        {"a folder", dir.path(), " is een map, geen archief (.dat)"},
        {"a missing file", dir.file("weg.dat"), " bestaat niet"},
        {"a pipe", dir.file("pijp.dat"), " is niet geopend"},
    };
    for (const Case& c : cases)
        for (const std::string command : {"open ", "check --quick ", "compact "}) {
            const CliRun r = RunCli(command + ShellQuote(c.path), dir);
            EXPECT_EQ(r.exit, 8) << c.name << ": " << command;
            EXPECT_EQ(r.err, "quillex-cli: " + fs::path(c.path).lexically_normal().string() + c.told + "\n")
                << c.name << ": " << command;
        }
}

TEST(CliUsage, QuietLeavesOnlyTheResultsAndTheErrors) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2}).sub(2, {3});
    fs::remove(qx::OmdName(a.main));
    const std::string m = ShellQuote(a.main);
    for (const std::string command : {"open ", "check --normal "}) {
        const CliRun told = RunCli(command + m, dir), quiet = RunCli(command + "-q " + m, dir);
        EXPECT_NE(told.err, "") << command;  // the missing OCR database
        EXPECT_EQ(quiet.err, "") << command;
        EXPECT_EQ(quiet.out, told.out) << command;
        EXPECT_EQ(quiet.exit, told.exit) << command;
    }
    // An error is still told.
    const CliRun missing = RunCli("open --quiet " + ShellQuote(dir.file("weg.dat")), dir);
    EXPECT_EQ(missing.exit, 8);
    EXPECT_NE(missing.err.find("bestaat niet"), std::string::npos);
}

TEST(CliSample, SaysInAFewLinesWhatItWroteAndWhatToRunNext) {
    TempDir dir;
    struct Case { std::string name, options, faults; } cases[] = {
        {"every fault", "--faults all", " (--faults all)."},
        {"two faults", "--faults no-data-row,parent-missing", "Fouten: no-data-row, parent-missing."},
        {"none", "", "Fouten: geen."},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string folder = dir.file("s" + std::to_string(++n));
        const CliRun r = RunCli("sample " + ShellQuote(folder) + " --documents 1200 " + c.options, dir);
        ASSERT_EQ(r.exit, 0) << r.err;
        const std::vector<std::string> lines = Lines(r.out);
        EXPECT_LE(lines.size(), 8u) << r.out;
        for (const std::string& line : lines) EXPECT_LE(QString::fromStdString(line).size(), 79) << line;
        EXPECT_NE(r.out.find("1.200 documenten"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.faults), std::string::npos) << r.out;
        const std::string main = ShellQuote(folder + "/Archief.dat");
        EXPECT_NE(r.out.find("  quillex-cli check --normal " + main + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("  quillex " + main + "\n"), std::string::npos) << r.out;
    }
}
