#pragma once
// The per-call database handle used for password probing and for schema
// changes: open a file with a ";PWD=" connect text, test that a query opens,
// read and create table definitions.
#include "support/engine/Sql.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx::engine {

// Field types by their classic numbers, so that stored definitions and log
// lines keep the values administrators know.
enum class FieldType : int {
    Boolean = 1, Byte = 2, Integer = 3, Long = 4, Currency = 5, Single = 6, Double = 7, Date = 8,
    Text = 10, LongBinary = 11, Memo = 12,
};

struct FieldDef {
    std::string name;
    FieldType type = FieldType::Long;
    int size = 0;             // characters, for Text
    bool autoNumber = false;  // Long only: numbered by the engine, never reused
};

struct IndexDef {
    std::string name;
    std::vector<std::string> fields;
    bool primary = false;
    bool unique = false;
};

struct TableDef {
    std::string name;
    std::vector<FieldDef> fields;
    std::vector<IndexDef> indexes;

    TableDef& field(std::string n, FieldType t, int size = 0) {
        fields.push_back({std::move(n), t, size, false});
        return *this;
    }
    TableDef& autoNumber(std::string n) {
        fields.push_back({std::move(n), FieldType::Long, 0, true});
        return *this;
    }
    TableDef& index(std::string n, std::vector<std::string> f, bool primary = false, bool unique = false) {
        indexes.push_back({std::move(n), std::move(f), primary, unique || primary});
        return *this;
    }
};

// The declared column type a field is stored with (see docs/archive-format.md).
std::string DeclaredType(const FieldDef& f);
// The SQL that creates a table with its indexes.
std::vector<std::string> CreateTableSql(const TableDef& def);
// The SQL that appends a field to an existing table (never a key field).
std::string AddFieldSql(std::string_view table, const FieldDef& f);

class DaoDatabase {
public:
    DaoDatabase() = default;
    // connect: "" for a plain file, or ";PWD=<password>".
    bool open(Env& env, const std::string& path, std::string_view connect);
    void close() { m_db.close(); }
    bool isOpen() const { return m_db.isOpen(); }
    const sql::Error& error() const { return m_err; }

    // Opens and closes a query: true when it prepares and its first step runs.
    bool testQuery(std::string_view sql);
    bool tableExists(std::string_view name);
    std::optional<TableDef> tableDef(std::string_view name);
    bool createTable(const TableDef& def);

    sql::Database& database() { return m_db; }

private:
    sql::Database m_db;
    sql::Error m_err;
};

}  // namespace qx::engine
