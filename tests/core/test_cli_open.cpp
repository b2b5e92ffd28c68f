// quillex-cli open: output, exit code and the files on disk afterwards.
#include "support/TextResources.h"
#include "support/engine/Connection.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CliRunner.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

using qx::test::ArchiveBuilder;
using qx::test::CliRun;
using qx::test::RunCli;
using qx::test::ShellQuote;
using qx::test::Slurp;
using qx::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('%')); }

}  // namespace

TEST(CliOpen, AcceptsCurrentGenerationsAndRefusesTheRest) {
    struct Case { int generation; int exit; int refusalText; } cases[] = {
        {8, 0, 0}, {7, 0, 0}, {6, 8, 70}, {5, 8, 70}, {4, 8, 70},
    };
    for (const Case& c : cases) {
        TempDir dir;
        ArchiveBuilder a(dir.path(), c.generation);
        a.sub(1, {2, 3});
        const CliRun r = RunCli("open '" + a.main + "'", dir);
        EXPECT_EQ(r.exit, c.exit) << c.generation << "\n" << r.err;
        if (c.exit == 0) {
            EXPECT_NE(r.out.find("generatie  " + std::to_string(c.generation)), std::string::npos) << r.out;
            EXPECT_NE(r.out.find(qx::SubDatabaseName(a.main, 1)), std::string::npos) << r.out;
            EXPECT_NE(Slurp(qx::LogName(a.main)).find("Connected to " + a.main + "\r\n"), std::string::npos);
        } else {
            EXPECT_NE(r.err.find(FirstLine(qx::GetResString(c.refusalText, ""))), std::string::npos) << r.err;
            EXPECT_FALSE(fs::exists(qx::LogName(a.main)));
        }
    }
}

TEST(CliOpen, ReportsOperationalAndUsageErrors) {
    TempDir dir;
    qx::test::WriteFile(dir.file("notes.dat"), std::string(3000, 'n'));
    struct Case { std::string args; int exit; std::string inErr; } cases[] = {
        {"open '" + dir.file("notes.dat") + "'", 8, FirstLine(qx::GetResString(109, ""))},
        {"open '" + dir.file("absent.dat") + "'", 8, "absent.dat bestaat niet"},
        {"open '" + dir.path() + "'", 8, " is een map, geen archief (.dat)"},
        {"open", 16, "archief (.dat) op (probeer 'quillex-cli open --help')"},
        {"open a.dat b.dat", 16, "archief (.dat) op (probeer 'quillex-cli open --help')"},
        {"open --yes --no x.dat", 16, "--yes en --no sluiten elkaar uit"},
        {"frobnicate", 16, "Onbekende opdracht: frobnicate (probeer 'quillex-cli --help')"},
    };
    for (const Case& c : cases) {
        const CliRun r = RunCli(c.args, dir);
        EXPECT_EQ(r.exit, c.exit) << c.args;
        EXPECT_NE(r.err.find(c.inErr), std::string::npos) << c.args << "\n" << r.err;
    }
}

TEST(CliOpen, ProblemsLeftGiveExitFour) {
    for (const bool ocr : {false, true}) {
        SCOPED_TRACE(ocr ? "OCR database missing" : "sub database missing");
        TempDir dir;
        ArchiveBuilder a(dir.path());
        a.sub(1, {2}).sub(2, {3});
        fs::remove(ocr ? qx::OmdName(a.main) : qx::SubDatabaseName(a.main, 2));
        const CliRun r = RunCli("open '" + a.main + "'", dir);
        EXPECT_EQ(r.exit, 4) << r.out << r.err;
        // Told by the notice's own title, with no English kind before it.
        EXPECT_NE(r.err.find(ocr ? "OCR data niet gevonden: " : "Databasefout: "), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
    }
}

TEST(CliOpen, ArchivesInFoldersWithOddNamesOpenAndCheck) {
    const std::string folders[] = {
        "semi;colon", "equals=sign", "x;Data Source=y", "x;Jet OLEDB:Database Password=y", "%PWD%",
        "it's", "say \"hi\"", "\"quoted\"", "\u00c9\u00e9n \u00fc", " padded ",
    };
    for (const std::string& name : folders) {
        SCOPED_TRACE(name);
        TempDir dir;
        const std::string folder = dir.file(name);
        ASSERT_TRUE(fs::create_directory(folder));
        ArchiveBuilder a(folder);
        a.sub(1, {2, 3}).sub(2, {4});
        const CliRun opened = RunCli("open " + ShellQuote(a.main), dir);
        EXPECT_EQ(opened.exit, 0) << opened.out << opened.err;
        EXPECT_NE(opened.out.find(qx::SubDatabaseName(a.main, 2)), std::string::npos) << opened.out;
        const CliRun checked = RunCli("check --normal " + ShellQuote(a.main), dir);
        EXPECT_EQ(checked.exit, 0) << checked.out << checked.err;
        // Nothing was created outside the archive's folder, and the password
        // went into no file name.
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            const std::string n = entry.path().filename().string();
            EXPECT_TRUE(n == name || n == "cli.out" || n == "cli.err") << n;
        }
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_EQ(entry.path().string().find(a.password), std::string::npos) << entry.path();
    }
}

TEST(CliOpen, ALogThatIsALinkIsLeftAloneAndTheArchiveStillOpens) {
    TempDir dir, outside;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2, 3});
    const std::string theirs = outside.file("theirs.txt");
    qx::test::WriteFile(theirs, "not a log\n");
    fs::create_symlink(theirs, qx::LogName(a.main));
    const CliRun r = RunCli("open " + ShellQuote(a.main), dir);
    EXPECT_EQ(r.exit, 0) << r.out << r.err;
    EXPECT_EQ(Slurp(theirs), "not a log\n");
    const std::string told = "The log '" + qx::LogName(a.main) + "' cannot be used";
    const auto first = r.err.find(told);
    EXPECT_NE(first, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(told, first + 1), std::string::npos) << "told more than once:\n" << r.err;
}

// A sub database another program holds is not damage: opening names it and
// ends as in use (exit 8), as the check does; once it is free, the archive
// opens clean.
TEST(CliOpen, ASubDatabaseHeldByAnotherProgramEndsAsInUse) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2}).sub(2, {3});
    const std::string held = qx::SubDatabaseName(a.main, 2);
    const qx::test::ShortBusyWait shortWait;
    const struct Case {
        const char* name;
        bool hold;
        int exit;
    } cases[] = {{"held", true, 8}, {"free again", false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qx::sql::Error err;
        qx::sql::Database holder;
        if (c.hold) {
            holder = qx::sql::Database::open(qx::RealEnv(), held, qx::engine::PasswordBytes(a.password),
                                             qx::sql::OpenMode::ReadWrite, err);
            ASSERT_TRUE(holder.exec("BEGIN EXCLUSIVE", &err)) << err.message;
        }
        const CliRun r = RunCli("open " + ShellQuote(a.main), dir);
        EXPECT_EQ(r.exit, c.exit) << r.out << r.err;
        EXPECT_EQ(r.err.find("in gebruik bij een ander programma: " + held + "\n") != std::string::npos, c.hold) << r.err;
        EXPECT_NE(r.out.find(held), std::string::npos) << r.out;
        if (c.hold) holder.exec("ROLLBACK");
    }
}
