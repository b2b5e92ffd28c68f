#pragma once
// The tables of the archive files as the product's own empty databases define
// them, per database generation, and the creation of new, empty files of each
// kind. Column order, types and widths follow the product: tests and repair
// code that build files here get the shape the product writes.
#include "support/engine/Dao.h"
#include "support/engine/Sql.h"

#include <string>
#include <string_view>
#include <vector>

namespace qx {

// The generations a main database can have, oldest first.
inline constexpr int kOldestGeneration = 4;
inline constexpr int kCurrentGeneration = 8;

// The password that protects main and sub databases of a generation ("" for
// an unknown one). Generations 6 and 7 share theirs; only the trash table
// tells them apart.
std::string PasswordForGeneration(int generation);

// Whether a generation's main database carries the trash table and the
// FOLDERS.TRASHMARK column.
bool GenerationHasTrash(int generation);

// Main database.
engine::TableDef FoldersTable(bool withTrashMark);
engine::TableDef DatabasesTable();
engine::TableDef TrashTable();
engine::TableDef WordsTable();
engine::TableDef SettingsTable();
engine::TableDef PropertiesTable();
engine::TableDef MemosTable();
engine::TableDef InboxesTable();
// Every table of a main database of the generation; empty for an unknown one.
std::vector<engine::TableDef> MainDatabaseTables(int generation);

// Sub database: the stored document data.
engine::TableDef PicturesTable();

// OCR database. Its contents are the product's business; the tool only opens
// the file, so one small table is enough to make it a real database.
engine::TableDef OcrWordsTable();

// Each creates a new file with its tables in one transaction. None touches an
// existing file; a file that was begun but could not be completed is removed
// again. On failure `err` says why.
bool CreateMainDatabase(Env& env, const std::string& path, int generation, sql::Error& err);
// Keyed with `password` (text, as the archive passwords are written); an
// empty password is refused.
bool CreateSubDatabaseFile(Env& env, const std::string& path, std::string_view password, sql::Error& err);
// Without a password, as the product leaves it.
bool CreateOmdDatabase(Env& env, const std::string& path, sql::Error& err);

}  // namespace qx
