#pragma once
// Thin RAII layer over the SQL library. No SQL-library header leaks out of
// here: handles are opaque. Nothing throws; every failure lands in an Error.
#include "support/Env.h"
#include "support/Variant.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_blob;

namespace qx::sql {

// Result codes we hand out ourselves, above the SQL library's own range.
enum EngineCode : int {
    kOk = 0,
    kNotADatabase = 26,        // same value as the library's "file is not a database"
    kCantOpen = 14,            // same value as the library's "unable to open database file"
    kReadOnly = 8,             // same value as the library's "attempt to write a readonly database"
    kBusy = 5,                 // same value as the library's "database is locked" (another connection writes)
    kLocked = 6,               // same value as the library's "database table is locked"
    kMisuse = 21,
    kNotUpdatable = 1001,      // recordset cannot be changed (no single base table)
    kNoCurrentRow = 1002,      // BOF or EOF, or the row was deleted
    kNotFound = 1003,          // item cannot be found in the collection (unknown field)
    kStreamFailed = 1004,      // the source of a streamed value reported a failure
    kNotRegularFile = 1005,    // a file to write, or one of its side files, is a link or no regular file
};

struct Error {
    int code = 0;            // 0 = no error
    std::string message;
    explicit operator bool() const { return code != 0; }
    void clear() { code = 0; message.clear(); }
};

// ReadOnly opens the file for reading only: nothing can be written through
// the connection, and the file itself is never opened for writing.
enum class OpenMode { ReadWrite, Create, ReadOnly };

// How long a connection waits for another connection's lock before its
// statement fails as busy ("database is locked"). Applies to connections
// opened afterwards; 5000 ms unless changed.
void SetBusyTimeout(int milliseconds);
int BusyTimeout();

class Database {
public:
    Database() = default;
    ~Database();
    Database(Database&& o) noexcept;
    Database& operator=(Database&& o) noexcept;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens a file. An empty password means a plain, unencrypted file;
    // otherwise the password's bytes are turned into the archive key.
    // The key is verified before returning: a wrong password, an empty file
    // or a file of another format fails here, never at a later statement.
    // ReadWrite falls back to read-only access when the file or medium does
    // not allow writing (see readOnly()).
    // The file is opened through the engine file layer of `env`, which
    // outlives the connection; each commit passes env's "engine.commit" step.
    static Database open(Env& env, const std::string& path, std::string_view passwordBytes, OpenMode mode,
                         Error& err);

    bool isOpen() const { return m_db != nullptr; }
    void close();
    const std::string& path() const { return m_path; }

    // True when changes cannot be written: read-only file or medium, or a
    // folder in which the rollback journal cannot be created.
    bool readOnly() const;

    // This connection only: how long it waits for another's lock.
    void setBusyTimeout(int milliseconds);
    bool exec(std::string_view sql, Error* err = nullptr);
    std::int64_t changes() const;
    std::int64_t totalChanges() const;  // rows changed since the file was opened
    bool inTransaction() const;
    std::int64_t lastInsertRowid() const;
    Error lastError() const;

    sqlite3* handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
    std::string m_path;
    Env* m_env = nullptr;
};

enum class Step { Row, Done, Failed };
enum class ColumnType { Integer = 1, Float = 2, Text = 3, Blob = 4, Null = 5 };

class Statement {
public:
    Statement() = default;
    Statement(Database& db, std::string_view sql);
    ~Statement();
    Statement(Statement&& o) noexcept;
    Statement& operator=(Statement&& o) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_stmt != nullptr; }
    const Error& error() const { return m_err; }

    // 1-based parameter index, as in SQL.
    void bindNull(int idx);
    void bind(int idx, std::int64_t v);
    void bind(int idx, double v);
    void bind(int idx, std::string_view text);
    void bindBlob(int idx, std::span<const std::uint8_t> bytes);
    void bindZeroBlob(int idx, std::int64_t size);
    void bind(int idx, const Variant& v);

    Step step();
    void reset();
    // Runs a statement that returns no rows; the error is kept in error().
    bool run();

    // 0-based column index.
    int columnCount() const;
    std::string columnName(int col) const;
    std::string columnDeclType(int col) const;
    std::string columnOriginTable(int col) const;
    std::string columnOriginName(int col) const;
    ColumnType columnType(int col) const;
    bool isNull(int col) const { return columnType(col) == ColumnType::Null; }
    std::int64_t getInt64(int col) const;
    double getDouble(int col) const;
    std::string getText(int col) const;
    Bytes getBlob(int col) const;
    int columnBytes(int col) const;
    Variant value(int col) const;

private:
    sqlite3_stmt* m_stmt = nullptr;
    sqlite3* m_db = nullptr;
    Error m_err;
};

// Rolls back in its destructor unless committed.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool ok() const { return m_active; }
    bool commit(Error* err = nullptr);

private:
    Database& m_db;
    bool m_active = false;
};

// Keeps one transaction open across many small statements, so that each of
// them does not take and check the file lock again (that costs more than the
// statement itself). checkpoint() makes what was written so far durable and
// carries on, at most a few times a second (each commit waits for the disk);
// the destructor commits: what was repaired stays repaired.
class HeldTransaction {
public:
    explicit HeldTransaction(Database& db);
    ~HeldTransaction();
    HeldTransaction(const HeldTransaction&) = delete;
    HeldTransaction& operator=(const HeldTransaction&) = delete;
    // Commits and begins anew when anything was written since the last time.
    // A commit that fails (disk full, I/O error) is rolled back, ends the
    // holding and is kept in error(): what was written since the last
    // commit is gone, and the caller must say so. `now`: whatever the time
    // since the last commit (a record is about to name what was written).
    void checkpoint(bool now = false);
    // Commits now and stops holding; false when that or an earlier commit failed.
    bool finish();
    const Error& error() const { return m_err; }

private:
    bool commitNow();
    Database& m_db;
    Error m_err;
    bool m_active = false;
    std::int64_t m_changes = 0;
    std::int64_t m_lastCommit = 0;  // steady clock, milliseconds
};

// A named savepoint, for changes that must be all-or-nothing inside
// whatever transaction state the connection is in.
class Savepoint {
public:
    explicit Savepoint(Database& db);
    ~Savepoint();
    Savepoint(const Savepoint&) = delete;
    Savepoint& operator=(const Savepoint&) = delete;
    bool ok() const { return m_active; }
    bool release(Error* err = nullptr);

private:
    Database& m_db;
    bool m_active = false;
};

// Incremental access to one stored value, without loading it whole.
class Blob {
public:
    Blob() = default;
    // `schema`: "main", or the name under which a file was attached.
    static Blob open(Database& db, std::string_view table, std::string_view column, std::int64_t rowid,
                     bool forWriting, Error& err, std::string_view schema = "main");
    ~Blob();
    Blob(Blob&& o) noexcept;
    Blob& operator=(Blob&& o) noexcept;
    Blob(const Blob&) = delete;
    Blob& operator=(const Blob&) = delete;

    bool isOpen() const { return m_blob != nullptr; }
    std::int64_t size() const;
    bool read(std::int64_t offset, std::span<std::uint8_t> into, Error* err = nullptr) const;
    bool write(std::int64_t offset, std::span<const std::uint8_t> from, Error* err = nullptr);

private:
    sqlite3_blob* m_blob = nullptr;
    sqlite3* m_db = nullptr;
};

// Quotes an identifier for use in SQL text.
std::string QuoteIdentifier(std::string_view name);

// Version of the SQL library in use, and whether it matches its header.
std::string LibraryVersion();

}  // namespace qx::sql
