// frmMain: Database > Bergen… — the salvage of the open archive. What each
// file gave is summed up in one box; the documents whose data did not read
// fill the document list by name, so that the user sees what to scan again.
#include "shell/frmMain.h"

#include "database/CDatabase.h"
#include "database/ProgressWindow.h"
#include "database/maintenance/Salvage.h"
#include "support/FileOperations.h"
#include "support/HumanFormat.h"
#include "support/Log.h"
#include "support/TextResources.h"
#include "windows/MessageBoxes.h"

namespace qx {

void frmMain::miSalvage_Click() {
    if (m_state.m_sDatabaseName.empty()) return;
    const MessageBoxRun run;
    CDatabase& database = Database();
    WriteLog(std::string("Salvage started from the window") + (database.DryRun() ? " (report only)" : ""));
    SalvageReport report;
    {
        // One step per archive: the salvage reads each file whole, so the
        // window shows which archive it reads and that it is busy.
        ProgressWindow progress(*this);
        progress.m_sLblProgress1 = GetResString(290, "Databasebestand: %s");
        progress.m_sLblProgress2 = GetResString(291, "Totale voortgang: (bestand %s/%s)");
        progress.SetInitial(1, 100, false, progress.Now());
        progress.Show();
        progress.SetProgress(0, 1, m_state.m_sDatabaseName);
        (void)database.SalvageArchive(report);
        progress.SetProgress(100, 1, m_state.m_sDatabaseName);
        progress.Hide();
    }

    ListClear(ListId::Documents);
    m_sLastCheck.clear();
    std::string lines;
    for (const SalvageFileReport& f : report.files) {
        lines += SalvageSummaryLine(f, GetFileNamePart(f.file)) + "\r\n";
        for (const SalvageLostDocument& d : f.lost)
            ListAdd(ListId::Documents, ListRow{"ID" + std::to_string(d.id), d.name,
                                               {d.path, GetFileNamePart(f.file), GetResString(496, "Verloren")},
                                               0, true});
    }
    if (report.LostDocuments() > 0)
        lines += "\r\n" + FormatMsg(GetResString(494, "%s documenten zijn verloren; ze staan in de lijst met hun naam."),
                                    {FormatCount(report.LostDocuments())});
    const std::string text =
        report.reportOnly
            ? FormatMsg(GetResString(495, "Alleen rapporteren: dit zou bergen terughalen. Er is niets gewijzigd.%n%n%s"),
                        {lines})
            : FormatMsg(GetResString(490, "Bergen is klaar.%n%n%s"), {lines});
    MsgBox(text, MsgButtons::OK,
           report.Failed() || report.LostDocuments() > 0 ? MsgIcon::Exclamation : MsgIcon::Information,
           GetResString(481, "Redden..."));
    // Files were replaced: what the last check counted no longer describes the archive.
    if (!report.reportOnly) {
        m_state.m_nFixed = -1;
        m_state.m_nDamaged = -1;
    }
    UpdateStatusBar();
}

}  // namespace qx
