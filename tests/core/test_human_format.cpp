#include "support/HumanFormat.h"

#include <gtest/gtest.h>

namespace qx {
namespace {

// Whatever the system's locale says, a person reads Dutch separators.
TEST(HumanFormat, DutchSeparatorsAndOneTimeForm) {
    QLocale::setDefault(QLocale::c());
    struct Case {
        const char* name;
        std::string got, want;
    } cases[] = {
        {"count grouped with points", FormatCount(1088210), "1.088.210"},
        {"small count", FormatCount(7), "7"},
        {"rate with a decimal comma", FormatRate(382.24), "382,2/s"},
        {"bytes below a kilobyte", FormatBytes(812), "812 bytes"},
        {"kilobytes", FormatBytes(1130), "1,10 kB"},
        {"megabytes", FormatBytes(13421772), "12,8 MB"},
        {"gigabytes never grouped", FormatBytes(std::int64_t(1000) * 1024 * 1024), "0,98 GB"},
        {"unknown size", FormatBytes(-1), "onbekend"},
        {"kilobytes rounded up", FormatKilobytes(1), "1 KB"},
        {"kilobytes grouped", FormatKilobytes(1114113), "1.089 KB"},
        {"empty file", FormatKilobytes(0), "0 KB"},
        {"start of a run", FormatElapsed(0), "0:00"},
        {"minutes", FormatElapsed(754), "12:34"},
        {"hours", FormatElapsed(3723), "1:02:03"},
        {"not known yet", FormatElapsed(-1), "onbekend"},
        {"date", FormatDate(QDate(2026, 2, 9)), "9-2-2026"},
        {"date and time", FormatDateTime(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3))), "7-12-2026 09:05:03"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
}

}  // namespace
}  // namespace qx
