// The compacting entries of the string library, for programs that bind them
// by name: thin wrappers over one compacting engine (support/engine/
// Compactor.h), which does the same work for the program itself.
//
// Entries (C linkage, 8-bit texts):
//   EnableLog(path)          append our lines to the program's log from now on
//   Compact(src, dst, pwd)   start the copy; returns at once
//   CompactEmptying(src, dst, pwd, table)
//                            the same, leaving out the rows of one table
//   GetThreadState()         -1 while a copy runs, then 0 (done) or an error code
//   DisableLog()             stop writing to the log
//
// A password's bytes are used as given (empty: a plain file). Log lines are
// written as the program writes its own: Windows-1252, never through a link.
#include "support/Env.h"
#include "support/LogLine.h"
#include "support/engine/Compactor.h"

#include "Export.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace {

std::mutex g_logLock;
std::string g_logPath;

void LogLine(const std::string& line) {
    std::string path;
    {
        std::lock_guard guard(g_logLock);
        path = g_logPath;
    }
    // A log that cannot be written costs the line, never the copy.
    if (!path.empty()) (void)qx::AppendLogLine(qx::RealEnv(), path, line);
}

// Made at the first call, on the system's files; at unload its destructor
// waits for a copy that still runs, whose code would otherwise be gone.
qx::sql::Compactor& Engine() {
    static qx::sql::Compactor engine(qx::RealEnv(), LogLine);
    return engine;
}

std::string Text(const char* text) { return text ? text : ""; }

}  // namespace

extern "C" {

QX_EXPORT void EnableLog(const char* logPath) {
    std::lock_guard guard(g_logLock);
    g_logPath = Text(logPath);
}

QX_EXPORT void DisableLog() {
    std::lock_guard guard(g_logLock);
    g_logPath.clear();
}

QX_EXPORT void Compact(const char* src, const char* dst, const char* password) {
    Engine().Start(Text(src), Text(dst), Text(password));
}

QX_EXPORT void CompactEmptying(const char* src, const char* dst, const char* password, const char* table) {
    Engine().StartEmptying(Text(src), Text(dst), Text(password), Text(table));
}

QX_EXPORT std::int32_t GetThreadState() { return Engine().State(); }

}  // extern "C"
