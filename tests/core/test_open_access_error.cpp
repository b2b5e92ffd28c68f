// An archive whose folder cannot be listed while it is opened: the user is
// told with text 140, nothing is opened and the archive is not held.
#include "database/access/OpenArchive.h"
#include "support/Failpoint.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CliRunner.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

using qx::test::ArchiveBuilder;
using qx::test::TempDir;

TEST(OpenAccessError, ListingTheFolderFailsTellsTheUserAndHoldsNothing) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2});
    qx::Settings::Reset();
    qx::test::ScriptedWindow window;
    qx::CDatabase database(window);
    qx::failpoints::Reset();
    qx::failpoints::Arm("open.list-folder", 1, qx::FailAction::IoError);
    const qx::OpenOutcome outcome = qx::OpenDatabaseFile(database, a.main);
    qx::failpoints::Reset();
    EXPECT_EQ(outcome, qx::OpenOutcome::AccessError);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, qx::FormatMsg(qx::GetResString(140, "")));
    EXPECT_EQ(window.boxes[0].icon, qx::MsgIcon::Critical);
    EXPECT_EQ(window.boxes[0].title, qx::GetResString(1, ""));
    EXPECT_TRUE(window.state.m_sDatabaseName.empty());
    EXPECT_NE(qx::test::Slurp(qx::LogName(a.main)).find("Critical error listing the sub databases of " + a.main),
              std::string::npos);

    // Not held: the next open of the same archive goes through.
    qx::test::ScriptedWindow next;
    qx::CDatabase again(next);
    EXPECT_EQ(qx::OpenDatabaseFile(again, a.main), qx::OpenOutcome::Opened);

}

TEST(OpenAccessError, TheCommandLineStopsWithAnOperationalError) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2});
    setenv("QUILLEX_FAILPOINTS", "open.list-folder@1=eio", 1);
    const qx::test::CliRun failed = qx::test::RunCli("open " + qx::test::ShellQuote(a.main), dir);
    unsetenv("QUILLEX_FAILPOINTS");
    EXPECT_EQ(failed.exit, 8) << failed.err;
    const std::string text = qx::GetResString(140, "");
    EXPECT_NE(failed.err.find(text.substr(0, text.find('%'))), std::string::npos) << failed.err;
}
