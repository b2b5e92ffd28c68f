#include "support/Env.h"
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
    EXPECT_EQ(DriveRoot(qx::RealEnv(), "/"), "/");
    EXPECT_EQ(DriveRoot(qx::RealEnv(), ""), "");
    std::string root = DriveRoot(qx::RealEnv(), Path("not-yet/Data.dat"));
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(root.back(), '/');
    std::string canonical = fs::canonical(dir.path()).string();
    EXPECT_EQ(canonical.rfind(root, 0), 0u) << root << " is not a prefix of " << canonical;
    if (fs::exists("/proc/self/status")) {
        EXPECT_EQ(DriveRoot(qx::RealEnv(), "/proc/self/status"), "/proc/");
    }
}
#endif

}  // namespace
}  // namespace qx
