#include "support/Log.h"

#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/LogLine.h"
#include "support/Settings.h"

#include <cstdio>
#include <mutex>
#include <set>

namespace qx {

namespace {

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

}  // namespace

LogProblemHandler SetLogProblemHandler(LogProblemHandler handler) {
    std::lock_guard<std::mutex> lock(g_problemMutex);
    std::swap(handler, g_problemHandler);
    return handler;
}

void WriteLog(std::string_view line) {
    const std::string& path = Settings::Get().LogFileName;
    if (path.empty()) return;
    if (const std::string why = AppendLogLine(RealEnv(), path, line); !why.empty()) TellLogProblem(path, why);
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
