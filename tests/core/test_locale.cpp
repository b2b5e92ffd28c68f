// People read Dutch numbers in every text we show them, whatever the
// system's locale; the log keeps its fixed formats whatever the locale,
// because log readers and peers parse it.
#include "database/ProgressWindow.h"
#include "database/StatusBar.h"
#include "database/checks/StorageFormat.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/Variant.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/SubDatabaseArchive.h"
#include "tests/core/TestUtil.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace qx;

namespace {

// The process runs under a Dutch C locale (decimal comma for printf and
// strtod) and a Dutch default QLocale, as the window does for a Dutch user.
// The Dutch C locale is taken from the system, or built into a temporary
// folder when the system has only its definition; without either the tests
// that need it are skipped.
class DutchLocale : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        Settings::Get().LogFileName = dir.file("Kantoor.log");
        m_qtDefault = QLocale();
        QLocale::setDefault(QLocale(QLocale::Dutch, QLocale::Netherlands));
    }
    bool UseDutchC() { return std::setlocale(LC_ALL, "nl_NL.UTF-8") != nullptr || BuildDutchC(); }
    void TearDown() override {
        std::setlocale(LC_ALL, "C");
        if (m_builtLocale) ::unsetenv("LOCPATH");
        QLocale::setDefault(m_qtDefault);
        Settings::Reset();
    }
    bool BuildDutchC() {
        if (std::getenv("LOCPATH")) return false;  // someone else's choice: leave it
        const std::string out = locales.file("nl_NL.UTF-8");
        const std::string command = "localedef -i nl_NL -f UTF-8 '" + out + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return false;
        ::setenv("LOCPATH", locales.path().c_str(), 1);
        m_builtLocale = true;
        return std::setlocale(LC_ALL, "nl_NL.UTF-8") != nullptr;
    }
    bool DecimalComma() const {
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", 0.5);
        return std::string(text) == "0,5";
    }

    qx::test::TempDir dir, locales;
    QLocale m_qtDefault;
    bool m_builtLocale = false;
};

}  // namespace

TEST_F(DutchLocale, LogLinesKeepTheirPointAndNoGrouping) {
    if (!UseDutchC() || !DecimalComma()) GTEST_SKIP() << "no Dutch C locale on this system";
    DetectConversionError(std::vector<std::uint8_t>{0x41, 0});
    WriteLog(FormatMsg("Size check: %s pages analysed, average size: %s bytes, size limit exceeded: %s times",
                       {1088210L, 2.5, 1200L}));
    EXPECT_EQ(qx::test::LogLines(), (std::vector<std::string>{
                                        "Incorrect data storage type #1 detected (indicator = 1.00)",
                                        "Size check: 1088210 pages analysed, average size: 2.5 bytes, size limit "
                                        "exceeded: 1200 times",
                                    }));
    struct Case {
        const char* text;
        double value;
    } cases[] = {{"0.5", 0.5}, {" 2.25", 2.25}, {"+3.5", 3.5}, {"7", 7}, {"x", 0}};
    for (const Case& c : cases) EXPECT_EQ(Variant(std::string(c.text)).toDouble(), c.value) << c.text;
    EXPECT_EQ(Variant(0.1).toString(), "0.1");
    EXPECT_EQ(Variant(1e20 + 0.5).toString(), "1e+20");
}

TEST_F(DutchLocale, StatusBarAndProgressCountsAreGroupedTheDutchWay) {
    qx::test::ScriptedWindow window;
    qx::test::WriteFile(dir.file("Kantoor.dat"), "x");
    MainWindowState state;
    state.m_sDatabaseName = dir.file("Kantoor.dat");
    state.m_nDBSizeMB = 1088;
    state.m_nItemCount = 1088210;
    state.m_nDamaged = 1200;
    state.m_nFixed = -1;
    const auto panels = StatusBarTexts(window.env(), state, 2000, 1500, false);
    EXPECT_EQ(panels[0], FormatMsg(GetResString(111, "%s [%s MB, %s items]"), {"Kantoor.dat", "1.088", "1.088.210"}) +
                             "      ");
    EXPECT_EQ(panels[1], FormatMsg(GetResString(113, "beschadigd: %s"), {"1.200"}));
    EXPECT_EQ(panels[2], FormatMsg(GetResString(114, "gerepareerd: %s"), {"--"}));
    EXPECT_EQ(panels[3], FormatMsg(GetResString(115, "geselecteerd %s"), {"1.500"}));
    EXPECT_EQ(panels[0].find("items"), std::string::npos) << "the library's text is Dutch";

    double now = 0;
    ProgressWindow progress(window, [&now] { return now; });
    progress.m_sLblProgress1 = "doc %s";
    progress.m_sLblProgress2 = "%s / %s";
    progress.SetInitial(1088210, 100, false, 0);
    progress.Show();
    EXPECT_EQ(window.lastProgress.countLine, "0 / 1.088.210");
    now = 1;
    progress.SetProgress(1, 1500, "x");
    EXPECT_EQ(window.lastProgress.countLine, "1.500 / 1.088.210");
}
