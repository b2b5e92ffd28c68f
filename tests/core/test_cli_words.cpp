// The command line's result lines are Dutch like the rest of what it says;
// only the list lines, JSON and exit codes keep their fixed forms.
#include "cli/TerminalWindow.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CliRunner.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using qx::test::ArchiveBuilder;
using qx::test::CliRun;
using qx::test::RunCli;
using qx::test::ShellQuote;
using qx::test::TempDir;

TEST(CliWords, ReportOnlyChangesAreToldInDutch) {
    const struct {
        const char* name;
        const char* change;
        const char* shown;
    } cases[] = {
        {"a rename", "rename /a/Archief_3.pdb -> /a/Archief_1.pdb", "zou hernoemen: /a/Archief_3.pdb -> /a/Archief_1.pdb"},
        {"a rename into a name with spaces", "rename /a/x.pdb -> /a/x b.pdb.obsolete",
         "zou hernoemen: /a/x.pdb -> /a/x b.pdb.obsolete"},
        {"a delete", "delete /a/Archief.omd-journal", "zou verwijderen: /a/Archief.omd-journal"},
        // Never dropped: a change the terminal has no words for is still shown.
        {"another kind of change", "truncate /a/x.pdb", "zou: truncate /a/x.pdb"},
        {"a rename without its target", "rename /a/x.pdb", "zou: rename /a/x.pdb"},
    };
    for (const auto& c : cases) EXPECT_EQ(qx::cli::ReportOnlyChange(c.change), c.shown) << c.name;
}

TEST(CliWords, LabelledValuesLineUpWhateverTheLabels) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> fields;
        const char* shown;
    } cases[] = {
        {"values in one column", {{"naam", "doc3"}, {"trefwoorden", "gas;"}}, "naam         doc3\ntrefwoorden  gas;\n"},
        {"a two-byte letter counts as one column",
         {{"\xC3\xA9\xC3\xA9n", "1"}, {"twee", "2"}},
         "\xC3\xA9\xC3\xA9n   1\ntwee  2\n"},
        {"an empty value leaves no trailing blanks", {{"postcode", ""}, {"datum", "1-2-2003"}},
         "postcode\ndatum     1-2-2003\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(qx::cli::LabelledLines(c.fields), c.shown) << c.name;
}

// What each command prints for a person, report-only so that one archive
// serves them all: none of the English wording it once had.
TEST(CliWords, ResultLinesOfEveryCommandAreDutch) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2, 3});
    const std::string archive = ShellQuote(a.main);
    const char* english[] = {"archive ", "generation", "sub databases", "(none)", "would ", "report only",
                             "removed", "name ", "keywords", "explanation", "page rows", "no document",
                             "is a folder", "could not", "refused"};
    const struct {
        const char* name;
        std::string args;
        int exit;
        std::vector<const char*> dutch;
    } cases[] = {
        {"open", "open -n " + archive, 0,
         {"archief    ", "generatie  ", "subdatabases:", "alleen rapporteren: er is niets gewijzigd op schijf"}},
        {"info", "info " + archive + " 2", 0, {"nummer       2\n", "naam         doc2\n", "subdatabase  "}},
        {"info of a folder", "info " + archive + " 1", 4, {"1 is een map in "}},
        {"remove", "remove -n --yes " + archive + " 2 77", 4,
         {"2\tverwijderd\n", "geen document 77 in ", "alleen rapporteren"}},
        {"remove answered no", "remove --no " + archive + " 3", 32, {"niets verwijderd\n"}},
        {"repair-multipage", "repair-multipage -n " + archive, 0, {": 0 paginaregels gewijzigd (", "alleen rapporteren"}},
        {"compact", "compact -n " + archive, 0, {"alleen rapporteren"}},
    };
    for (const auto& c : cases) {
        const CliRun r = RunCli(c.args, dir);
        EXPECT_EQ(r.exit, c.exit) << c.name << "\n" << r.out << r.err;
        const std::string said = r.out + r.err;
        for (const char* d : c.dutch) EXPECT_NE(said.find(d), std::string::npos) << c.name << ": " << d << "\n" << said;
        for (const char* e : english) EXPECT_EQ(said.find(e), std::string::npos) << c.name << ": " << e << "\n" << said;
    }
}
