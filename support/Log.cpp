#include "support/Log.h"

#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Settings.h"
#include "support/Tools.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>


namespace qx {

namespace {

// Code points of the bytes 0x80-0x9F. The five bytes Windows-1252 leaves
// unassigned map onto the C1 control of the same number, as Windows itself
// converts them, so that every byte survives a round trip.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char ToCp1252(char32_t cp) { return CodePointToCp1252(cp); }

std::mutex g_problemMutex;
LogProblemHandler g_problemHandler;    // empty: stderr
std::set<std::string> g_reportedLogs;  // told once each

void TellLogProblem(const std::string& path, const std::string& why) {
    LogProblemHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_problemMutex);
        if (!g_reportedLogs.insert(path).second) return;
        handler = g_problemHandler;
    }
    const std::string line = "The log '" + path + "' cannot be used (" + why + "); going on without it";
    if (handler) handler(line);
    else std::fprintf(stderr, "%s\n", line.c_str());
}

// Appends to a regular file only, never through a link: a log name may
// have been replaced by a link to a file that is not ours to write, or by a
// pipe that would hold the program up. Returns the reason when it cannot.
std::string AppendToLog(const std::string& path, const std::string& bytes) {
    // The log is the user's file, no change to the archive: it goes to the
    // real files in every kind of run.
    Env& files = RealEnv();
    const int rc = files.AppendToFile(path, bytes);
    if (rc == 0) return {};
    const EntryKind kind = files.KindOf(path);
    if (kind == EntryKind::Link) return "it is a symbolic link";
    if (kind != EntryKind::None && kind != EntryKind::RegularFile) return "it is not a regular file";
    return ErrorText(rc);
}

}  // namespace

LogProblemHandler SetLogProblemHandler(LogProblemHandler handler) {
    std::lock_guard<std::mutex> lock(g_problemMutex);
    std::swap(handler, g_problemHandler);
    return handler;
}

char CodePointToCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
    return '?';
}

std::string Utf8ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        char32_t cp = NextCodePoint(utf8, pos);
        out += cp == kInvalidCodePoint ? '?' : ToCp1252(cp);
    }
    return out;
}

std::string Cp1252ToUtf8(std::string_view cp1252) {
    std::string out;
    out.reserve(cp1252.size());
    for (char c : cp1252) {
        unsigned char b = static_cast<unsigned char>(c);
        AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kHighControls[b - 0x80] : char32_t(b));
    }
    return out;
}

void WriteLog(std::string_view line) {
    const std::string& path = Settings::Get().LogFileName;
    if (path.empty()) return;
    std::string bytes = Utf8ToCp1252(line);
    bytes += "\r\n";
    if (const std::string why = AppendToLog(path, bytes); !why.empty()) TellLogProblem(path, why);
}

std::string LogFileNameFor(std::string_view mainDatabasePath) {
    // Only a "." in the file name starts the extension: cutting at a "." in
    // a folder name ("/data/v1.2/archive") would put the log elsewhere.
    std::string_view stem = mainDatabasePath;
    for (std::size_t i = stem.size(); i-- > 0 && !IsPathSeparator(stem[i]);) {
        if (stem[i] == '.') {
            stem = stem.substr(0, i);
            break;
        }
    }
    return std::string(stem) + ".log";
}

}  // namespace qx
