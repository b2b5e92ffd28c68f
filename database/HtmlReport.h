#pragma once
// A check as one HTML page to look at rather than read: the counters, the
// findings by code and by folder and the sub databases against their
// capacity as inline SVG bar charts, the list with a search box and, given a
// previous report, what changed since. Built from the check's JSON
// (docs/json.md), so that the window and the command line give the same page.
//
// The page is one self-contained file: nothing is loaded from anywhere, and
// its Content-Security-Policy allows only its own style sheet and script (by
// their hashes). Every text taken from the archive is escaped: names and
// paths are whatever the archive holds.
#include <QJsonObject>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QString;

namespace qx {

class CDatabase;
class Env;
struct EnvStack;

struct HtmlReportOptions {
    // Rows of each list written into the page: a million findings must not
    // make a page no browser opens. The page says how many were left out.
    std::size_t maxRows = 10'000;
    // Rows of each part of the comparison (new, repaired, stayed, not checked).
    std::size_t maxComparisonRows = 1'000;
    // Folders with a bar of their own; the rest share one.
    std::size_t maxFolders = 20;
    // When a sub database counts as full (the reorganize capacity).
    std::int64_t capacity = 671'088'640;
};

// What changed between a previous check and this one. Findings match when
// they are about the same document (its number; for a file, its sub
// database and name) and the same damage (the code without its repair bit).
struct ReportComparison {
    std::vector<QJsonObject> added;      // found now, not damage before
    std::vector<QJsonObject> repaired;   // damage before, none now (from the previous report when no longer found)
    std::vector<QJsonObject> stayed;     // damage before and now (the finding of now)
    // Damage before that this run did not look at again (it was cancelled,
    // could not read everything, or is a check that does not look there):
    // not found is not the same as repaired.
    std::vector<QJsonObject> unchecked;
    bool sameArchive = true;
};
ReportComparison CompareReports(const QJsonObject& current, const QJsonObject& previous);

// The page (UTF-8). `previous` may be null.
std::string HtmlReport(const QJsonObject& current, const QJsonObject* previous = nullptr,
                       const HtmlReportOptions& options = {});

// Text as HTML element content or attribute value: markup characters as
// entities, control characters as visible symbols, direction overrides and
// text that is no character (lone surrogates) as visible code points.
std::string HtmlEscape(const QString& text);

// A previous report's JSON; false (and `error` in the system's words or
// the parser's) when it cannot be read or is no check report.
bool ReadReportJson(Env& files, const std::string& path, QJsonObject& out, std::string& error);

enum class SaveReportOutcome { Saved, ArchiveFile, NotWritten };
// Writes `bytes` to `path` through a new file beside it that takes the
// name only once it is durable, so that a failure leaves the old file as
// it was. A file already there is set aside first and removed last (a
// rename never replaces a file). A link is followed to the file it names.
// A path that names a file of the open archive (database/ArchiveFiles.h),
// or whose temporary name would, is refused and nothing is written.
SaveReportOutcome SaveReportFile(const CDatabase& database, Env& files, const std::string& path,
                                 std::string_view bytes, std::string& error);

// The file layer for files the user names: the session's layers without a
// report-only view, which would keep a report in memory.
Env& UserFileLayer(const EnvStack& stack);

}  // namespace qx
