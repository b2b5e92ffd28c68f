#pragma once
// The check commands of the main window's check menu, shared by the window
// and the command line: the log header, the counters, the window kept inert
// while the check runs, and the sub-database list brought up to date after.
#include "database/CDatabase.h"

#include <QJsonDocument>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qx {

enum CheckItem { CheckQuick = 0, CheckNormal = 1, CheckThorough = 2, CheckEmptyFolders = 4, CheckLargeDocuments = 5 };

// index: the menu item; caption: its text, for the log line of an unknown item.
void RunCheckCommand(CDatabase& database, int index, const std::string& caption = "");

// One line of the damaged-document list as it is printed and saved:
// state, TAB, virtual path followed by the name.
std::string ListLine(const ListRow& row);
enum class SaveListOutcome { Saved, ArchiveFile, NotWritten };
// Writes the lines with CR LF in the log's 8-bit code page. A path that
// names a file of the open archive (database/ArchiveFiles.h) is refused
// and nothing is written.
SaveListOutcome SaveList(const CDatabase& database, const std::vector<ListRow>& rows, const std::string& path);

// A notice the run showed, once per distinct text, title and icon.
struct ShownNotice {
    std::string text;   // as composed (CR LF line breaks kept)
    std::string title;
    MsgIcon icon = MsgIcon::None;
    long textId = 0;    // its number in the string table; 0 when not known
    int count = 1;      // how often the run showed it
};

// The number of the string-table text that `text` was composed from (its
// placeholders filled by anything); 0 when none fits.
long TextIdOf(const std::string& text);

// A sub database named in the archive's list, after the run.
struct SubDatabaseUse {
    long id = 0;
    std::string path;
    std::int64_t size = -1;  // bytes; -1 when the file is not there
    long documents = 0;      // documents whose data it holds
};
// False (and `error` set) when the list or the counts could not be read.
bool SubDatabaseUses(CDatabase& database, std::vector<SubDatabaseUse>& out, std::string& error);

// Everything the JSON of a check holds beside the findings.
struct CheckRunFacts {
    std::string archive;
    int generation = 0;
    std::string check;           // quick, normal, empty-folders, large-documents
    bool dryRun = false;
    std::vector<std::string> fileChanges;  // a report-only run: what it would rename or delete
    bool cancelled = false;
    bool failed = false;         // repairs not saved or output not written
    std::string started, finished;
    std::vector<ShownNotice> warnings;
    bool subDatabasesKnown = true;
    std::vector<SubDatabaseUse> subDatabases;
    long damaged = 0, fixed = 0;
    // The large-documents check's statistics (JSON "large_documents").
    std::optional<CDatabase::LargeDocumentStats> largeDocuments;
    long checked = 0, total = 0;         // documents reached and in the walk (a cancelled run)
    std::vector<std::string> inUse;      // files another program held: not read
    bool diskFull = false;               // writes were refused for want of space
};
// The run's facts as the core kept them (counters, cancel, files in use, full disk).
void TakeCheckFindings(CheckRunFacts& facts, const CheckFindings& findings);

// The facts of a check as the window and the command line both gather
// them. Before the check: what the run is.
void BeginCheckFacts(CheckRunFacts& facts, const CDatabase& database, const std::string& archive, int item);
// Right after it: when it ended, what it found, what a report-only run
// would change; `cancelled` as the window saw it.
void EndCheckFacts(CheckRunFacts& facts, CDatabase& database, int item, bool cancelled);
// When the facts are written: the notices shown (their text numbers looked
// up) and the sub databases as they are now; false (and `error` set) when
// those could not be read.
bool CompleteCheckFacts(CheckRunFacts& facts, CDatabase& database, std::vector<ShownNotice> notices,
                        std::string& error);

// The check's name in the JSON and on the command line without "--".
std::string CheckItemName(int item);

// cancelled, in_use, disk_full, error, damaged, repaired or clean (the
// first that holds): how the run ended wins over what it found.
std::string CheckOutcome(const CheckRunFacts& facts);
// The command line's exit code of that outcome: 0 clean, 1 repaired,
// 4 damaged, 8 in_use, disk_full or error, 32 cancelled.
int CheckExitCode(const CheckRunFacts& facts);
// This moment as the log's "... started" lines carry it: the date in the
// system's short format, a space, and the time as HH:mm:ss.
std::string LogNow();
// This moment in ISO 8601 with the local offset ("2026-12-06T23:10:04+01:00").
std::string IsoNow();
// The JSON of a check (keys described in docs/json.md).
QJsonDocument CheckJson(const CheckRunFacts& facts, const std::vector<Finding>& findings);

}  // namespace qx
