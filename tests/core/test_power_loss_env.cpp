// The power-loss layer: after a cut, the disk holds exactly what was durable
// (data up to each file's last sync, names up to their folder's last sync).
// The engine's part is played here by hand: the report first, then the
// system call, as the engine's file layer does it.
#include "support/PowerLossEnv.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace qx {
namespace {

namespace fs = std::filesystem;
using test::Slurp;
using test::TempDir;
using test::WriteFile;

void PutAt(const std::string& path, std::int64_t offset, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// What the engine does: report, then write / truncate / sync / create / delete.
struct Engine {
    PowerLossEnv& env;
    void write(const std::string& p, std::int64_t at, const std::string& bytes) {
        ASSERT_EQ(env.EngineWrite(p, at, static_cast<std::int64_t>(bytes.size())), 0);
        PutAt(p, at, bytes);
    }
    void truncate(const std::string& p, std::int64_t size) {
        ASSERT_EQ(env.EngineTruncate(p, size), 0);
        ASSERT_EQ(::truncate(p.c_str(), size), 0);
    }
    void sync(const std::string& p) {
        ASSERT_EQ(env.EngineSync(p), 0);
        env.EngineSynced(p);
    }
    void create(const std::string& p) {
        PutAt(p, 0, "");
        env.EngineCreated(p);
    }
    void remove(const std::string& p, bool syncFolder) {
        ASSERT_EQ(env.EngineDelete(p, syncFolder), 0);
        ASSERT_EQ(::unlink(p.c_str()), 0);
    }
};

using Files = std::map<std::string, std::string>;  // name in the folder -> content

struct Scenario {
    const char* name;
    Files before;
    std::function<void(PowerLossEnv&, Engine&, const TempDir&)> run;
    Files after;  // exactly the folder after the cut
    const char* ignoreSync = "";
    bool tear = false;
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

const std::string kPage(4096, 'x');

const Scenario kScenarios[] = {
    {"append_unsynced", {{"a", "old"}}, [](auto&, Engine& e, const TempDir& d) { e.write(d.file("a"), 3, "new"); },
     {{"a", "old"}}},
    {"append_synced", {{"a", "old"}},
     [](auto&, Engine& e, const TempDir& d) {
         e.write(d.file("a"), 3, "new");
         e.sync(d.file("a"));
     },
     {{"a", "oldnew"}}},
    {"overwrite_unsynced_across_pages", {{"a", kPage + kPage}},
     [](auto&, Engine& e, const TempDir& d) { e.write(d.file("a"), 4000, std::string(200, 'y')); },
     {{"a", kPage + kPage}}},
    {"overwrite_synced_then_unsynced", {{"a", "aaaa"}},
     [](auto&, Engine& e, const TempDir& d) {
         e.write(d.file("a"), 0, "b");
         e.sync(d.file("a"));
         e.write(d.file("a"), 1, "c");
     },
     {{"a", "baaa"}}},
    {"truncate_unsynced", {{"a", "abcdef"}}, [](auto&, Engine& e, const TempDir& d) { e.truncate(d.file("a"), 2); },
     {{"a", "abcdef"}}},
    {"truncate_synced", {{"a", "abcdef"}},
     [](auto&, Engine& e, const TempDir& d) {
         e.truncate(d.file("a"), 2);
         e.sync(d.file("a"));
     },
     {{"a", "ab"}}},
    {"truncate_then_regrow_unsynced", {{"a", "abcdef"}},
     [](auto&, Engine& e, const TempDir& d) {
         e.truncate(d.file("a"), 2);
         e.write(d.file("a"), 2, "zzzzzz");
     },
     {{"a", "abcdef"}}},
    {"create_unsynced", {},
     [](PowerLossEnv& env, auto&, const TempDir& d) { ASSERT_EQ(env.WriteNewEntry(d.file("b"), "new"), 0); }, {}},
    {"create_file_synced_folder_not", {},
     [](PowerLossEnv& env, auto&, const TempDir& d) {
         ASSERT_EQ(env.WriteNewEntry(d.file("b"), "new"), 0);
         ASSERT_EQ(env.FlushFile(d.file("b")), 0);
     },
     {}},
    {"create_folder_synced_file_not", {},
     [](PowerLossEnv& env, auto&, const TempDir& d) {
         ASSERT_EQ(env.WriteNewEntry(d.file("b"), "new"), 0);
         ASSERT_EQ(env.FlushFolder(d.path()), 0);
     },
     {{"b", ""}}},
    {"create_synced", {},
     [](PowerLossEnv& env, auto&, const TempDir& d) {
         ASSERT_EQ(env.WriteNewEntry(d.file("b"), "new"), 0);
         ASSERT_EQ(env.FlushFile(d.file("b")), 0);
         ASSERT_EQ(env.FlushFolder(d.path()), 0);
     },
     {{"b", "new"}}},
    {"rename_unsynced", {{"a", "1"}},
     [](PowerLossEnv& env, auto&, const TempDir& d) { ASSERT_EQ(env.RenameEntry(d.file("a"), d.file("b")), 0); },
     {{"a", "1"}}},
    {"rename_synced", {{"a", "1"}},
     [](PowerLossEnv& env, auto&, const TempDir& d) {
         ASSERT_EQ(env.RenameEntry(d.file("a"), d.file("b")), 0);
         ASSERT_EQ(env.FlushFolder(d.path()), 0);
     },
     {{"b", "1"}}},
    {"create_then_rename_unsynced", {},
     [](PowerLossEnv& env, auto&, const TempDir& d) {
         ASSERT_EQ(env.WriteNewEntry(d.file("b"), "new"), 0);
         ASSERT_EQ(env.RenameEntry(d.file("b"), d.file("c")), 0);
     },
     {}},
    {"swap_names_unsynced", {{"a", "1"}, {"b", "2"}},
     [](PowerLossEnv& env, auto&, const TempDir& d) {
         ASSERT_EQ(env.RenameEntry(d.file("a"), d.file("t")), 0);
         ASSERT_EQ(env.RenameEntry(d.file("b"), d.file("a")), 0);
         ASSERT_EQ(env.RenameEntry(d.file("t"), d.file("b")), 0);
     },
     {{"a", "1"}, {"b", "2"}}},
    {"remove_unsynced", {{"a", "1"}},
     [](PowerLossEnv& env, auto&, const TempDir& d) { ASSERT_EQ(env.RemoveEntry(d.file("a")), 0); }, {{"a", "1"}}},
    {"remove_synced", {{"a", "1"}},
     [](PowerLossEnv& env, auto&, const TempDir& d) {
         ASSERT_EQ(env.RemoveEntry(d.file("a")), 0);
         ASSERT_EQ(env.FlushFolder(d.path()), 0);
     },
     {}},
    {"remove_after_unsynced_overwrite_brings_durable_bytes", {{"a", "old"}},
     [](PowerLossEnv& env, Engine& e, const TempDir& d) {
         e.write(d.file("a"), 0, "NEW");
         ASSERT_EQ(env.RemoveEntry(d.file("a")), 0);
     },
     {{"a", "old"}}},
    {"journal_first_sync_syncs_its_folder", {{"a", "db"}},
     [](auto&, Engine& e, const TempDir& d) {
         e.create(d.file("a-journal"));
         e.write(d.file("a-journal"), 0, "jj");
         e.sync(d.file("a-journal"));
         e.write(d.file("a"), 0, "DB");
     },
     {{"a", "db"}, {"a-journal", "jj"}}},
    {"committed_journal_deleted_unsynced_comes_back", {{"a", "db"}, {"a-journal", "jj"}},
     [](auto&, Engine& e, const TempDir& d) { e.remove(d.file("a-journal"), false); },
     {{"a", "db"}, {"a-journal", "jj"}}},
    {"committed_journal_deleted_with_folder_sync", {{"a", "db"}, {"a-journal", "jj"}},
     [](PowerLossEnv& env, Engine& e, const TempDir& d) {
         e.remove(d.file("a-journal"), true);
         ASSERT_EQ(env.Step("next"), 0);
     },
     {{"a", "db"}}},
    {"appended_log_of_a_new_file", {},
     [](PowerLossEnv& env, auto&, const TempDir& d) { ASSERT_EQ(env.AppendToFile(d.file("log"), "line\n"), 0); }, {}},
    {"torn_page_keeps_its_first_half", {{"a", kPage}},
     [](auto&, Engine& e, const TempDir& d) { e.write(d.file("a"), 0, std::string(4096, 'y')); },
     {{"a", std::string(2048, 'y') + std::string(2048, 'x')}}, "", true},
    {"ignored_sync_at_a_point_is_not_done", {},
     [](PowerLossEnv& env, auto&, const TempDir& d) {
         ASSERT_EQ(env.WriteNewEntry(d.file("b"), "new"), 0);
         ASSERT_EQ(env.Step("copy.sync"), 0);
         ASSERT_EQ(env.FlushFile(d.file("b")), 0);
         ASSERT_EQ(env.Step("copy.sync-folder"), 0);
         ASSERT_EQ(env.FlushFolder(d.path()), 0);
     },
     {{"b", ""}}, "copy.sync"},
    {"ignored_engine_sync_is_not_done", {{"a", "old"}},
     [](auto&, Engine& e, const TempDir& d) {
         e.write(d.file("a"), 0, "new");
         e.sync(d.file("a"));
     },
     {{"a", "old"}}, "engine"},
};

Files FolderNow(const std::string& folder) {
    Files f;
    for (const auto& e : fs::directory_iterator(folder)) f[e.path().filename().string()] = Slurp(e.path().string());
    return f;
}

class PowerCutScenarios : public ::testing::TestWithParam<Scenario> {};

TEST_P(PowerCutScenarios, LeaveExactlyTheDurableState) {
    const Scenario& s = GetParam();
    TempDir dir;
    for (const auto& [name, bytes] : s.before) WriteFile(dir.file(name), bytes);
    PowerLossEnv::Settings settings;
    settings.kill = false;
    settings.tear = s.tear;
    settings.ignoreSync = s.ignoreSync;
    PowerLossEnv env(RealEnv(), settings);
    Engine engine{env};
    s.run(env, engine, dir);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    env.PowerCut();
    EXPECT_EQ(FolderNow(dir.path()), s.after);
}

INSTANTIATE_TEST_SUITE_P(Cases, PowerCutScenarios, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

// A removal undone brings back the very file, as a real power cut does: the
// program recognises its files by identity.
TEST(PowerCut, ARemovedFileComesBackAsTheSameFile) {
    TempDir dir;
    WriteFile(dir.file("a"), "old");
    const auto before = RealEnv().IdentityOf(dir.file("a"));
    ASSERT_TRUE(before);
    PowerLossEnv::Settings s;
    s.kill = false;
    PowerLossEnv env(RealEnv(), s);
    Engine engine{env};
    engine.write(dir.file("a"), 0, "NEW");
    ASSERT_EQ(env.RemoveEntry(dir.file("a")), 0);
    env.PowerCut();
    EXPECT_EQ(RealEnv().IdentityOf(dir.file("a")), before);
    EXPECT_EQ(Slurp(dir.file("a")), "old");
    EXPECT_FALSE(fs::exists(fs::path(dir.path()).parent_path() / (".quillex-powercut-" + std::to_string(::getpid()))))
        << "nothing held is left beside the folder";
}

// Armed, the layer counts every point and every engine sync, traces them,
// and at the armed one reverts and ends the process by SIGKILL.
TEST(PowerCut, CutsAtTheNthPointAndKillsTheProcess) {
    TempDir dir;
    WriteFile(dir.file("a"), "old");
    const std::string trace = dir.file("trace");
    const pid_t child = ::fork();
    if (child == 0) {
        PowerLossEnv::Settings s;
        s.cutAt = 3;
        s.trace = trace;
        PowerLossEnv env(RealEnv(), s);
        env.Step("one");
        env.EngineWrite(dir.file("a"), 0, 3);
        PutAt(dir.file("a"), 0, "new");
        env.EngineSync(dir.file("a"));
        env.EngineSynced(dir.file("a"));
        env.EngineWrite(dir.file("a"), 3, 3);
        PutAt(dir.file("a"), 3, "est");
        env.Step("three");  // the cut
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(Slurp(dir.file("a")), "new");
    EXPECT_EQ(Slurp(trace), "one\nengine.sync a\nthree\n");
}

}  // namespace
}  // namespace qx
