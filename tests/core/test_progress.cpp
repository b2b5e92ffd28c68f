// The progress window's texts and time estimates, on a clock the test turns.
#include "database/ProgressWindow.h"
#include "support/TextResources.h"
#include "tests/core/ScriptedWindow.h"

#include <gtest/gtest.h>

using namespace qx;

TEST(ProgressWindow, EstimatesOnlyOnceEnoughIsKnown) {
    qx::test::ScriptedWindow window;
    double now = 1000;
    ProgressWindow p(window, [&] { return now; });
    p.m_sLblProgress1 = "doc %s";
    p.m_sLblProgress2 = "%s / %s";
    const std::string left = GetResString(64, "Resources not found");
    auto leftText = [&](const std::string& d) { return FormatMsg(left, {d}); };
    p.SetInitial(100, 100, false, now);
    p.Show();
    EXPECT_EQ(window.lastProgress.countLine, "0 / 100");
    EXPECT_EQ(window.lastProgress.timeLeft, leftText(""));

    struct Step { double at; long index; int percent; std::string timeLeft; } steps[] = {
        {1001, 1, 1, "???"},
        {1003, 4, 4, "???"},       // the fourth item within 4 s: still nothing to go on
        {1010, 4, 4, "???"},       // later, but 4 is not a multiple of 3: the label keeps its text
        {1012, 5, 5, "???"},
        {1030, 6, 6, "07:50"},     // 100 * 30 / 6 - 30 = 470 s
        {1030, 7, 250, "07:50"},   // the bar is clamped; 7 is no multiple of 3, the label keeps its text
    };
    for (const Step& s : steps) {
        now = s.at;
        p.SetProgress(s.percent, s.index, "x");
        EXPECT_EQ(window.lastProgress.timeLeft, leftText(s.timeLeft)) << s.index;
        EXPECT_LE(window.lastProgress.value, 100);
    }
    p.SetProgress(100, 150, "more");  // more items than announced
    EXPECT_EQ(window.lastProgress.countLine, "150 / 150");
    EXPECT_EQ(window.lastProgress.currentItem, "doc more");
    EXPECT_EQ(window.lastProgress.timeElapsed, FormatMsg(GetResString(65, ""), {"00:30"}));
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
