// The compacting engine of the string library: copies one database file into
// a fresh, compact file on a thread of its own, while the program polls it.
//
// Entries (C linkage, 8-bit texts):
//   EnableLog(path)          append our lines to the program's log from now on
//   Compact(src, dst, pwd)   start the copy; returns at once
//   GetThreadState()         -1 while a copy runs, then 0 (done) or an error code
//   DisableLog()             stop writing to the log
//
// The copy is the cipher library's export into a new file attached with the
// same key and page size as the source, read in one transaction so it is
// consistent. The export leaves user_version behind, so it is carried over by
// hand. An empty password means a plain file (the OCR database), exported
// the same way with an empty key and the source's page size. The destination
// is fsynced before it is closed; when anything fails it is removed, so the
// caller finds a destination only when the copy is whole and durable.
//
// The destination may already exist as an empty file: the program creates it
// first, so that a crash during the copy leaves a file it can recognise.
#include <sqlite3.h>

#include <openssl/sha.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "Export.h"

namespace {

constexpr int kCipherPageSize = 16384;  // docs/archive-format.md: the same at every open

// Result codes of GetThreadState besides -1 (running) and 0 (success).
enum : std::int32_t {
    kFailedOpen = 1,
    kFailedKey = 2,
    kFailedExport = 3,
    kFailedSync = 4,
    kNoThread = 5,
    kBadArguments = 6,
};

std::mutex g_lock;  // guards the log path and the thread object
std::string g_logPath;
std::thread g_worker;
std::atomic<std::int32_t> g_state{0};

void Log(const std::string& line) {
    std::string path;
    {
        std::lock_guard guard(g_lock);
        path = g_logPath;
    }
    if (path.empty()) return;
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const std::string bytes = line + "\r\n";
    ssize_t ignored = ::write(fd, bytes.data(), bytes.size());
    (void)ignored;
    ::close(fd);
}

std::string Quoted(const std::string& text, char quote) {
    std::string out(1, quote);
    for (const char c : text) {
        out += c;
        if (c == quote) out += c;
    }
    return out + quote;
}

// The raw key the program uses: SHA-256 of the password's bytes.
std::string RawKey(const std::string& password) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(password.data()), password.size(), digest);
    static const char hex[] = "0123456789abcdef";
    std::string key = "x'";
    for (const unsigned char b : digest) {
        key += hex[b >> 4];
        key += hex[b & 15];
    }
    return key + "'";
}

bool Exec(sqlite3* db, const std::string& sql, std::string& why) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    why = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

bool ReadInt(sqlite3* db, const std::string& sql, std::int64_t& value, std::string& why) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        why = sqlite3_errmsg(db);
        return false;
    }
    const bool ok = sqlite3_step(st) == SQLITE_ROW;
    if (ok) value = sqlite3_column_int64(st, 0);
    else why = sqlite3_errmsg(db);
    sqlite3_finalize(st);
    return ok;
}

int SyncPath(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int rc = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return rc;
}

std::int64_t LengthOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

std::int32_t Copy(const std::string& src, const std::string& dst, const std::string& password, std::string& why) {
    sqlite3* db = nullptr;
    // Opened for writing only because an attached database inherits the
    // connection's mode; the source itself is only read.
    if (sqlite3_open_v2(src.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        why = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return kFailedOpen;
    }
    struct Closer {
        sqlite3* db;
        ~Closer() { sqlite3_close(db); }
    } closer{db};
    sqlite3_busy_timeout(db, 5000);
    const bool keyed = !password.empty();
    const std::string key = keyed ? RawKey(password) : std::string();
    if (keyed) {
        if (sqlite3_key(db, key.data(), static_cast<int>(key.size())) != SQLITE_OK ||
            !Exec(db, "PRAGMA cipher_page_size = " + std::to_string(kCipherPageSize) + ";", why))
            return kFailedKey;
    }
    std::int64_t userVersion = 0, pageSize = 0;
    if (!ReadInt(db, "PRAGMA user_version", userVersion, why) || !ReadInt(db, "PRAGMA page_size", pageSize, why))
        return kFailedOpen;

    // The key and the page size are set on the new file before its first
    // page is written. The new file needs no journal and no syncs of its
    // own: it is thrown away unless the whole copy succeeds, and it is
    // fsynced once at the end.
    std::string attach = "ATTACH DATABASE " + Quoted(dst, '\'') + " AS compacted KEY " +
                         (keyed ? Quoted(key, '"') : std::string("''")) + ";";
    if (!Exec(db, attach, why)) return kFailedOpen;
    std::string setup = keyed ? "PRAGMA compacted.cipher_page_size = " + std::to_string(kCipherPageSize) + ";"
                              : "PRAGMA compacted.page_size = " + std::to_string(pageSize) + ";";
    setup += "PRAGMA compacted.journal_mode = OFF; PRAGMA compacted.synchronous = OFF;";
    if (!Exec(db, setup, why)) return kFailedExport;
    // One transaction: the source is read in one consistent state.
    if (!Exec(db, "BEGIN; SELECT sqlcipher_export('compacted'); PRAGMA compacted.user_version = " +
                      std::to_string(userVersion) + "; COMMIT;",
              why)) {
        std::string ignored;
        Exec(db, "ROLLBACK;", ignored);
        return kFailedExport;
    }
    if (!Exec(db, "DETACH DATABASE compacted;", why)) return kFailedExport;
    if (const int rc = SyncPath(dst)) {
        why = std::strerror(rc);
        return kFailedSync;
    }
    return 0;
}

void Work(std::string src, std::string dst, std::string password) {
    const std::int64_t before = LengthOf(src);
    std::string why;
    const std::int32_t rc = Copy(src, dst, password, why);
    if (rc == 0) {
        Log("Compact engine: " + src + " copied to " + dst + " (" + std::to_string(before) + " -> " +
            std::to_string(LengthOf(dst)) + " bytes)");
    } else {
        // A partial copy must never be taken for a finished one.
        ::unlink(dst.c_str());
        Log("Compact engine: copying " + src + " failed (" + std::to_string(rc) + "): " + why);
    }
    g_state = rc;
}

void JoinFinished() {
    // Only a thread that has ended is joined: the caller never waits here.
    if (g_worker.joinable() && g_state != -1) g_worker.join();
}

// A thread still running when the library goes would run code that is gone.
struct JoinAtUnload {
    ~JoinAtUnload() {
        if (g_worker.joinable()) g_worker.join();
    }
} g_joinAtUnload;

}  // namespace

extern "C" {

QX_EXPORT void EnableLog(const char* logPath) {
    std::lock_guard guard(g_lock);
    g_logPath = logPath ? logPath : "";
}

QX_EXPORT void DisableLog() {
    std::lock_guard guard(g_lock);
    g_logPath.clear();
    JoinFinished();
}

QX_EXPORT void Compact(const char* src, const char* dst, const char* password) {
    bool running = false;
    {
        std::lock_guard guard(g_lock);
        running = g_state == -1;
        if (!running) JoinFinished();
    }
    if (running) {
        // The state stays that of the copy that runs.
        Log("Compact engine: a copy is still running; " + std::string(src ? src : "") + " is not copied");
        return;
    }
    if (!src || !dst || !*src || !*dst) {
        g_state = kBadArguments;
        return;
    }
    Log("Compact engine: copying " + std::string(src) + " to " + dst);
    std::lock_guard guard(g_lock);
    g_state = -1;
    try {
        g_worker = std::thread(Work, std::string(src), std::string(dst), std::string(password ? password : ""));
    } catch (...) {
        g_state = kNoThread;
    }
}

QX_EXPORT std::int32_t GetThreadState() { return g_state.load(); }

}  // extern "C"
