// An archive whose folder cannot be listed while it is opened: the user is
// told with text 140, nothing is opened and the archive is not held; the
// command line stops with an operational error.
#include "database/access/OpenArchive.h"
#include "support/Failpoint.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CliRunner.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

using namespace qx;
using namespace qx::test;

TEST(OpenAccessError, ListingTheFolderFailsTellsTheUserAndHoldsNothing) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2});
    Settings::Reset();
    ScriptedWindow window;
    CDatabase database(window, window.env());
    failpoints::Reset();
    failpoints::Arm("open.list-folder", 1, FailAction::IoError);
    EXPECT_EQ(OpenDatabaseFile(database, a.main), OpenOutcome::AccessError);
    failpoints::Reset();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, FormatMsg(GetResString(140, "")));
    EXPECT_EQ(window.boxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(window.boxes[0].title, GetResString(1, ""));
    EXPECT_TRUE(window.state.m_sDatabaseName.empty());
    EXPECT_NE(Slurp(LogName(a.main)).find("Critical error listing the sub databases of " + a.main), std::string::npos);

    {
        ScriptedWindow next;  // not held: the next open of the same archive goes through
        CDatabase again(next, next.env());
        EXPECT_EQ(OpenDatabaseFile(again, a.main), OpenOutcome::Opened);
    }

    setenv("QUILLEX_FAILPOINTS", "open.list-folder@1=eio", 1);
    const CliRun failed = RunCli("open " + ShellQuote(a.main), dir);
    unsetenv("QUILLEX_FAILPOINTS");
    EXPECT_EQ(failed.exit, 8) << failed.err;
    const std::string text = GetResString(140, "");
    EXPECT_NE(failed.err.find(text.substr(0, text.find('%'))), std::string::npos) << failed.err;
}
