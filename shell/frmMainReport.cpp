// frmMain: the last check as an HTML page, written by the same core code as
// quillex-cli check --html.
#include "shell/frmMain.h"

#include "database/HtmlReport.h"
#include "support/Log.h"
#include "support/TextResources.h"
#include "windows/CFileDlg.h"

#include <QAction>

namespace qx {

void frmMain::miSaveHtmlReport_Click() {
    if (!m_checkFacts) return;
    const QString caption = QString::fromStdString(GetResString(478, "Rapport opslaan als &HTML...")).remove(u'&');
    CFileDlg dialog;
    dialog.ParentForm = this;
    dialog.Filter = QString::fromStdString(GetResString(479, "HTML-bestanden (*.html)|*.html"));
    dialog.FilterIndex = 1;
    dialog.Caption = caption;
    dialog.DefaultExt = QStringLiteral("html");
    dialog.OverwritePrompt = true;
    if (!dialog.ShowSave()) return;
    const std::string file = dialog.FullName(QStringLiteral("1")).toStdString();

    // The facts as they stand now: a document removed since the check has left the counters.
    CheckRunFacts facts = *m_checkFacts;
    std::string error;
    if (!CompleteCheckFacts(facts, Database(), m_shownNotices, error))
        WriteLog("The report shows no sub databases: " + error);
    const std::string html = HtmlReport(CheckJson(facts, Database().Findings().all()).object());
    const SaveReportOutcome saved = SaveReportFile(Database(), UserFileLayer(m_files), file, html, error);
    if (saved == SaveReportOutcome::Saved) return;
    const std::string why = saved == SaveReportOutcome::ArchiveFile
                                ? GetResString(475, "het bestand hoort bij het archief")
                                : error;
    WriteLog("The report could not be saved to " + file + ": " + why);
    MsgBox(FormatMsg(GetResString(480, "Het rapport is niet opgeslagen in '%s': %s"), {file, why}), MsgButtons::OK,
           MsgIcon::Exclamation, caption.toStdString());
}

}  // namespace qx
