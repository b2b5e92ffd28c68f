#include "support/HumanFormat.h"

#include "support/TextResources.h"

#include <cmath>
#include <cstdio>

namespace qx {

QLocale UserLocale() { return QLocale(QLocale::Dutch, QLocale::Netherlands); }

std::string FormatCount(long long n) { return UserLocale().toString(n).toStdString(); }

std::string FormatDecimal(double value, int decimals) {
    QLocale locale = UserLocale();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals).toStdString();
}

std::string FormatBytes(std::int64_t bytes) {
    if (bytes < 0) return UnknownText();
    if (bytes < 1024) return FormatCount(bytes) + " bytes";
    static const char* const kUnits[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1000 && unit + 1 < 6) {
        value /= 1024;
        ++unit;
    }
    const int decimals = value < 10 ? 2 : value < 100 ? 1 : 0;
    return FormatDecimal(value, decimals) + " " + kUnits[unit];
}

std::string FormatKilobytes(std::int64_t bytes) {
    if (bytes < 0) return UnknownText();
    return FormatCount(bytes / 1024 + (bytes % 1024 != 0 ? 1 : 0)) + " KB";
}

std::string FormatRate(double perSecond) { return FormatDecimal(perSecond, 1) + "/s"; }

std::string FormatDate(const QDate& date) { return date.toString(QStringLiteral("d-M-yyyy")).toStdString(); }

std::string FormatDateTime(const QDateTime& when) {
    return when.toString(QStringLiteral("d-M-yyyy HH:mm:ss")).toStdString();
}

std::string FormatElapsed(long seconds) {
    if (seconds < 0) return UnknownText();
    char buf[48];
    const long hours = seconds / 3600, minutes = seconds % 3600 / 60, secs = seconds % 60;
    if (hours > 0)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", hours, minutes, secs);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", minutes, secs);
    return buf;
}

std::string UnknownText() { return GetResString(324, "onbekend"); }

}  // namespace qx
