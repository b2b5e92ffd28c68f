#include "support/engine/Compactor.h"

#include "support/Env.h"
#include "support/engine/AsciiCase.h"
#include "support/engine/Cipher.h"
#include "support/engine/Sql.h"
#include "support/engine/SqliteApi.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <span>
#include <vector>

namespace qx::sql {

namespace {

// A value longer than this is streamed instead of copied in one piece.
constexpr std::int64_t kStreamAbove = 1 << 20;

std::string Quoted(const std::string& text, char quote) {
    std::string out(1, quote);
    for (const char c : text) {
        out += c;
        if (c == quote) out += c;
    }
    return out + quote;
}

bool Exec(Database& db, const std::string& sql, std::string& why) {
    Error err;
    if (db.exec(sql, &err)) return true;
    why = err.message;
    return false;
}

bool ReadInt(Database& db, const std::string& sql, std::int64_t& value, std::string& why) {
    Statement st(db, sql);
    if (st.step() == Step::Row) {
        value = st.getInt64(0);
        return true;
    }
    why = st.error() ? st.error().message : "no value from " + sql;
    return false;
}

struct SchemaEntry {
    std::string type, name, sql;
};

bool ReadSchema(Database& db, std::vector<SchemaEntry>& entries, std::string& why) {
    // Automatic indexes (sql Null) come with their tables; sqlite_sequence
    // with the first AUTOINCREMENT table.
    Statement st(db,
                 "SELECT type, name, sql FROM main.sqlite_master WHERE sql IS NOT NULL AND name NOT LIKE 'sqlite\\_%' "
                 "ESCAPE '\\' ORDER BY rowid");
    Step step;
    while ((step = st.step()) == Step::Row) entries.push_back({st.getText(0), st.getText(1), st.getText(2)});
    if (step == Step::Failed) why = st.error().message;
    return step == Step::Done;
}

bool Word(const std::string& sql, std::size_t& at, const char* word) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    std::size_t i = at;
    for (const char* w = word; *w; ++w, ++i)
        if (i >= sql.size() || (sql[i] >= 'a' && sql[i] <= 'z' ? sql[i] - 32 : sql[i]) != *w) return false;
    if (i < sql.size() && !blank(sql[i])) return false;
    while (i < sql.size() && blank(sql[i])) ++i;
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
bool CreateTablesAndIndexes(Database& db, const std::vector<SchemaEntry>& entries, std::string& why) {
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

std::vector<std::string> Columns(Database& db, const std::string& table, std::string& why) {
    std::vector<std::string> names;
    Statement st(db, "PRAGMA main.table_info(" + Quoted(table, '"') + ")");
    Step step;
    while ((step = st.step()) == Step::Row) names.push_back(st.getText(1));
    if (step == Step::Failed) why = st.error().message;
    else if (names.empty()) why = "table " + table + " has no columns";
    return names;
}

bool NamesRowid(const std::string& column) {
    return engine::iequals(column, "rowid") || engine::iequals(column, "oid") ||
           engine::iequals(column, "_rowid_");
}

std::string IsLarge(const std::string& quotedColumn) {
    return "(typeof(" + quotedColumn + ") = 'blob' AND length(" + quotedColumn + ") > " +
           std::to_string(kStreamAbove) + ")";
}

// Fills the zero-filled value of one row of the new file from the source,
// a piece at a time.
bool StreamValue(Database& db, const std::string& table, const std::string& column, std::int64_t rowid,
                 std::vector<std::uint8_t>& buffer, std::string& why) {
    Error err;
    const Blob from = Blob::open(db, table, column, rowid, false, err, "main");
    Blob to;
    if (from.isOpen()) to = Blob::open(db, table, column, rowid, true, err, "compacted");
    if (!to.isOpen()) {
        why = err.message;
        return false;
    }
    const std::int64_t length = from.size();
    if (to.size() != length) {
        why = "the copy of " + table + "." + column + " row " + std::to_string(rowid) + " has another length";
        return false;
    }
    for (std::int64_t offset = 0; offset < length;) {
        const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(buffer.size(), length - offset));
        const std::span<std::uint8_t> part(buffer.data(), piece);
        if (!from.read(offset, part, &err) || !to.write(offset, part, &err)) {
            why = err.message;
            return false;
        }
        offset += static_cast<std::int64_t>(piece);
    }
    return true;
}

// The values over kStreamAbove that a one-pass copy met: their rows got a
// zero-filled value of the right length, to be filled in afterwards.
struct LargeValues {
    std::vector<std::pair<std::int64_t, int>> rows;  // rowid, column
};

// qx_large_value(rowid, column, length): notes the value, returns zeros.
void NoteLargeValue(sqlite3_context* context, int, sqlite3_value** argv) {
    auto* large = static_cast<LargeValues*>(sqlite3_user_data(context));
    try {
        large->rows.emplace_back(sqlite3_value_int64(argv[0]), sqlite3_value_int(argv[1]));
    } catch (...) {
        sqlite3_result_error_nomem(context);
        return;
    }
    sqlite3_result_zeroblob64(context, static_cast<sqlite3_uint64>(sqlite3_value_int64(argv[2])));
}

bool HasIndexes(Database& db, const std::string& table, bool& has, std::string& why) {
    Statement st(db, "PRAGMA main.index_list(" + Quoted(table, '"') + ")");
    const Step step = st.step();
    if (step == Step::Failed) why = st.error().message;
    has = step == Step::Row;
    return step != Step::Failed;
}

bool StreamLarge(Database& db, const std::string& table, const std::vector<std::string>& columns,
                 const LargeValues& large, std::string& why) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kStreamAbove));
    for (const auto& [rowid, column] : large.rows)
        if (!StreamValue(db, table, columns[static_cast<std::size_t>(column)], rowid, buffer, why)) return false;
    return true;
}

bool CopyTable(Database& db, const std::string& table, std::string& why) {
    const std::string from = "main." + Quoted(table, '"'), to = "compacted." + Quoted(table, '"');
    const std::string whole = "INSERT INTO " + to + " SELECT * FROM " + from + ";";
    const std::vector<std::string> columns = Columns(db, table, why);
    if (columns.empty()) return false;
    // A table without rowid cannot be read through blob handles.
    const bool plain = std::any_of(columns.begin(), columns.end(), NamesRowid) ||
                       !Statement(db, "SELECT rowid FROM " + from + " LIMIT 0").ok();
    if (plain) return Exec(db, whole, why);

    // A table without indexes is copied in one pass: a value over the limit
    // is written zero-filled and noted as the rows go by, then filled in.
    // Reading the table once matters when documents sit on its leaves,
    // where a pass that only looks for large values reads every page. A
    // table with indexes is looked through first instead, so that a copy
    // without large values keeps the engine's own transfer of records and
    // index entries as they are (an index filled row by row would come out
    // larger, its entries arriving out of order).
    bool indexed = false;
    if (!HasIndexes(db, table, indexed, why)) return false;
    if (!indexed) {
        std::string names = "rowid", values = "rowid";
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const std::string q = Quoted(columns[i], '"');
            names += ", " + q;
            values += ", CASE WHEN " + IsLarge(q) + " THEN qx_large_value(rowid, " + std::to_string(i) + ", length(" +
                      q + ")) ELSE " + q + " END";
        }
        LargeValues large;
        if (sqlite3_create_function_v2(db.handle(), "qx_large_value", 3, SQLITE_UTF8, &large, NoteLargeValue, nullptr,
                                       nullptr, nullptr) != SQLITE_OK) {
            why = "the copy's function cannot be made";
            return false;
        }
        const bool copied =
            Exec(db, "INSERT INTO " + to + " (" + names + ") SELECT " + values + " FROM " + from + ";", why);
        sqlite3_create_function_v2(db.handle(), "qx_large_value", 3, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr,
                                   nullptr);
        return copied && StreamLarge(db, table, columns, large, why);
    }

    std::string anyLarge;
    for (const std::string& c : columns) anyLarge += (anyLarge.empty() ? "" : " OR ") + IsLarge(Quoted(c, '"'));
    {
        // length() and typeof() read only the record header, not the value.
        Statement probe(db, "SELECT 1 FROM " + from + " WHERE " + anyLarge + " LIMIT 1");
        const Step step = probe.step();
        if (step == Step::Done) return Exec(db, whole, why);
        if (step == Step::Failed) {
            why = probe.error().message;
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
    if (!Exec(db, "INSERT INTO " + to + " (" + names + ") SELECT " + values + " FROM " + from + ";", why))
        return false;
    // One pass finds every large value: the row, and which of its columns.
    std::string flags;
    for (const std::string& c : columns) flags += ", " + IsLarge(Quoted(c, '"'));
    Statement large(db, "SELECT rowid" + flags + " FROM " + from + " WHERE " + anyLarge);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kStreamAbove));
    Step step;
    while ((step = large.step()) == Step::Row)
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (large.getInt64(static_cast<int>(i) + 1) &&
                !StreamValue(db, table, columns[i], large.getInt64(0), buffer, why))
                return false;
    if (step == Step::Failed) {
        why = large.error().message;
        return false;
    }
    return true;
}

bool CopySequence(Database& db, std::string& why) {
    std::int64_t present = 0;
    if (!ReadInt(db, "SELECT count(*) FROM main.sqlite_master WHERE name = 'sqlite_sequence'", present, why))
        return false;
    return present == 0 || Exec(db,
                                "DELETE FROM compacted.sqlite_sequence; "
                                "INSERT INTO compacted.sqlite_sequence SELECT * FROM main.sqlite_sequence;",
                                why);
}

// Rolls back a transaction the copy left open, so the source's lock goes.
class RollbackGuard {
public:
    explicit RollbackGuard(Database& db) : m_db(db) {}
    ~RollbackGuard() {
        if (m_db.inTransaction()) m_db.exec("ROLLBACK;");
    }
    RollbackGuard(const RollbackGuard&) = delete;
    RollbackGuard& operator=(const RollbackGuard&) = delete;

private:
    Database& m_db;
};

// The copy goes into a file that is absent (made here) or empty (made by
// the caller), never through a link: anything else is not ours to fill, nor
// to remove when the copy fails.
std::int32_t PrepareDestination(Env& env, const std::string& dst, std::string& why) {
    const int rc = env.WriteNewEntry(dst, {});
    if (rc == 0) return Compactor::kDone;
    if (rc == EEXIST && env.KindOf(dst) == EntryKind::RegularFile && env.FileLength(dst) == 0) return Compactor::kDone;
    why = rc == EEXIST ? "it exists and is no empty file" : ErrorText(rc);
    return rc == EEXIST ? Compactor::kBadArguments : Compactor::kFailedOpen;
}

// `leaveOut`: a table whose rows are not copied (its definition is).
std::int32_t Copy(Env& env, const std::string& src, const std::string& dst, const std::string& password,
                  const std::string& leaveOut, std::string& why) {
    const bool keyed = !password.empty();
    // Opened for writing only because an attached file inherits the
    // connection's mode; the source itself is only read.
    Error err;
    Database db = Database::open(env, src, password, OpenMode::ReadWrite, err);
    if (!db.isOpen()) {
        why = err.message;
        return Compactor::kFailedOpen;
    }
    std::int64_t userVersion = 0, pageSize = 0;
    if (!ReadInt(db, "PRAGMA user_version", userVersion, why) || !ReadInt(db, "PRAGMA page_size", pageSize, why))
        return Compactor::kFailedOpen;

    // The key and the page size are set on the new file before its first
    // page is written. The new file needs no journal: it is thrown away
    // unless the whole copy succeeds. Its one commit syncs it.
    const std::string attach = "ATTACH DATABASE " + Quoted(dst, '\'') + " AS compacted KEY " +
                               (keyed ? Quoted(RawKeyFor(password), '"') : std::string("''")) + ";";
    if (!Exec(db, attach, why)) return Compactor::kFailedOpen;
    std::string setup = keyed ? "PRAGMA compacted.cipher_page_size = " + std::to_string(CipherPageSize()) + ";"
                              : "PRAGMA compacted.page_size = " + std::to_string(pageSize) + ";";
    setup += "PRAGMA compacted.journal_mode = OFF; PRAGMA compacted.synchronous = FULL;";
    if (!Exec(db, setup, why)) return Compactor::kFailedExport;

    {
        // One transaction: the source is read in one consistent state.
        if (!Exec(db, "BEGIN;", why)) return Compactor::kFailedOpen;
        RollbackGuard rollback(db);
        std::vector<SchemaEntry> schema;
        if (!ReadSchema(db, schema, why)) return Compactor::kFailedOpen;
        // Indexes before the rows: the INSERT ... SELECT then copies index
        // entries as they are instead of sorting them again.
        if (!CreateTablesAndIndexes(db, schema, why)) return Compactor::kFailedExport;
        for (const SchemaEntry& e : schema)
            if (e.type == "table" && !engine::iequals(e.name, leaveOut) && !CopyTable(db, e.name, why))
                return Compactor::kFailedExport;
        // Views and triggers are entered as stored, after the rows, so the
        // copy fires no trigger.
        if (!CopySequence(db, why) ||
            !Exec(db,
                  "PRAGMA writable_schema = ON; "
                  "INSERT INTO compacted.sqlite_master SELECT type, name, tbl_name, rootpage, sql FROM "
                  "main.sqlite_master WHERE type IN ('view', 'trigger') OR (type = 'table' AND rootpage = 0); "
                  "PRAGMA writable_schema = OFF; "
                  "PRAGMA compacted.user_version = " + std::to_string(userVersion) + ";",
                  why))
            return Compactor::kFailedExport;
        // The commit writes what the cache still holds and syncs the file.
        if (!Exec(db, "COMMIT;", why)) return Compactor::kFailedSync;
    }
    if (!Exec(db, "DETACH DATABASE compacted;", why)) return Compactor::kFailedExport;
    return Compactor::kDone;
}

}  // namespace

Compactor::Compactor(Env& env, LogSink log) : m_env(env), m_log(std::move(log)) {}

Compactor::~Compactor() { Wait(); }

void Compactor::SetLog(LogSink log) {
    std::lock_guard guard(m_lock);
    m_log = std::move(log);
}

void Compactor::Log(const std::string& line) {
    LogSink sink;
    {
        std::lock_guard guard(m_lock);
        sink = m_log;
    }
    if (sink) sink(line);
}

bool Compactor::RunningLocked() {
    if (!m_work.valid()) return false;
    if (m_work.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return true;
    m_state = m_work.get();
    m_work = {};
    return false;
}

std::int32_t Compactor::State() {
    std::lock_guard guard(m_lock);
    return RunningLocked() ? kRunning : m_state;
}

std::int32_t Compactor::Wait() {
    std::shared_future<std::int32_t> work;
    {
        std::lock_guard guard(m_lock);
        work = m_work;
    }
    // Not under the lock: the copy logs through it.
    if (work.valid()) work.wait();
    return State();
}

std::int32_t Compactor::WaitFor(std::chrono::milliseconds most) {
    std::shared_future<std::int32_t> work;
    {
        std::lock_guard guard(m_lock);
        work = m_work;
    }
    if (work.valid()) work.wait_for(most);
    return State();
}

bool Compactor::Start(const std::string& source, const std::string& destination, std::string_view passwordBytes) {
    return Begin(source, destination, passwordBytes, {}, false);
}

bool Compactor::StartEmptying(const std::string& source, const std::string& destination,
                              std::string_view passwordBytes, const std::string& table) {
    return Begin(source, destination, passwordBytes, table, true);
}

bool Compactor::Begin(const std::string& source, const std::string& destination, std::string_view passwordBytes,
                      const std::string& leaveOut, bool emptying) {
    {
        // Whether a copy runs and starting the next are one step: two
        // callers can never both start.
        std::lock_guard guard(m_lock);
        if (!RunningLocked()) {
            if (source.empty() || destination.empty() || (emptying && leaveOut.empty())) {
                m_state = kBadArguments;
                return false;
            }
            try {
                m_work = std::async(std::launch::async, &Compactor::Run, this, source, destination,
                                    std::string(passwordBytes), leaveOut)
                             .share();
            } catch (...) {
                m_state = kNoThread;
                return false;
            }
            m_state = kRunning;
            return true;
        }
    }
    // The state stays that of the copy that runs.
    Log("Compact engine: a copy is still running; " + source + " is not copied");
    return false;
}

std::int32_t Compactor::Run(const std::string& source, const std::string& destination,
                            const std::string& passwordBytes, const std::string& leaveOut) {
    Log("Compact engine: copying " + source + " to " + destination);
    const std::int64_t before = m_env.FileLength(source);
    std::string why;
    if (const std::int32_t rc = PrepareDestination(m_env, destination, why)) {
        Log("Compact engine: " + source + " is not copied: '" + destination + "' cannot take the copy (" + why + ")");
        return rc;
    }
    const std::int32_t rc = Copy(m_env, source, destination, passwordBytes, leaveOut, why);
    if (rc == kDone) {
        Log("Compact engine: " + source + " copied to " + destination + " (" + std::to_string(before) + " -> " +
            std::to_string(m_env.FileLength(destination)) + " bytes" +
            (leaveOut.empty() ? "" : "; rows of " + leaveOut + " left out") + ")");
    } else {
        // A partial copy must never be taken for a finished one.
        m_env.RemoveEntry(destination);
        Log("Compact engine: copying " + source + " failed (" + std::to_string(rc) + "): " + why);
    }
    return rc;
}

}  // namespace qx::sql
