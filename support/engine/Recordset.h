#pragma once
// A result set over an open connection, in one of three modes:
//   Scan    forward-only, read-only: single passes over large sets
//   Lookup  static, read-only: counts, single-row lookups, name lists
//   Edit    keyset over one base table: rows can be changed, added, deleted
// Stored binary values are never loaded by moving over them: their size is
// known from the row, their bytes are read on request, whole or in pieces.
// Failures are returned and also recorded in the connection's error list.
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qx::engine {

enum class CursorMode { Scan, Lookup, Edit };
enum class EditMode { None, InProgress, Add };

// Fills `into` with the next piece of a value being written; the offset is
// where the piece goes. Returns false to abandon the write.
using ChunkSource = std::function<bool(std::int64_t offset, std::span<std::uint8_t> into)>;

class Recordset {
public:
    Recordset();
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    bool open(std::string_view sql, Connection& cn, CursorMode mode);
    void close();
    int state() const { return m_open ? StateOpen : StateClosed; }
    bool isOpen() const { return m_open; }

    bool eof() const;
    bool moveNext();

    int fieldCount() const { return static_cast<int>(m_cols.size()); }
    std::string fieldName(int i) const {
        return i >= 0 && i < fieldCount() ? m_cols[static_cast<size_t>(i)].name : std::string();
    }
    int fieldIndex(std::string_view name) const;  // -1 when absent (case-insensitive)
    bool updatable() const { return m_updatable; }

    // Current value (a pending change included); Null when the field is Null
    // or there is no current row (see lastError()).
    Variant value(std::string_view field);
    Variant value(int index);
    // Size of the stored value in bytes without reading it; 0 for Null.
    std::int64_t actualSize(std::string_view field);
    // Reads up to into.size() bytes from offset; returns the number read.
    std::int64_t readChunk(std::string_view field, std::int64_t offset, std::span<std::uint8_t> into);

    bool setValue(std::string_view field, Variant v);
    // Writes a value of `size` bytes piece by piece when the row is saved, so
    // that a large value is never held in memory whole.
    bool setValueFromStream(std::string_view field, std::int64_t size, ChunkSource source);

    bool addNew();
    bool update();
    void cancelUpdate();
    bool deleteCurrent();
    EditMode editMode() const { return m_editMode; }

    const sql::Error& lastError() const { return m_err; }
    // A row could not be read (damaged page, I/O error): the walk ended
    // there, and what follows it is unknown, not absent. lastError() says why.
    bool readFailed() const { return m_readFailed; }

private:
    bool m_readFailed = false;
    struct Column {
        std::string name;      // as the statement names it
        std::string origin;    // base-table column, when updatable
        bool binary = false;   // row holds the size; bytes are fetched on request
    };
    struct Pending {
        Variant value;
        bool streamed = false;
        std::int64_t size = 0;
        ChunkSource source;
    };

    bool prepare(std::string_view sql);
    bool fetchCurrent();
    bool loadRow(sql::Statement& st, std::vector<Variant>& row, std::int64_t* rowid);
    bool fail(int code, std::string message);
    bool fail(const sql::Error& e);
    bool haveRow();
    bool writeStreams(std::int64_t rowid);
    std::int64_t reserveAutoNumber();
    Variant storedValue(int col);

    std::shared_ptr<ConnectionCore> m_core;
    std::string m_sql;
    std::string m_rewritten;  // select list replaced: rowid first, sizes for binary values
    CursorMode m_mode = CursorMode::Scan;
    bool m_open = false;
    std::vector<Column> m_cols;

    std::string m_table;      // base table of a rewritten statement
    bool m_updatable = false;
    std::string m_keyColumn;  // the table's integer key, if any
    bool m_autoNumber = false;
    bool m_rewrite = false;

    sql::Statement m_scan;                  // scan mode: the running statement
    std::vector<std::vector<Variant>> m_rows;  // lookup (and non-updatable edit) rows
    std::vector<std::int64_t> m_rowids;     // rowid per row; the keyset in edit mode
    std::int64_t m_pos = 0;                 // current row; -1 = BOF, size = EOF
    bool m_scanEof = true;
    std::vector<Variant> m_current;         // values of the current row
    std::int64_t m_currentRowid = 0;
    bool m_currentDeleted = false;
    sql::Statement m_fetch;                 // edit mode: row by rowid
    // The value being read piece by piece: kept open so that each piece
    // continues where the last ended instead of walking the value again.
    sql::Blob m_reader;
    int m_readerCol = -1;
    std::int64_t m_readerRowid = 0;

    EditMode m_editMode = EditMode::None;
    std::map<int, Pending> m_pending;
    std::int64_t m_savedPos = 0;
    std::int64_t m_newKey = 0;  // number reserved for the row being added

    sql::Error m_err;
};

}  // namespace qx::engine
