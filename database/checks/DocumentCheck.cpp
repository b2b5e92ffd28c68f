// CDatabase: the check command. Dispatches to the single checks or runs the
// document check, which visits every document row once.
#include "database/CDatabase.h"
#include "database/ProgressWindow.h"
#include "database/checks/CheckSupport.h"
#include "database/checks/ResultCodes.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <cmath>

namespace qx {

namespace {

enum CheckBits : short {
    BitMoveBrokenPaths = 2,
    BitSearchEmpty = 4,
    BitThorough = 8,
    BitSearchMissing = 16,
    BitLinkCheck = 32,
    BitTrash = 256,
};

// The document rows; DATABASEID and PARENT are written back in place.
constexpr const char* kDocumentRows =
    "SELECT ID, PARENT, NAME, TEMPLATE1, NOTES, DATABASEID, TRASHMARK FROM FOLDERS WHERE NOT ISFOLDER ORDER BY PARENT";
// Generations without trash support have no TRASHMARK column; nothing is in the trash there.
constexpr const char* kDocumentRowsWithoutTrash =
    "SELECT ID, PARENT, NAME, TEMPLATE1, NOTES, DATABASEID, 0 AS TRASHMARK FROM FOLDERS WHERE NOT ISFOLDER "
    "ORDER BY PARENT";

}  // namespace

void CDatabase::Analyse(short& Flags) {
    if (!Connected(m_AdoCnMain)) return;
    long currentId = 0;
    ErrorTrap trap("Level 2 Check", currentId);
    m_window.ListClear(ListId::Documents);
    const bool savedShowErrors = m_bShowErrors;
    m_bShowErrors = false;
    struct Restore {
        CDatabase& db;
        bool saved;
        ~Restore() {
            db.m_bShowErrors = saved;
            db.m_folderPaths = nullptr;
        }
    } restore{*this, savedShowErrors};
    // Folders do not change during a check; their paths are looked up once.
    std::unordered_map<long, std::pair<std::string, short>> folderPaths;
    m_folderPaths = &folderPaths;

    if (Flags == 64) return AnalyseFolders();
    if (Flags == 128) return AnalyseLargeDocs();

    bool cancelled = false;
    ProgressWindow progress(m_window);
    if (Flags != BitLinkCheck) {
        if ((Flags & BitTrash) && Settings::Get().DatabaseVersion == 8) EnableTrashSupport();
        m_window.SetEnabled(false);
        if ((Flags & BitThorough) && Settings::Get().DatabaseVersion == 8 && !OfferPreCheckCompaction()) {
            m_window.State().m_bAnalysed = false;
            return;
        }
        cancelled = !CheckDocuments(Flags, progress, currentId, trap);
    }
    if (!(Flags & BitLinkCheck) || cancelled) {
        progress.Hide();
    } else {
        AnalyseLinkTo();
        // The link check hides the window when it is done; only its Cancel counts.
        cancelled = m_bLinkCheckCancelled;
    }
    m_window.State().m_bAnalysed = !cancelled;
    m_bShowErrors = savedShowErrors;
    if ((Flags & BitThorough) && Settings::Get().DatabaseVersion == 8) ShowBackupSummary();
    if (m_window.ListCount(ListId::Documents) == 0) {
        WriteLog("No errors found in this database");
        m_window.MsgBox(GetResString(101, "Resources not found"), MsgButtons::OK, MsgIcon::Information,
                        GetResString(1, "Resources not found"));
    }
}

bool CDatabase::CheckDocuments(short flags, ProgressWindow& progress, long& currentId, ErrorTrap& trap) {
    const long total = CountRows(*m_AdoCnMain, "SELECT COUNT(*) AS CNT FROM FOLDERS WHERE NOT ISFOLDER", trap);
    const double step = total > 0 ? 100.0 / total : 0.0;
    double position = 0;
    long index = 0;
    progress.SetInitial(total, 100, (flags & BitThorough) != 0, progress.Now());
    progress.m_sLblProgress1 = GetResString(62, "Resources not found");
    progress.m_sLblProgress2 = GetResString(63, "Resources not found");
    progress.Show();

    // One read transaction per file for the whole walk: a lookup outside a
    // transaction costs several times the lookup itself. Repairs are
    // committed right after the document that needed them.
    engine::HeldTransaction mainHold(*m_AdoCnMain);
    std::unique_ptr<engine::HeldTransaction> pdbHold;

    engine::Recordset rows;
    if (!rows.open(GenerationHasTrashMark() ? kDocumentRows : kDocumentRowsWithoutTrash, *m_AdoCnMain,
                   engine::CursorMode::Edit))
        trap(*m_AdoCnMain);
    for (; rows.isOpen() && !rows.eof() && progress.Visible(); rows.moveNext()) {
        currentId = rows.value("ID").toLong();
        const std::string name = NullToStr(rows.value("NAME"));
        ++index;
        position += step;
        progress.SetProgress(static_cast<int>(std::nearbyint(position)), index, name);
        progress.SetTimedUpdate(true);

        CheckDocument(rows, flags, currentId, name, trap, [&] {
            if (!pdbHold || !pdbHold->holds(m_AdoCnPdb.get())) {
                pdbHold.reset();
                pdbHold = std::make_unique<engine::HeldTransaction>(*m_AdoCnPdb);
            }
        });
        mainHold.checkpoint();
        if (pdbHold) pdbHold->checkpoint();
        m_window.DoEvents();
        progress.SetTimedUpdate(false);
    }
    pdbHold.reset();
    return progress.Visible();
}

void CDatabase::CheckDocument(engine::Recordset& rows, short flags, long id, const std::string& name, ErrorTrap& trap,
                              const std::function<void()>& holdPdb) {
    short code = 0;
    std::string virtualPath;
    std::string picbase;
    long databaseId = rows.value("DATABASEID").toLong();
    long docId = id;
    const short status = OpenPicbase(docId, &picbase, &databaseId);
    if (status != 0) return ReportResult(id, status, picbase, name, "");
    holdPdb();

    // The row's own PARENT is what the parent lookup would read again.
    const Variant parentValue = rows.value("PARENT");
    long parent = parentValue.isNull() ? 0 : parentValue.toLong();
    if (parent == id) parent = 0;
    const short pathStatus = PathBelow(parent, virtualPath);

    sql::Statement* data = m_AdoCnPdb->prepared("SELECT length(PICTURE) FROM PICTURES WHERE ID = ?");
    if (!data) {
        trap(*m_AdoCnPdb);
    } else {
        data->bind(1, static_cast<std::int64_t>(id));
        const sql::Step found = data->step();
        const bool hasRow = found == sql::Step::Row;
        const std::int64_t size = hasRow && !data->isNull(0) ? data->getInt64(0) : 0;
        if (found == sql::Step::Failed) trap(data->error());
        data->reset();
        auto relink = [&](long alt) {
            if (!rows.setValue("DATABASEID", alt) || !rows.update()) {
                trap(rows.lastError());
                rows.cancelUpdate();
                return false;
            }
            return true;
        };
        if (found == sql::Step::Done) {
            if (flags & BitSearchMissing) {
                const long alt = FindAlternativePicbase(databaseId, id);
                if (alt < 1) code = ResultBadLink;
                else if (relink(alt)) ReportResult(id, ResultBadLinkFixed, picbase, name, "");
            }
        } else if (hasRow && size == 0) {
            WriteLog(std::to_string(id) + " - Empty document found searching alternative");
            if (flags & BitSearchEmpty) {
                const long alt = FindAlternativePicbase(databaseId, id);
                if (alt < 1) code = ResultEmptyDocument;
                else if (relink(alt)) ReportResult(id, ResultEmptyFixed, picbase, name, virtualPath);
            }
        } else if (hasRow && (flags & BitThorough)) {
            code = CheckDocumentContent(rows, id, name, picbase, virtualPath);
        }
    }

    if ((flags & BitMoveBrokenPaths) && pathStatus != 0) {
        const std::string template1 = NullToStr(rows.value("TEMPLATE1"));
        // A page stays with its document; only the document is moved.
        if (template1.rfind("MC", 0) != 0) {
            if (!rows.setValue("PARENT", Variant()) || !rows.update()) {
                trap(rows.lastError());
                rows.cancelUpdate();
            } else {
                ReportResult(id, ResultVirtualPathFixed, picbase, name, "\\");
            }
        }
    }
    if (code != 0) ReportResult(id, code, picbase, name, virtualPath);
}

bool CDatabase::GenerationHasTrashMark() {
    sql::Statement* probe = m_AdoCnMain->prepared("SELECT TRASHMARK FROM FOLDERS WHERE ID IS NULL");
    return probe != nullptr;
}

// The thorough check's own steps come with the thorough check: trash support,
// the offer to compact large sub databases, loading each graphical document
// and repairing storage formats, and the summary of the backups written.
bool CDatabase::EnableTrashSupport() { return false; }
bool CDatabase::OfferPreCheckCompaction() { return true; }
short CDatabase::CheckDocumentContent(engine::Recordset&, long, const std::string&, const std::string&,
                                      const std::string&) {
    return 0;
}
void CDatabase::ShowBackupSummary() {}

}  // namespace qx
