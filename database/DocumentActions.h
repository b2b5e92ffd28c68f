#pragma once
// The actions on rows of the damaged-document list that the window and the
// command line share: the removal questions and the removal itself, and the
// explanation of a result code that the information window shows.
#include "database/CDatabase.h"
#include "database/checks/ResultCodes.h"

#include <optional>
#include <string>

namespace qx {

// Bit of a row's tag (its result code) that marks a repaired document.
inline constexpr long kRepairedTagBit = 2048;
// A row's finding was repaired, by the rule the counters and the JSON
// follow: the bit, or a document moved to the root (reachable again).
inline bool RowIsRepaired(std::int64_t tag) { return IsRepaired(static_cast<int>(tag)); }

// The document number of a list row: its key without "ID"; 0 for a row
// without one.
long DocumentIdOfKey(const std::string& key);

// Multiple removal: "remove the N selected documents?" (Yes/No).
bool AskRemoveSelected(MainWindow& window, std::size_t count);
// Multiple removal, for a selected repaired row (Yes/No, exclamation).
bool AskRemoveRepairedNamed(MainWindow& window, const std::string& name);
// Single removal: the repaired question without a name, else the
// question naming the document.
bool AskRemoveOne(MainWindow& window, const std::string& name, bool repaired);

// Logs the removal and removes the document (its pages and data row with
// it, see CDatabase::RemoveDoc); false when the record could not be removed.
bool RemoveDocument(CDatabase& database, long id);

// The explanation of result code nErr for the information window, filled
// with the sub database and the folder of the main database where the text
// names them.
std::string ExplainResult(long nErr, const std::string& sSubDatabase, const std::string& sMainDatabase);

// Whether the main database has a document record nId; nothing when it
// could not be read (a read error says nothing about the row).
std::optional<bool> DocumentExists(CDatabase& database, long nId);

// What record nId of the main database is; nothing when it could not be read.
enum class RecordKind { None, Document, Folder };
std::optional<RecordKind> RecordKindOf(CDatabase& database, long nId);

// What the information window shows for one row.
struct DocumentInformation {
    std::string name, keywords, notes, date, zip;
    std::string explanation;
};
// Empty document fields when the document is not there (id 0 included).
DocumentInformation GetDocumentInformation(CDatabase& database, long nId, long nErr, const std::string& sSubDatabase);

}  // namespace qx
