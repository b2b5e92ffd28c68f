#include "support/CustomDate.h"
#include "support/Registry.h"
#include "support/Tools.h"

#include "tests/core/TestUtil.h"

#include <QSettings>

#include <gtest/gtest.h>

namespace qx {
namespace {

TEST(FormatDurationTest, MinutesBelowAnHourHoursFromThenOn) {
    const std::pair<long, const char*> cases[] = {
        {-1, "???"}, {0, "00:00"}, {75, "01:15"}, {3599, "59:59"},
        {3600, "1:00:00"}, {3725, "1:02:05"}, {360000, "100:00:00"},
    };
    for (const auto& [s, text] : cases) EXPECT_EQ(FormatDuration(s), text) << s;
}

TEST(Conversions, Utf8LeftCountsCharacters) {
    std::string text;
    for (int i = 0; i < 1100; ++i) text += "\xC3\xA9";
    EXPECT_EQ(Utf8Left(text, 1024).size(), 2048u);
    EXPECT_EQ(Utf8Left("abc", 1024), "abc");
    EXPECT_EQ(Utf8Left("a\xF0\x9F\x98\x80" "b", 2), "a\xF0\x9F\x98\x80");
}

TEST(ShowStoredDate, DutchWithTheWholeYearAndOddTextAsStored) {
    const std::pair<const char*, const char*> cases[] = {
        {"20010209", "9-2-2001"},   // was "09 02 01" under the C locale
        {"19010209", "9-2-1901"},   // the century stays visible
        {"20241231", "31-12-2024"},
        {"", ""},
        {"20010230", "20010230"},   // no such day: shown as stored
        {"2024", "2024"},
        {"2024031", "2024031"},
        {"abcdefgh", "abcdefgh"},
    };
    for (const auto& [stored, shown] : cases) EXPECT_EQ(ShowStoredDate(stored), shown) << stored;
}

TEST(DatePattern, FollowsTheLocaleOrderAndSeparator) {
    const std::pair<const char*, const char*> cases[] = {
        {"dd-MM-yyyy", "dd-mm-yy"}, {"M/d/yy", "mm/dd/yy"},     {"yyyy.MM.dd", "yy.mm.dd"},
        {"d. MMMM yyyy", "dd/mm/yy"}, {"dd.MM.yy", "dd.mm.yy"}, {"y. MM. dd.", "yy/mm/dd"},
        {"'day' d.M.yyyy", "dd.mm.yy"}, {"yyyy-MM", "mm/dd/yy"}, {"", "mm/dd/yy"},
        {"d/M/yyyy HH:mm", "dd/mm/yy"},
    };
    for (const auto& [format, pattern] : cases) EXPECT_EQ(BuildDatePattern(format), pattern) << format;
    EXPECT_EQ(DatePattern().size(), 8u);
}

TEST(DatePattern, StoredDatesFillThePattern) {
    EXPECT_EQ(FormatStoredDate("20240315", "dd-mm-yy"), "15-03-24");
    EXPECT_EQ(FormatStoredDate("20240315", "mm/dd/yy"), "03/15/24");
    EXPECT_EQ(FormatStoredDate("20240315", "yy.mm.dd"), "24.03.15");
    EXPECT_EQ(FormatStoredDate("2024", "dd-mm-yy"), "--24");
    std::string shown = FormatStoredDate("20240315");
    EXPECT_EQ(shown.size(), 8u);
    for (const char* part : {"15", "03", "24"}) EXPECT_NE(shown.find(part), std::string::npos) << shown;
}

TEST(RegistryTest, ReadsTheProductSettings) {
    test::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.path()));
    {
        QSettings product(QSettings::NativeFormat, QSettings::UserScope, "Tarnwick", "Vellumo 8");
        product.setValue("Database", QString::fromUtf8("/data/Caf\xC3\xA9/Data.dat"));
        product.setValue("Options/Last", "x");
        product.sync();
    }
    EXPECT_EQ(RegReadString("Software\\Tarnwick\\Vellumo 8", "Database"), "/data/Caf\xC3\xA9/Data.dat");
    EXPECT_EQ(RegReadString("Software\\Tarnwick\\Vellumo 8\\Options", "Last"), "x");
    EXPECT_EQ(RegReadString("Software\\Tarnwick\\Vellumo 8", "Missing"), "");
    EXPECT_EQ(RegReadString("Software\\Tarnwick\\Vellumo 9", "Database"), "");
    EXPECT_EQ(RegReadString("", "Database"), "");
}

}  // namespace
}  // namespace qx
