// Failpoints: an armed point fails exactly at its n-th hit with the asked
// error, other points go on, "*" counts every point, and a point armed to
// kill takes the process down right there and not one hit earlier.
#include "support/Failpoint.h"
#include "tests/core/CliRunner.h"
#include "tests/core/KilledChild.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qx {
namespace {

// The environment and the armed points are process-wide: every test starts
// and ends without either.
class FailpointTest : public ::testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear() {
        ::unsetenv("QUILLEX_FAILPOINTS");
        ::unsetenv("QUILLEX_FAILPOINT_TRACE");
        failpoints::Reset();
    }
};

struct Hit {
    const char* point;
    int expected;  // what Failpoint returns at this hit
};

TEST_F(FailpointTest, FailOnlyAtTheArmedHit) {
    const struct { const char *name, *armed; int nth; FailAction action; std::vector<Hit> hits; } cases[] = {
        {"second hit, no space", "a", 2, FailAction::NoSpace, {{"a", 0}, {"a", ENOSPC}, {"a", 0}}},
        {"first hit, io error", "a", 1, FailAction::IoError, {{"a", EIO}, {"a", 0}}},
        {"other points unaffected", "a", 2, FailAction::NoSpace,
         {{"b", 0}, {"b", 0}, {"b", 0}, {"a", 0}, {"b", 0}, {"a", ENOSPC}}},
        {"prefix is another point", "a", 1, FailAction::IoError, {{"a.sync", 0}, {"ab", 0}, {"a", EIO}}},
        {"any point counts every hit", "*", 3, FailAction::IoError, {{"a", 0}, {"b", 0}, {"c", EIO}, {"a", 0}}},
        {"any point on a repeated point", "*", 2, FailAction::NoSpace, {{"a", 0}, {"a", ENOSPC}, {"a", 0}}},
        {"never reached", "a", 5, FailAction::NoSpace, {{"a", 0}, {"a", 0}, {"a", 0}}},
    };
    for (const auto& c : cases) {
        failpoints::Reset();
        failpoints::Arm(c.armed, c.nth, c.action);
        for (std::size_t i = 0; i < c.hits.size(); ++i)
            EXPECT_EQ(Failpoint(c.hits[i].point), c.hits[i].expected) << c.name << ": hit " << i + 1;
    }
}

TEST_F(FailpointTest, ResetForgetsArmedPointsAndCounts) {
    failpoints::Arm("a", 2, FailAction::NoSpace);
    EXPECT_EQ(Failpoint("a"), 0);
    EXPECT_EQ(failpoints::Hits(), "a=1\n");
    failpoints::Reset();
    EXPECT_EQ(failpoints::Hits(), "");
    EXPECT_EQ(Failpoint("a"), 0);  // would have been the armed second hit
    EXPECT_EQ(Failpoint("a"), 0);

    failpoints::Arm("a", 1, FailAction::IoError);  // the first hit from now on, not of the run
    EXPECT_EQ(Failpoint("b"), 0);
    EXPECT_EQ(Failpoint("a"), EIO);
    EXPECT_EQ(failpoints::Hits(), "a=3\nb=1\n");  // passes are counted armed or not
}

TEST_F(FailpointTest, EnvironmentIsReadAtTheFirstHit) {
    const struct {
        const char *name, *setting;
        std::vector<Hit> hits;
        std::vector<std::string> complaints;  // items said to be unreadable on stderr
    } cases[] = {
        {"one item", "engine.commit@2=enospc", {{"engine.commit", 0}, {"engine.commit", ENOSPC}}, {}},
        {"several items", "a@1=eio,b@2=enospc,*@5=eio",
         {{"a", EIO}, {"b", 0}, {"b", ENOSPC}, {"c", 0}, {"c", EIO}, {"c", 0}}, {}},
        {"malformed items are named and skipped", "a@2=eio,garbage,b@1=explode,c=1@eio,,d@1=enospc",
         {{"a", 0}, {"a", EIO}, {"b", 0}, {"c", 0}, {"d", ENOSPC}}, {"garbage", "b@1=explode", "c=1@eio", ""}},
        {"empty setting", "", {{"a", 0}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::setenv("QUILLEX_FAILPOINTS", c.setting, 1);
        failpoints::Reset();
        ::testing::internal::CaptureStderr();
        std::vector<int> got, expected;
        for (const Hit& h : c.hits) got.push_back(Failpoint(h.point)), expected.push_back(h.expected);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(got, expected);
        for (const std::string& item : c.complaints)
            EXPECT_NE(err.find("cannot read '" + item + "'"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), static_cast<long>(c.complaints.size())) << err;
    }
}

TEST_F(FailpointTest, TraceNamesEveryHitInOrder) {
    test::TempDir dir;
    const std::string trace = dir.file("trace");
    ::setenv("QUILLEX_FAILPOINT_TRACE", trace.c_str(), 1);
    ::setenv("QUILLEX_FAILPOINTS", "b@1=enospc", 1);
    failpoints::Reset();
    EXPECT_EQ(Failpoint("a"), 0);
    EXPECT_EQ(Failpoint("b"), ENOSPC);  // a failing hit is traced too
    EXPECT_EQ(Failpoint("a"), 0);
    EXPECT_EQ(test::Slurp(trace), "a\nb\na\n");
}

// A killed process cannot report: the child tells each hit it survived.
TEST_F(FailpointTest, ChildDiesBySigkillAtTheArmedHit) {
    const struct {
        const char* name;
        std::function<void()> arm;  // runs in the child
        std::vector<const char*> points;
        int survivedHits;  // hits passed before the one that kills
    } cases[] = {
        {"named point, third hit", [] { failpoints::Arm("a", 3, FailAction::Kill); }, {"a", "b", "a", "b", "a", "b"}, 4},
        {"any point, fourth hit", [] { failpoints::Arm("*", 4, FailAction::Kill); }, {"a", "b", "c", "d", "e"}, 3},
        {"from the environment",
         [] {
             ::setenv("QUILLEX_FAILPOINTS", "engine.commit@2=kill", 1);
             failpoints::Reset();
         },
         {"engine.commit", "rename", "engine.commit", "rename"}, 2},
        {"after an injected error",
         [] {
             failpoints::Arm("a", 1, FailAction::NoSpace);
             failpoints::Arm("a", 2, FailAction::Kill);
         },
         {"a", "a", "a"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::ChildEnd end = test::RunInChild([&](const std::function<void()>& survived) {
            c.arm();
            for (const char* point : c.points) {
                Failpoint(point);
                survived();
            }
        });
        ASSERT_TRUE(end.started);
        EXPECT_TRUE(end.killed) << "the child ended normally with exit code " << end.exitCode;
        EXPECT_EQ(end.survived, c.survivedHits);
    }
}

}  // namespace
}  // namespace qx
