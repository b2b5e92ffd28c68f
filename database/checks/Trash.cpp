// CDatabase: trash support for main databases made before the product had a
// recycle bin, and a trash row for every trashed document that lacks one.
#include "database/CDatabase.h"
#include "database/access/Schema.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/engine/Dao.h"

#include <QDateTime>

#include <cstdio>
#include <vector>

namespace qx {

namespace {

std::string Hex(long number) {
    char text[16];
    std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(static_cast<std::uint32_t>(number)));
    return text;
}

// Runs the statements as one change: all of them or none.
bool RunAsOne(sql::Database& db, const std::vector<std::string>& statements, sql::Error& err) {
    sql::Savepoint sp(db);
    if (!sp.ok()) {
        err = db.lastError();
        return false;
    }
    for (const std::string& s : statements)
        if (!db.exec(s, &err)) return false;
    return sp.release(&err);
}

}  // namespace

bool CDatabase::EnableTrashSupport() {
    if (Settings::Get().DatabaseVersion < 8) return false;
    if (!Connected(m_AdoCnMain)) return false;
    sql::Database& db = m_AdoCnMain->database();
    {
        sql::Statement probe(db, "SELECT * FROM trash WHERE id IS NULL");
        if (probe.ok() && probe.step() != sql::Step::Failed) return true;
    }
    bool hasTable = false, hasColumn = false;
    {
        sql::Statement st(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'trash' COLLATE NOCASE");
        hasTable = st.ok() && st.step() == sql::Step::Row;
        sql::Statement column(db, "SELECT TrashMark FROM FOLDERS WHERE ID = NULL");
        hasColumn = column.ok() && column.step() != sql::Step::Failed;
    }
    if (DryRun()) {
        if (!hasTable) WriteLog("DBConversion: Table 'Trash' does not exist (report only: not added)");
        if (!hasColumn) WriteLog("DBConversion: Column 'TrashMark' does not exist (report only: not added)");
        return false;
    }
    if (!MayChangeMain("Trash support is not added")) return false;

    // The schema is changed on the open connection, each part in one step:
    // the connection never closes, so the check goes on with the same one.
    sql::Error err;
    if (!hasTable) {
        WriteLog("DBConversion: Table 'Trash' does not exist.. Trying to add....");
        if (RunAsOne(db, engine::CreateTableSql(TrashTable()), err)) {
            WriteLog("DBConversion: Table 'Trash' Added.");
            // The primary key comes with the table's definition.
            WriteLog("DBConversion: Trying to create Primary key for table 'Trash'");
            WriteLog("DBConversion: Primary key created for table 'Trash'");
        } else {
            WriteLog("DBConversion: Could not create table 'trash': " + err.message + "(" + std::to_string(err.code) +
                     ")");
        }
    } else {
        WriteLog("DBConversion: Table 'Trash' already added");
    }
    if (!hasColumn) {
        engine::FieldDef trashMark;
        for (const engine::FieldDef& f : FoldersTable(true).fields)
            if (f.name == "TRASHMARK") trashMark = f;
        if (!RunAsOne(db, {engine::AddFieldSql("FOLDERS", trashMark)}, err))
            WriteLog("DBConversion: Could not add field 'TrashMark': " + err.message + "(" +
                     std::to_string(err.code) + ")");
    } else {
        WriteLog("DBConversion: Recycle support already enabled");
    }

    // Every trashed document without a trash row gets one, with the path it
    // has now (the root when that path is broken).
    auto trapped = [](const sql::Error& e) {
        WriteLog("Error [0x" + Hex(e.code) + "] while analysing trash. " + e.message);
    };
    std::vector<long> trashed;
    {
        sql::Statement st(db, "SELECT id, parent FROM folders WHERE trashmark <> 0 AND NOT isfolder");
        if (!st.ok()) return trapped(st.error()), false;
        sql::Step s;
        while ((s = st.step()) == sql::Step::Row) trashed.push_back(static_cast<long>(st.getInt64(0)));
        if (s == sql::Step::Failed) return trapped(st.error()), false;
    }
    const std::string now = QDateTime::currentDateTime().toString("yyyyMMddhhmm").toStdString();
    for (long id : trashed) {
        sql::Statement find(db, "SELECT id FROM trash WHERE id = ?");
        find.bind(1, static_cast<std::int64_t>(id));
        const sql::Step found = find.ok() ? find.step() : sql::Step::Failed;
        if (found == sql::Step::Failed) {
            trapped(find.error());
            continue;
        }
        if (found == sql::Step::Row) continue;
        std::string path;
        if (VirtualDocumentPath(id, path) == 256) {
            WriteLog(std::to_string(id) + " - Invalid virtual path (in trash)!");
            path = "\\";
        }
        sql::Statement add(db, "INSERT INTO trash (id, virtualpath, datetime) VALUES (?, ?, ?)");
        add.bind(1, static_cast<std::int64_t>(id));
        add.bind(2, std::string_view(path));
        add.bind(3, std::string_view(now));
        if (!add.run()) trapped(add.error());
    }
    return true;
}

}  // namespace qx
