// Durable file operations and file identity: a rename never replaces what
// stands under the new name, a refused or failed step leaves the names as
// they were, and two paths are one file by identity, whatever their text.
#include "support/DurableFiles.h"
#include "support/Failpoint.h"
#include "tests/core/CliRunner.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

namespace fs = std::filesystem;

namespace qx {
namespace {

using test::Slurp;
using test::TempDir;
using test::WriteFile;

class DurableFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        failpoints::Reset();
    }
    void TearDown() override { failpoints::Reset(); }
    std::string Path(const std::string& name) const { return dir.file(name); }
    TempDir dir;
};

// What stands under a name, compared before and after a refused change.
std::string Describe(const std::string& path) {
    std::error_code ec;
    switch (KindOf(path)) {
    case EntryKind::None: return "nothing";
    case EntryKind::RegularFile: return "file:" + Slurp(path);
    case EntryKind::Folder: return "folder:" + std::to_string(std::distance(fs::directory_iterator(path, ec), {}));
    case EntryKind::Link: return "link:" + fs::read_symlink(path, ec).string();
    case EntryKind::Other: return "other";
    }
    return "?";
}

// Each kind of entry that can stand under a taken name.
const std::pair<const char*, std::function<void(const std::string& target, const std::string& dir)>> kOccupants[] = {
    {"file", [](const std::string& t, const std::string&) { WriteFile(t, "standing"); }},
    {"folder", [](const std::string& t, const std::string&) { fs::create_directory(t), WriteFile(t + "/inside", "x"); }},
    {"empty folder", [](const std::string& t, const std::string&) { fs::create_directory(t); }},
    {"dangling link", [](const std::string& t, const std::string& d) { fs::create_symlink(d + "/nowhere", t); }},
    {"link to a file", [](const std::string& t, const std::string& d) {
         WriteFile(d + "/elsewhere", "linked");
         fs::create_symlink(d + "/elsewhere", t);
     }},
};

TEST(DurableFiles, RenameOrCreateOnATakenNameIsRefusedAndChangesNothing) {
    for (const auto& [name, place] : kOccupants) {
        SCOPED_TRACE(name);
        TempDir dir;
        const std::string from = dir.file("from.pdb"), to = dir.file("to.pdb");
        WriteFile(from, "moving");
        place(to, dir.path());
        const std::string before = Describe(to);
        EXPECT_EQ(RenameNoReplace(from, to, "test.rename"), EEXIST);
        EXPECT_EQ(Describe(to), before);
        EXPECT_EQ(Describe(from), "file:moving");
        EXPECT_EQ(CreateDurableFile(to, "written", "test.create"), EEXIST);
        EXPECT_EQ(Describe(to), before);
        EXPECT_EQ(Describe(dir.file("nowhere")), "nothing");  // a link is not followed to create its target
    }
}

TEST_F(DurableFilesTest, RenameAndCreateOnAFreeName) {
    const std::string from = Path("a.pdb"), to = Path("b.pdb");
    WriteFile(from, "moving");
    ASSERT_EQ(RenameNoReplace(from, to, "test.rename"), 0);
    EXPECT_EQ(Describe(from), "nothing");
    EXPECT_EQ(Describe(to), "file:moving");

    fs::create_directory(Path("sub"));
    ASSERT_EQ(RenameNoReplace(to, Path("sub/c.pdb"), "test.rename"), 0);  // into another folder
    EXPECT_EQ(Describe(Path("sub/c.pdb")), "file:moving");

    ASSERT_EQ(CreateDurableFile(Path("x.intent"), std::string("a\0b", 3), "test.create"), 0);
    EXPECT_EQ(Slurp(Path("x.intent")), std::string("a\0b", 3));
    EXPECT_EQ(RenameNoReplace(Path("absent"), Path("d.pdb"), "test.rename"), ENOENT);
    EXPECT_EQ(Describe(Path("d.pdb")), "nothing");
}

// Every point a step passes, made to fail: the rename leaves both names as
// they were, the creation leaves nothing behind.
TEST_F(DurableFilesTest, AnInjectedErrorLeavesTheNamesAsTheyWere) {
    const struct { const char* point; FailAction action; int expected; bool rename; } cases[] = {
        {"test.step", FailAction::NoSpace, ENOSPC, true},
        {"test.step", FailAction::IoError, EIO, true},
        {"test.step.sync", FailAction::IoError, EIO, false},  // a rename writes no file to sync
        {"test.step.sync-folder", FailAction::NoSpace, ENOSPC, true},
    };
    const std::string from = Path("from.pdb"), to = Path("to.pdb");
    WriteFile(from, "moving");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.point) + " " + std::to_string(c.expected));
        if (c.rename) {
            failpoints::Arm(c.point, 1, c.action);
            EXPECT_EQ(RenameNoReplace(from, to, "test.step"), c.expected);
            EXPECT_EQ(Describe(from), "file:moving");
            EXPECT_EQ(Describe(to), "nothing");
        }
        failpoints::Reset();
        failpoints::Arm(c.point, 1, c.action);
        EXPECT_EQ(CreateDurableFile(Path("new.intent"), "written", "test.step"), c.expected);
        EXPECT_EQ(Describe(Path("new.intent")), "nothing");
        failpoints::Reset();
    }
}

TEST_F(DurableFilesTest, RemoveLeavesTheFileOnAnInjectedError) {
    WriteFile(Path("old.pdb"), "kept");
    failpoints::Arm("test.remove", 1, FailAction::IoError);
    EXPECT_EQ(RemoveDurably(Path("old.pdb"), "test.remove"), EIO);
    EXPECT_EQ(Describe(Path("old.pdb")), "file:kept");
    EXPECT_EQ(RemoveDurably(Path("old.pdb"), "test.remove"), 0);
    EXPECT_EQ(Describe(Path("old.pdb")), "nothing");
    EXPECT_EQ(RemoveDurably(Path("old.pdb"), "test.remove"), ENOENT);
}

// Folder "d" with files "x" and "y" (same bytes), folder "d/sub", a link
// "d/lx" to "x", a hard link "d/hx" to "x", a link "ld" to the folder "d".
TEST_F(DurableFilesTest, SameFileJudgesByIdentity) {
    fs::create_directories(Path("d/sub"));
    WriteFile(Path("d/x"), "same bytes");
    WriteFile(Path("d/y"), "same bytes");
    fs::create_symlink(Path("d/x"), Path("d/lx"));
    fs::create_hard_link(Path("d/x"), Path("d/hx"));
    fs::create_directory_symlink(Path("d"), Path("ld"));
    const struct { const char *name, *a, *b; bool same; } cases[] = {
        {"itself", "d/x", "d/x", true},
        {"dot", "d/./x", "d/x", true},
        {"dot dot", "d/sub/../x", "d/x", true},
        {"symlink", "d/lx", "d/x", true},
        {"hard link", "d/hx", "d/x", true},
        {"through a linked folder", "ld/x", "d/x", true},
        {"folder and trailing slash", "d/sub/", "d/sub", true},
        {"different files, same bytes", "d/y", "d/x", false},
        {"file and its folder", "d/x", "d", false},
        {"one missing", "d/missing", "d/x", false},
        {"both missing", "d/missing", "d/missing", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SameFile(Path(c.a), Path(c.b)), c.same) << c.name;
        EXPECT_EQ(SameFile(Path(c.b), Path(c.a)), c.same) << c.name << " (reversed)";
    }
}

// The archive folder "a" and a folder "b" elsewhere; "a/l" is a link to
// "b/f", "a/f" a plain file, "la" a link to the folder "a".
TEST_F(DurableFilesTest, EntryLiesInJudgesTheEntryNotItsTarget) {
    fs::create_directories(Path("a/sub"));
    fs::create_directories(Path("b"));
    WriteFile(Path("a/f"), "in a");
    WriteFile(Path("b/f"), "in b");
    fs::create_symlink(Path("b/f"), Path("a/l"));
    fs::create_directory_symlink(Path("a"), Path("la"));
    const struct { const char *name, *entry, *folder; bool inside; } cases[] = {
        {"plain file", "a/f", "a", true},
        {"plain file, other folder", "a/f", "b", false},
        {"link lies where it stands", "a/l", "a", true},
        {"link not where it points", "a/l", "b", false},
        {"absent name", "a/new.pdb", "a", true},
        {"through a linked folder", "la/f", "a", true},
        {"dot dot in the folder", "a/sub/../f", "a", true},
        {"in a sub folder", "a/sub/f", "a", false},
        {"the folder itself", "a/.", "a", false},
        {"its parent", "a/sub/..", "a", false},
    };
    for (const auto& c : cases) EXPECT_EQ(EntryLiesIn(Path(c.entry), Path(c.folder)), c.inside) << c.name;
}

}  // namespace
}  // namespace qx
