// Failpoints: an armed point fails exactly at its n-th hit with the asked
// error, other points go on, "*" counts every point, and a point armed to
// kill takes the process down right there and not one hit earlier.
#include "support/Failpoint.h"
#include "tests/core/CliRunner.h"
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

struct ErrorCase {
    const char* name;
    const char* armed;  // point name or "*"
    int nth;
    FailAction action;
    std::vector<Hit> hits;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

std::string PrintCase(const ::testing::TestParamInfo<ErrorCase>& info) { return info.param.name; }

class FailpointErrors : public FailpointTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(FailpointErrors, FailOnlyAtTheArmedHit) {
    const ErrorCase& c = GetParam();
    failpoints::Arm(c.armed, c.nth, c.action);
    for (std::size_t i = 0; i < c.hits.size(); ++i)
        EXPECT_EQ(Failpoint(c.hits[i].point), c.hits[i].expected) << "hit " << i + 1 << " at " << c.hits[i].point;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailpointErrors,
    ::testing::Values(
        ErrorCase{"second_hit_no_space", "a", 2, FailAction::NoSpace, {{"a", 0}, {"a", ENOSPC}, {"a", 0}}},
        ErrorCase{"first_hit_io_error", "a", 1, FailAction::IoError, {{"a", EIO}, {"a", 0}}},
        ErrorCase{"other_points_unaffected", "a", 2, FailAction::NoSpace,
                  {{"b", 0}, {"b", 0}, {"b", 0}, {"a", 0}, {"b", 0}, {"a", ENOSPC}}},
        ErrorCase{"prefix_is_another_point", "a", 1, FailAction::IoError, {{"a.sync", 0}, {"ab", 0}, {"a", EIO}}},
        ErrorCase{"any_point_counts_every_hit", "*", 3, FailAction::IoError,
                  {{"a", 0}, {"b", 0}, {"c", EIO}, {"a", 0}}},
        ErrorCase{"any_point_on_a_repeated_point", "*", 2, FailAction::NoSpace, {{"a", 0}, {"a", ENOSPC}, {"a", 0}}},
        ErrorCase{"never_reached", "a", 5, FailAction::NoSpace, {{"a", 0}, {"a", 0}, {"a", 0}}}),
    PrintCase);

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

struct EnvironmentCase {
    const char* name;
    const char* setting;
    std::vector<Hit> hits;
    std::vector<std::string> complaints;  // items said to be unreadable on stderr
};

void PrintTo(const EnvironmentCase& c, std::ostream* os) { *os << c.name; }

class FailpointEnvironment : public FailpointTest, public ::testing::WithParamInterface<EnvironmentCase> {};

TEST_P(FailpointEnvironment, IsReadAtTheFirstHit) {
    const EnvironmentCase& c = GetParam();
    ::setenv("QUILLEX_FAILPOINTS", c.setting, 1);
    failpoints::Reset();
    ::testing::internal::CaptureStderr();
    std::vector<int> got;
    for (const Hit& h : c.hits) got.push_back(Failpoint(h.point));
    const std::string err = ::testing::internal::GetCapturedStderr();
    for (std::size_t i = 0; i < c.hits.size(); ++i)
        EXPECT_EQ(got[i], c.hits[i].expected) << "hit " << i + 1 << " at " << c.hits[i].point;
    for (const std::string& item : c.complaints)
        EXPECT_NE(err.find("cannot read '" + item + "'"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), static_cast<long>(c.complaints.size())) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailpointEnvironment,
    ::testing::Values(
        EnvironmentCase{"one_item", "engine.commit@2=enospc", {{"engine.commit", 0}, {"engine.commit", ENOSPC}}, {}},
        EnvironmentCase{"several_items",
                        "a@1=eio,b@2=enospc,*@5=eio",
                        {{"a", EIO}, {"b", 0}, {"b", ENOSPC}, {"c", 0}, {"c", EIO}, {"c", 0}},
                        {}},
        EnvironmentCase{"malformed_items_are_named_and_skipped",
                        "a@2=eio,garbage,b@1=explode,c=1@eio,,d@1=enospc",
                        {{"a", 0}, {"a", EIO}, {"b", 0}, {"c", 0}, {"d", ENOSPC}},
                        {"garbage", "b@1=explode", "c=1@eio", ""}},
        EnvironmentCase{"empty_setting", "", {{"a", 0}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

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

// A killed process cannot report, so the child writes each hit it survived
// to a pipe and the parent reads how far it came.
struct KillCase {
    const char* name;
    std::function<void()> arm;  // runs in the child
    std::vector<const char*> points;
    int survivedHits;  // hits passed before the one that kills
};

void PrintTo(const KillCase& c, std::ostream* os) { *os << c.name; }

class FailpointKill : public FailpointTest, public ::testing::WithParamInterface<KillCase> {};

TEST_P(FailpointKill, ChildDiesBySigkillAtTheArmedHit) {
    const KillCase& c = GetParam();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        c.arm();
        for (const char* point : c.points) {
            Failpoint(point);
            const char mark = 'x';
            if (::write(fds[1], &mark, 1) != 1) ::_exit(3);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string marks;
    char buf[64];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) marks.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended normally with exit code "
                                     << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_EQ(static_cast<int>(marks.size()), c.survivedHits);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailpointKill,
    ::testing::Values(
        KillCase{"named_point_third_hit", [] { failpoints::Arm("a", 3, FailAction::Kill); },
                 {"a", "b", "a", "b", "a", "b"}, 4},
        KillCase{"any_point_fourth_hit", [] { failpoints::Arm("*", 4, FailAction::Kill); },
                 {"a", "b", "c", "d", "e"}, 3},
        KillCase{"from_the_environment",
                 [] {
                     ::setenv("QUILLEX_FAILPOINTS", "engine.commit@2=kill", 1);
                     failpoints::Reset();
                 },
                 {"engine.commit", "rename", "engine.commit", "rename"}, 2},
        KillCase{"after_an_injected_error",
                 [] {
                     failpoints::Arm("a", 1, FailAction::NoSpace);
                     failpoints::Arm("a", 2, FailAction::Kill);
                 },
                 {"a", "a", "a"}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qx
