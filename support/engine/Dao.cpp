#include "support/engine/Dao.h"

#include "support/engine/ConnectString.h"
#include "support/engine/Connection.h"

#include <algorithm>
#include <cctype>

namespace qx::engine {

std::string DeclaredType(const FieldDef& f) {
    switch (f.type) {
    case FieldType::Boolean: return "BOOLEAN";
    case FieldType::Byte: return "TINYINT";
    case FieldType::Integer: return "SMALLINT";
    case FieldType::Long: return "INTEGER";
    case FieldType::Currency: return "DECIMAL(19,4)";
    case FieldType::Single: return "REAL";
    case FieldType::Double: return "DOUBLE";
    case FieldType::Date: return "DATETIME";
    case FieldType::Text: return "VARCHAR(" + std::to_string(f.size > 0 ? f.size : 255) + ")";
    case FieldType::LongBinary: return "BLOB";
    case FieldType::Memo: return "TEXT";
    }
    return "TEXT";
}

std::vector<std::string> CreateTableSql(const TableDef& def) {
    const std::string qt = sql::QuoteIdentifier(def.name);
    const IndexDef* primary = nullptr;
    for (const IndexDef& ix : def.indexes)
        if (ix.primary) primary = &ix;
    // A primary key on one whole-number field becomes the row key itself.
    std::string rowKey;
    if (primary && primary->fields.size() == 1)
        for (const FieldDef& f : def.fields)
            if (f.name == primary->fields[0] && f.type == FieldType::Long) rowKey = f.name;

    std::string cols;
    for (const FieldDef& f : def.fields) {
        cols += cols.empty() ? "" : ", ";
        cols += sql::QuoteIdentifier(f.name) + " ";
        if (f.name == rowKey || (f.autoNumber && rowKey.empty() && !primary)) {
            cols += "INTEGER PRIMARY KEY";
            if (f.autoNumber) cols += " AUTOINCREMENT";
        } else {
            cols += DeclaredType(f);
            // Yes/No fields are never Null in the archive format; without a
            // default a row added without the field would drop out of
            // "NOT ISFOLDER".
            if (f.type == FieldType::Boolean) cols += " NOT NULL DEFAULT 0";
        }
    }
    if (primary && rowKey.empty()) {
        cols += ", PRIMARY KEY (";
        for (size_t i = 0; i < primary->fields.size(); ++i)
            cols += (i ? ", " : "") + sql::QuoteIdentifier(primary->fields[i]);
        cols += ")";
    }
    std::vector<std::string> out{"CREATE TABLE " + qt + " (" + cols + ")"};
    for (const IndexDef& ix : def.indexes) {
        if (ix.primary) continue;
        // The archive names indexes per table, so two tables may each have
        // one of the same name; SQLite names them per file. The table name
        // in front keeps them apart.
        std::string s = std::string("CREATE ") + (ix.unique ? "UNIQUE " : "") + "INDEX " +
                        sql::QuoteIdentifier(def.name + "." + ix.name) + " ON " + qt + " (";
        for (size_t i = 0; i < ix.fields.size(); ++i) s += (i ? ", " : "") + sql::QuoteIdentifier(ix.fields[i]);
        out.push_back(s + ")");
    }
    return out;
}

std::string AddFieldSql(std::string_view table, const FieldDef& f) {
    std::string s = "ALTER TABLE " + sql::QuoteIdentifier(table) + " ADD COLUMN " + sql::QuoteIdentifier(f.name) + " " +
                    DeclaredType(f);
    // As in CreateTableSql: rows that exist get No, never Null.
    if (f.type == FieldType::Boolean) s += " NOT NULL DEFAULT 0";
    return s;
}

bool DaoDatabase::open(Env& env, const std::string& path, std::string_view connect) {
    m_err.clear();
    m_db.close();
    const ConnectString cs = ConnectString::Parse(connect);
    m_db = sql::Database::open(env, path, PasswordBytes(cs.password()), sql::OpenMode::ReadWrite, m_err);
    return m_db.isOpen();
}

bool DaoDatabase::testQuery(std::string_view text) {
    m_err.clear();
    sql::Statement st(m_db, text);
    if (!st.ok()) {
        m_err = st.error();
        return false;
    }
    if (st.step() == sql::Step::Failed) {
        m_err = st.error();
        return false;
    }
    return true;
}

bool DaoDatabase::tableExists(std::string_view name) {
    sql::Statement st(m_db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE");
    st.bind(1, name);
    return st.step() == sql::Step::Row;
}

std::optional<TableDef> DaoDatabase::tableDef(std::string_view name) {
    if (!tableExists(name)) return std::nullopt;
    TableDef def;
    def.name = std::string(name);
    sql::Statement st(m_db, "PRAGMA table_info(" + sql::QuoteIdentifier(name) + ")");
    while (st.step() == sql::Step::Row) {
        FieldDef f;
        f.name = st.getText(1);
        std::string t = st.getText(2);
        std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return std::toupper(c); });
        if (t == "BOOLEAN") f.type = FieldType::Boolean;
        else if (t == "TINYINT") f.type = FieldType::Byte;
        else if (t == "SMALLINT") f.type = FieldType::Integer;
        else if (t == "INTEGER") f.type = FieldType::Long;
        else if (t.rfind("DECIMAL", 0) == 0) f.type = FieldType::Currency;
        else if (t == "REAL") f.type = FieldType::Single;
        else if (t == "DOUBLE") f.type = FieldType::Double;
        else if (t == "DATETIME") f.type = FieldType::Date;
        else if (t.rfind("VARCHAR", 0) == 0) {
            f.type = FieldType::Text;
            f.size = std::atoi(t.c_str() + 8);
        } else if (t == "BLOB") f.type = FieldType::LongBinary;
        else f.type = FieldType::Memo;
        def.fields.push_back(f);
    }
    return def;
}

bool DaoDatabase::createTable(const TableDef& def) {
    m_err.clear();
    sql::Savepoint sp(m_db);
    for (const std::string& s : CreateTableSql(def))
        if (!m_db.exec(s, &m_err)) return false;
    return sp.release(&m_err);
}

}  // namespace qx::engine
