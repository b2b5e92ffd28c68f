// Why an archive cannot be opened reaches the user as a Dutch sentence that
// says what happened and what to do; the engine's own words are kept apart
// as details. No reason is ever swallowed, and a file that is held, missing
// or may not be read is never called damaged.
#include "database/access/EngineErrorText.h"
#include "database/access/FileNames.h"
#include "database/access/OpenArchive.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/engine/Connection.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CliRunner.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include <unistd.h>

using namespace qx;
using namespace qx::test;
namespace fs = std::filesystem;

namespace {

std::string Sentence(long text, const std::string& path) { return FormatMsg(GetResString(text, ""), {path}); }

// Says every file may be written, as a platform without the test does (and
// as a share may do that refuses the write itself).
class SaysWritable : public EnvWrapper {
public:
    using EnvWrapper::EnvWrapper;
    int AccessError(const std::string& path, bool forWriting) override {
        return forWriting ? 0 : EnvWrapper::AccessError(path, false);
    }
};

}  // namespace

// Every result code the engine gives maps to the sentence of its reason;
// extended codes count by their primary code, our own codes are "other".
TEST(EngineErrorText, ResultCodesMapToTheirDutchSentence) {
    TempDir dir;
    const std::string present = dir.file("er.dat"), absent = dir.file("weg.dat");
    WriteFile(present, "x");
    const struct Case {
        const char* name;
        long code;
        const std::string& path;
        EngineProblem problem;
        long text;
        bool salvage = false;  // the advice names salvage, in the window and on the terminal
    } cases[] = {
        {"busy", 5, present, EngineProblem::InUse, 331},
        {"busy, extended (snapshot)", 5 | (2 << 8), present, EngineProblem::InUse, 331},
        {"locked", 6, present, EngineProblem::InUse, 331},
        {"cannot open, file there", 14, present, EngineProblem::CannotOpen, 332},
        {"cannot open, file missing", 14, absent, EngineProblem::Missing, 333},
        {"permission", 3, present, EngineProblem::NoPermission, 334},
        {"not a database", 26, present, EngineProblem::NotAnArchive, 335},
        {"corrupt", 11, present, EngineProblem::Damaged, 336, true},
        {"disk full", 13, present, EngineProblem::DiskFull, 337},
        {"I/O error", 10, present, EngineProblem::ReadError, 338},
        {"I/O error, extended (short read)", 10 | (2 << 8), present, EngineProblem::ReadError, 338},
        {"I/O error while syncing (extended, above 1000)", 10 | (4 << 8), present, EngineProblem::ReadError, 338},
        {"write error (extended)", 10 | (3 << 8), present, EngineProblem::ReadError, 338},
        {"read-only", 8, present, EngineProblem::ReadOnly, 339},
        {"our own: not a regular file", 1005, present, EngineProblem::Other, 340},
        {"no code", 0, present, EngineProblem::Other, 340},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const EngineProblem problem = ProblemOfOpen(RealEnv(), c.code, c.path);
        EXPECT_EQ(problem, c.problem);
        const std::string sentence = ProblemSentence(problem, c.path);
        EXPECT_EQ(sentence, Sentence(c.text, c.path));
        EXPECT_NE(sentence.find(c.path), std::string::npos);
        // Only damage is for salvage: a held, unreadable or missing file is not damaged.
        EXPECT_EQ(sentence.find("Database > Bergen") != std::string::npos, c.salvage) << sentence;
        EXPECT_EQ(sentence.find("quillex-cli salvage") != std::string::npos, c.salvage) << sentence;
    }
    if (::geteuid() != 0) {
        fs::permissions(present, fs::perms::none);
        EXPECT_EQ(ProblemOfOpen(RealEnv(), 14, present), EngineProblem::NoPermission);
    }
    EXPECT_EQ(EngineDetails({{26, "Unrecognized database format 'x'."}, {10, "disk I/O error"}}),
              "Unrecognized database format 'x'. (26)\r\ndisk I/O error (10)");
}

// A connection that fails shows the Dutch sentence after text 87; the
// engine's words are the details, not part of the sentence.
TEST(EngineErrorText, AFailedConnectionLeadsWithDutchAndKeepsTheEngineWordsApart) {
    TempDir dir;
    const std::string file = dir.file("Geen.dat");
    WriteFile(file, std::string(4096, 'x'));
    ScriptedWindow window;
    CDatabase db(window, window.env());
    db.m_bShowErrors = true;
    EXPECT_FALSE(db.OpenDatabase(CDatabase::ConnectString(file, PasswordForGeneration(8)), false));
    ASSERT_FALSE(window.boxes.empty());
    const ScriptedWindow::Box& box = window.boxes.front();
    EXPECT_EQ(box.text, GetResString(87, "") + "\r\n" + Sentence(335, file));
    EXPECT_NE(box.details.find("(26)"), std::string::npos) << box.details;
    EXPECT_EQ(box.text.find("(26)"), std::string::npos) << box.text;
    EXPECT_EQ(box.title, GetResString(86, ""));
}

// Each reason an archive is not opened is one box that names it; a damaged
// or held OCR database is one box too, with the engine's words as details.
TEST(OpenFailures, EveryReasonIsOneBoxThatSaysWhatToDo) {
    const ShortBusyWait shortWait;
    struct Case {
        const char* name;
        std::function<void(ArchiveBuilder&, std::unique_ptr<sql::Database>&)> arrange;
        std::function<std::string(const ArchiveBuilder&)> file;  // what is opened
        bool opens;
        std::function<std::string(const ArchiveBuilder&)> text;
        long title;
        const char* details;  // in the box's details; "" for none
    };
    const auto main = [](const ArchiveBuilder& a) { return a.main; };
    const Case cases[] = {
        {"the main database is missing", [](ArchiveBuilder&, auto&) {},
         [](const ArchiveBuilder& a) { return a.main + ".weg"; }, false,
         [](const ArchiveBuilder& a) { return Sentence(333, a.main + ".weg"); }, 214, ""},
        {"the OCR database is damaged",
         [](ArchiveBuilder& a, auto&) { WriteFile(OmdName(a.main), std::string(8192, 'x')); }, main, true,
         [](const ArchiveBuilder& a) { return FormatMsg(GetResString(118, ""), {OmdName(a.main)}); }, 119, "(26)"},
        {"the OCR database is held by another program",
         [](ArchiveBuilder& a, std::unique_ptr<sql::Database>& holder) {
             sql::Error err;
             holder = std::make_unique<sql::Database>(
                 sql::Database::open(RealEnv(), OmdName(a.main), "", sql::OpenMode::ReadWrite, err));
             ASSERT_TRUE(holder->exec("BEGIN EXCLUSIVE; CREATE TABLE held(x);", &err)) << err.message;
         },
         main, true, [](const ArchiveBuilder& a) { return Sentence(331, OmdName(a.main)); }, 214, "locked"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Settings::Reset();
        ArchiveBuilder a(dir.path());
        a.sub(1, {2});
        std::unique_ptr<sql::Database> holder;
        c.arrange(a, holder);
        ScriptedWindow window;
        CDatabase db(window, window.env());
        EXPECT_EQ(OpenDatabaseFile(db, c.file(a)) == OpenOutcome::Opened, c.opens);
        ASSERT_EQ(window.boxes.size(), 1u) << window.boxes.front().text << "\n" << window.boxes.back().text;
        EXPECT_EQ(window.boxes[0].text, c.text(a));
        EXPECT_EQ(window.boxes[0].title, GetResString(c.title, ""));
        EXPECT_NE(window.boxes[0].details.find(c.details), std::string::npos) << window.boxes[0].details;
    }
    Settings::Reset();
}

// A main database the write probe finds read-only although the permission
// test let it through (a platform without that test, a share that refuses
// the write itself) is refused with a box, not in silence.
TEST(OpenFailures, AReadOnlyArchiveTheProbeRefusesIsSaidSo) {
    TempDir dir;
    Settings::Reset();
    ArchiveBuilder a(dir.path());
    a.sub(1, {2});
    std::vector<std::unique_ptr<Immutable>> frozen;
    if (::geteuid() == 0) {
        for (const auto& entry : fs::directory_iterator(dir.path()))
            frozen.push_back(std::make_unique<Immutable>(entry.path().string()));
        frozen.push_back(std::make_unique<Immutable>(dir.path()));
        for (const auto& f : frozen)
            if (!f->ok()) GTEST_SKIP() << "the file system cannot make files immutable";
    } else {
        fs::permissions(dir.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        fs::permissions(a.main, fs::perms::owner_write, fs::perm_options::remove);
    }
    ScriptedWindow window;
    SaysWritable lying(window.env());
    CDatabase db(window, lying);
    EXPECT_EQ(OpenDatabaseFile(db, a.main), OpenOutcome::NotConnected);
    frozen.clear();
    if (::geteuid() != 0) fs::permissions(dir.path(), fs::perms::owner_all, fs::perm_options::add);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, FormatMsg(GetResString(270, ""), {a.main, GetResString(341, ""), a.main}));
    EXPECT_EQ(window.boxes[0].title, GetResString(273, ""));
    EXPECT_FALSE(CDatabase::Connected(db.m_AdoCnMain));
    EXPECT_TRUE(window.state.m_sDatabaseName.empty());
}

// On the terminal the engine's words follow the sentence on a line of their
// own, indented.
TEST(OpenFailures, TheTerminalPrintsTheEngineWordsOnASecondLine) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2});
    WriteFile(OmdName(a.main), std::string(8192, 'x'));
    const CliRun r = RunCli("open " + ShellQuote(a.main), dir);
    const std::string sentence = FormatMsg(GetResString(118, ""), {OmdName(a.main)});
    const std::string lastLine = sentence.substr(sentence.rfind('\n') + 1);
    const std::size_t at = r.err.find(lastLine);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_EQ(r.err.compare(at + lastLine.size(), 6, "\n    U"), 0) << r.err;
    EXPECT_NE(r.err.find("\n    Unrecognized database format '" + OmdName(a.main) + "'. (26)\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(Occurrences(r.err, "(26)"), 1) << r.err;
}
