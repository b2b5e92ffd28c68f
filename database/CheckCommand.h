#pragma once
// The check commands of the main window's check menu, shared by the window
// and the command line: the log header, the counters, the window kept inert
// while the check runs, and the sub-database list brought up to date after.
#include "database/CDatabase.h"

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

}  // namespace qx
