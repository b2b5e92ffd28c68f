#include "support/FileOperations.h"
#include "support/SysInfo.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace qx {
namespace {

class FileOpsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.path().empty()); }
    std::string Path(const std::string& name) const { return dir.file(name); }
    std::string Touch(const std::string& name, const char* content = "") const {
        test::WriteFile(Path(name), content);
        return Path(name);
    }
    test::TempDir dir;
};

#ifndef _WIN32
TEST(PathParts, SplitsAtTheLastSeparator) {
    const struct { const char *path, *name, *folder; } cases[] = {
        {"/data/sub/Data.dat", "Data.dat", "/data/sub"},
        {"Data.dat", "Data.dat", ""},
        {"/Data.dat", "Data.dat", "/"},  // the root stays a folder
        {"/data//Data.dat", "Data.dat", "/data"},
        {"/data/sub/", "", "/data/sub"},
        {"back\\slash.dat", "back\\slash.dat", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetFileNamePart(c.path), c.name) << c.path;
        EXPECT_EQ(GetFolderPart(c.path), c.folder) << c.path;
    }
}
#endif

TEST_F(FileOpsTest, ExistenceAndLength) {
    std::string file = Touch("Data.dat", "12345");
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(dir.path()));  // folders are not files
    EXPECT_FALSE(FileExists(Path("missing.dat")));
    EXPECT_FALSE(FileExists(""));
    EXPECT_EQ(FileLength(file), 5);
    EXPECT_EQ(FileLength(Path("missing.dat")), 0);
    EXPECT_EQ(FileLength(dir.path()), 0);
}

TEST_F(FileOpsTest, ReadOnlyTogglesOnlyTheWriteBit) {
    std::string file = Touch("Data.dat");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_write);
    EXPECT_FALSE(IsFileReadOnly(file));
    SetFileReadOnly(file, true);
    EXPECT_TRUE(IsFileReadOnly(file));
    SetFileReadOnly(file, true);
    EXPECT_TRUE(IsFileReadOnly(file));
#ifndef _WIN32
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::group_write);
#endif
    SetFileReadOnly(file, false);
    EXPECT_FALSE(IsFileReadOnly(file));
    EXPECT_FALSE(IsFileReadOnly(Path("missing.dat")));
    SetFileReadOnly(Path("missing.dat"), true);
    EXPECT_FALSE(FileExists(Path("missing.dat")));
}

// The count goes before the extension, a folder takes a name too, and a "." in
// a folder name is no extension.
TEST_F(FileOpsTest, UniqueFileNameCountsUpBeforeTheExtension) {
    EXPECT_EQ(UniqueFileName(Path("free.pdb")), Path("free.pdb"));
    std::string taken = Touch("Data.PDB");
    EXPECT_EQ(UniqueFileName(taken), Path("Data_001.PDB"));
    Touch("Data_001.PDB");
    fs::create_directory(Path("Data_002.PDB"));
    EXPECT_EQ(UniqueFileName(taken), Path("Data_003.PDB"));
    fs::create_directory(Path("v1.2"));
    taken = Touch("v1.2/archive");
    for (int i = 1; i <= 1000; ++i)
        Touch("v1.2/archive_" + std::string(i < 10 ? "00" : i < 100 ? "0" : "") + std::to_string(i));
    EXPECT_EQ(UniqueFileName(taken), Path("v1.2/archive_1001"));
}

TEST(DriveRootWindowsTest, DriveLettersAndShares) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\data\\Data.dat", "C:\\"},
        {"d:Data.dat", "d:\\"},
        {"C:", "C:\\"},
        {"\\\\server\\share\\data\\Data.dat", "\\\\server\\share\\"},
        {"\\\\server\\share\\", "\\\\server\\share\\"},
        {"\\\\server\\share", ""},
        {"\\\\server", ""},
        {"\\data\\Data.dat", ""},
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(DriveRootWindows(in), out) << in;
}

#ifndef _WIN32
TEST_F(FileOpsTest, DriveRootIsTheMountPoint) {
    EXPECT_EQ(DriveRoot("/"), "/");
    EXPECT_EQ(DriveRoot(""), "");
    std::string root = DriveRoot(Path("not-yet/Data.dat"));
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(root.back(), '/');
    std::string canonical = fs::canonical(dir.path()).string();
    EXPECT_EQ(canonical.rfind(root, 0), 0u) << root << " is not a prefix of " << canonical;
    if (fs::exists("/proc/self/status")) {
        EXPECT_EQ(DriveRoot("/proc/self/status"), "/proc/");
    }
}
#endif

}  // namespace
}  // namespace qx
