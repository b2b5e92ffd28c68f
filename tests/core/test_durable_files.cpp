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

struct Occupant {
    const char* name;
    std::function<void(const std::string& target, const std::string& dir)> place;
};

void PrintTo(const Occupant& c, std::ostream* os) { *os << c.name; }

void PlaceFile(const std::string& t, const std::string&) { WriteFile(t, "standing"); }
void PlaceFolder(const std::string& t, const std::string&) {
    fs::create_directory(t);
    WriteFile(t + "/inside", "x");
}
void PlaceEmptyFolder(const std::string& t, const std::string&) { fs::create_directory(t); }
void PlaceDanglingLink(const std::string& t, const std::string& d) { fs::create_symlink(d + "/nowhere", t); }
void PlaceLinkToFile(const std::string& t, const std::string& d) {
    WriteFile(d + "/elsewhere", "linked");
    fs::create_symlink(d + "/elsewhere", t);
}

const Occupant kOccupants[] = {
    {"file", PlaceFile},
    {"folder", PlaceFolder},
    {"empty_folder", PlaceEmptyFolder},
    {"dangling_link", PlaceDanglingLink},
    {"link_to_a_file", PlaceLinkToFile},
};

class RenameOntoTaken : public DurableFilesTest, public ::testing::WithParamInterface<Occupant> {};

TEST_P(RenameOntoTaken, IsRefusedAndChangesNothing) {
    const std::string from = Path("from.pdb"), to = Path("to.pdb");
    WriteFile(from, "moving");
    GetParam().place(to, dir.path());
    const std::string before = Describe(to);
    EXPECT_EQ(RenameNoReplace(from, to, "test.rename"), EEXIST);
    EXPECT_EQ(Describe(to), before);
    EXPECT_EQ(Describe(from), "file:moving");
}

class CreateOnTaken : public DurableFilesTest, public ::testing::WithParamInterface<Occupant> {};

TEST_P(CreateOnTaken, IsRefusedAndChangesNothing) {
    const std::string path = Path("new.intent");
    GetParam().place(path, dir.path());
    const std::string before = Describe(path);
    EXPECT_EQ(CreateDurableFile(path, "written", "test.create"), EEXIST);
    EXPECT_EQ(Describe(path), before);
    EXPECT_EQ(Describe(Path("nowhere")), "nothing");  // a link is not followed to create its target
}

const auto kOccupantName = [](const ::testing::TestParamInfo<Occupant>& info) {
    return std::string(info.param.name);
};
INSTANTIATE_TEST_SUITE_P(Occupants, RenameOntoTaken, ::testing::ValuesIn(kOccupants), kOccupantName);
INSTANTIATE_TEST_SUITE_P(Occupants, CreateOnTaken, ::testing::ValuesIn(kOccupants), kOccupantName);

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

// Every point a step passes, and the error it is made to fail with.
struct InjectedCase {
    const char* name;
    const char* point;
    FailAction action;
    int expected;
};

void PrintTo(const InjectedCase& c, std::ostream* os) { *os << c.name; }

const InjectedCase kRenamePoints[] = {
    {"at_the_step_no_space", "test.step", FailAction::NoSpace, ENOSPC},
    {"at_the_step_io_error", "test.step", FailAction::IoError, EIO},
    {"at_the_folder_sync", "test.step.sync-folder", FailAction::NoSpace, ENOSPC},
};
const InjectedCase kCreatePoints[] = {
    {"at_the_step_no_space", "test.step", FailAction::NoSpace, ENOSPC},
    {"at_the_step_io_error", "test.step", FailAction::IoError, EIO},
    {"at_the_file_sync", "test.step.sync", FailAction::IoError, EIO},
    {"at_the_folder_sync", "test.step.sync-folder", FailAction::NoSpace, ENOSPC},
};
const auto kInjectedName = [](const ::testing::TestParamInfo<InjectedCase>& info) {
    return std::string(info.param.name);
};

class RenameInjected : public DurableFilesTest, public ::testing::WithParamInterface<InjectedCase> {};

TEST_P(RenameInjected, LeavesBothNamesAsTheyWere) {
    const InjectedCase& c = GetParam();
    const std::string from = Path("from.pdb"), to = Path("to.pdb");
    WriteFile(from, "moving");
    failpoints::Arm(c.point, 1, c.action);
    EXPECT_EQ(RenameNoReplace(from, to, "test.step"), c.expected);
    EXPECT_EQ(Describe(from), "file:moving");
    EXPECT_EQ(Describe(to), "nothing");
}

class CreateInjected : public DurableFilesTest, public ::testing::WithParamInterface<InjectedCase> {};

TEST_P(CreateInjected, LeavesNothingBehind) {
    const InjectedCase& c = GetParam();
    failpoints::Arm(c.point, 1, c.action);
    EXPECT_EQ(CreateDurableFile(Path("new.intent"), "written", "test.step"), c.expected);
    EXPECT_EQ(Describe(Path("new.intent")), "nothing");
}

INSTANTIATE_TEST_SUITE_P(Points, RenameInjected, ::testing::ValuesIn(kRenamePoints), kInjectedName);
INSTANTIATE_TEST_SUITE_P(Points, CreateInjected, ::testing::ValuesIn(kCreatePoints), kInjectedName);

TEST_F(DurableFilesTest, RemoveLeavesTheFileOnAnInjectedError) {
    WriteFile(Path("old.pdb"), "kept");
    failpoints::Arm("test.remove", 1, FailAction::IoError);
    EXPECT_EQ(RemoveDurably(Path("old.pdb"), "test.remove"), EIO);
    EXPECT_EQ(Describe(Path("old.pdb")), "file:kept");
    EXPECT_EQ(RemoveDurably(Path("old.pdb"), "test.remove"), 0);
    EXPECT_EQ(Describe(Path("old.pdb")), "nothing");
    EXPECT_EQ(RemoveDurably(Path("old.pdb"), "test.remove"), ENOENT);
}

struct IdentityCase {
    const char* name;
    const char* a;
    const char* b;
    bool same;
};

void PrintTo(const IdentityCase& c, std::ostream* os) { *os << c.name; }

// Laid out in SetUp: folder "d" with files "x" and "y" (same bytes), folder
// "d/sub", a link "d/lx" to "x", a hard link "d/hx" to "x", a link "ld" to
// the folder "d".
class SameFileTest : public DurableFilesTest, public ::testing::WithParamInterface<IdentityCase> {
protected:
    void SetUp() override {
        DurableFilesTest::SetUp();
        fs::create_directories(Path("d/sub"));
        WriteFile(Path("d/x"), "same bytes");
        WriteFile(Path("d/y"), "same bytes");
        fs::create_symlink(Path("d/x"), Path("d/lx"));
        fs::create_hard_link(Path("d/x"), Path("d/hx"));
        fs::create_directory_symlink(Path("d"), Path("ld"));
    }
};

TEST_P(SameFileTest, JudgesByIdentity) {
    const IdentityCase& c = GetParam();
    EXPECT_EQ(SameFile(Path(c.a), Path(c.b)), c.same) << c.a << " vs " << c.b;
    EXPECT_EQ(SameFile(Path(c.b), Path(c.a)), c.same) << c.b << " vs " << c.a;
}

INSTANTIATE_TEST_SUITE_P(Cases, SameFileTest,
                         ::testing::Values(IdentityCase{"itself", "d/x", "d/x", true},
                                           IdentityCase{"dot", "d/./x", "d/x", true},
                                           IdentityCase{"dot_dot", "d/sub/../x", "d/x", true},
                                           IdentityCase{"symlink", "d/lx", "d/x", true},
                                           IdentityCase{"hard_link", "d/hx", "d/x", true},
                                           IdentityCase{"through_a_linked_folder", "ld/x", "d/x", true},
                                           IdentityCase{"folder_and_trailing_slash", "d/sub/", "d/sub", true},
                                           IdentityCase{"different_files_same_bytes", "d/y", "d/x", false},
                                           IdentityCase{"file_and_its_folder", "d/x", "d", false},
                                           IdentityCase{"one_missing", "d/missing", "d/x", false},
                                           IdentityCase{"both_missing", "d/missing", "d/missing", false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct LiesInCase {
    const char* name;
    const char* entry;
    const char* folder;
    bool inside;
};

void PrintTo(const LiesInCase& c, std::ostream* os) { *os << c.name; }

// Laid out in SetUp: the archive folder "a" and a folder "b" elsewhere; "a/l"
// is a link to "b/f", "a/f" a plain file, "la" a link to the folder "a".
class EntryLiesInTest : public DurableFilesTest, public ::testing::WithParamInterface<LiesInCase> {
protected:
    void SetUp() override {
        DurableFilesTest::SetUp();
        fs::create_directories(Path("a/sub"));
        fs::create_directories(Path("b"));
        WriteFile(Path("a/f"), "in a");
        WriteFile(Path("b/f"), "in b");
        fs::create_symlink(Path("b/f"), Path("a/l"));
        fs::create_directory_symlink(Path("a"), Path("la"));
    }
};

TEST_P(EntryLiesInTest, JudgesTheEntryNotItsTarget) {
    const LiesInCase& c = GetParam();
    EXPECT_EQ(EntryLiesIn(Path(c.entry), Path(c.folder)), c.inside) << c.entry << " in " << c.folder;
}

INSTANTIATE_TEST_SUITE_P(Cases, EntryLiesInTest,
                         ::testing::Values(LiesInCase{"plain_file", "a/f", "a", true},
                                           LiesInCase{"plain_file_other_folder", "a/f", "b", false},
                                           LiesInCase{"link_lies_where_it_stands", "a/l", "a", true},
                                           LiesInCase{"link_not_where_it_points", "a/l", "b", false},
                                           LiesInCase{"absent_name", "a/new.pdb", "a", true},
                                           LiesInCase{"through_a_linked_folder", "la/f", "a", true},
                                           LiesInCase{"dot_dot_in_the_folder", "a/sub/../f", "a", true},
                                           LiesInCase{"in_a_sub_folder", "a/sub/f", "a", false},
                                           LiesInCase{"the_folder_itself", "a/.", "a", false},
                                           LiesInCase{"its_parent", "a/sub/..", "a", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qx
