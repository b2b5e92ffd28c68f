// CDatabase: the one report every check finding goes through. The finding
// is kept (database/checks/Findings.h); the counters, the status bar, the
// list row and the command line's JSON are all derived from that record.
#include "database/CDatabase.h"
#include "database/checks/CheckSupport.h"
#include "database/checks/ResultCodes.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/TextResources.h"

#include <algorithm>

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
     "Fixed invalid virtual path (document has been moved to the root)", false, 89, "Resources not found"},
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
    {ResultFileSalvaged, "ResultFileSalvaged", "Damaged file salvaged into a fresh copy (", true, 486, "Geborgen"},
    {ResultPdbOutsideArchive, "ResultPdbOutsideArchive", "Sub database lies outside the archive folder (", true, 264,
     "Buiten de archiefmap"},
};

const CodeText* find(int code) {
    for (const CodeText& c : kCodes)
        if (c.code == code) return &c;
    return nullptr;
}

// One rule for every code, known or new: a repair shows its own state
// text, or "Gerepareerd" when its code has none that says so.
std::string StateText(int code, bool inMemory) {
    if (inMemory) return GetResString(217, "Zou worden hersteld");
    const CodeText* c = find(code);
    const bool repaired = IsRepaired(code);
    if (c && (!repaired || c->stateId != 88)) return GetResString(c->stateId, c->stateDefault);
    return repaired ? GetResString(89, "Gerepareerd") : GetResString(88, "Beschadigd");
}

}  // namespace

std::string FindingStateText(int code, bool inMemory) { return StateText(code, inMemory); }

void CheckFindings::add(Finding finding) {
    (finding.repaired ? m_fixed : m_damaged)++;
    m_findings.push_back(std::move(finding));
}

void CheckFindings::reorder(std::size_t first, const std::vector<std::size_t>& order) {
    if (first > m_findings.size() || order.size() != m_findings.size() - first) return;
    std::vector<Finding> tail;
    tail.reserve(order.size());
    for (const std::size_t i : order) tail.push_back(std::move(m_findings[first + i]));
    std::move(tail.begin(), tail.end(), m_findings.begin() + static_cast<std::ptrdiff_t>(first));
}

bool CheckFindings::forget(long id) {
    if (id == 0) return false;
    const auto before = m_findings.size();
    std::erase_if(m_findings, [&](const Finding& f) {
        if (f.id != id) return false;
        (f.repaired ? m_fixed : m_damaged)--;
        return true;
    });
    return m_findings.size() != before;
}

void CheckFindings::noteInUse(const std::string& path) {
    if (std::find(inUse.begin(), inUse.end(), path) == inUse.end()) inUse.push_back(path);
}

const char* ResultCodeName(int code) {
    const CodeText* c = find(code);
    return c ? c->name : "";
}

void CDatabase::ReportOutsideSubDatabase(const std::string& sPath) {
    if (!m_outsideSubDatabases || !m_outsideSubDatabases->insert(sPath).second) return;
    WriteLog("Sub database '" + sPath + "' lies outside the archive folder; it is read, never changed");
    ReportResult(0, ResultPdbOutsideArchive, sPath, "", "");
}

void CDatabase::ReportSubDatabaseInUse(const std::string& sPath, const char* what) {
    m_findings.noteInUse(sPath);
    if (!m_lockedSubDatabases || !m_lockedSubDatabases->insert(sPath).second) return;
    // Locked is not damaged: said as such, once; nothing in it is judged.
    WriteLog("Sub database '" + sPath + "' is in use by another program; its " + what + " are not checked");
    m_window.MsgBox(FormatMsg(GetResString(263, "De subdatabase '%s' is in gebruik door een ander programma; wat "
                                                "erin staat is niet gecontroleerd. Sluit alle Vellumo programma's "
                                                "en voer de controle opnieuw uit. De subdatabase is niet "
                                                "beschadigd."),
                              {sPath}),
                    MsgButtons::OK, MsgIcon::Exclamation, GetResString(201, "Database in gebruik..."));
}

void CDatabase::ForgetFindings(long nId) {
    if (!m_findings.forget(nId)) return;
    MainWindowState& state = m_window.State();
    if (state.m_nDamaged < 0) return;  // the counters show no check (any more)
    state.m_nDamaged = m_findings.damaged();
    state.m_nFixed = m_findings.fixed();
    m_window.UpdateStatusBar();
}

void CDatabase::ReportTrappedErrors(const ErrorTrap& trap) {
    if (trap.diskFull() > 0) {
        // A full disk refused writes: no finding, the run says so instead.
        m_findings.diskFull = true;
        std::string& first = m_window.State().m_sSaveError;
        if (first.empty()) first = trap.firstDiskFull();
        trap.settleDiskFull();
    }
    if (trap.unreported() == 0) return;
    WriteLog(std::to_string(trap.unreported()) + " error(s) met during the check; the first: " +
             trap.firstUnreported());
    const std::string first = trap.firstUnreported();
    trap.settle();
    ReportResult(0, ResultDatabaseError, "", first, "");
}

void CDatabase::ReportResult(long nId, short nCode, const std::string& sPicbase, const std::string& sName,
                             const std::string& sVirtualPath) {
    // A report-only run made the repair in memory only.
    const bool inMemory = DryRun() && IsRepaired(nCode);
    Finding finding{nId, nCode, sPicbase, sName, sVirtualPath, IsRepaired(nCode), inMemory,
                    StateText(nCode, inMemory)};
    m_findings.add(finding);
    MainWindowState& state = m_window.State();
    state.m_nDamaged = m_findings.damaged();
    state.m_nFixed = m_findings.fixed();
    m_window.UpdateStatusBar();

    const CodeText* c = find(nCode);
    std::string line = std::to_string(nId) + " [" + sVirtualPath + sName + "] - ";
    if (!c) line += "Unknown error";
    else if (c->withPath) line += std::string(c->log) + sPicbase + ")";
    else line += c->log;
    if (inMemory) line += " (report only: not saved)";
    WriteLog(line);

    // A repair that made or relinked a record reports it before its caller
    // knows its name ("Fixed N" rows, relinked documents): the row shows the
    // record as it stands now. The log line above keeps what was reported.
    std::string name = sName, virtualPath = sVirtualPath;
    if (nId > 0 && (name.empty() || virtualPath.empty()) && Connected(m_AdoCnMain))
        if (sql::Statement* st = m_AdoCnMain->prepared("SELECT NAME FROM FOLDERS WHERE ID = ?")) {
            st->bind(1, static_cast<std::int64_t>(nId));
            if (st->step() == sql::Step::Row) {
                if (name.empty() && !st->isNull(0)) name = st->getText(0);
                st->reset();
                long pathId = nId;
                std::string path;
                if (virtualPath.empty() && VirtualDocumentPath(pathId, path) == 0) virtualPath = path;
            } else {
                st->reset();
            }
        }

    ListRow row;
    if (nId != 0) row.key = "ID" + std::to_string(nId);
    row.text = name;
    row.tag = nCode;
    row.subItems = {virtualPath, GetFileNamePart(sPicbase), finding.state};
    ResumeNoteRow(row);
    // A second finding for the same document keeps the first row.
    if (m_heldRows) {
        m_heldRows->push_back(row);
        if (m_heldPlaces) m_heldPlaces->push_back(m_walkPlace);
    } else m_window.ListAdd(ListId::Documents, row);
}

}  // namespace qx
