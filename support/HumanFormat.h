#pragma once
// Numbers, sizes, rates, dates and durations as a person reads them in our
// Dutch interface (window and terminal alike). The log keeps its own fixed
// formats: log readers and peers parse them, people do not.
#include <QDateTime>
#include <QLocale>

#include <cstdint>
#include <string>

namespace qx {

// Dutch (Netherlands), whatever the system's locale: the interface's texts
// are Dutch, and "1,088" must not mean one thousand in one line and one
// point oh in the next.
QLocale UserLocale();

// "1.088.210"
std::string FormatCount(long long n);
// "382,2" (`decimals` digits after the comma)
std::string FormatDecimal(double value, int decimals);
// "0 bytes", "812 bytes", "1,1 kB", "12,8 MB", "1,23 GB": three significant
// digits from a kilobyte on, powers of 1024 as the file dialogs count.
std::string FormatBytes(std::int64_t bytes);
// "1.088 KB": whole kilobytes (rounded up, so a non-empty file is never
// "0 KB"), grouped the Dutch way; the unit of the sub-database lists.
std::string FormatKilobytes(std::int64_t bytes);
// "382,2/s"
std::string FormatRate(double perSecond);
// "7-12-2026"
std::string FormatDate(const QDate& date);
// "7-12-2026 19:20:05"
std::string FormatDateTime(const QDateTime& when);
// "0:05", "12:30", "1:02:03": one form for elapsed time and time left alike;
// a negative value is not known yet and reads "onbekend".
std::string FormatElapsed(long seconds);
// "onbekend": a time left or a count nobody can tell yet.
std::string UnknownText();

}  // namespace qx
