// frmMain: the two lists, the status bar, and the windows and boxes the
// database logic drives through the window seam.
#include "shell/frmMain.h"

#include <algorithm>

#include "database/StatusBar.h"
#include "shell/ReportList.h"
#include "windows/MessageBoxes.h"
#include "windows/frmCompact.h"
#include "support/ImageLoader.h"
#include "windows/frmProgress.h"
#include "windows/frmReorganize.h"
#include "windows/ProgressPanel.h"

#include <QAction>
#include <QCoreApplication>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

namespace qx {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

// -- status bar

void frmMain::UpdateStatusBar() {
    // A running check reports every finding here, thousands a second; the
    // panels follow a few times a second, and exactly once it is over.
    if (!m_bEnabled) {
        if (!m_statusTimer->isActive()) m_statusTimer->start();
        return;
    }
    m_statusTimer->stop();
    WriteStatusBar();
}

void frmMain::WriteStatusBar() {
    const auto texts = StatusBarTexts(Database().env(), m_state, static_cast<std::size_t>(lvDocuments->RowCount()),
                                      static_cast<std::size_t>(lvDocuments->SelectedCount()),
                                      miReportOnly && miReportOnly->isChecked());
    for (std::size_t i = 0; i < texts.size(); ++i) StatusBarPanel[i]->setText(Q(texts[i]));
}

// -- lists

CReportList* frmMain::List(ListId list) const { return list == ListId::Documents ? lvDocuments : lvPicbases; }

void frmMain::ListClear(ListId list) { List(list)->ClearRows(); }

bool frmMain::ListAdd(ListId list, const ListRow& row) {
    CReportList* view = List(list);
    if (!view->AddRow(row)) return false;
    view->ScrollToLastSoon();
    return true;
}

std::size_t frmMain::ListCount(ListId list) const { return static_cast<std::size_t>(List(list)->RowCount()); }

void frmMain::lvDocuments_SelectionChanged() {
    const QList<QTreeWidgetItem*> selected = lvDocuments->selectedItems();
    if (selected.isEmpty()) {
        miDocumentInfo->setEnabled(false);
        miRemoveDocs->setEnabled(false);
    } else {
        QTreeWidgetItem* row = lvDocuments->currentItem();
        if (!row || !row->isSelected()) row = selected.front();
        miDocumentInfo->setEnabled(true);
        miRemoveDocs->setEnabled(!CReportList::Key(row).isEmpty());
    }
    // Panel 4 counts the selection, so it follows it.
    UpdateStatusBar();
}

// Information shows one row: none selected, or several, it cannot act.
void frmMain::miDocuments_AboutToShow() { miDocumentInfo->setEnabled(lvDocuments->SelectedCount() == 1); }

void frmMain::UpdateListActions() {
    const bool rows = lvDocuments->RowCount() > 0;
    miPrintList->setEnabled(rows);
    miSaveList->setEnabled(rows);
    if (!rows) {
        miDocumentInfo->setEnabled(false);
        miRemoveDocs->setEnabled(false);
    }
}

void frmMain::lvDocuments_ContextMenu(const QPoint& pos) {
    if (QTreeWidgetItem* row = lvDocuments->itemAt(pos); row && !row->isSelected()) lvDocuments->setCurrentItem(row);
    DoEvents();
    miDocumentInfo->setEnabled(lvDocuments->SelectedCount() == 1);
    miDocuments->popup(lvDocuments->viewport()->mapToGlobal(pos));
}

// -- message boxes

MsgAnswer frmMain::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) {
    ++m_boxesShown;
    if (buttons == MsgButtons::OK) {
        // The report lists each notice once, with how often it came.
        auto same = std::find_if(m_shownNotices.begin(), m_shownNotices.end(), [&](const ShownNotice& n) {
            return n.text == text && n.title == title && n.icon == icon;
        });
        if (same != m_shownNotices.end()) ++same->count;
        else m_shownNotices.push_back(ShownNotice{text, title, icon, 0, 1});
    }
    return ShowMessageBox(this, text, buttons, icon, title);
}

MsgAnswer frmMain::MsgBoxDetails(const std::string& text, const std::string& details, MsgButtons buttons, MsgIcon icon,
                                 const std::string& title) {
    ++m_boxesShown;
    return ShowMessageBoxDetails(this, text, details, buttons, icon, title);
}

// -- progress window

void frmMain::ProgressShow(const ProgressView& view) {
    if (!m_progress) m_progress = new frmProgress(this);
    m_progress->ShowView(view);
}

void frmMain::ProgressUpdate(const ProgressView& view) {
    if (m_progress) m_progress->SetView(view);
}

bool frmMain::ProgressVisible() const { return m_progress && m_progress->isVisible(); }

void frmMain::ProgressHide() {
    if (m_progress) m_progress->hide();
}

int frmMain::LoadImage(const std::vector<std::uint8_t>& data) {
    const bool shown = ProgressVisible();
    if (shown) m_progress->SetLoadProgress(0);
    // Every page is decoded; the first is shown while the check runs.
    const ImageLoad load = LoadDocumentImage(data, shown);
    if (shown) {
        if (load.status == kImageLoaded && !load.first.isNull()) {
            m_progress->ShowImage(load.first);
            m_progress->SetLoadProgress(100);
        } else {
            // No stale picture beside a document that did not load.
            m_progress->ClearImage();
        }
    }
    return load.status;
}

// -- reorganize window

void frmMain::ReorganizeShow() {
    if (!m_reorganize) m_reorganize = new frmReorganize(this);
    m_reorganize->Progress->Reset();
    m_reorganize->show();
    m_reorganize->raise();
}

void frmMain::ReorganizeSetCaption(const std::string& caption) {
    if (m_reorganize) m_reorganize->Frame->setTitle(Q(caption));
}

void frmMain::ReorganizeSetCancelEnabled(bool enabled) {
    if (m_reorganize) m_reorganize->cmdCancel->setEnabled(enabled);
}

void frmMain::ReorganizeProgress(const ProgressView& view) {
    if (m_reorganize) m_reorganize->Progress->SetView(view);
}

bool frmMain::ReorganizeVisible() const { return m_reorganize && m_reorganize->isVisible(); }

void frmMain::ReorganizeHide() {
    if (m_reorganize) m_reorganize->hide();
}

// -- compacting window

void frmMain::CompactShow() {
    if (!m_compact) m_compact = new frmCompact(this);
    else m_compact->Load();
    m_compact->show();
    m_compact->raise();
}

void frmMain::CompactSetStatus(const std::string& text) {
    if (m_compact) m_compact->SetStatus(Q(text));
}

void frmMain::CompactProgress(const ProgressView& view) {
    if (m_compact) m_compact->Progress->SetView(view);
}

bool frmMain::CompactCanceled() const { return m_compact && m_compact->Canceled(); }

void frmMain::CompactClose() {
    if (!m_compact) return;
    m_compact->Unload();
    m_compact->hide();
}

}  // namespace qx
