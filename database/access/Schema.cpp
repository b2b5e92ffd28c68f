#include "database/access/Schema.h"

#include "support/FileOperations.h"
#include "support/engine/Connection.h"

#include <system_error>

namespace qx {

using engine::FieldType;
using engine::TableDef;

namespace {

TableDef Named(const char* name) {
    TableDef t;
    t.name = name;
    return t;
}

// Removes what a failed creation left behind: the file and a rollback
// journal beside it. Only called for names that did not exist before.
void RemoveHalfMade(Env& env, const std::string& path) {
    env.RemoveEntry(path);
    env.RemoveEntry(path + "-journal");
}

bool CreateWithTables(Env& env, const std::string& path, std::string_view password, const std::vector<TableDef>& tables,
                      sql::Error& err) {
    err.clear();
    if (path.empty()) {
        err = {sql::kCantOpen, "No file name was given."};
        return false;
    }
    // Known before the engine runs, so that cleaning up after a failure can
    // never delete somebody else's file.
    const bool existed = env.KindOf(path) != EntryKind::None;
    sql::Database db = engine::CreateDatabaseFile(env, path, password, err);
    if (!db.isOpen()) {
        if (!err) err = {sql::kCantOpen, "Could not create the file '" + path + "'."};
        if (!existed) RemoveHalfMade(env, path);
        return false;
    }

    bool ok = true;
    {
        sql::Transaction tx(db);
        if (!tx.ok()) {
            err = db.lastError();
            ok = false;
        }
        for (const TableDef& t : tables) {
            if (!ok) break;
            for (const std::string& statement : engine::CreateTableSql(t))
                if (!db.exec(statement, &err)) {
                    ok = false;
                    break;
                }
        }
        if (ok && !tx.commit(&err)) ok = false;
    }
    db.close();
    if (!ok) {
        if (!err) err = {sql::kCantOpen, "Could not create the tables of '" + path + "'."};
        RemoveHalfMade(env, path);
    }
    return ok;
}

}  // namespace

std::string PasswordForGeneration(int generation) {
    switch (generation) {
    case 8: return "\u00a9Pendrawix8";
    case 7:
    case 6: return "\u00a9Pendrawix6";
    case 5: return "\u00a9Pendrawix";
    case 4: return "\u00a9Lomadriq";
    default: return {};
    }
}

bool GenerationHasTrash(int generation) { return generation == 7 || generation == 8; }

TableDef FoldersTable(bool withTrashMark) {
    TableDef t = Named("FOLDERS");
    t.autoNumber("ID")
        .field("PARENT", FieldType::Long)
        .field("ISFOLDER", FieldType::Boolean)
        .field("NAME", FieldType::Text, 80)
        .field("word1", FieldType::Text, 80)
        .field("word2", FieldType::Text, 80)
        .field("word3", FieldType::Text, 80)
        .field("word4", FieldType::Text, 80)
        .field("word5", FieldType::Text, 80)
        .field("POSTAL", FieldType::Text, 50)
        .field("DATE", FieldType::Text, 10)
        .field("NOTES", FieldType::Memo)
        .field("DATABASEID", FieldType::Long)
        .field("TEMPLATE1", FieldType::Text, 50)
        .field("template2", FieldType::Text, 100)
        .field("PAGE", FieldType::Integer)
        .field("WIDTH", FieldType::Long)
        .field("HEIGHT", FieldType::Long)
        .field("content", FieldType::Memo);
    if (withTrashMark) t.field("TRASHMARK", FieldType::Boolean);
    t.index("PrimaryKey", {"ID"}, true).index("Naam", {"NAME"}).index("parentID", {"PARENT"});
    return t;
}

TableDef DatabasesTable() {
    TableDef t = Named("DATABASES");
    t.autoNumber("ID").field("DATABASE", FieldType::Text, 255);
    t.index("PrimaryKey", {"ID"}, true).index("ID", {"ID"});
    return t;
}

TableDef TrashTable() {
    TableDef t = Named("trash");
    t.field("id", FieldType::Long).field("virtualpath", FieldType::Memo).field("datetime", FieldType::Text, 12);
    t.index("pk_id", {"id"}, true);
    return t;
}

TableDef WordsTable() {
    TableDef t = Named("words");
    t.field("word", FieldType::Text, 50).field("reference", FieldType::Long);
    t.index("Word", {"word"});
    return t;
}

TableDef SettingsTable() {
    TableDef t = Named("settings");
    t.field("name", FieldType::Text, 50).field("stringvalue", FieldType::Text, 255).field("numvalue", FieldType::Long);
    return t;
}

TableDef PropertiesTable() {
    TableDef t = Named("properties");
    for (int i = 1; i <= 8; ++i) t.field("property" + std::to_string(i), FieldType::Text, 32);
    return t;
}

TableDef MemosTable() {
    TableDef t = Named("memos");
    t.field("id", FieldType::Long)
        .field("x", FieldType::Long)
        .field("y", FieldType::Long)
        .field("width", FieldType::Long)
        .field("height", FieldType::Long)
        .field("expanded", FieldType::Boolean)
        .field("memotext", FieldType::Memo);
    return t;
}

TableDef InboxesTable() {
    TableDef t = Named("inboxes");
    t.field("id", FieldType::Long)
        .field("path", FieldType::Text, 255)
        .field("userid", FieldType::Long)
        .field("status", FieldType::Long);
    return t;
}

std::vector<TableDef> MainDatabaseTables(int generation) {
    if (PasswordForGeneration(generation).empty()) return {};
    const bool trash = GenerationHasTrash(generation);
    std::vector<TableDef> tables{FoldersTable(trash), DatabasesTable()};
    if (trash) tables.push_back(TrashTable());
    for (TableDef t : {WordsTable(), SettingsTable(), PropertiesTable(), MemosTable(), InboxesTable()})
        tables.push_back(std::move(t));
    return tables;
}

// The byte value comes last: reading ID and path never touches it.
TableDef PicturesTable() {
    TableDef t = Named("PICTURES");
    t.autoNumber("ID").field("path", FieldType::Memo).field("PICTURE", FieldType::LongBinary);
    t.index("PrimaryKey", {"ID"}, true);
    return t;
}

TableDef OcrWordsTable() {
    TableDef t = Named("OCRWORDS");
    t.autoNumber("ID")
        .field("DOCUMENTID", FieldType::Long)
        .field("PAGE", FieldType::Integer)
        .field("WORD", FieldType::Text, 80);
    t.index("PrimaryKey", {"ID"}, true).index("DocumentID", {"DOCUMENTID"}).index("Word", {"WORD"});
    return t;
}

bool CreateMainDatabase(Env& env, const std::string& path, int generation, sql::Error& err) {
    const std::string password = PasswordForGeneration(generation);
    if (password.empty()) {
        err = {sql::kMisuse, "Unknown database generation " + std::to_string(generation) + "."};
        return false;
    }
    return CreateWithTables(env, path, password, MainDatabaseTables(generation), err);
}

bool CreateSubDatabaseFile(Env& env, const std::string& path, std::string_view password, sql::Error& err) {
    // A sub database without a key could never be opened with the archive's
    // password, so it would be a file of stored data nobody can read.
    if (password.empty()) {
        err = {sql::kMisuse, "A sub database needs the database password."};
        return false;
    }
    return CreateWithTables(env, path, password, {PicturesTable()}, err);
}

bool CreateOmdDatabase(Env& env, const std::string& path, sql::Error& err) {
    return CreateWithTables(env, path, "", {OcrWordsTable()}, err);
}

}  // namespace qx
