#include "support/engine/Recordset.h"
#include "support/engine/AsciiCase.h"

#include <algorithm>
#include <cctype>

namespace qx::engine {

namespace {


// Declared types of columns that hold stored bytes. Whole words only: a
// BOOLEAN column is not an OLE object.
bool isBinaryType(std::string_view decl) {
    const std::string u = upper(decl);
    return u.starts_with("BLOB") || u.starts_with("LONGBINARY") || u.starts_with("VARBINARY") ||
           u.starts_with("BINARY") || u == "OLEOBJECT" || u == "IMAGE";
}

struct SelectShape {
    size_t fromPos = std::string::npos;  // top-level FROM keyword
    bool simple = true;                  // no DISTINCT, grouping or compound select
};

// Finds the top-level FROM of a SELECT, skipping quoted text and nested
// parentheses, and notes whether the statement has a shape whose rows map
// one-to-one onto rows of a base table.
SelectShape shapeOf(std::string_view sql) {
    SelectShape shape;
    int depth = 0;
    bool seenFrom = false;
    for (size_t i = 0; i < sql.size();) {
        const char c = sql[i];
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            const char close = c == '[' ? ']' : c;
            size_t j = i + 1;
            while (j < sql.size()) {
                if (sql[j] == close) {
                    if (close != ']' && j + 1 < sql.size() && sql[j + 1] == close) { j += 2; continue; }
                    break;
                }
                ++j;
            }
            i = j + 1;
            continue;
        }
        if (c == '(') { ++depth; ++i; continue; }
        if (c == ')') { --depth; ++i; continue; }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t j = i;
            while (j < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[j])) || sql[j] == '_')) ++j;
            if (depth == 0) {
                const std::string word = upper(sql.substr(i, j - i));
                if (word == "FROM" && !seenFrom) { shape.fromPos = i; seenFrom = true; }
                else if (word == "DISTINCT" || word == "GROUP" || word == "UNION" || word == "INTERSECT" ||
                         word == "EXCEPT" || word == "HAVING")
                    shape.simple = false;
            }
            i = j;
            continue;
        }
        ++i;
    }
    return shape;
}

}  // namespace

Recordset::Recordset() = default;
Recordset::~Recordset() { close(); }

bool Recordset::fail(int code, std::string message) { return fail(sql::Error{code, std::move(message)}); }

bool Recordset::fail(const sql::Error& e) {
    m_err = e;
    if (m_core) m_core->fail(e);
    return false;
}

bool Recordset::open(std::string_view sql, Connection& cn, CursorMode mode) {
    close();
    m_err.clear();
    m_readFailed = false;
    m_core = cn.core();
    if (!cn.isOpen()) return fail(sql::kMisuse, "Operation is not allowed when the object is closed.");
    m_sql = std::string(sql);
    m_mode = mode;
    return prepare(m_sql);
}

bool Recordset::prepare(std::string_view text) {
    sql::Database& db = m_core->db;
    sql::Statement probe(db, text);
    if (!probe.ok()) return fail(probe.error());
    const int n = probe.columnCount();
    if (n == 0) return fail(sql::kMisuse, "The statement returns no rows.");

    m_cols.clear();
    std::string table;
    bool oneTable = true;
    for (int i = 0; i < n; ++i) {
        Column col;
        col.name = probe.columnName(i);
        col.origin = probe.columnOriginName(i);
        col.binary = isBinaryType(probe.columnDeclType(i));
        const std::string t = probe.columnOriginTable(i);
        if (t.empty() || col.origin.empty() || (!table.empty() && !iequals(t, table))) oneTable = false;
        if (table.empty()) table = t;
        m_cols.push_back(std::move(col));
    }

    // Rewrite the select list so that each row carries its rowid and only
    // the sizes of binary values: moving over a row then reads no document
    // bytes, and the row can be found again to change it.
    m_rewrite = false;
    m_updatable = false;
    m_table.clear();
    m_keyColumn.clear();
    m_autoNumber = false;
    const SelectShape shape = shapeOf(text);
    if (oneTable && shape.simple && shape.fromPos != std::string::npos) {
        const std::string qt = sql::QuoteIdentifier(table);
        std::string list = "SELECT " + qt + ".rowid";
        for (const Column& c : m_cols) {
            const std::string ref = qt + "." + sql::QuoteIdentifier(c.origin);
            list += ", " + (c.binary ? "length(" + ref + ")" : ref) + " AS " + sql::QuoteIdentifier(c.name);
        }
        std::string rewritten = list + " " + std::string(text.substr(shape.fromPos));
        sql::Statement test(db, rewritten);
        if (test.ok()) {
            m_rewrite = true;
            m_rewritten = std::move(rewritten);
            m_table = table;
            m_fetch = sql::Statement(db, list + " FROM " + qt + " WHERE rowid = ?");
            sql::Statement info(db, "PRAGMA table_info(" + qt + ")");
            int keys = 0;
            std::string key;
            while (info.step() == sql::Step::Row) {
                if (info.getInt64(5) > 0) {
                    ++keys;
                    if (iequals(info.getText(2), "INTEGER")) key = info.getText(1);
                }
            }
            if (keys == 1) m_keyColumn = key;
            sql::Statement ddl(db, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?");
            ddl.bind(1, std::string_view(table));
            if (ddl.step() == sql::Step::Row)
                m_autoNumber = !m_keyColumn.empty() && upper(ddl.getText(0)).find("AUTOINCREMENT") != std::string::npos;
        }
    }
    if (!m_rewrite)
        for (Column& c : m_cols) c.binary = false;  // values are carried whole

    const std::string& runText = m_rewrite ? m_rewritten : m_sql;
    m_rows.clear();
    m_rowids.clear();
    m_pending.clear();
    m_editMode = EditMode::None;
    m_open = true;

    if (m_mode == CursorMode::Scan) {
        m_scan = sql::Statement(db, runText);
        if (!m_scan.ok()) return fail(m_scan.error()), close(), false;
        m_pos = 0;
        m_scanEof = false;
        return moveNext() || !m_err;
    }
    if (m_mode == CursorMode::Edit && m_rewrite) {
        // The keyset: every row is visited once, whatever changes are made
        // to the table while walking it.
        sql::Statement keys(db, "SELECT " + sql::QuoteIdentifier(m_table) + ".rowid " +
                                    std::string(text.substr(shape.fromPos)));
        sql::Step s;
        while ((s = keys.step()) == sql::Step::Row) m_rowids.push_back(keys.getInt64(0));
        if (s == sql::Step::Failed) return fail(keys.error()), close(), false;
    } else {
        sql::Statement all(db, runText);
        sql::Step s;
        while ((s = all.step()) == sql::Step::Row) {
            std::vector<Variant> row;
            std::int64_t rowid = 0;
            loadRow(all, row, &rowid);
            m_rows.push_back(std::move(row));
            m_rowids.push_back(rowid);
        }
        if (s == sql::Step::Failed) return fail(all.error()), close(), false;
    }
    // Only a keyset over one base table can be changed.
    m_updatable = m_mode == CursorMode::Edit && m_rewrite;
    m_pos = 0;
    fetchCurrent();
    return true;
}

void Recordset::close() {
    m_reader = sql::Blob();
    m_scan = sql::Statement();
    m_fetch = sql::Statement();
    m_rows.clear();
    m_rowids.clear();
    m_current.clear();
    m_pending.clear();
    m_editMode = EditMode::None;
    m_open = false;
}

bool Recordset::loadRow(sql::Statement& st, std::vector<Variant>& row, std::int64_t* rowid) {
    const int offset = m_rewrite ? 1 : 0;
    if (rowid) *rowid = m_rewrite ? st.getInt64(0) : 0;
    row.resize(m_cols.size());
    for (size_t i = 0; i < m_cols.size(); ++i) row[i] = st.value(static_cast<int>(i) + offset);
    return true;
}

bool Recordset::fetchCurrent() {
    m_reader = sql::Blob();
    m_currentDeleted = false;
    m_current.clear();
    const auto size = static_cast<std::int64_t>(m_rowids.size());
    if (m_mode == CursorMode::Edit && m_rewrite) {
        // Rows deleted elsewhere since the keyset was read drop out.
        while (m_pos >= 0 && m_pos < static_cast<std::int64_t>(m_rowids.size())) {
            m_fetch.reset();
            m_fetch.bind(1, m_rowids[static_cast<size_t>(m_pos)]);
            const sql::Step step = m_fetch.step();
            if (step == sql::Step::Row) {
                loadRow(m_fetch, m_current, &m_currentRowid);
                m_fetch.reset();
                return true;
            }
            if (step == sql::Step::Failed) {
                // Unreadable is not deleted: the walk ends here, and says why.
                const sql::Error e = m_fetch.error();
                m_fetch.reset();
                m_readFailed = true;
                m_pos = static_cast<std::int64_t>(m_rowids.size());
                fail(e);
                return false;
            }
            m_rowids.erase(m_rowids.begin() + m_pos);
        }
        return false;
    }
    if (m_pos >= 0 && m_pos < size) {
        m_current = m_rows[static_cast<size_t>(m_pos)];
        m_currentRowid = m_rowids[static_cast<size_t>(m_pos)];
        return true;
    }
    return false;
}

bool Recordset::eof() const {
    if (!m_open) return true;
    if (m_mode == CursorMode::Scan) return m_scanEof;
    return m_pos >= static_cast<std::int64_t>(m_rowids.size());
}

bool Recordset::moveNext() {
    if (!m_open) return fail(sql::kMisuse, "Operation is not allowed when the object is closed.");
    if (m_editMode != EditMode::None && !update()) return false;
    if (m_mode == CursorMode::Scan) {
        if (m_scanEof) return fail(sql::kNoCurrentRow, "Either BOF or EOF is True.");
        switch (m_scan.step()) {
        case sql::Step::Row:
            m_reader = sql::Blob();
            ++m_pos;
            return loadRow(m_scan, m_current, &m_currentRowid);
        case sql::Step::Done:
            ++m_pos;
            m_scanEof = true;
            m_current.clear();
            return true;
        case sql::Step::Failed:
            m_scanEof = true;
            m_readFailed = true;
            m_current.clear();
            return fail(m_scan.error());
        }
    }
    if (eof()) return fail(sql::kNoCurrentRow, "Either BOF or EOF is True.");
    ++m_pos;
    fetchCurrent();
    return true;
}

int Recordset::fieldIndex(std::string_view name) const {
    for (size_t i = 0; i < m_cols.size(); ++i)
        if (iequals(m_cols[i].name, name)) return static_cast<int>(i);
    return -1;
}

bool Recordset::haveRow() {
    if (!m_open) return fail(sql::kMisuse, "Operation is not allowed when the object is closed.");
    if (m_editMode == EditMode::Add) return true;
    if (m_currentDeleted) return fail(sql::kNoCurrentRow, "Row handle referred to a deleted row or a row marked for deletion.");
    if (m_current.empty()) return fail(sql::kNoCurrentRow, "Either BOF or EOF is True, or the current record has been deleted.");
    return true;
}

Variant Recordset::storedValue(int col) {
    const Variant& v = m_current[static_cast<size_t>(col)];
    if (!m_cols[static_cast<size_t>(col)].binary || v.isNull()) return v;
    const std::int64_t size = v.toInt64();
    Bytes bytes(static_cast<size_t>(size));
    if (size > 0 && readChunk(m_cols[static_cast<size_t>(col)].name, 0, bytes) != size) return Variant();
    return Variant(std::move(bytes));
}

Variant Recordset::value(int index) {
    if (index < 0 || index >= fieldCount()) {
        fail(sql::kNotFound, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
        return {};
    }
    if (auto it = m_pending.find(index); it != m_pending.end() && !it->second.streamed) return it->second.value;
    if (m_editMode == EditMode::Add) return {};
    if (!haveRow()) return {};
    return storedValue(index);
}

Variant Recordset::value(std::string_view field) { return value(fieldIndex(field)); }

std::int64_t Recordset::actualSize(std::string_view field) {
    const int i = fieldIndex(field);
    if (i < 0) return fail(sql::kNotFound, "Item cannot be found in the collection."), 0;
    if (auto it = m_pending.find(i); it != m_pending.end()) {
        if (it->second.streamed) return it->second.size;
        const Variant& v = it->second.value;
        return v.isNull() ? 0 : static_cast<std::int64_t>(v.isBytes() ? v.bytes()->size() : v.toString().size());
    }
    if (m_editMode == EditMode::Add || !haveRow()) return 0;
    const Variant& v = m_current[static_cast<size_t>(i)];
    if (v.isNull()) return 0;
    if (m_cols[static_cast<size_t>(i)].binary) return v.toInt64();
    if (const Bytes* b = v.bytes()) return static_cast<std::int64_t>(b->size());
    if (const std::string* s = v.text()) return static_cast<std::int64_t>(s->size());
    return v.isDouble() ? 8 : 4;
}

std::int64_t Recordset::readChunk(std::string_view field, std::int64_t offset, std::span<std::uint8_t> into) {
    const int i = fieldIndex(field);
    if (i < 0) return fail(sql::kNotFound, "Item cannot be found in the collection."), 0;
    if (!haveRow() || offset < 0) return 0;
    const Column& col = m_cols[static_cast<size_t>(i)];
    const Variant& v = m_current[static_cast<size_t>(i)];
    if (v.isNull()) return 0;
    if (!col.binary) {
        const Bytes whole = v.toBytes();
        if (offset >= static_cast<std::int64_t>(whole.size())) return 0;
        const auto n = std::min<std::int64_t>(static_cast<std::int64_t>(whole.size()) - offset,
                                              static_cast<std::int64_t>(into.size()));
        std::copy_n(whole.begin() + offset, n, into.begin());
        return n;
    }
    const std::int64_t size = v.toInt64();
    if (offset >= size) return 0;
    const std::int64_t n = std::min<std::int64_t>(size - offset, static_cast<std::int64_t>(into.size()));
    sql::Error err;
    if (!m_reader.isOpen() || m_readerCol != i || m_readerRowid != m_currentRowid) {
        m_reader = sql::Blob::open(m_core->db, m_table, col.origin, m_currentRowid, false, err);
        if (!m_reader.isOpen()) return fail(err), 0;
        m_readerCol = i;
        m_readerRowid = m_currentRowid;
    }
    if (!m_reader.read(offset, into.first(static_cast<size_t>(n)), &err)) {
        m_reader = sql::Blob();
        return fail(err), 0;
    }
    return n;
}

}  // namespace qx::engine
