// The progress window's texts and time estimates, on a clock the test turns.
#include "database/ProgressWindow.h"
#include "support/TextResources.h"
#include "support/HumanFormat.h"
#include "tests/core/ScriptedWindow.h"

#include <gtest/gtest.h>

using namespace qx;

namespace {

struct Walk {
    qx::test::ScriptedWindow window;
    double now = 0;
    ProgressWindow progress{window, [this] { return now; }};
    Walk(long total, double start = 0) : now(start) {
        progress.m_sLblProgress1 = "doc %s";
        progress.m_sLblProgress2 = "%s / %s";
        progress.SetInitial(total, 100, false, now);
        progress.Show();
    }
    std::string left(const std::string& d) const { return FormatMsg(GetResString(64, ""), {d}); }
    std::string elapsed(const std::string& d) const { return FormatMsg(GetResString(65, ""), {d}); }
};

}  // namespace

TEST(ProgressWindow, EstimatesOnlyOnceEnoughIsKnown) {
    Walk w(100, 1000);
    EXPECT_EQ(w.window.lastProgress.countLine, "0 / 100");
    EXPECT_EQ(w.window.lastProgress.timeLeft, w.left(""));
    struct Step { double at; long index; int percent; std::string timeLeft; } steps[] = {
        {1001, 1, 1, "onbekend"},
        {1003, 4, 4, "onbekend"},  // the fourth item within 4 s: still nothing to go on
        {1010, 4, 4, "onbekend"},  // later, but 4 is not a multiple of 3: the label keeps its text
        {1012, 5, 5, "onbekend"},
        {1030, 6, 6, "7:50"},      // 100 * 30 / 6 - 30 = 470 s
        {1030, 7, 250, "7:50"},    // the bar is clamped; 7 is no multiple of 3, the label keeps its text
    };
    for (const Step& s : steps) {
        w.now = s.at;
        w.progress.SetProgress(s.percent, s.index, "x");
        EXPECT_EQ(w.window.lastProgress.timeLeft, w.left(s.timeLeft)) << s.index;
        EXPECT_LE(w.window.lastProgress.value, 100);
    }
    w.progress.SetProgress(100, 150, "more");  // more items than announced
    EXPECT_EQ(w.window.lastProgress.countLine, "150 / 150");
    EXPECT_EQ(w.window.lastProgress.currentItem, "doc more");
    EXPECT_EQ(w.window.lastProgress.timeElapsed, w.elapsed("0:30"));
}

TEST(ProgressWindow, StaysWideOnceShownWideAndCancelsByHiding) {
    qx::test::ScriptedWindow window;
    ProgressWindow p(window, [] { return 0.0; });
    p.SetInitial(10, 100, true, 0);
    p.Show();
    EXPECT_TRUE(window.lastProgress.wide);
    p.SetInitial(10, 100, false, 0);
    EXPECT_TRUE(window.lastProgress.wide);
    EXPECT_TRUE(p.Visible());
    window.ProgressHide();
    EXPECT_FALSE(p.Visible());
}

// The estimate uses the time to the fraction of a second: a quick walk
// must not promise "00:00" while most of it is still to come.
TEST(ProgressWindow, EstimatesFromTheUnroundedTime) {
    struct Case { std::string name; double at; long index; std::string timeLeft; double rate; } cases[] = {
        {"quick walk at 3 %", 0.4, 30, "0:13", 29 / 0.4},       // 1000 * 0.4 / 30 - 0.4 = 12.9 s
        {"slow walk at 2 %", 2.4, 21, "1:52", 20 / 2.4},        // 1000 * 2.4 / 21 - 2.4 = 111.9 s
        {"an hour to go", 36, 9, "1:06:04", 8 / 36.0},          // 1000 * 36 / 9 - 36 = 3964 s
    };
    for (const Case& c : cases) {
        Walk w(1000);
        w.now = c.at;
        w.progress.SetProgress(static_cast<int>(c.index / 10), c.index, "x");
        EXPECT_EQ(w.window.lastProgress.timeLeft, w.left(c.timeLeft)) << c.name;
        EXPECT_NEAR(w.window.lastProgress.rate, c.rate, 1e-6) << c.name;  // the item named is not done yet
    }
}

TEST(ProgressWindow, TheClockTicksDuringOneLongItem) {
    Walk w(10);
    EXPECT_EQ(ProgressWindow::Active(), &w.progress);
    w.now = 1;
    w.progress.SetProgress(10, 1, "groot");
    for (int second = 2; second <= 4; ++second) {
        w.now = second;
        ProgressWindow::Active()->Tick();
        EXPECT_EQ(w.window.lastProgress.timeElapsed, w.elapsed("0:0" + std::to_string(second)));
    }
    w.progress.Hide();
    EXPECT_EQ(ProgressWindow::Active(), nullptr);
}

TEST(ProgressWindow, AFinishedWalkEndsAtItsFullBarACancelledOneWhereItStood) {
    struct Case { std::string name; long walked; bool userCancels; int value; std::string countLine, timeLeft; } cases[] = {
        {"every item went through", 4, false, 100, "4 / 4", "0:00"},
        {"cancelled halfway", 2, true, 50, "2 / 4", "onbekend"},
        {"stopped halfway by an error", 2, false, 50, "2 / 4", "onbekend"},
    };
    for (const Case& c : cases) {
        Walk w(4);
        for (long i = 1; i <= c.walked; ++i) {
            w.now = i;
            w.progress.SetProgress(static_cast<int>(i * 25), i, "x");
        }
        w.now = 10;
        if (c.userCancels) w.window.ProgressHide();
        w.progress.Hide();
        EXPECT_EQ(w.window.lastProgress.value, c.value) << c.name;
        EXPECT_EQ(w.window.lastProgress.countLine, c.countLine) << c.name;
        EXPECT_EQ(w.window.lastProgress.timeLeft, w.left(c.timeLeft)) << c.name;
        if (c.value == 100) {
            EXPECT_EQ(w.window.lastProgress.timeElapsed, w.elapsed("0:10")) << c.name;
            EXPECT_NEAR(w.window.lastProgress.rate, 0.4, 1e-9) << c.name;
        }
        EXPECT_FALSE(w.window.ProgressVisible()) << c.name;
    }
}

// One time form from the first drawing to the last, counts grouped the Dutch
// way, and what a terminal composes its own line from.
TEST(ProgressWindow, OneTimeFormDutchCountsAndTheFiguresBehindTheTexts) {
    struct Step { double at; long index; std::string elapsed, countLine; long left; } steps[] = {
        {0, 0, "0:00", "0 / 12.000", -1},
        {0.2, 1, "0:00", "1 / 12.000", -1},
        {62, 6000, "1:02", "6.000 / 12.000", 62},
        {3723, 11999, "1:02:03", "11.999 / 12.000", -1},
    };
    Walk w(12000);
    w.progress.m_sPhase = "documenten";
    for (const Step& s : steps) {
        w.now = s.at;
        if (s.index > 0) w.progress.SetProgress(static_cast<int>(s.index / 120), s.index, "x");
        EXPECT_EQ(w.window.lastProgress.timeElapsed, w.elapsed(s.elapsed)) << s.index;
        EXPECT_EQ(w.window.lastProgress.countLine, s.countLine) << s.index;
        EXPECT_EQ(w.progress.ShownIndex(), s.index);
        EXPECT_EQ(w.progress.ShownTotal(), 12000);
        if (s.left >= 0) EXPECT_EQ(w.progress.ShownLeft(), s.left) << s.index;
    }
    EXPECT_EQ(w.progress.ShownElapsed(), 3723);
    // A new pass on the same window starts from nothing known, its rate included.
    w.progress.SetInitial(40, 100, false, w.now);
    EXPECT_EQ(w.window.lastProgress.rate, 0);
    EXPECT_EQ(w.window.lastProgress.timeElapsed, w.elapsed("0:00"));
    EXPECT_EQ(w.progress.ShownLeft(), -1);
}
