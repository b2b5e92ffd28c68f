// Recordset: changing rows — new rows, edited fields, streamed values, deletion.
#include "support/engine/Recordset.h"
#include "support/engine/AsciiCase.h"

#include <algorithm>

namespace qx::engine {

bool Recordset::setValue(std::string_view field, Variant v) {
    const int i = fieldIndex(field);
    if (i < 0) return fail(sql::kNotFound, "Item cannot be found in the collection.");
    if (!m_updatable) return fail(sql::kNotUpdatable, "Current Recordset does not support updating.");
    if (m_core->db.readOnly()) return fail(sql::kReadOnly, "Cannot update. Database or object is read-only.");
    if (m_editMode == EditMode::None) {
        if (!haveRow()) return false;
        m_editMode = EditMode::InProgress;
    }
    m_pending[i] = Pending{std::move(v), false, 0, {}};
    return true;
}

bool Recordset::setValueFromStream(std::string_view field, std::int64_t size, ChunkSource source) {
    const int i = fieldIndex(field);
    if (i < 0) return fail(sql::kNotFound, "Item cannot be found in the collection.");
    if (!setValue(field, Variant())) return false;
    m_pending[i] = Pending{Variant(), true, size, std::move(source)};
    return true;
}

std::int64_t Recordset::reserveAutoNumber() {
    // The number is taken as soon as a new row is started, so that the row
    // can be told its ID before it is written; a cancelled row leaves a gap,
    // and no number is ever handed out twice (another row may refer to it).
    sql::Database& db = m_core->db;
    sql::Statement seq(db, "SELECT seq FROM sqlite_sequence WHERE name = ?");
    seq.bind(1, std::string_view(m_table));
    std::int64_t next = seq.step() == sql::Step::Row ? seq.getInt64(0) : 0;
    sql::Statement max(db, "SELECT max(rowid) FROM " + sql::QuoteIdentifier(m_table));
    if (max.step() == sql::Step::Row) next = std::max(next, max.getInt64(0));
    ++next;
    sql::Statement upd(db, "UPDATE sqlite_sequence SET seq = ? WHERE name = ?");
    upd.bind(1, next);
    upd.bind(2, std::string_view(m_table));
    if (!upd.run()) return fail(upd.error()), 0;
    if (db.changes() == 0) {
        sql::Statement ins(db, "INSERT INTO sqlite_sequence(name, seq) VALUES(?, ?)");
        ins.bind(1, std::string_view(m_table));
        ins.bind(2, next);
        if (!ins.run()) return fail(ins.error()), 0;
    }
    return next;
}

bool Recordset::addNew() {
    if (!m_open) return fail(sql::kMisuse, "Operation is not allowed when the object is closed.");
    if (!m_updatable) return fail(sql::kNotUpdatable, "Current Recordset does not support updating.");
    if (m_core->db.readOnly()) return fail(sql::kReadOnly, "Cannot update. Database or object is read-only.");
    if (m_editMode != EditMode::None && !update()) return false;
    m_newKey = 0;
    if (m_autoNumber) {
        m_newKey = reserveAutoNumber();
        if (m_newKey == 0) return false;
    }
    m_savedPos = m_pos;
    m_editMode = EditMode::Add;
    m_pending.clear();
    if (m_newKey != 0)
        if (int k = fieldIndex(m_keyColumn); k >= 0 && iequals(m_cols[static_cast<size_t>(k)].origin, m_keyColumn))
            m_pending[k] = Pending{Variant(static_cast<long long>(m_newKey)), false, 0, {}};
    return true;
}

bool Recordset::writeStreams(std::int64_t rowid) {
    std::vector<std::uint8_t> buffer;
    for (auto& [col, p] : m_pending) {
        if (!p.streamed || p.size == 0) continue;
        sql::Error err;
        sql::Blob blob = sql::Blob::open(m_core->db, m_table, m_cols[static_cast<size_t>(col)].origin, rowid, true, err);
        if (!blob.isOpen()) return fail(err);
        buffer.resize(static_cast<size_t>(std::min<std::int64_t>(p.size, 1 << 20)));
        for (std::int64_t off = 0; off < p.size;) {
            const auto n = static_cast<size_t>(std::min<std::int64_t>(p.size - off, static_cast<std::int64_t>(buffer.size())));
            std::span<std::uint8_t> piece(buffer.data(), n);
            if (!p.source(off, piece)) return fail(sql::kStreamFailed, "The source of the value could not be read.");
            if (!blob.write(off, piece, &err)) return fail(err);
            off += static_cast<std::int64_t>(n);
        }
    }
    return true;
}

bool Recordset::update() {
    if (m_editMode == EditMode::None) return true;
    m_reader = sql::Blob();
    sql::Database& db = m_core->db;
    const std::string qt = sql::QuoteIdentifier(m_table);
    std::vector<std::pair<int, const Pending*>> cols;
    for (const auto& [i, p] : m_pending) cols.emplace_back(i, &p);
    auto bindAll = [&](sql::Statement& st) {
        int idx = 1;
        for (auto& [i, p] : cols) {
            if (p->streamed) st.bindZeroBlob(idx++, p->size);
            else st.bind(idx++, p->value);
        }
        return idx;
    };
    std::string text;
    if (m_editMode == EditMode::Add) {
        std::string names, marks;
        for (auto& [i, p] : cols) {
            names += (names.empty() ? "" : ", ") + sql::QuoteIdentifier(m_cols[static_cast<size_t>(i)].origin);
            marks += marks.empty() ? "?" : ", ?";
        }
        bool keyGiven = std::any_of(cols.begin(), cols.end(), [&](auto& c) {
            return iequals(m_cols[static_cast<size_t>(c.first)].origin, m_keyColumn);
        });
        if (m_newKey != 0 && !keyGiven) {
            names += (names.empty() ? "" : ", ") + sql::QuoteIdentifier(m_keyColumn);
            marks += marks.empty() ? "?" : ", ?";
        }
        text = names.empty() ? "INSERT INTO " + qt + " DEFAULT VALUES"
                             : "INSERT INTO " + qt + " (" + names + ") VALUES (" + marks + ")";
        sql::Savepoint sp(db);
        sql::Statement st(db, text);
        if (!st.ok()) return fail(st.error());
        int idx = bindAll(st);
        if (m_newKey != 0 && !keyGiven) st.bind(idx, m_newKey);
        if (!st.run()) return fail(st.error());
        const std::int64_t rowid = db.lastInsertRowid();
        sql::Error err;
        if (!writeStreams(rowid) || !sp.release(&err)) return err ? fail(err) : false;
        m_rowids.push_back(rowid);
        m_pos = static_cast<std::int64_t>(m_rowids.size()) - 1;
    } else {
        if (m_currentDeleted || m_current.empty()) return fail(sql::kNoCurrentRow, "The current row is gone.");
        std::string sets;
        std::int64_t newRowid = m_currentRowid;
        for (auto& [i, p] : cols) {
            const std::string& origin = m_cols[static_cast<size_t>(i)].origin;
            sets += (sets.empty() ? "" : ", ") + sql::QuoteIdentifier(origin) + " = ?";
            if (!m_keyColumn.empty() && iequals(origin, m_keyColumn)) newRowid = p->value.toInt64();
        }
        text = "UPDATE " + qt + " SET " + sets + " WHERE rowid = ?";
        sql::Savepoint sp(db);
        sql::Statement st(db, text);
        if (!st.ok()) return fail(st.error());
        st.bind(bindAll(st), m_currentRowid);
        if (!st.run()) return fail(st.error());
        sql::Error err;
        if (!writeStreams(newRowid) || !sp.release(&err)) return err ? fail(err) : false;
        m_rowids[static_cast<size_t>(m_pos)] = newRowid;
    }
    m_pending.clear();
    m_editMode = EditMode::None;
    fetchCurrent();
    return true;
}

void Recordset::cancelUpdate() {
    if (m_editMode == EditMode::Add) m_pos = m_savedPos;
    m_pending.clear();
    m_editMode = EditMode::None;
    if (m_open && m_mode != CursorMode::Scan) fetchCurrent();
}

bool Recordset::deleteCurrent() {
    if (m_editMode == EditMode::Add) {
        cancelUpdate();
        return true;
    }
    if (!m_updatable) return fail(sql::kNotUpdatable, "Current Recordset does not support updating.");
    if (!haveRow()) return false;
    m_pending.clear();
    m_editMode = EditMode::None;
    m_reader = sql::Blob();
    sql::Statement st(m_core->db, "DELETE FROM " + sql::QuoteIdentifier(m_table) + " WHERE rowid = ?");
    st.bind(1, m_currentRowid);
    if (!st.run()) return fail(st.error());
    m_currentDeleted = true;
    return true;
}

}  // namespace qx::engine
