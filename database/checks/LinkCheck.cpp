// CDatabase: the link check walks the stored data of every sub database and
// makes sure each data row belongs to a document record.
#include "database/CDatabase.h"
#include "database/ProgressWindow.h"
#include "database/access/SubDatabasePlace.h"
#include "database/checks/CheckSupport.h"
#include "database/checks/ResultCodes.h"
#include "support/FileOperations.h"
#include "support/ImageLoader.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace qx {

namespace {

// Rows of a sub database the link check reads at once.
constexpr int kLinkCheckPiece = 128;

// The length of the data of document `id` in sub database `databaseId`;
// nothing when it has no row there or the row cannot be read.
std::optional<std::int64_t> OwnDataLength(CDatabase& database, long databaseId, long id) {
    sql::Statement* find = database.m_AdoCnMain->prepared("SELECT DATABASE FROM DATABASES WHERE ID = ?");
    if (!find) return std::nullopt;
    find->bind(1, static_cast<std::int64_t>(databaseId));
    const bool listed = find->step() == sql::Step::Row && !find->isNull(0);
    const std::string path = listed ? find->getText(0) : std::string();
    find->reset();
    if (!listed) return std::nullopt;
    const SubDatabaseLocation location = LocateSubDatabase(database.env(), path, database.MainDatabaseName());
    if (location.place == SubDatabasePlace::OwnFile) return std::nullopt;
    // Only ever read: the file may lie outside the archive.
    engine::Connection cn(database.env());
    if (!cn.open(ReadOnlyConnectString(CDatabase::ConnectString(path, Settings::Get().DatabasePassword))))
        return std::nullopt;
    sql::Statement row(cn.database(), "SELECT length(PICTURE) FROM PICTURES WHERE ID = ?");
    row.bind(1, static_cast<std::int64_t>(id));
    if (row.step() != sql::Step::Row) return std::nullopt;
    return row.isNull(0) ? 0 : row.getInt64(0);
}

}  // namespace

void CDatabase::AnalyseLinkTo() {
    m_bLinkCheckCancelled = false;
    if (!Connected(m_AdoCnMain)) return;
    long currentId = 0;
    ErrorTrap trap("Level 1 Check", currentId);
    const TrappedErrorsAtEnd reportTrapped{*this, trap};
    const KeepAlternativeCandidates candidates(*this);

    const long total = CountRows(*m_AdoCnMain, "SELECT COUNT(*) AS CNT FROM FOLDERS WHERE NOT ISFOLDER", trap);
    if (total <= 0) return;
    const double step = 100.0 / total;
    double position = 0;
    long counter = 0;
    ProgressWindow progress(m_window);
    progress.m_sPhase = GetResString(388, "koppelingen");
    progress.Start(total, 98, 99);
    const std::string rowLabel = GetResString(100, "Resources not found");

    const std::string mainPath = MainDatabaseName();
    engine::HeldTransaction mainHold(*m_AdoCnMain);
    engine::Recordset databases;
    if (!databases.open("SELECT * FROM DATABASES", *m_AdoCnMain, engine::CursorMode::Lookup)) trap(*m_AdoCnMain);
    for (; databases.isOpen() && !databases.eof() && progress.Visible(); databases.moveNext()) {
        Disconnect(m_AdoCnPdb);
        const std::string path = NullToStr(databases.value("DATABASE"));
        const long databaseId = databases.value("ID").toLong();
        // Only the archive's own sub databases are changed: a row may name a
        // file elsewhere (it is read only) or the main database itself.
        const SubDatabaseLocation location = LocateSubDatabase(*m_env, path, mainPath);
        if (location.place == SubDatabasePlace::OwnFile) {
            WriteLog(NamesOwnFileLine(databaseId, path, location));
            ReportResult(0, ResultPdbOpenError, path, "", "");
            break;
        }
        // A missing file is one finding, "not found"; only a file that is
        // there can lie outside the folder.
        if (!m_env->FileExists(path)) {
            ReportResult(0, ResultPdbNotFound, path, "", "");
            break;
        }
        // Found held earlier in this check: waited for once, named once.
        if (m_lockedSubDatabases && m_lockedSubDatabases->count(path)) continue;
        const bool outside = location.place == SubDatabasePlace::Outside;
        if (outside) ReportOutsideSubDatabase(path);
        const std::string connectString = ConnectString(path, Settings::Get().DatabasePassword);
        m_AdoCnPdb = OpenConnection(outside ? ReadOnlyConnectString(connectString) : connectString);
        if (!Connected(m_AdoCnPdb)) {
            const long code = m_lastOpenError.number & 0xff;
            if (code == sql::kBusy || code == sql::kLocked) {
                // In use is not damaged: said as such, once, and the other
                // sub databases are examined all the same.
                ReportSubDatabaseInUse(path, "links");
                continue;
            }
            ReportResult(0, ResultPdbOpenError, path, "", "");
            // One unreadable sub database ends the walk: the rest are not examined.
            break;
        }
        WriteLog("Analysing links to " + path);
        {
            engine::HeldTransaction pdbHold(*m_AdoCnPdb);
            // The rows are walked in small pieces by ID: a keyset of the
            // whole table grows with it, and the pages of a small piece are
            // still in the engine's cache when each row is read again to be
            // judged, instead of being read and decrypted a second time.
            std::optional<long> after;
            for (bool more = true; more && progress.Visible();) {
                engine::Recordset data;
                const std::string piece = "SELECT ID, PICTURE FROM PICTURES" +
                                          (after ? " WHERE ID > " + std::to_string(*after) : std::string()) +
                                          " ORDER BY ID LIMIT " + std::to_string(kLinkCheckPiece);
                if (!data.open(piece, *m_AdoCnPdb, engine::CursorMode::Edit)) {
                    // A sub database whose rows cannot be read is damaged, not empty.
                    trap.logReported(data.lastError());
                    ReportResult(0, ResultPdbDamaged, path, "", "");
                    break;
                }
                more = !data.eof();
                for (; data.isOpen() && !data.eof() && progress.Visible(); data.moveNext()) {
                    currentId = data.value("ID").toLong();
                    after = currentId;
                    const std::int64_t size = data.actualSize("PICTURE");
                    CheckDataRow(data, currentId, size, databaseId, path, outside, trap);
                    position += step;
                    ++counter;
                    progress.SetProgress(static_cast<int>(std::nearbyint(position)), counter,
                                         rowLabel + std::to_string(currentId));
                    mainHold.checkpoint();
                    pdbHold.checkpoint();
                    m_window.DoEvents();
                    if (mainHold.error() || pdbHold.error()) {
                        more = false;  // later repairs would be refused too
                        break;
                    }
                }
                if (data.readFailed()) {
                    trap.logReported(data.lastError());
                    ReportResult(0, ResultPdbDamaged, path, "", "");
                    more = false;
                }
            }
            if (!pdbHold.finish()) NoteSaveFailure(path, pdbHold.error());
        }
        if (mainHold.error() || !m_window.State().m_sSaveError.empty()) break;
        Disconnect(m_AdoCnPdb);
        m_window.DoEvents();
    }
    if (!mainHold.finish()) NoteSaveFailure(mainPath, mainHold.error());
    m_bLinkCheckCancelled = !progress.Visible();
    // Stored rows visited, against the documents the progress counts in.
    m_findings.checked = std::min(counter, total);
    m_findings.total = total;
    Disconnect(m_AdoCnPdb);
    progress.Hide();
}

void CDatabase::CheckDataRow(engine::Recordset& data, long id, std::int64_t size, long databaseId,
                             const std::string& path, bool outside, ErrorTrap& trap) {
    sql::Statement* doc = m_AdoCnMain->prepared(
        "SELECT ID, NAME, PARENT, DATE, DATABASEID, PAGE, TEMPLATE1, WIDTH, HEIGHT FROM FOLDERS WHERE ID = ?");
    if (!doc) return trap(*m_AdoCnMain);
    doc->bind(1, static_cast<std::int64_t>(id));
    const sql::Step found = doc->step();
    if (found == sql::Step::Failed) return trap(doc->error());
    if (found == sql::Step::Done) {
        if (size == 0 && outside) {
            WriteLog(NotRepairedOutsideLine(id, "Empty unreferenced document detected,", path));
            ReportResult(id, ResultEmptyDocument, path, "", "");
            return;
        }
        if (size == 0) {
            WriteLog(std::to_string(id) + " - Empty unreferenced document detected: deleting");
            if (!data.deleteCurrent()) trap(data.lastError());
            return;
        }
        sql::Statement* add = m_AdoCnMain->prepared(
            "INSERT INTO FOLDERS (ID, NAME, PARENT, DATABASEID, DATE) VALUES (?, ?, NULL, ?, ?)");
        if (!add) return trap(*m_AdoCnMain);
        add->bind(1, static_cast<std::int64_t>(id));
        add->bind(2, std::string_view("Fixed " + std::to_string(id)));
        add->bind(3, static_cast<std::int64_t>(databaseId));
        add->bind(4, std::string_view(TodayStamp()));
        if (!add->run()) return trap(add->error());
        // The new document is graphical; a thorough run judges it now, as
        // the next run's walk would: one that does not load is reachable
        // again, but it is no repair.
        if (m_bJudgeRelinkCopies) {
            const ImageLoad load = LoadDocumentImage(data.value("PICTURE").toBytes());
            if (LoadResult(id, load.status, load.why) != 0) {
                WriteLog(std::to_string(id) + " - a document was made for data without one; the data does not load");
                return ReportResult(id, ResultCorruptDocument, path, "", "");
            }
        }
        ReportResult(id, ResultLinkCreated, path, "", "");
        return;
    }
    const long docId = static_cast<long>(doc->getInt64(0));
    const std::string name = doc->isNull(1) ? std::string() : doc->getText(1);
    const long linkedTo = static_cast<long>(doc->getInt64(4));
    const std::string template1 = doc->isNull(6) ? std::string() : doc->getText(6);
    doc->reset();

    std::string virtualPath;
    long pathId = docId;
    if (VirtualDocumentPath(pathId, virtualPath) != 0) virtualPath = "\\";

    if (template1.rfind("MC", 0) == 0) {
        long container = 0;
        if (!ParseWholeNumber(template1.substr(2), container)) {
            // A marker without a number names no container; splitting on it
            // could tear a page from its real document.
            trap(sql::Error{13, "Type mismatch: '" + template1 + "' names no container"});
        } else {
            sql::Statement* mp =
                m_AdoCnMain->prepared("SELECT TEMPLATE1 FROM FOLDERS WHERE ID = ? AND TEMPLATE1 LIKE 'MP%'");
            if (!mp) {
                trap(*m_AdoCnMain);
            } else {
                mp->bind(1, static_cast<std::int64_t>(container));
                const sql::Step hasContainer = mp->step();
                mp->reset();
                if (hasContainer == sql::Step::Failed) {
                    trap(mp->error());
                } else if (hasContainer == sql::Step::Done) {
                    sql::Statement* split = m_AdoCnMain->prepared(
                        "UPDATE FOLDERS SET PAGE = 1, TEMPLATE1 = NULL, WIDTH = 0, HEIGHT = 0 WHERE ID = ?");
                    if (!split) {
                        trap(*m_AdoCnMain);
                    } else {
                        split->bind(1, static_cast<std::int64_t>(docId));
                        if (!split->run()) trap(split->error());
                        else ReportResult(id, ResultMultipageOrphanFixed, path, name, virtualPath);
                    }
                }
            }
        }
    }

    // An empty row in a sub database the document is not linked to is a
    // leftover of that sub database, whatever becomes of the document: it
    // is never a reason to move the document.
    if (size == 0 && linkedTo != databaseId) {
        if (outside) {
            WriteLog(NotRepairedOutsideLine(id, "Empty unreferenced document detected,", path));
            ReportResult(id, ResultEmptyDocument, path, "", "");
            return;
        }
        WriteLog(std::to_string(id) + " - Empty unreferenced document detected: deleting");
        if (!data.deleteCurrent()) trap(data.lastError());
        return;
    }
    // A row with data in a sub database the document is not linked to, while
    // the document's own sub database holds its data, is not the document's:
    // its bytes belong to no document. It is reported, never moved onto the
    // document; a reorganize makes it a document of its own.
    if (size > 0 && linkedTo != databaseId && OwnDataLength(*this, linkedTo, id).value_or(0) > 0) {
        WriteLog(std::to_string(id) + " - Unreferenced data with the ID of a document of another sub database");
        ReportResult(id, ResultStrayDuplicate, path, name, virtualPath);
        return;
    }
    if (size == 0) {
        const long alt = FindAlternativePicbase(linkedTo, id, m_bJudgeRelinkCopies && IsGraphicalTemplate(template1));
        if (alt != 0 && outside) {
            // The relink and the removal of the empty row go together.
            WriteLog(NotRepairedOutsideLine(id, "Empty document", path));
            ReportResult(id, ResultEmptyDocument, path, name, virtualPath);
        } else if (alt != 0) {
            ReportResult(id, ResultEmptyFixed, path, name, virtualPath);
            sql::Statement* relink = m_AdoCnMain->prepared("UPDATE FOLDERS SET DATABASEID = ? WHERE ID = ?");
            if (!relink) return trap(*m_AdoCnMain);
            relink->bind(1, static_cast<std::int64_t>(alt));
            relink->bind(2, static_cast<std::int64_t>(docId));
            if (!relink->run()) return trap(relink->error());
            if (!data.deleteCurrent()) trap(data.lastError());
        } else {
            ReportResult(id, ResultEmptyDocument, path, name, virtualPath);
        }
    }
}

}  // namespace qx
