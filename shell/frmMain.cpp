#include "shell/frmMain.h"

#include "database/CheckCommand.h"
#include "database/checks/CheckResume.h"
#include "support/HumanFormat.h"
#include "shell/HelpTopics.h"
#include "shell/ReportList.h"
#include "support/FileOperations.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "windows/frmCompact.h"
#include "windows/frmInformation.h"
#include "windows/frmProgress.h"
#include "windows/MessageBoxes.h"
#include "windows/frmReorganize.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace qx {

namespace {

constexpr const char* kNoResource = "Resources not found";
constexpr int kInitialWidth = 900;
constexpr int kInitialHeight = 600;

// The layout figures were drawn in twips (1/1440 inch); 15 twips a pixel at 96 dpi.
int TwipsToPixels(int twips) { return (twips + 7) / 15; }
constexpr int kSplitterMargin = 175;         // closest the splitter may come to top or bottom
constexpr int kDocNameDesignWidth = 2000;    // lvDocuments column 1 before its extra 700
constexpr int kDocPdbDesignWidth = 1800;     // lvDocuments column 3
constexpr int kDocStateDesignWidth = 2400;   // lvDocuments column 4
constexpr int kPicbaseSizeDesignWidth = 1500;  // lvPicbases column 2

QString Res(long id, const char* def = kNoResource) { return QString::fromStdString(GetResString(id, def)); }

}  // namespace

frmMain::frmMain(const QStringList& arguments, QWidget* parent) : QMainWindow(parent) {
    CreateControls();
    NameMenuItems(*this);
    // F1 answers in the other windows as well, with the section of the window it was pressed in.
    miDisplayHelp->setShortcutContext(Qt::ApplicationShortcut);
    Form_Load(arguments);
}

frmMain::~frmMain() {
    // The lists go with the window's children, after the menus' actions: their last signals must not reach us.
    if (lvDocuments) lvDocuments->model()->disconnect(this);
    m_Database.reset();
}

CDatabase& frmMain::Database() {
    if (!m_Database) {
        m_Database = std::make_unique<CDatabase>(*this, m_files.top());
        if (miReportOnly && miReportOnly->isChecked()) m_Database->SetDryRun(true);
    }
    return *m_Database;
}

// -- controls as designed; Form_Load gives them their texts

void frmMain::CreateControls() {
    resize(kInitialWidth, kInitialHeight);
    CreateMenus();

    lvPicbases = new CReportList(this);
    lvPicbases->setObjectName(QStringLiteral("lvPicbases"));
    lvPicbases->setSelectionMode(QAbstractItemView::SingleSelection);
    lvDocuments = new CReportList(this);
    lvDocuments->setObjectName(QStringLiteral("lvDocuments"));
    lvDocuments->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvDocuments->setContextMenuPolicy(Qt::CustomContextMenu);
    for (CReportList* list : {lvPicbases, lvDocuments}) {
        list->setMinimumHeight(TwipsToPixels(kSplitterMargin));
        list->installEventFilter(this);
    }

    imgSplitter = new QSplitter(Qt::Vertical, this);
    imgSplitter->setObjectName(QStringLiteral("imgSplitter"));
    imgSplitter->setChildrenCollapsible(false);
    imgSplitter->setOpaqueResize(false);  // a shadow follows the mouse; lists resize on release
    imgSplitter->addWidget(lvPicbases);
    imgSplitter->addWidget(lvDocuments);
    imgSplitter->setStretchFactor(0, 0);
    imgSplitter->setStretchFactor(1, 1);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(imgSplitter);
    setCentralWidget(central);

    CreateStatusBar();
    m_statusTimer = new QTimer(this);
    m_statusTimer->setSingleShot(true);
    m_statusTimer->setInterval(100);
    connect(m_statusTimer, &QTimer::timeout, this, &frmMain::WriteStatusBar);

    connect(lvDocuments, &QTreeWidget::itemSelectionChanged, this, &frmMain::lvDocuments_SelectionChanged);
    connect(lvDocuments, &QWidget::customContextMenuRequested, this, &frmMain::lvDocuments_ContextMenu);
    QAbstractItemModel* rows = lvDocuments->model();
    connect(rows, &QAbstractItemModel::rowsInserted, this, &frmMain::UpdateListActions);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, &frmMain::UpdateListActions);
    connect(rows, &QAbstractItemModel::modelReset, this, &frmMain::UpdateListActions);
    ConnectListActions();
    UpdateListActions();
}

void frmMain::CreateMenus() {
    QMenuBar* bar = menuBar();
    miOptions = bar->addMenu(QStringLiteral("&Opties"));
    miExit = miOptions->addAction(QStringLiteral("&Afsluiten"));
    miExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    miDatabase = bar->addMenu(QStringLiteral("&Database"));
    miOpen = miDatabase->addAction(QStringLiteral("&Openen..."));
    miOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    // In the Database menu, usable before anything is opened: the mode holds
    // for the whole run, the open included.
    miReportOnly = miDatabase->addAction(QStringLiteral("Alleen &rapporteren"));
    miReportOnly->setCheckable(true);
    miAnalyse = miDatabase->addMenu(QStringLiteral("&Controleren"));
    const char* checks[] = {"&Snel..", "&Normaal...", "&Intensief...", nullptr, "&Op lege mappen...",
                            "Op &grote documenten"};
    for (int i = 0; i < static_cast<int>(miCheckSub.size()); ++i) {
        if (!checks[i]) {
            miCheckSub[i] = miAnalyse->addSeparator();
            continue;
        }
        miCheckSub[i] = miAnalyse->addAction(QString::fromUtf8(checks[i]));
        connect(miCheckSub[i], &QAction::triggered, this, [this, i] { miCheckSub_Click(i); });
    }
    miReorganize = miDatabase->addAction(QStringLiteral("&Reorganiseren..."));
    // Salvage: what the damaged files of the open archive still hold, into fresh files.
    miSalvage = miDatabase->addAction(QString::fromStdString(GetResString(489, "Bergen\xE2\x80\xA6")));
    miSalvage->setObjectName(QStringLiteral("actionSalvage"));
    connect(miSalvage, &QAction::triggered, this, &frmMain::miSalvage_Click);

    miDocuments = bar->addMenu(QStringLiteral("Do&cumenten"));
    miDocumentInfo = miDocuments->addAction(QStringLiteral("&Informatie over..."));
    miDocumentInfo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    miRemoveDocs = miDocuments->addAction(QStringLiteral("&Verwijderen"));
    miRemoveDocs->setShortcut(QKeySequence(Qt::Key_Delete));
    miDocSep = miDocuments->addSeparator();
    miPrintList = miDocuments->addAction(QStringLiteral("Lijst &afdrukken..."));
    miPrintList->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    miSaveList = miDocuments->addAction(QStringLiteral("Lijst &opslaan..."));
    miSaveList->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    miSaveHtmlReport = miDocuments->addAction(QStringLiteral("Rapport opslaan als &HTML..."));
    miSaveHtmlReport->setObjectName(QStringLiteral("actionSaveHtmlReport"));
    miSaveHtmlReport->setEnabled(false);

    miHelpMain = bar->addMenu(QStringLiteral("&Help"));
    miDisplayHelp = miHelpMain->addAction(QStringLiteral("&Inhoud..."));
    miDisplayHelp->setShortcut(QKeySequence(Qt::Key_F1));
    miHelpSep = miHelpMain->addSeparator();
    miAbout = miHelpMain->addAction(QStringLiteral("&About..."));

    connect(miExit, &QAction::triggered, this, &frmMain::miExit_Click);
    connect(miOpen, &QAction::triggered, this, &frmMain::miOpen_Click);
    connect(miReportOnly, &QAction::toggled, this, &frmMain::miReportOnly_Toggled);
    connect(miReorganize, &QAction::triggered, this, &frmMain::miReorganize_Click);
    connect(miSaveHtmlReport, &QAction::triggered, this, &frmMain::miSaveHtmlReport_Click);
    connect(miDocuments, &QMenu::aboutToShow, this, &frmMain::miDocuments_AboutToShow);
}

void frmMain::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(true);
    const int stretch[] = {3, 2, 2, 2};
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusBarPanel%1").arg(i + 1));
        panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        panel->setMinimumWidth(80);
        panel->setTextFormat(Qt::PlainText);
        bar->addWidget(panel, stretch[i]);
        StatusBarPanel[i] = panel;
    }
}

// -- start-up

void frmMain::Form_Load(const QStringList& arguments) {
    // The user guide's pages, installed beside the program.
    Settings::Get().HelpFileName = AppPath() + PathSeparator() + "help";

    if (!AdoInstalled() && !arguments.join(u' ').contains(QStringLiteral("-no_comp_check"))) {
        MsgBox(GetResString(122, "Gebruik van de Vellumo Quillex vereist dat MDAC (Microsoft Data Access Components) "
                                 "zijn geïnstalleerd. MDAC is te downloaden vanaf de microsoft site."),
               MsgButtons::OK, MsgIcon::Exclamation, GetResString(123, "Ontbrekende componenten..."));
        m_bLoadRefused = true;
        return;
    }

    // The top list takes 0.3 of the window's height; the rest goes to the documents.
    const int top = kInitialHeight * 3 / 10;
    imgSplitter->setSizes({top, kInitialHeight - top});

    const int frame = 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    m_nUsableListWidth = kInitialWidth - (style()->pixelMetric(QStyle::PM_ScrollBarExtent) + frame);

    SetTitle(TitleText());
    SetMenuCaptions();
    BuildColumns();
    m_state.m_nOleDbErr = 0;
    m_state.m_nDamaged = -1;
    m_state.m_nFixed = -1;
    UpdateMenus();
    UpdateStatusBar();
}

void frmMain::SetMenuCaptions() {
    miOptions->setTitle(Res(2));
    miExit->setText(Res(3));
    miDatabase->setTitle(Res(4));
    miOpen->setText(Res(5));
    miAnalyse->setTitle(Res(6));
    miCheckSub[0]->setText(Res(29));
    miCheckSub[1]->setText(Res(30));
    miCheckSub[2]->setText(Res(31));
    miCheckSub[4]->setText(Res(58));
    miReportOnly->setText(Res(219));
    miReorganize->setText(Res(7));
    miDocuments->setTitle(Res(8));
    miDocumentInfo->setText(Res(9));
    miRemoveDocs->setText(Res(10, "Geselecteerde, beschadigde items verwijderen"));
    miPrintList->setText(Res(124, "Lijst afdrukken..."));
    miSaveList->setText(Res(125, "Lijst opslaan..."));
    miSaveHtmlReport->setText(Res(478, "Rapport opslaan als &HTML..."));
    miHelpMain->setTitle(Res(11));
    miDisplayHelp->setText(Res(129, "Inhoud..."));
    miAbout->setText(Res(12));
}

void frmMain::BuildColumns() {
    lvDocuments->SetColumns({Res(15), Res(16), Res(17), Res(18)});
    const int name = TwipsToPixels(kDocNameDesignWidth + 700);
    const int pdb = TwipsToPixels(kDocPdbDesignWidth);
    const int state = TwipsToPixels(kDocStateDesignWidth);
    lvDocuments->setColumnWidth(0, name);
    lvDocuments->setColumnWidth(1, std::max(m_nUsableListWidth - name - pdb - state, TwipsToPixels(1000)));
    lvDocuments->setColumnWidth(2, pdb);
    lvDocuments->setColumnWidth(3, state);

    lvPicbases->SetColumns({Res(13), Res(14)});
    lvPicbases->SetColumnAlignment(1, Qt::AlignRight);
    const int size = TwipsToPixels(kPicbaseSizeDesignWidth);
    lvPicbases->setColumnWidth(0, std::max(m_nUsableListWidth - size, size));
    lvPicbases->setColumnWidth(1, size);
}

void frmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_bActivated) return;
    m_bActivated = true;
    // After the window is on screen, so that the notice has its owner to sit on.
    QTimer::singleShot(0, this, &frmMain::Form_FirstActivate);
}

void frmMain::Form_FirstActivate() {
    MsgBox(FormatMsg(GetResString(19, kNoResource)), MsgButtons::OK, MsgIcon::Information,
           GetResString(1, kNoResource));
    if (!m_sStartArchive.empty()) return OpenDatabaseFile(std::exchange(m_sStartArchive, std::string()));
    OfferLastDatabase();
}

// -- title and menus

void frmMain::SetTitle(const std::string& title) { setWindowTitle(QString::fromStdString(title)); }

void frmMain::UpdateMenus() {
    const bool open = !m_state.m_sDatabaseName.empty();
    miDocuments->menuAction()->setEnabled(open);
    miAnalyse->menuAction()->setEnabled(open);
    miReorganize->setEnabled(open);
    miSalvage->setEnabled(open);
    lvDocuments->ClearRows();
    m_sLastCheck.clear();  // the list it named is gone
    m_checkFacts.reset();
    miSaveHtmlReport->setEnabled(false);
    miDocumentInfo->setEnabled(false);
    miRemoveDocs->setEnabled(false);
}

void frmMain::miCheckSub_Click(int Index) {
    const QAction* item = Index >= 0 && Index < static_cast<int>(std::size(miCheckSub)) ? miCheckSub[Index] : nullptr;
    const MessageBoxRun run;
    const CautiousQuestions cautious;  // Enter on the offer to salvage keeps the damaged files as they are
    if (item) m_sLastCheck = item->text().remove(u'&').remove(QStringLiteral("..")).remove(u'.').trimmed();
    // A stopped thorough check of this archive is offered to go on from
    // (Yes), or the check starts anew (No); Cancel starts nothing.
    CheckRun checkRun;
    if (Index == CheckThorough) {
        std::string why;
        if (const auto stopped = StoppedThoroughCheck(Database(), why)) {
            const MsgAnswer answer = MsgBox(
                FormatMsg(GetResString(573, "Er is een gestopte intensieve controle van dit archief: %s van %s "
                                            "documenten zijn gecontroleerd.%n%nKlik op Ja om verder te gaan waar "
                                            "die controle stopte, of op Nee om opnieuw te beginnen."),
                          {FormatCount(stopped->checked), FormatCount(stopped->total)}),
                MsgButtons::YesNoCancel, MsgIcon::Question, GetResString(574, "Verder gaan"));
            if (answer == MsgAnswer::Cancel) return;
            checkRun.resume = answer == MsgAnswer::Yes;
        } else if (!why.empty()) {
            MsgBox(FormatMsg(GetResString(575, "De bewaarde voortgang van een gestopte controle wordt niet gebruikt: "
                                               "%s%n%nDe controle begint bij het begin."),
                             {why}),
                   MsgButtons::OK, MsgIcon::Exclamation, GetResString(574, "Verder gaan"));
        }
    }
    CheckRunFacts facts;
    BeginCheckFacts(facts, Database(), m_state.m_sDatabaseName, Index);
    {
        const CheckRunScope scope(Database(), checkRun);
        RunCheckCommand(Database(), Index, item ? item->text().toStdString() : std::string());
    }
    if (facts.check.empty()) return;  // no check ran
    EndCheckFacts(facts, Database(), Index, false);
    m_checkFacts = std::move(facts);
    miSaveHtmlReport->setEnabled(true);
}

void frmMain::miReportOnly_Toggled(bool on) {
    // The archive open now was opened in the other mode: it is opened again,
    // so that its open step too is done (or only reported) as the mode says.
    const std::string open = m_state.m_sDatabaseName;
    if (m_Database && m_Database->DryRun() != on) {
        m_Database->SetDryRun(on);
        if (!open.empty()) {
            OpenDatabaseFile(open);
            return;
        }
    }
    if (open.empty()) SetTitle(TitleText());
    UpdateStatusBar();
}

std::string frmMain::TitleText() const {
    const std::string title = GetResString(1, kNoResource);
    return miReportOnly && miReportOnly->isChecked() ? title + " (" + GetResString(219, "Alleen rapporteren") + ")"
                                                     : title;
}

void frmMain::miOpen_Click() { OpenDatabaseFile(std::string()); }

// -- keys

bool frmMain::HandleSelectAllKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() != Qt::Key_A || mods != Qt::ControlModifier) return false;
    SelectAllDocuments();
    return true;
}

// Enter on a row of the list: its information, as a double click.
bool frmMain::HandleEnterKey(QObject* watched, QKeyEvent* event) {
    if (watched != lvDocuments || (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)) return false;
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    if (miDocumentInfo->isEnabled() && lvDocuments->SelectedCount() == 1) miDocumentInfo->trigger();
    return true;
}

void frmMain::SelectAllDocuments() {
    if (lvDocuments->RowCount() == 0) return;
    lvDocuments->selectAll();
}

void frmMain::keyPressEvent(QKeyEvent* event) {
    if (HandleSelectAllKey(event)) return;
    QMainWindow::keyPressEvent(event);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    // The window sees Ctrl+A before the list that has the focus does.
    if (event->type() == QEvent::KeyPress && (watched == lvDocuments || watched == lvPicbases))
        if (HandleSelectAllKey(static_cast<QKeyEvent*>(event)) ||
            HandleEnterKey(watched, static_cast<QKeyEvent*>(event)))
            return true;
    return QMainWindow::eventFilter(watched, event);
}

// -- enabling and the pointer

void frmMain::SetEnabled(bool enabled) {
    // Not the window itself: its progress and reorganize windows are its
    // children and must keep their Cancel buttons live.
    m_bEnabled = enabled;
    menuBar()->setEnabled(enabled);
    centralWidget()->setEnabled(enabled);
    statusBar()->setEnabled(enabled);
    if (enabled && m_statusTimer->isActive()) UpdateStatusBar();
    if (enabled) update();
}

void frmMain::SetBusy(bool busy) {
    if (busy == m_bBusy) return;
    m_bBusy = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void frmMain::DoEvents() {
    // A walk asks for this once or twice per document, tens of thousands of
    // times a second, and one round of the window's messages costs more
    // than a document. They run at most every 20 ms: the window still moves
    // smoothly and Cancel is seen well within a tenth of a second.
    constexpr qint64 kPumpEveryMs = 20;
    if (m_pumped.isValid() && m_pumped.elapsed() < kPumpEveryMs) return;
    QCoreApplication::processEvents();
    m_pumped.start();
}

// -- exit

void frmMain::miExit_Click() { QApplication::closeAllWindows(); }

void frmMain::closeEvent(QCloseEvent* event) {
    // A running check has the window disabled; it cannot be closed under it.
    if (!m_bEnabled) {
        event->ignore();
        return;
    }
    m_Database.reset();
    for (QWidget* w : {static_cast<QWidget*>(m_progress), static_cast<QWidget*>(m_reorganize),
                       static_cast<QWidget*>(m_compact), static_cast<QWidget*>(m_information)})
        if (w) w->close();
    SetBusy(false);
    event->accept();
}

}  // namespace qx
