#include "support/engine/Sql.h"
#include "support/engine/NoBusyWait.h"

#include "support/engine/Cipher.h"
#include "support/engine/SqliteApi.h"
#include "support/Env.h"
#include "support/FileOperations.h"

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <system_error>

namespace qx::sql {

namespace {

// A commit refused at its step reaches the caller as the disk error it
// stands for, not as the constraint error the library reports for it.
thread_local int g_injectedCommitError = 0;

int CommitStep(void* env) {
    g_injectedCommitError = static_cast<Env*>(env)->Step("engine.commit");
    return g_injectedCommitError != 0 ? 1 : 0;
}

void TranslateInjected(Error& e) {
    if (g_injectedCommitError == 0 || (e.code & 0xff) != SQLITE_CONSTRAINT) return;
    e.code = g_injectedCommitError == ENOSPC ? SQLITE_FULL : SQLITE_IOERR;
    e.message = sqlite3_errstr(e.code);
    g_injectedCommitError = 0;
}

Error errorOf(sqlite3* db, int rc) {
    Error e;
    e.code = rc;
    e.message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    if (e.message.empty() || e.message == "not an error") e.message = sqlite3_errstr(rc);
    TranslateInjected(e);
    return e;
}

Error makeError(int code, std::string message) {
    Error e;
    e.code = code;
    e.message = std::move(message);
    return e;
}


std::atomic<int> g_busyTimeout{5000};
thread_local bool t_noBusyWait = false;

bool Odd(EntryKind kind) { return kind != EntryKind::None && kind != EntryKind::RegularFile; }

// A write-ahead file or its index beside a file opened only for reading: the
// engine would read the log through a link and make its index beside it, so
// a link or odd entry there is refused.
std::string NotRegularForReading(Env& env, const std::string& path) {
    for (const char* side : {"-wal", "-shm"})
        if (Odd(env.KindOnDisk(path + side))) return path + side;
    return {};
}

// The file itself when it is a link (live or dangling), else the first of
// the engine's side files that is anything but a regular file; empty when
// none. Other kinds of entry under the file's own name are refused by the
// existence checks that follow. The file's own name is judged by the
// session's view of the names, its side files as the disk holds them.
std::string NotRegularForWriting(Env& env, const std::string& path) {
    if (env.KindOf(path) == EntryKind::Link) return path;
    for (const char* side : {"-journal", "-wal", "-shm"})
        if (Odd(env.KindOnDisk(path + side))) return path + side;
    return {};
}

}  // namespace

NoBusyWaitHere::NoBusyWaitHere() : m_saved(t_noBusyWait) { t_noBusyWait = true; }
NoBusyWaitHere::~NoBusyWaitHere() { t_noBusyWait = m_saved; }

void SetBusyTimeout(int milliseconds) { g_busyTimeout = milliseconds < 0 ? 0 : milliseconds; }
int BusyTimeout() { return g_busyTimeout; }

// ---------------------------------------------------------------- Database

Database::~Database() { close(); }

Database::Database(Database&& o) noexcept : m_db(o.m_db), m_path(std::move(o.m_path)), m_env(o.m_env) {
    o.m_db = nullptr;
}

Database& Database::operator=(Database&& o) noexcept {
    if (this != &o) {
        close();
        m_db = o.m_db;
        m_path = std::move(o.m_path);
        m_env = o.m_env;
        o.m_db = nullptr;
    }
    return *this;
}

void Database::close() {
    if (m_db) {
        // close_v2 defers the close until every statement is finalised, so a
        // forgotten statement cannot leave the file locked forever.
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

Database Database::open(Env& env, const std::string& path, std::string_view passwordBytes, OpenMode mode,
                        Error& err) {
    err.clear();
    Database d;
    // The session's Env answers: in a report-only run, the run's own view
    // of the names.
    const EntryKind kind = env.KindOf(path);
    const bool exists = kind == EntryKind::Link ? env.IdentityOf(path).has_value() : kind != EntryKind::None;
    // Writing follows no link and touches no folder or device: the engine
    // writes through the file's own name and through its side files, so a
    // link there would carry changes outside the archive folder. Judged by
    // the entry itself, before anything is opened.
    if (mode != OpenMode::ReadOnly) {
        if (const std::string bad = NotRegularForWriting(env, path); !bad.empty()) {
            err = makeError(kNotRegularFile, "'" + bad + "' is a link or no regular file; '" + path +
                                                 "' is not opened for writing.");
            return d;
        }
    } else if (const std::string bad = NotRegularForReading(env, path); !bad.empty()) {
        err = makeError(kNotRegularFile, "'" + bad + "' is a link or no regular file; '" + path + "' is not opened.");
        return d;
    }
    if (mode == OpenMode::Create && exists) {
        err = makeError(kCantOpen, "The file '" + path + "' already exists.");
        return d;
    }
    if (mode != OpenMode::Create) {
        if (!exists) {
            err = makeError(kCantOpen, "Could not find file '" + path + "'.");
            return d;
        }
        if (!env.FileExists(path)) {
            err = makeError(kCantOpen, "'" + path + "' is not a file.");
            return d;
        }
        // An empty file would silently become a new, empty database.
        if (env.FileLength(path) == 0) {
            err = makeError(kNotADatabase, "Unrecognized database format '" + path + "'.");
            return d;
        }
    }
    int flags = (mode == OpenMode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    if (mode == OpenMode::Create) flags |= SQLITE_OPEN_CREATE;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, flags, env.EngineVfs());
    if (rc != SQLITE_OK) {
        err = errorOf(db, rc);
        sqlite3_close_v2(db);
        return d;
    }
    d.m_db = db;
    d.m_path = path;
    d.m_env = &env;
    sqlite3_extended_result_codes(db, 0);
    sqlite3_busy_timeout(db, t_noBusyWait ? 0 : g_busyTimeout.load());
    sqlite3_commit_hook(db, CommitStep, &env);
    if (!passwordBytes.empty()) {
        rc = ApplyKey(db, passwordBytes);
        if (rc != SQLITE_OK) {
            err = errorOf(db, rc);
            d.close();
            return d;
        }
    }
    // Reading the schema proves the key: a wrong key or a foreign file fails
    // here with "file is not a database".
    rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        err = errorOf(db, rc);
        if (rc == SQLITE_NOTADB) err.message = "Unrecognized database format '" + path + "'.";
        d.close();
        return d;
    }
    // A commit ends by deleting the journal; unless the folder is synced
    // after that, a power cut brings the journal back and the next open rolls
    // the committed transaction back. EXTRA syncs the folder after the delete.
    if (mode != OpenMode::ReadOnly && !d.exec("PRAGMA synchronous = EXTRA;", &err)) {
        d.close();
        return d;
    }
    return d;
}

bool Database::readOnly() const {
    if (!m_db) return true;
    if (sqlite3_db_readonly(m_db, "main") == 1) return true;
    // A connection of a report-only run writes into memory only: whether the
    // disk would take its journal does not matter.
    if (m_env && m_env->ReportOnly()) return false;
    std::string folder = GetFolderPart(m_path);
    return !(m_env ? *m_env : RealEnv()).FolderWritable(folder.empty() ? "." : folder);
}

void Database::setBusyTimeout(int milliseconds) {
    if (m_db) sqlite3_busy_timeout(m_db, std::max(0, milliseconds));
}

bool Database::exec(std::string_view sql, Error* err) {
    if (!m_db) {
        if (err) *err = makeError(kMisuse, "The connection is closed.");
        return false;
    }
    std::string text(sql);
    char* msg = nullptr;
    int rc = sqlite3_exec(m_db, text.c_str(), nullptr, nullptr, &msg);
    if (rc != SQLITE_OK) {
        if (err) {
            *err = makeError(rc, msg ? msg : sqlite3_errstr(rc));
            TranslateInjected(*err);
        }
        sqlite3_free(msg);
        return false;
    }
    return true;
}

std::int64_t Database::changes() const { return m_db ? sqlite3_changes(m_db) : 0; }
std::int64_t Database::totalChanges() const { return m_db ? sqlite3_total_changes(m_db) : 0; }
bool Database::inTransaction() const { return m_db && sqlite3_get_autocommit(m_db) == 0; }

std::int64_t Database::lastInsertRowid() const { return m_db ? sqlite3_last_insert_rowid(m_db) : 0; }
Error Database::lastError() const {
    if (!m_db) return makeError(kMisuse, "The connection is closed.");
    return errorOf(m_db, sqlite3_errcode(m_db));
}

// ---------------------------------------------------------------- Statement

Statement::Statement(Database& db, std::string_view sql) : m_db(db.handle()) {
    if (!m_db) {
        m_err = makeError(kMisuse, "The connection is closed.");
        return;
    }
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(m_db, sql.data(), static_cast<int>(sql.size()), &m_stmt, &tail);
    if (rc != SQLITE_OK) {
        m_err = errorOf(m_db, rc);
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

Statement::Statement(Statement&& o) noexcept : m_stmt(o.m_stmt), m_db(o.m_db), m_err(std::move(o.m_err)) {
    o.m_stmt = nullptr;
}

Statement& Statement::operator=(Statement&& o) noexcept {
    if (this != &o) {
        sqlite3_finalize(m_stmt);
        m_stmt = o.m_stmt;
        m_db = o.m_db;
        m_err = std::move(o.m_err);
        o.m_stmt = nullptr;
    }
    return *this;
}

void Statement::bindNull(int idx) { sqlite3_bind_null(m_stmt, idx); }
void Statement::bind(int idx, std::int64_t v) { sqlite3_bind_int64(m_stmt, idx, v); }
void Statement::bind(int idx, double v) { sqlite3_bind_double(m_stmt, idx, v); }
void Statement::bind(int idx, std::string_view t) {
    sqlite3_bind_text64(m_stmt, idx, t.data(), t.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}
void Statement::bindBlob(int idx, std::span<const std::uint8_t> b) {
    // A zero-length blob stays a blob (not Null): the data pointer must be non-null.
    static const std::uint8_t empty = 0;
    sqlite3_bind_blob64(m_stmt, idx, b.empty() ? &empty : b.data(), b.size(), SQLITE_TRANSIENT);
}
void Statement::bindZeroBlob(int idx, std::int64_t size) { sqlite3_bind_zeroblob64(m_stmt, idx, size); }
void Statement::bind(int idx, const Variant& v) {
    if (v.isNull()) bindNull(idx);
    else if (v.isInteger()) bind(idx, v.toInt64());
    else if (v.isDouble()) bind(idx, v.toDouble());
    else if (const std::string* s = v.text()) bind(idx, std::string_view(*s));
    else if (const Bytes* b = v.bytes()) bindBlob(idx, *b);
}

Step Statement::step() {
    if (!m_stmt) return Step::Failed;
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return Step::Row;
    if (rc == SQLITE_DONE) return Step::Done;
    // The legacy step interface reports the generic error; reset gives the
    // real one. The error is read once: reading it turns an injected commit
    // failure into the disk error it stands for, and only the first reading can.
    const int rc2 = sqlite3_reset(m_stmt);
    m_err = errorOf(m_db, rc2 != SQLITE_OK ? rc2 : rc);
    return Step::Failed;
}

void Statement::reset() {
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        m_err.clear();
    }
}

bool Statement::run() {
    Step s = step();
    if (m_stmt) sqlite3_reset(m_stmt);
    return s != Step::Failed;
}

int Statement::columnCount() const { return m_stmt ? sqlite3_column_count(m_stmt) : 0; }
std::string Statement::columnName(int c) const {
    const char* n = sqlite3_column_name(m_stmt, c);
    return n ? n : "";
}
std::string Statement::columnDeclType(int c) const {
    const char* n = sqlite3_column_decltype(m_stmt, c);
    return n ? n : "";
}
std::string Statement::columnOriginTable(int c) const {
    const char* n = sqlite3_column_table_name(m_stmt, c);
    return n ? n : "";
}
std::string Statement::columnOriginName(int c) const {
    const char* n = sqlite3_column_origin_name(m_stmt, c);
    return n ? n : "";
}
ColumnType Statement::columnType(int c) const { return static_cast<ColumnType>(sqlite3_column_type(m_stmt, c)); }
std::int64_t Statement::getInt64(int c) const { return sqlite3_column_int64(m_stmt, c); }
double Statement::getDouble(int c) const { return sqlite3_column_double(m_stmt, c); }
std::string Statement::getText(int c) const {
    const unsigned char* t = sqlite3_column_text(m_stmt, c);
    int n = sqlite3_column_bytes(m_stmt, c);
    return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(n)) : std::string();
}
Bytes Statement::getBlob(int c) const {
    const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(m_stmt, c));
    int n = sqlite3_column_bytes(m_stmt, c);
    return p ? Bytes(p, p + n) : Bytes();
}
int Statement::columnBytes(int c) const { return sqlite3_column_bytes(m_stmt, c); }

Variant Statement::value(int c) const {
    switch (columnType(c)) {
    case ColumnType::Integer: return Variant(static_cast<long long>(getInt64(c)));
    case ColumnType::Float: return Variant(getDouble(c));
    case ColumnType::Text: return Variant(getText(c));
    case ColumnType::Blob: return Variant(getBlob(c));
    default: return Variant();
    }
}

// ---------------------------------------------------------------- Transactions

Transaction::Transaction(Database& db) : m_db(db) { m_active = m_db.exec("BEGIN IMMEDIATE;"); }

Transaction::~Transaction() {
    if (m_active) m_db.exec("ROLLBACK;");
}

bool Transaction::commit(Error* err) {
    if (!m_active) return false;
    bool ok = m_db.exec("COMMIT;", err);
    if (ok) m_active = false;
    return ok;
}

HeldTransaction::HeldTransaction(Database& db) : m_db(db) {
    // Inside somebody else's transaction there is nothing to hold.
    if (m_db.isOpen() && !m_db.inTransaction()) m_active = m_db.exec("BEGIN;");
    m_changes = m_db.totalChanges();
}

HeldTransaction::~HeldTransaction() { finish(); }

bool HeldTransaction::commitNow() {
    if (!m_active || !m_db.isOpen() || !m_db.inTransaction()) return true;
    Error err;
    if (m_db.exec("COMMIT;", &err)) return true;
    if (!m_err) m_err = err;
    m_db.exec("ROLLBACK;");
    m_active = false;
    return false;
}

bool HeldTransaction::finish() {
    commitNow();
    m_active = false;
    return !m_err;
}

namespace {
std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

void HeldTransaction::checkpoint(bool commitNowAnyway) {
    if (!m_active || !m_db.isOpen() || m_db.totalChanges() == m_changes) return;
    constexpr std::int64_t kCommitIntervalMs = 250;
    const std::int64_t now = NowMs();
    if (!commitNowAnyway && now - m_lastCommit < kCommitIntervalMs) return;
    m_lastCommit = now;
    if (!commitNow()) return;
    m_db.exec("BEGIN;");
    m_changes = m_db.totalChanges();
}

Savepoint::Savepoint(Database& db) : m_db(db) { m_active = m_db.exec("SAVEPOINT qx_change;"); }

Savepoint::~Savepoint() {
    if (m_active) {
        m_db.exec("ROLLBACK TO qx_change;");
        m_db.exec("RELEASE qx_change;");
    }
}

bool Savepoint::release(Error* err) {
    if (!m_active) return false;
    bool ok = m_db.exec("RELEASE qx_change;", err);
    if (ok) m_active = false;
    return ok;
}

// ---------------------------------------------------------------- Blob

Blob Blob::open(Database& db, std::string_view table, std::string_view column, std::int64_t rowid, bool forWriting,
                Error& err, std::string_view schema) {
    Blob b;
    err.clear();
    if (!db.handle()) {
        err = makeError(kMisuse, "The connection is closed.");
        return b;
    }
    std::string t(table), c(column), s(schema);
    int rc = sqlite3_blob_open(db.handle(), s.c_str(), t.c_str(), c.c_str(), rowid, forWriting ? 1 : 0, &b.m_blob);
    if (rc != SQLITE_OK) {
        err = errorOf(db.handle(), rc);
        sqlite3_blob_close(b.m_blob);
        b.m_blob = nullptr;
        return b;
    }
    b.m_db = db.handle();
    return b;
}

Blob::~Blob() { sqlite3_blob_close(m_blob); }
Blob::Blob(Blob&& o) noexcept : m_blob(o.m_blob), m_db(o.m_db) { o.m_blob = nullptr; }
Blob& Blob::operator=(Blob&& o) noexcept {
    if (this != &o) {
        sqlite3_blob_close(m_blob);
        m_blob = o.m_blob;
        m_db = o.m_db;
        o.m_blob = nullptr;
    }
    return *this;
}

std::int64_t Blob::size() const { return m_blob ? sqlite3_blob_bytes(m_blob) : 0; }

bool Blob::read(std::int64_t offset, std::span<std::uint8_t> into, Error* err) const {
    int rc = m_blob ? sqlite3_blob_read(m_blob, into.data(), static_cast<int>(into.size()), static_cast<int>(offset))
                    : SQLITE_MISUSE;
    if (rc != SQLITE_OK && err) *err = errorOf(m_db, rc);
    return rc == SQLITE_OK;
}

bool Blob::write(std::int64_t offset, std::span<const std::uint8_t> from, Error* err) {
    int rc = m_blob ? sqlite3_blob_write(m_blob, from.data(), static_cast<int>(from.size()), static_cast<int>(offset))
                    : SQLITE_MISUSE;
    if (rc != SQLITE_OK && err) *err = errorOf(m_db, rc);
    return rc == SQLITE_OK;
}

std::string QuoteIdentifier(std::string_view name) {
    std::string out = "\"";
    for (char ch : name) {
        if (ch == '"') out += '"';
        out += ch;
    }
    out += '"';
    return out;
}

std::string LibraryVersion() {
    std::string v = sqlite3_libversion();
    if (v != SQLITE_VERSION) v += " (header " SQLITE_VERSION ")";
    return v;
}

}  // namespace qx::sql
