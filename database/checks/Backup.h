#pragma once
// Names of the backup files a thorough check writes before it rewrites a
// document's stored bytes: one mask per run, numbered files 01 .. 98.
#include <QDateTime>

#include <string>
#include <string_view>

namespace qx {

inline constexpr int kLastBackupSequence = 98;
// A backup file is reused while it is below this size in KB (640 MiB, the
// size at which a sub database is no longer filled).
inline constexpr long long kBackupFullKB = 655360;

// "<main database without extension><yyyymmdd><hhnn>##.bak"
// ("/a/Data.dat", 5 March 2024 14:07 -> "/a/Data202403051407##.bak").
std::string BackupFileMask(std::string_view mainPath, const QDateTime& when);
// The mask with "##" replaced by the two-digit sequence number.
std::string BackupFileName(std::string_view mask, int sequence);

}  // namespace qx
