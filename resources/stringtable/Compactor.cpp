// The compacting engine of the string library: copies one database file into
// a fresh, compact file on a thread of its own, while the program polls it.
//
// Entries (C linkage, 8-bit texts):
//   EnableLog(path)          append our lines to the program's log from now on
//   Compact(src, dst, pwd)   start the copy; returns at once
//   CompactEmptying(src, dst, pwd, table)
//                            the same, leaving out the rows of one table
//   GetThreadState()         -1 while a copy runs, then 0 (done) or an error code
//   DisableLog()             stop writing to the log
//
// The copy reads the source in one transaction, so it is consistent, into a
// new file attached to the source's connection with the same key and page
// size. The new file gets the source's tables and indexes (their stored
// statements, aimed at the new file), then the rows. Values over 1 MiB are
// never held whole: their row is written with a zero-filled value of the
// right length, then filled in pieces through blob handles, so memory stays
// flat up to documents of a gigabyte. Tables without such values are copied
// with one INSERT ... SELECT, which copies records and index entries as they
// are. Views and triggers come last, so the copy fires no trigger;
// user_version and sqlite_sequence are carried over by hand.
// An empty password means a plain file (the OCR database), copied the same way
// with an empty key and the source's page size. The destination is fsynced
// before it is closed; when anything fails it is removed, so the caller finds
// a destination only when the copy is whole and durable.
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
#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <vector>
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

// A value longer than this is streamed instead of copied in one piece.
constexpr std::int64_t kStreamAbove = 1 << 20;

// Owns a handle the cipher library opened, closed by `Close`.
template <auto Close>
struct Closing {
    template <class T>
    void operator()(T* handle) const {
        Close(handle);
    }
};
using Connection = std::unique_ptr<sqlite3, Closing<sqlite3_close>>;
using Blob = std::unique_ptr<sqlite3_blob, Closing<sqlite3_blob_close>>;

struct Statement {
    sqlite3_stmt* st = nullptr;
    Statement(sqlite3* db, const std::string& sql, std::string& why) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) why = sqlite3_errmsg(db);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(st); }
    explicit operator bool() const { return st != nullptr; }
    std::string text(int column) const {
        const unsigned char* t = sqlite3_column_text(st, column);
        return t ? reinterpret_cast<const char*>(t) : std::string();
    }
};

// Keyed, and with the page size every keyed file has, before the first read;
// plain for an empty key.
std::int32_t OpenKeyed(Connection& c, const std::string& path, const std::string& key, std::string& why) {
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    c.reset(db);
    if (opened != SQLITE_OK) {
        why = db ? sqlite3_errmsg(db) : "out of memory";
        return kFailedOpen;
    }
    sqlite3_busy_timeout(db, 5000);
    if (key.empty()) return 0;
    return sqlite3_key(db, key.data(), static_cast<int>(key.size())) == SQLITE_OK &&
                   Exec(db, "PRAGMA cipher_page_size = " + std::to_string(kCipherPageSize) + ";", why)
               ? 0
               : kFailedKey;
}

struct SchemaEntry {
    std::string type, name, sql;
};

bool ReadSchema(sqlite3* db, std::vector<SchemaEntry>& entries, std::string& why) {
    // Automatic indexes (sql Null) come with their tables; sqlite_sequence
    // with the first AUTOINCREMENT table.
    Statement st(db,
                 "SELECT type, name, sql FROM main.sqlite_master WHERE sql IS NOT NULL AND name NOT LIKE 'sqlite\\_%' "
                 "ESCAPE '\\' ORDER BY rowid",
                 why);
    if (!st) return false;
    int rc;
    while ((rc = sqlite3_step(st.st)) == SQLITE_ROW) entries.push_back({st.text(0), st.text(1), st.text(2)});
    if (rc != SQLITE_DONE) why = sqlite3_errmsg(db);
    return rc == SQLITE_DONE;
}

bool Word(const std::string& sql, std::size_t& at, const char* word) {
    std::size_t i = at;
    for (const char* w = word; *w; ++w, ++i) {
        if (i >= sql.size()) return false;
        char c = sql[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        if (c != *w) return false;
    }
    if (i < sql.size() && sql[i] != ' ' && sql[i] != '\t' && sql[i] != '\n' && sql[i] != '\r') return false;
    while (i < sql.size() && (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\n' || sql[i] == '\r')) ++i;
    at = i;
    return true;
}

// A stored CREATE TABLE or CREATE [UNIQUE] INDEX statement made to create
// its object in the new file; empty when the statement has another shape.
std::string InCompacted(const std::string& sql) {
    std::size_t at = 0;
    if (!Word(sql, at, "CREATE")) return {};
    if (!Word(sql, at, "TABLE")) {
        Word(sql, at, "UNIQUE");
        if (!Word(sql, at, "INDEX")) return {};
    }
    std::size_t ifNotExists = at;
    if (Word(sql, ifNotExists, "IF") && Word(sql, ifNotExists, "NOT") && Word(sql, ifNotExists, "EXISTS"))
        at = ifNotExists;
    return sql.substr(0, at) + "compacted." + sql.substr(at);
}

// Tables and indexes in the order they were made; the source is not a
// database we can copy when one has a shape we do not know.
bool CreateTablesAndIndexes(sqlite3* db, const std::vector<SchemaEntry>& entries, std::string& why) {
    for (const SchemaEntry& e : entries) {
        if (e.type != "table" && e.type != "index") continue;
        const std::string sql = InCompacted(e.sql);
        if (sql.empty()) {
            why = "cannot copy " + e.type + " " + e.name + ": " + e.sql;
            return false;
        }
        if (!Exec(db, sql + ";", why)) return false;
    }
    return true;
}

std::vector<std::string> Columns(sqlite3* db, const std::string& table, std::string& why) {
    std::vector<std::string> names;
    Statement st(db, "PRAGMA main.table_info(" + Quoted(table, '"') + ")", why);
    if (!st) return names;
    while (sqlite3_step(st.st) == SQLITE_ROW) names.push_back(st.text(1));
    return names;
}

// Names in SQL compare without regard to ASCII letter case.
bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

bool NamesRowid(const std::string& column) {
    return SameName(column, "rowid") || SameName(column, "oid") || SameName(column, "_rowid_");
}

std::string IsLarge(const std::string& quotedColumn) {
    return "(typeof(" + quotedColumn + ") = 'blob' AND length(" + quotedColumn + ") > " + std::to_string(kStreamAbove) + ")";
}

// Fills the zero-filled value of one row of the new file from the source,
// a piece at a time.
bool StreamValue(sqlite3* db, const std::string& table, const std::string& column, sqlite3_int64 rowid,
                 std::vector<char>& buffer, std::string& why) {
    sqlite3_blob *in = nullptr, *out = nullptr;
    const bool opened = sqlite3_blob_open(db, "main", table.c_str(), column.c_str(), rowid, 0, &in) == SQLITE_OK &&
                        sqlite3_blob_open(db, "compacted", table.c_str(), column.c_str(), rowid, 1, &out) == SQLITE_OK;
    const Blob from(in), to(out);
    if (!opened) {
        why = sqlite3_errmsg(db);
        return false;
    }
    const int length = sqlite3_blob_bytes(from.get());
    if (sqlite3_blob_bytes(to.get()) != length) {
        why = "the copy of " + table + "." + column + " row " + std::to_string(rowid) + " has another length";
        return false;
    }
    for (int offset = 0; offset < length;) {
        const int piece = std::min<int>(static_cast<int>(buffer.size()), length - offset);
        if (sqlite3_blob_read(from.get(), buffer.data(), piece, offset) != SQLITE_OK ||
            sqlite3_blob_write(to.get(), buffer.data(), piece, offset) != SQLITE_OK) {
            why = sqlite3_errmsg(db);
            return false;
        }
        offset += piece;
    }
    return true;
}

bool CopyTable(sqlite3* db, const std::string& table, std::string& why) {
    const std::string from = "main." + Quoted(table, '"'), to = "compacted." + Quoted(table, '"');
    const std::string whole = "INSERT INTO " + to + " SELECT * FROM " + from + ";";
    std::vector<std::string> columns = Columns(db, table, why);
    if (columns.empty()) return false;
    bool plain = false;
    for (const std::string& c : columns) plain = plain || NamesRowid(c);
    {
        // A table without rowid cannot be read through blob handles.
        std::string ignored;
        plain = plain || !Statement(db, "SELECT rowid FROM " + from + " LIMIT 0", ignored);
    }
    if (plain) return Exec(db, whole, why);

    std::string anyLarge;
    for (const std::string& c : columns) anyLarge += (anyLarge.empty() ? "" : " OR ") + IsLarge(Quoted(c, '"'));
    {
        // length() and typeof() read only the record header, not the value.
        Statement probe(db, "SELECT 1 FROM " + from + " WHERE " + anyLarge + " LIMIT 1", why);
        if (!probe) return false;
        const int rc = sqlite3_step(probe.st);
        if (rc == SQLITE_DONE) return Exec(db, whole, why);
        if (rc != SQLITE_ROW) {
            why = sqlite3_errmsg(db);
            return false;
        }
    }
    // The rowid is copied too, so a row's place in the new file is known.
    // A zero-filled value costs no memory only in the record's last column;
    // documents are stored there.
    std::string names = "rowid", values = "rowid";
    for (const std::string& c : columns) {
        const std::string q = Quoted(c, '"');
        names += ", " + q;
        values += ", CASE WHEN " + IsLarge(q) + " THEN zeroblob(length(" + q + ")) ELSE " + q + " END";
    }
    if (!Exec(db, "INSERT INTO " + to + " (" + names + ") SELECT " + values + " FROM " + from + ";", why)) return false;
    // One pass finds every large value: the row, and which of its columns.
    std::string flags;
    for (const std::string& c : columns) flags += ", " + IsLarge(Quoted(c, '"'));
    Statement large(db, "SELECT rowid" + flags + " FROM " + from + " WHERE " + anyLarge, why);
    if (!large) return false;
    std::vector<char> buffer(static_cast<std::size_t>(kStreamAbove));
    int rc;
    while ((rc = sqlite3_step(large.st)) == SQLITE_ROW)
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (sqlite3_column_int(large.st, static_cast<int>(i) + 1) &&
                !StreamValue(db, table, columns[i], sqlite3_column_int64(large.st, 0), buffer, why))
                return false;
    if (rc != SQLITE_DONE) {
        why = sqlite3_errmsg(db);
        return false;
    }
    return true;
}

bool CopySequence(sqlite3* db, std::string& why) {
    std::int64_t present = 0;
    if (!ReadInt(db, "SELECT count(*) FROM main.sqlite_master WHERE name = 'sqlite_sequence'", present, why))
        return false;
    return present == 0 || Exec(db,
                                "DELETE FROM compacted.sqlite_sequence; "
                                "INSERT INTO compacted.sqlite_sequence SELECT * FROM main.sqlite_sequence;",
                                why);
}

// `leaveOut`: a table whose rows are not copied (its schema is).
std::int32_t Copy(const std::string& src, const std::string& dst, const std::string& password,
                  const std::string& leaveOut, std::string& why) {
    const bool keyed = !password.empty();
    const std::string key = keyed ? RawKey(password) : std::string();
    // Opened for writing only because an attached database inherits the
    // connection's mode; the source itself is only read.
    Connection source;
    if (const std::int32_t rc = OpenKeyed(source, src, key, why)) return rc;
    sqlite3* db = source.get();
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
    if (!Exec(db, "BEGIN;", why)) return kFailedOpen;
    struct Rollback {
        sqlite3* db;
        ~Rollback() {
            if (!sqlite3_get_autocommit(db)) {
                std::string ignored;
                Exec(db, "ROLLBACK;", ignored);
            }
        }
    } rollback{db};
    std::vector<SchemaEntry> schema;
    if (!ReadSchema(db, schema, why)) return kFailedOpen;
    // Indexes before the rows: the INSERT ... SELECT then copies index
    // entries as they are instead of sorting them again.
    if (!CreateTablesAndIndexes(db, schema, why)) return kFailedExport;
    for (const SchemaEntry& e : schema)
        if (e.type == "table" && !SameName(e.name, leaveOut) && !CopyTable(db, e.name, why)) return kFailedExport;
    // Views and triggers are entered as stored, after the rows, so the copy
    // fires no trigger.
    if (!CopySequence(db, why) ||
        !Exec(db,
              "PRAGMA writable_schema = ON; "
              "INSERT INTO compacted.sqlite_master SELECT type, name, tbl_name, rootpage, sql FROM main.sqlite_master "
              "WHERE type IN ('view', 'trigger') OR (type = 'table' AND rootpage = 0); "
              "PRAGMA writable_schema = OFF; "
              "PRAGMA compacted.user_version = " + std::to_string(userVersion) + "; COMMIT;",
              why))
        return kFailedExport;
    if (!Exec(db, "DETACH DATABASE compacted;", why)) return kFailedExport;
    if (const int rc = SyncPath(dst)) {
        why = std::strerror(rc);
        return kFailedSync;
    }
    return 0;
}

void Work(std::string src, std::string dst, std::string password, std::string leaveOut) {
    const std::int64_t before = LengthOf(src);
    std::string why;
    const std::int32_t rc = Copy(src, dst, password, leaveOut, why);
    if (rc == 0) {
        Log("Compact engine: " + src + " copied to " + dst + " (" + std::to_string(before) + " -> " +
            std::to_string(LengthOf(dst)) + " bytes" + (leaveOut.empty() ? "" : "; rows of " + leaveOut + " left out") +
            ")");
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

void Start(const char* src, const char* dst, const char* password, const char* leaveOut) {
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
        g_worker = std::thread(Work, std::string(src), std::string(dst), std::string(password ? password : ""),
                               std::string(leaveOut ? leaveOut : ""));
    } catch (...) {
        g_state = kNoThread;
    }
}

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

QX_EXPORT void Compact(const char* src, const char* dst, const char* password) { Start(src, dst, password, nullptr); }

// For a file whose rows of `table` all live elsewhere now: the copy keeps
// the table, empty, and saves reading every one of its pages.
QX_EXPORT void CompactEmptying(const char* src, const char* dst, const char* password, const char* table) {
    if (!table || !*table) {
        g_state = kBadArguments;
        return;
    }
    Start(src, dst, password, table);
}

QX_EXPORT std::int32_t GetThreadState() { return g_state.load(); }

}  // extern "C"
