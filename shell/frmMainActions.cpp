// frmMain: the actions on the damaged-document list (remove, information,
// print, save), reorganizing the archive, and the Help menu.
#include "shell/frmMain.h"

#include "database/CheckCommand.h"
#include "database/DocumentActions.h"
#include "database/StatusBar.h"
#include "shell/HelpTopics.h"
#include "shell/ListPrintout.h"
#include "shell/ReportList.h"
#include "support/Log.h"
#include "support/TextResources.h"
#include "windows/Associated.h"
#include "windows/CFileDlg.h"
#include "windows/MessageBoxes.h"
#include "windows/frmAbout.h"
#include "windows/frmInformation.h"
#include "windows/frmReorganize.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QLocale>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <utility>

namespace qx {

namespace {

frmMain::PrintDialogRunner& InstalledPrintDialog() {
    static frmMain::PrintDialogRunner runner;
    return runner;
}

}  // namespace

frmMain::PrintDialogRunner frmMain::SetPrintDialogRunner(PrintDialogRunner runner) {
    return std::exchange(InstalledPrintDialog(), std::move(runner));
}

namespace {
QDateTime& FixedPrintTime() {
    static QDateTime fixed;
    return fixed;
}
}  // namespace

QDateTime frmMain::SetPrintTime(const QDateTime& fixed) { return std::exchange(FixedPrintTime(), fixed); }

void frmMain::ConnectListActions() {
    connect(miRemoveDocs, &QAction::triggered, this, &frmMain::miRemoveDocs_Click);
    connect(miDocumentInfo, &QAction::triggered, this, &frmMain::miDocumentInfo_Click);
    connect(miPrintList, &QAction::triggered, this, &frmMain::miPrintList_Click);
    connect(miSaveList, &QAction::triggered, this, &frmMain::miSaveList_Click);
    connect(miDisplayHelp, &QAction::triggered, this, &frmMain::miDisplayHelp_Click);
    connect(miAbout, &QAction::triggered, this, &frmMain::miAbout_Click);
    connect(lvDocuments, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) {
        if (row && miDocumentInfo->isEnabled()) miDocumentInfo_Click();
    });
}

std::vector<ListRow> frmMain::DocumentRows() const {
    std::vector<ListRow> rows;
    rows.reserve(static_cast<std::size_t>(lvDocuments->RowCount()));
    for (int i = 0; i < lvDocuments->RowCount(); ++i) rows.push_back(CReportList::RowData(lvDocuments->Row(i)));
    return rows;
}

// -- remove

void frmMain::miRemoveDocs_Click() {
    const MessageBoxRun run;
    const CautiousQuestions cautious;  // Enter on a removal question keeps the documents
    if (const int count = lvDocuments->SelectedCount(); count >= 2) {
        if (!AskRemoveSelected(*this, static_cast<std::size_t>(count))) return;
        // The rows selected now, by key: questions on the way must not
        // change which rows go.
        QStringList chosen;
        for (int i = 0; i < lvDocuments->RowCount(); ++i)
            if (QTreeWidgetItem* row = lvDocuments->Row(i); row->isSelected()) chosen << CReportList::Key(row);
        for (const QString& key : chosen) {
            QTreeWidgetItem* row = lvDocuments->FindKey(key);
            const long id = DocumentIdOfKey(key.toStdString());
            if (!row || id == 0) continue;  // a row without a document number names nothing to remove
            if (RowIsRepaired(CReportList::Tag(row)) &&
                !AskRemoveRepairedNamed(*this, row->text(0).toStdString()))
                continue;
            if (RemoveListedDocument(id, row->text(0).toStdString())) lvDocuments->RemoveRow(lvDocuments->FindKey(key));
        }
    } else {
        const QList<QTreeWidgetItem*> selected = lvDocuments->selectedItems();
        if (selected.isEmpty()) return;
        QTreeWidgetItem* row = selected.front();
        const QString key = CReportList::Key(row);
        const long id = DocumentIdOfKey(key.toStdString());
        if (id == 0) return;
        if (!AskRemoveOne(*this, row->text(0).toStdString(), RowIsRepaired(CReportList::Tag(row)))) return;
        if (!RemoveListedDocument(id, row->text(0).toStdString())) return lvDocuments_SelectionChanged();
        row = lvDocuments->FindKey(key);
        const int position = row ? lvDocuments->indexOfTopLevelItem(row) : -1;
        lvDocuments->RemoveRow(row);
        lvDocuments->clearSelection();
        if (position >= 0 && position < lvDocuments->RowCount()) {
            QTreeWidgetItem* next = lvDocuments->Row(position);
            lvDocuments->setCurrentItem(next);
            lvDocuments->scrollToItem(next);
        }
    }
    lvDocuments_SelectionChanged();
}

// -- information

void frmMain::miDocumentInfo_Click() {
    const QList<QTreeWidgetItem*> selected = lvDocuments->selectedItems();
    if (selected.isEmpty()) return;
    QTreeWidgetItem* row = lvDocuments->currentItem();
    if (!row || !row->isSelected()) row = selected.front();
    const long id = DocumentIdOfKey(CReportList::Key(row).toStdString());
    const long code = static_cast<long>(CReportList::Tag(row));
    if (!m_information) m_information = new frmInformation(this);
    m_information->Initialise(Database(), id, code, Database().MainDatabaseName(), row->text(2).toStdString());
    m_information->show();
    m_information->raise();
}

// -- print and save

bool frmMain::PrintList(QPrinter& printer) const {
    const std::vector<ListRow> rows = DocumentRows();
    PrintoutHeader header;
    header.title = QString::fromStdString(GetResString(1, "Vellumo Quillex") + " - " +
                                          GetResString(307, "Lijst van beschadigde en gerepareerde documenten"));
    header.archive = QString::fromStdString(m_state.m_sDatabaseName);
    header.check = m_sLastCheck.isEmpty() ? QString::fromStdString(GetResString(312, "geen")) : m_sLastCheck;
    header.printedAt = QLocale(QLocale::Dutch).toString(
        FixedPrintTime().isValid() ? FixedPrintTime() : QDateTime::currentDateTime(), QStringLiteral("d MMMM yyyy, HH:mm"));
    const auto panels = StatusBarTexts(m_files.top(), m_state, rows.size(), 0, miReportOnly && miReportOnly->isChecked());
    header.counters = {QString::fromStdString(panels[1]), QString::fromStdString(panels[2]),
                       QString::fromStdString(FormatMsg(GetResString(314, "regels: %s"),
                                                        {QLocale(QLocale::Dutch).toString(qlonglong(rows.size())).toStdString()}))};
    return PrintDocumentList(printer, header, rows);
}

void frmMain::miPrintList_Click() {
    if (lvDocuments->RowCount() == 0) return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(BestOrientation(printer, DocumentRows()));
    bool printed = true;
    if (InstalledPrintDialog()) {
        if (!InstalledPrintDialog()(printer)) return;
        printed = PrintList(printer);
    } else {
        // The preview is the print dialog too: what is seen is what is printed.
        QPrintPreviewDialog preview(&printer, this);
        connect(&preview, &QPrintPreviewDialog::paintRequested, this,
                [&](QPrinter* target) { printed = PrintList(*target) && printed; });
        preview.exec();
    }
    if (!printed) WriteLog("The list could not be printed");
}

void frmMain::miSaveList_Click() {
    CFileDlg dialog;
    dialog.ParentForm = this;
    dialog.Filter = QString::fromStdString(GetResString(106, "Textfiles (*.txt)|*.txt"));
    dialog.FilterIndex = 1;
    dialog.Caption = QString::fromStdString(GetResString(107, "Save..."));
    dialog.DefaultExt = QStringLiteral("txt");
    dialog.OverwritePrompt = true;
    if (!dialog.ShowSave()) return;
    const std::string file = dialog.FullName(QStringLiteral("1")).toStdString();
    const SaveListOutcome saved = SaveList(Database(), DocumentRows(), file);
    if (saved == SaveListOutcome::ArchiveFile) WriteLog("The list was not saved over " + file + ": it belongs to the archive");
    else if (saved == SaveListOutcome::NotWritten) WriteLog("The list could not be saved to " + file);
}

bool frmMain::RemoveListedDocument(long id, const std::string& name) {
    if (RemoveDocument(Database(), id)) return true;
    // The record is still there (a folder is never removed; a locked or
    // unwritable sub database keeps its row): its row stays in the list.
    const std::optional<RecordKind> kind = RecordKindOf(Database(), id);
    if (kind == RecordKind::None) return true;  // nothing left that the row could name
    const std::string text =
        kind == RecordKind::Folder
            ? FormatMsg(GetResString(293, "'%s' is een map, geen document. Mappen worden niet verwijderd."), {name})
            : FormatMsg(GetResString(294, "'%s' kon niet worden verwijderd. In het logboek staat waarom."), {name});
    MsgBox(text, MsgButtons::OK, MsgIcon::Exclamation, GetResString(295, "Niet verwijderd..."));
    return false;
}

// -- reorganize

void frmMain::miReorganize_Click() {
    const MessageBoxRun run;
    for (;;) {
        const MsgAnswer answer = ShowMessageBox(this, FormatMsg(GetResString(26, "Resources not found")),
                                                MsgButtons::YesNo, MsgIcon::Question,
                                                GetResString(27, "Resources not found"), "Voorbeeld");
        if (answer == kMsgAnswerExtra) {
            // What a run would do, worked out without changing anything; then the question again.
            ReorganizePlan plan;
            Database().PlanReorganize(plan);
            frmReorganizePlan shown(QString::fromStdString(DescribePlan(plan)).replace(QStringLiteral("\r\n"),
                                                                                      QStringLiteral("\n")),
                                    this);
            shown.exec();
            continue;
        }
        if (answer == MsgAnswer::Yes) {
            WriteLog("Reorganize started " + LogNow());
            const int boxesBefore = m_boxesShown;
            const long damaged = m_state.m_nDamaged, fixed = m_state.m_nFixed;
            Database().Reorganize();
            std::string title;
            bool stopped = false;
            const std::string text = DescribeReorganizeEnd(Database().m_reorganizeOutcome, title, stopped);
            // A run that stopped with a box of its own has said why; any
            // other end is said here: the log alone is no answer to the user.
            if (!stopped || m_boxesShown == boxesBefore)
                MsgBox(text, MsgButtons::OK, stopped ? MsgIcon::Exclamation : MsgIcon::Information, title);
            if (stopped) {
                // The list of the last check stays, and so do its counters.
                m_state.m_nDamaged = damaged;
                m_state.m_nFixed = fixed;
            } else {
                // Documents moved: what the last check counted no longer describes the archive.
                m_state.m_nFixed = -1;
                m_state.m_nDamaged = -1;
            }
        }
        break;
    }
    UpdateStatusBar();
}

// -- help

// The guide's first page from the menu; F1 in another window opens that window's section.
void frmMain::miDisplayHelp_Click() { ShowHelp(this, HelpTopicOfWindow(QApplication::activeWindow())); }

void frmMain::miAbout_Click() {
    frmAbout about(this);
    about.exec();
}

}  // namespace qx
