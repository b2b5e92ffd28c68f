// The file layer's contract, asked of every layer a run can get: the real
// files, a report-only view over them and the fault-injecting layer. A
// rename never replaces, a create refuses a taken name, a report-only view
// leaves the disk byte-identical, an armed point fails or kills right there.
#include "support/Env.h"
#include "support/Failpoint.h"
#include "tests/core/KilledChild.h"
#include "tests/core/TestUtil.h"
#include "tests/core/WriteWatch.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace qx {
namespace {

using test::Slurp;
using test::TempDir;
using test::WriteFile;

enum class Layer { Real, ReportOnly, FaultInjecting };

struct Layers {
    Layer kind;
    const char* name;
};
const Layers kLayers[] = {
    {Layer::Real, "real"}, {Layer::ReportOnly, "report-only"}, {Layer::FaultInjecting, "fault-injecting"}};

// The layer under test over the real files; the real one is not owned.
struct Under {
    explicit Under(Layer kind) {
        if (kind == Layer::ReportOnly) owned = NewReportOnlyEnv(RealEnv());
        if (kind == Layer::FaultInjecting) owned = NewFaultInjectionEnv(RealEnv());
    }
    Env& env() { return owned ? *owned : RealEnv(); }
    std::unique_ptr<Env> owned;
};

class EnvTest : public ::testing::Test {
protected:
    void SetUp() override { failpoints::Reset(); }
    void TearDown() override { failpoints::Reset(); }
    std::string Path(const std::string& name) const { return dir.file(name); }
    TempDir dir;
};

// What stands under a name on disk, compared before and after a change.
std::string Describe(const std::string& path) {
    std::error_code ec;
    switch (RealEnv().KindOf(path)) {
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

TEST(Env, RenameOrCreateOnATakenNameIsRefusedInEveryLayer) {
    for (const Layers& layer : kLayers) {
        for (const auto& [name, place] : kOccupants) {
            SCOPED_TRACE(std::string(layer.name) + ", " + name);
            TempDir dir;
            Under under(layer.kind);
            Env& env = under.env();
            const std::string from = dir.file("from.pdb"), to = dir.file("to.pdb");
            WriteFile(from, "moving");
            place(to, dir.path());
            const std::string before = Describe(to);
            EXPECT_EQ(env.RenameNoReplace(from, to, "test.rename"), EEXIST);
            // A report-only view creates nothing at all.
            EXPECT_EQ(env.CreateDurableFile(to, "written", "test.create"),
                      layer.kind == Layer::ReportOnly ? EROFS : EEXIST);
            EXPECT_EQ(Describe(to), before);
            EXPECT_EQ(Describe(from), "file:moving");
            EXPECT_EQ(Describe(dir.file("nowhere")), "nothing");  // a link is not followed to create its target
            EXPECT_TRUE(env.Changes().empty());
        }
    }
}

// Changes on free names: done on disk by the real layers, in the view only
// by the report-only one, which the run then sees as done.
TEST(Env, ChangesOnFreeNamesAndWhatTheLayerShowsAfterwards) {
    for (const Layers& layer : kLayers) {
        SCOPED_TRACE(layer.name);
        TempDir dir;
        fs::create_directory(dir.file("sub"));
        WriteFile(dir.file("a.pdb"), "moving");
        WriteFile(dir.file("old.pdb"), "old");
        const auto before = test::FolderStamps(dir.path());
        Under under(layer.kind);
        Env& env = under.env();
        const bool view = layer.kind == Layer::ReportOnly;

        ASSERT_EQ(env.RenameNoReplace(dir.file("a.pdb"), dir.file("sub/c.pdb"), "test.rename"), 0);
        EXPECT_EQ(env.KindOf(dir.file("a.pdb")), EntryKind::None);
        EXPECT_TRUE(env.FileExists(dir.file("sub/c.pdb")));
        EXPECT_EQ(env.FileLength(dir.file("sub/c.pdb")), 6);
        EXPECT_EQ(env.RenameNoReplace(dir.file("absent"), dir.file("d.pdb"), "test.rename"), ENOENT);
        ASSERT_EQ(env.RemoveDurably(dir.file("old.pdb"), "test.remove"), 0);
        EXPECT_FALSE(env.FileExists(dir.file("old.pdb")));
        EXPECT_EQ(env.RemoveDurably(dir.file("old.pdb"), "test.remove"), ENOENT);
        EXPECT_EQ(env.UniqueFileName(dir.file("sub/c.pdb")), dir.file("sub/c_001.pdb"));
        EXPECT_EQ(env.UniqueFileName(dir.file("old.pdb")), dir.file("old.pdb"));
        std::error_code ec;
        EXPECT_EQ(env.ListFolder(dir.file("sub"), ec), std::vector<std::string>{"c.pdb"});
        std::string bytes;
        EXPECT_EQ(env.ReadFile(dir.file("sub/c.pdb"), bytes), 0);
        EXPECT_EQ(bytes, "moving");
        EXPECT_EQ(env.CreateDurableFile(dir.file("x.intent"), std::string("a\0b", 3), "test.create"),
                  view ? EROFS : 0);

        if (view) {
            EXPECT_EQ(test::FolderStamps(dir.path()), before);
            EXPECT_EQ(Describe(dir.file("sub/c.pdb")), "nothing");
            EXPECT_EQ(env.Changes(), (std::vector<std::string>{"rename " + dir.file("a.pdb") + " -> " +
                                                                   dir.file("sub/c.pdb"),
                                                               "delete " + dir.file("old.pdb")}));
        } else {
            EXPECT_EQ(Describe(dir.file("sub/c.pdb")), "file:moving");
            EXPECT_EQ(Describe(dir.file("old.pdb")), "nothing");
            EXPECT_EQ(Slurp(dir.file("x.intent")), std::string("a\0b", 3));
        }
    }
}

TEST(Env, ReadOnlyAttributeTogglesOnlyTheWriteBitAndAViewKeepsItsOwn) {
    for (const Layers& layer : kLayers) {
        SCOPED_TRACE(layer.name);
        TempDir dir;
        const std::string file = dir.file("Data.dat");
        WriteFile(file, "");
        fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_write);
        Under under(layer.kind);
        Env& env = under.env();
        EXPECT_FALSE(env.IsReadOnly(file));
        EXPECT_EQ(env.SetReadOnly(file, true), 0);
        EXPECT_TRUE(env.IsReadOnly(file));
        EXPECT_EQ(env.SetReadOnly(file, true), 0);
        EXPECT_EQ(fs::status(file).permissions(), layer.kind == Layer::ReportOnly
                                                      ? fs::perms::owner_read | fs::perms::owner_write |
                                                            fs::perms::group_write
                                                      : fs::perms::owner_read | fs::perms::group_write);
        EXPECT_EQ(env.SetReadOnly(file, false), 0);
        EXPECT_FALSE(env.IsReadOnly(file));
        EXPECT_FALSE(env.IsReadOnly(dir.file("missing.dat")));
        EXPECT_NE(env.SetReadOnly(dir.file("missing.dat"), true), 0);
        EXPECT_FALSE(env.FileExists(dir.file("missing.dat")));
    }
}

TEST(Env, ExistenceAndLengthAskNoMoreThanTheName) {
    for (const Layers& layer : kLayers) {
        SCOPED_TRACE(layer.name);
        TempDir dir;
        const std::string file = dir.file("Data.dat"), missing = dir.file("missing.dat");
        WriteFile(file, "12345");
        Under under(layer.kind);
        Env& env = under.env();
        EXPECT_TRUE(env.FileExists(file));
        EXPECT_FALSE(env.FileExists(dir.path()));  // folders are not files
        EXPECT_FALSE(env.FileExists(missing));
        EXPECT_FALSE(env.FileExists(""));
        EXPECT_EQ(env.FileLength(file), 5);
        EXPECT_EQ(env.FileLength(missing), 0);
        EXPECT_EQ(env.FileLength(dir.path()), 0);
        EXPECT_EQ(env.IdentityOf(missing), std::nullopt);
        EXPECT_EQ(env.KindOf(dir.path()), EntryKind::Folder);
    }
}

// The count goes before the extension, a folder takes a name too, and a "."
// in a folder name is no extension.
TEST_F(EnvTest, UniqueFileNameCountsUpBeforeTheExtension) {
    Env& env = RealEnv();
    const auto touch = [&](const std::string& name) {
        WriteFile(Path(name), "");
        return Path(name);
    };
    EXPECT_EQ(env.UniqueFileName(Path("free.pdb")), Path("free.pdb"));
    std::string taken = touch("Data.PDB");
    EXPECT_EQ(env.UniqueFileName(taken), Path("Data_001.PDB"));
    touch("Data_001.PDB");
    fs::create_directory(Path("Data_002.PDB"));
    EXPECT_EQ(env.UniqueFileName(taken), Path("Data_003.PDB"));
    fs::create_directory(Path("v1.2"));
    taken = touch("v1.2/archive");
    for (int i = 1; i <= 1000; ++i)
        touch("v1.2/archive_" + std::string(i < 10 ? "00" : i < 100 ? "0" : "") + std::to_string(i));
    EXPECT_EQ(env.UniqueFileName(taken), Path("v1.2/archive_1001"));
}

// The user's own files: the log is never written through a link, a file the
// user named is followed to its target, and neither is ever a pipe.
TEST_F(EnvTest, UserFilesAreRegularFilesAndOnlyTheLogRefusesALink) {
    WriteFile(Path("target"), "old");
    fs::create_symlink(Path("target"), Path("link"));
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0644), 0);
    Env& env = RealEnv();
    EXPECT_EQ(env.AppendToFile(Path("link"), "x"), ELOOP);
    EXPECT_EQ(Slurp(Path("target")), "old");
    EXPECT_EQ(env.WriteNewFile(Path("link"), "new"), 0);
    EXPECT_EQ(Slurp(Path("target")), "new");
    EXPECT_NE(env.AppendToFile(Path("pipe"), "x"), 0);
    EXPECT_NE(env.WriteNewFile(Path("pipe"), "x"), 0);
    EXPECT_EQ(env.AppendToFile(Path("log"), "a"), 0);
    EXPECT_EQ(env.AppendToFile(Path("log"), "b"), 0);
    EXPECT_EQ(Slurp(Path("log")), "ab");
}

// Every point a change passes, armed: the fault-injecting layer fails there
// and leaves the names as they were; the others do not ask the table.
TEST_F(EnvTest, AnArmedPointFailsOnlyInTheFaultInjectingLayer) {
    const struct { const char* point; FailAction action; int expected; bool rename; } cases[] = {
        {"test.step", FailAction::NoSpace, ENOSPC, true},
        {"test.step", FailAction::IoError, EIO, true},
        {"test.step.sync", FailAction::IoError, EIO, false},  // a rename writes no file to sync
        {"test.step.sync-folder", FailAction::NoSpace, ENOSPC, true},
    };
    const std::string from = Path("from.pdb"), to = Path("to.pdb"), created = Path("new.intent");
    WriteFile(from, "moving");
    const std::unique_ptr<Env> faults = NewFaultInjectionEnv(RealEnv());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.point) + " " + std::to_string(c.expected));
        if (c.rename) {
            failpoints::Arm(c.point, 1, c.action);
            EXPECT_EQ(faults->RenameNoReplace(from, to, "test.step"), c.expected);
            EXPECT_EQ(Describe(from), "file:moving");
            EXPECT_EQ(Describe(to), "nothing");
        }
        failpoints::Reset();
        failpoints::Arm(c.point, 1, c.action);
        EXPECT_EQ(faults->CreateDurableFile(created, "written", "test.step"), c.expected);
        EXPECT_EQ(Describe(created), "nothing");
        failpoints::Reset();
        failpoints::Arm(c.point, 1, c.action);
        EXPECT_EQ(RealEnv().CreateDurableFile(created, "written", "test.step"), 0);
        EXPECT_EQ(RealEnv().RemoveDurably(created, "test.step"), 0);
        failpoints::Reset();
    }
    failpoints::Arm("test.remove", 1, FailAction::IoError);
    EXPECT_EQ(faults->RemoveDurably(from, "test.remove"), EIO);
    EXPECT_EQ(Describe(from), "file:moving");
}

// A point armed to kill ends the process before the change.
TEST_F(EnvTest, APointArmedToKillEndsTheProcessBeforeItsChange) {
    const std::string from = Path("from.pdb");
    WriteFile(from, "moving");
    const test::ChildEnd end = test::RunInChild([&](const std::function<void()>& survived) {
        const std::unique_ptr<Env> faults = NewFaultInjectionEnv(RealEnv());
        failpoints::Arm("test.rename", 2, FailAction::Kill);
        for (const char* name : {"a.pdb", "b.pdb"}) {
            const std::string at = name[0] == 'a' ? Path("from.pdb") : Path("a.pdb");
            if (faults->RenameNoReplace(at, Path(name), "test.rename") != 0) ::_exit(3);
            survived();
        }
    });
    ASSERT_TRUE(end.started);
    EXPECT_TRUE(end.killed) << "exit code " << end.exitCode;
    EXPECT_EQ(end.survived, 1);
    EXPECT_EQ(Describe(Path("a.pdb")), "file:moving");  // the first rename stands, the second never began
    EXPECT_EQ(Describe(Path("b.pdb")), "nothing");
}

// Folder "d" with files "x" and "y" (same bytes), folder "d/sub", a link
// "d/lx" to "x", a hard link "d/hx" to "x", a link "ld" to the folder "d".
TEST_F(EnvTest, SameFileJudgesByIdentity) {
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
        EXPECT_EQ(RealEnv().SameFile(Path(c.a), Path(c.b)), c.same) << c.name;
        EXPECT_EQ(RealEnv().SameFile(Path(c.b), Path(c.a)), c.same) << c.name << " (reversed)";
    }
}

// The archive folder "a" and a folder "b" elsewhere; "a/l" is a link to
// "b/f", "a/f" a plain file, "la" a link to the folder "a".
TEST_F(EnvTest, AnArchiveEntryIsJudgedByItsOwnNameNotItsTarget) {
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
    for (const auto& c : cases) {
        const ArchivePath entry = RealEnv().ArchiveEntry(Path(c.entry), Path(c.folder));
        EXPECT_EQ(entry.inArchive, c.inside) << c.name;
        EXPECT_EQ(entry.id, RealEnv().IdentityOf(Path(c.entry))) << c.name;
        EXPECT_EQ(RealEnv().EntryLiesIn(Path(c.entry), Path(c.folder)), c.inside) << c.name;
    }
    EXPECT_EQ(RealEnv().ArchiveEntry(Path("a/l"), Path("a")).kind, EntryKind::Link);
    EXPECT_EQ(RealEnv().ArchiveEntry(Path("a/l"), Path("a")).name, "l");
}

}  // namespace
}  // namespace qx
