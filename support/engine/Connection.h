#pragma once
// A connection to one archive file, opened from a connect string; it keeps
// the list of errors of its last failure the way callers log them
// (number + description, in order).
#include "support/engine/Sql.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx::engine {

struct ProviderError {
    long number = 0;
    std::string description;
};

enum ObjectState { StateClosed = 0, StateOpen = 1 };

struct CatalogTable {
    std::string name;
    std::string type;  // "TABLE", "SYSTEM TABLE" or "VIEW"
};

// Shared by a connection and the recordsets opened over it, so that a
// recordset left open after its connection closed fails cleanly.
struct ConnectionCore {
    sql::Database db;
    std::vector<ProviderError> errors;
    std::map<std::string, sql::Statement, std::less<>> prepared;
    void fail(const sql::Error& e);
};

// The byte sequence a password stands for: the low byte of each character's
// code, so "\u00a9" is the single byte 169.
std::string PasswordBytes(std::string_view password);

class Connection {
public:
    // Files are opened through `env`, which outlives the connection.
    explicit Connection(Env& env);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void setConnectionString(std::string cs) { m_connectString = std::move(cs); }
    const std::string& connectionString() const { return m_connectString; }

    // Opens the file the connect string names; "Mode=Read" opens it for
    // reading only (see isReadOnly()). On failure the error list holds the
    // reason and the connection stays closed.
    bool open();
    bool open(std::string connectString);
    void close();

    int state() const { return isOpen() ? StateOpen : StateClosed; }
    bool isOpen() const { return m_core && m_core->db.isOpen(); }

    // Provider properties; "DATA SOURCE" is the full path of the open file.
    std::optional<std::string> property(std::string_view name) const;
    std::string dataSource() const;

    // Runs a statement that returns no rows; the number of records affected,
    // or nullopt on failure (see errors()).
    std::optional<std::int64_t> execute(std::string_view sql);

    const std::vector<ProviderError>& errors() const;
    void clearErrors();

    // User tables ("TABLE"), the engine's own ("SYSTEM TABLE") and views,
    // sorted by name without regard to case: stable between runs.
    std::vector<CatalogTable> tables() const;

    // True when nothing can be written: opened with "Mode=Read", or a
    // read-only file, medium or folder.
    bool isReadOnly() const;

    // A statement prepared once per connection and kept for reuse, reset and
    // unbound; nullptr (and the error list filled) when it does not prepare.
    // For statements run once per document, where preparing would dominate.
    sql::Statement* prepared(std::string_view sql);

    // Direct access for the bulk paths that prepare their own statements.
    sql::Database& database();
    const std::shared_ptr<ConnectionCore>& core() const { return m_core; }

private:
    Env& m_env;
    std::string m_connectString;
    std::string m_dataSource;
    std::shared_ptr<ConnectionCore> m_core;
};

// A transaction held across a walk over one connection (see
// sql::HeldTransaction). It keeps the connection's state alive, so it stays
// safe when the connection object is closed or replaced during the walk.
class HeldTransaction {
public:
    explicit HeldTransaction(Connection& cn) : m_core(cn.core()) {
        if (m_core) m_hold.emplace(m_core->db);
    }
    void checkpoint(bool now = false) {
        if (m_hold) m_hold->checkpoint(now);
    }
    // The first commit that failed; its changes since the commit before are gone.
    const sql::Error& error() const {
        static const sql::Error none;
        return m_hold ? m_hold->error() : none;
    }
    bool finish() { return !m_hold || m_hold->finish(); }
    bool holds(const Connection* cn) const { return cn && cn->core() == m_core; }
    // The file whose transaction is held.
    std::string path() const { return m_core ? m_core->db.path() : std::string(); }

private:
    std::shared_ptr<ConnectionCore> m_core;
    std::optional<sql::HeldTransaction> m_hold;  // ends before the core is let go
};

// Creates a new archive file (plain when the password is empty) and returns
// it open, for the caller to create its tables. Refuses to touch an
// existing file.
sql::Database CreateDatabaseFile(Env& env, const std::string& path, std::string_view password, sql::Error& err);

}  // namespace qx::engine
