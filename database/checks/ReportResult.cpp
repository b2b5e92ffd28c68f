// CDatabase: the one report every check finding goes through: counter and
// status bar, log line, row of the damaged-document list.
#include "database/CDatabase.h"
#include "database/checks/CheckSupport.h"
#include "database/checks/ResultCodes.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/TextResources.h"

namespace qx {

namespace {

struct CodeText {
    short code;
    const char* name;
    const char* log;      // text after "] - "
    bool withPath;        // the sub database path follows in parentheses
    int stateId;
    const char* stateDefault;
};

constexpr CodeText kCodes[] = {
    {ResultPdbDamaged, "ResultPdbDamaged", "Sub databese is damaged (", true, 88, "Resources not found"},
    {ResultPdbNotFound, "ResultPdbNotFound", "Sub databse found (", true, 103, "Niet gevonden"},
    {ResultBadLink, "ResultBadLink", "Bad link to document", false, 88, "Resources not found"},
    {ResultStrayDuplicate, "ResultStrayDuplicate",
     "Unreferenced data with this document's ID in another sub database (", true, 280, "Dubbel nummer"},
    {ResultPdbLinkError, "ResultPdbLinkError", "Error linking sub database (", true, 88, "Resources not found"},
    {ResultDatabaseError, "ResultDatabaseError", "Database error:", false, 88, "Resources not found"},
    {ResultEmptyDocument, "ResultEmptyDocument", "Empty document", false, 88, "Resources not found"},
    {ResultVirtualPathFixed, "ResultVirtualPathFixed",
     "Fixed invalid virtual path (document has been moved to the root)", false, 88, "Resources not found"},
    {ResultPdbOpenError, "ResultPdbOpenError", "Could not open pdb (", true, 88, "Resources not found"},
    {ResultCorruptDocument, "ResultCorruptDocument", "Corrupt document", false, 88, "Resources not found"},
    {ResultDuplicateFixed, "ResultDuplicateFixed", "Duplicate reference found: Fixed", false, 89, "Resources not found"},
    {ResultBadLinkFixed, "ResultBadLinkFixed", "Bad link: Fixed link to document", false, 89, "Resources not found"},
    {ResultLinkCreated, "ResultLinkCreated", "No link: Created link to document", false, 89, "Resources not found"},
    {ResultEmptyFixed, "ResultEmptyFixed", "Fixed empty document: alternative sub database found", false, 89,
     "Resources not found"},
    {ResultMultipageOrphanFixed, "ResultMultipageOrphanFixed", "Fixed multipage orphan", false, 104, "Gesplitst"},
    {ResultCorruptFixed, "ResultCorruptFixed", "Fixed corrupt document: alternative sub database found", false, 89,
     "Resources not found"},
    {ResultEmptyFolder, "ResultEmptyFolder", "This is an empty folder", false, 90, "Resources not found"},
    {ResultDoubleByteFormat, "ResultDoubleByteFormat", "Invalid document (double-byte) format", false, 88,
     "Resources not found"},
    {ResultDoubleByteFormatFixed, "ResultDoubleByteFormatFixed", "Fixed invalid document (double-byte) format",
     false, 136, "Aangepast"},
    {ResultFileDamaged, "ResultFileDamaged", "Damaged file found by the integrity check (", true, 250,
     "Bestand beschadigd"},
    {ResultIndexRebuilt, "ResultIndexRebuilt", "Damaged index rebuilt from its table (", true, 251,
     "Index opnieuw opgebouwd"},
};

const CodeText* find(int code) {
    for (const CodeText& c : kCodes)
        if (c.code == code) return &c;
    return nullptr;
}

}  // namespace

const char* ResultCodeName(int code) {
    const CodeText* c = find(code);
    return c ? c->name : "";
}

void CDatabase::ReportOutsideSubDatabase(const std::string& sPath) {
    if (!m_outsideSubDatabases || !m_outsideSubDatabases->insert(sPath).second) return;
    WriteLog("Sub database '" + sPath + "' was found only outside the archive folder; it is read, never changed");
    ReportResult(0, ResultPdbNotFound, sPath, "", "");
}

void CDatabase::ReportTrappedErrors(const ErrorTrap& trap) {
    if (trap.unreported() == 0) return;
    WriteLog(std::to_string(trap.unreported()) + " error(s) met during the check; the first: " +
             trap.firstUnreported());
    const std::string first = trap.firstUnreported();
    trap.settle();
    ReportResult(0, ResultDatabaseError, "", first, "");
}

void CDatabase::ReportResult(long nId, short nCode, const std::string& sPicbase, const std::string& sName,
                             const std::string& sVirtualPath) {
    MainWindowState& state = m_window.State();
    if (IsRepaired(nCode)) ++state.m_nFixed;
    else ++state.m_nDamaged;
    m_window.UpdateStatusBar();

    const CodeText* c = find(nCode);
    std::string line = std::to_string(nId) + " [" + sVirtualPath + sName + "] - ";
    if (!c) line += "Unknown error";
    else if (c->withPath) line += std::string(c->log) + sPicbase + ")";
    else line += c->log;
    // A report-only run made the repair in memory only.
    const bool inMemory = DryRun() && IsRepaired(nCode);
    if (inMemory) line += " (report only: not saved)";
    WriteLog(line);

    ListRow row;
    if (nId != 0) row.key = "ID" + std::to_string(nId);
    row.text = sName;
    row.tag = nCode;
    row.subItems = {sVirtualPath, GetFileNamePart(sPicbase),
                    inMemory ? GetResString(217, "Zou worden hersteld")
                    : c      ? GetResString(c->stateId, c->stateDefault)
                             : GetResString(88, "Resources not found")};
    // A second finding for the same document keeps the first row.
    m_window.ListAdd(ListId::Documents, row);
}

}  // namespace qx
