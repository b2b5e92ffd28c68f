#include "support/Log.h"
#include "support/Settings.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>  // mkfifo

namespace qx {
namespace {

using test::Slurp;

// Collects the lines told about unusable logs while it lives.
struct ToldProblems {
    ToldProblems() = default;
    ToldProblems(const ToldProblems&) = delete;
    ToldProblems& operator=(const ToldProblems&) = delete;
    ~ToldProblems() { SetLogProblemHandler(previous); }
    std::vector<std::string> lines;
    LogProblemHandler previous = SetLogProblemHandler([this](const std::string& p) { lines.push_back(p); });
};

class WriteLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        ASSERT_FALSE(dir.path().empty());
    }
    void TearDown() override { Settings::Reset(); }
    std::string Path(const char* name) const { return dir.file(name); }
    test::TempDir dir;
};

TEST_F(WriteLogTest, EmptyNameWritesNothing) {
    WriteLog("nothing");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(WriteLogTest, AppendsLinesInWindows1252WithCrLf) {
    Settings::Get().LogFileName = Path("Data.log");
    test::WriteFile(Path("Data.log"), "earlier\r\n");
    WriteLog("Connected to /data/caf\xC3\xA9.dat");
    WriteLog("Prijs \xE2\x82\xAC 5 \xE2\x80\x93 \xE4\xB8\xAD");
    WriteLog("");
    EXPECT_EQ(Slurp(Path("Data.log")),
              "earlier\r\nConnected to /data/caf\xE9.dat\r\nPrijs \x80 5 \x96 ?\r\n\r\n");
}

TEST_F(WriteLogTest, UnwritableTargetIsToldOnceAndTheWorkGoesOn) {
    ToldProblems told;
    const std::vector<std::string>& problems = told.lines;
    Settings::Get().LogFileName = Path("missing/Data.log");
    WriteLog("lost");
    WriteLog("lost again");
    EXPECT_FALSE(std::filesystem::exists(Path("missing")));
    EXPECT_EQ(problems.size(), 1u);
    std::filesystem::create_directory(Path("folder.log"));
    Settings::Get().LogFileName = Path("folder.log");  // a folder, not a file
    WriteLog("lost too");
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems.back().find(Path("folder.log")), std::string::npos) << problems.back();

    test::WriteFile(Path("locked.log"), "kept\r\n");
    test::Immutable lock(Path("locked.log"));
    if (lock.ok()) {
        Settings::Get().LogFileName = Path("locked.log");
        WriteLog("lost as well");
        EXPECT_EQ(Slurp(Path("locked.log")), "kept\r\n");
    }
}

TEST_F(WriteLogTest, NeverWritesThroughALinkOrIntoAnythingButAFile) {
    test::TempDir outside;
    const std::string target = outside.file("elsewhere.txt");
    test::WriteFile(target, "theirs\n");
    std::filesystem::create_symlink(target, Path("Data.log"));
    std::filesystem::create_symlink(Path("nothing-yet.txt"), Path("Dangling.log"));
    ASSERT_EQ(::mkfifo(Path("Pipe.log").c_str(), 0644), 0);
    ToldProblems told;
    for (const char* log : {"Data.log", "Dangling.log", "Pipe.log"}) {
        Settings::Get().LogFileName = Path(log);
        WriteLog("not here");
        WriteLog("nor here");
    }
    EXPECT_EQ(Slurp(target), "theirs\n");
    EXPECT_FALSE(std::filesystem::exists(Path("nothing-yet.txt")));
    EXPECT_EQ(told.lines.size(), 3u);  // once per log
    for (const std::string& p : told.lines) EXPECT_EQ(p.find('\n'), std::string::npos) << p;
}

TEST(Cp1252, ConvertsAndEveryByteSurvivesARoundTrip) {
    const struct { const char* name; std::string utf8, cp1252; } cases[] = {
        {"ascii", "Level 2 Check [12]", "Level 2 Check [12]"},
        {"latin1", "\xC2\xA9\xC3\xAF\xC3\xBF", "\xA9\xEF\xFF"},
        {"high table", "\xE2\x82\xAC\xC5\xA0\xE2\x84\xA2\xC5\xB8", "\x80\x8A\x99\x9F"},
        {"unmappable", "\xC4\x80\xF0\x9F\x98\x80", "??"},
        {"truncated sequence", "a\xC3", "a?"},
        {"stray continuation", "\x81x", "?x"},
        {"overlong slash", "\xC0\xAF", "??"},
        {"surrogate", "\xED\xA0\x80", "???"},
        {"beyond unicode", "\xF4\x90\x80\x80", "????"},
        {"embedded nul", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252) << c.name;
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
    EXPECT_EQ(Cp1252ToUtf8("\x80\xA9"), "\xE2\x82\xAC\xC2\xA9");
}

TEST(LogFileNameFor, ReplacesTheFileExtensionOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"/data/Data.dat", "/data/Data.log"},
        {"Data.backup.dat", "Data.backup.log"},
        {"/data/v1.2/archive", "/data/v1.2/archive.log"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(LogFileNameFor(in), out) << in;
}

}  // namespace
}  // namespace qx
