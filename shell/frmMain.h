#pragma once
// The program's one main window: menus, the sub-database list above the
// damaged-document list, the status bar, and the window side of opening an
// archive. It owns the CDatabase object and is the window that object talks
// to, so it carries the counters and flags the database logic updates.
//
// Its member functions live in three files: frmMain.cpp (start-up, menus,
// layout, exit), frmMainLists.cpp (lists, status bar, the other windows the
// database logic drives) and frmMainOpen.cpp (data-access check, the offer
// of the last archive, opening).
#include "database/CDatabase.h"
#include "database/CheckCommand.h"
#include "database/MainWindow.h"
#include "support/Env.h"
#include "windows/MessageBoxes.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QPrinter;
class QSplitter;
class QTimer;

namespace qx {

class CReportList;
class frmAbout;
class frmCompact;
class frmInformation;
class frmProgress;
class frmReorganize;

class frmMain : public QMainWindow, public MainWindow {
    Q_OBJECT
public:
    // `arguments` is the command line without the program name.
    explicit frmMain(const QStringList& arguments = {}, QWidget* parent = nullptr);
    ~frmMain() override;

    // True when start-up found no data access and was not told to go on
    // without it: the caller must end the program instead of showing this.
    bool LoadRefused() const { return m_bLoadRefused; }

    // An empty path asks for the file with the open dialog.
    void OpenDatabaseFile(const std::string& sDatabase);
    // Opens this archive at the first activation, in place of the offer of
    // the product's last one (an archive named on the command line).
    void OpenOnStart(const std::string& sDatabase) { m_sStartArchive = sDatabase; }
    CDatabase& Database();

    // Replaces the data-access probe (tests simulate a machine without it);
    // an empty function restores the real one. Returns the previous probe.
    using DataAccessProbe = std::function<bool()>;
    static DataAccessProbe SetDataAccessProbe(DataAccessProbe probe);

    // Stands in for the print preview (the print dialog): sets up the printer, true to print.
    // An empty function restores the real dialog. Returns the previous one.
    using PrintDialogRunner = std::function<bool(QPrinter&)>;
    static PrintDialogRunner SetPrintDialogRunner(PrintDialogRunner runner);

    // How the program ends after a critical failure of opening (the exit
    // code is passed); tests replace it. Returns the previous one.
    using ProgramEnd = std::function<void(int)>;
    static ProgramEnd SetProgramEnd(ProgramEnd end);

    // The date and time printouts give in their header; an invalid one (the
    // default) means the moment of printing. For pictures that must not
    // change from one run to the next. Returns the previous one.
    static QDateTime SetPrintTime(const QDateTime& fixed);

    // The list on the printer's pages, with a header and page numbers; false on a printer error.
    bool PrintList(QPrinter& printer) const;

    // -- the window seam
    MainWindowState& State() override { return m_state; }
    void UpdateStatusBar() override;
    void ListClear(ListId list) override;
    bool ListAdd(ListId list, const ListRow& row) override;
    std::size_t ListCount(ListId list) const override;
    void SetTitle(const std::string& title) override;
    void UpdateMenus() override;
    void SetEnabled(bool enabled) override;
    void SetBusy(bool busy) override;
    MsgAnswer MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) override;
    MsgAnswer MsgBoxDetails(const std::string& text, const std::string& details, MsgButtons buttons, MsgIcon icon,
                            const std::string& title) override;
    void DoEvents() override;
    void ProgressShow(const ProgressView& view) override;
    void ProgressUpdate(const ProgressView& view) override;
    bool ProgressVisible() const override;
    void ProgressHide() override;
    void ReorganizeShow() override;
    void ReorganizeSetCaption(const std::string& caption) override;
    void ReorganizeSetCancelEnabled(bool enabled) override;
    bool ReorganizeVisible() const override;
    void ReorganizeHide() override;
    void CompactShow() override;
    void CompactSetStatus(const std::string& text) override;
    bool CompactCanceled() const override;
    void CompactClose() override;
    void ReorganizeProgress(const ProgressView& view) override;
    void CompactProgress(const ProgressView& view) override;
    int LoadImage(const std::vector<std::uint8_t>& data) override;

    // -- controls
    QMenu* miOptions = nullptr;
    QAction* miExit = nullptr;
    QMenu* miDatabase = nullptr;
    QAction* miOpen = nullptr;
    QMenu* miAnalyse = nullptr;
    std::array<QAction*, 6> miCheckSub{};  // item 3 is a separator
    QAction* miReportOnly = nullptr;        // checked: the whole run changes nothing on disk
    QAction* miReorganize = nullptr;
    QAction* miSalvage = nullptr;           // "actionSalvage": salvage of the open archive
    QMenu* miDocuments = nullptr;
    QAction* miDocumentInfo = nullptr;
    QAction* miRemoveDocs = nullptr;
    QAction* miDocSep = nullptr;
    QAction* miPrintList = nullptr;
    QAction* miSaveList = nullptr;
    QAction* miSaveHtmlReport = nullptr;  // enabled once a check ran on the open archive
    QMenu* miHelpMain = nullptr;
    QAction* miDisplayHelp = nullptr;
    QAction* miHelpSep = nullptr;
    QAction* miAbout = nullptr;

    CReportList* lvPicbases = nullptr;
    QSplitter* imgSplitter = nullptr;
    CReportList* lvDocuments = nullptr;
    std::array<QLabel*, 4> StatusBarPanel{};

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void miCheckSub_Click(int Index);
    void miExit_Click();
    void miOpen_Click();
    void miDocuments_AboutToShow();
    void lvDocuments_SelectionChanged();
    void lvDocuments_ContextMenu(const QPoint& pos);
    // frmMainActions.cpp
    void miRemoveDocs_Click();
    void miDocumentInfo_Click();
    void miPrintList_Click();
    void miSaveList_Click();
    // frmMainReport.cpp
    void miSaveHtmlReport_Click();
    void miDisplayHelp_Click();
    void miAbout_Click();
    void miReorganize_Click();
    void miSalvage_Click();  // frmMainSalvage.cpp

private:
    // frmMain.cpp
    void CreateControls();
    void CreateMenus();
    void CreateStatusBar();
    void Form_Load(const QStringList& arguments);
    void SetMenuCaptions();
    void BuildColumns();
    void Form_FirstActivate();
    bool HandleSelectAllKey(QKeyEvent* event);
    bool HandleEnterKey(QObject* watched, QKeyEvent* event);
    void SelectAllDocuments();
    void miReportOnly_Toggled(bool on);
    // Print and save follow the rows of lvDocuments: nothing to print, nothing to act on.
    void UpdateListActions();
    std::string TitleText() const;  // without an archive, the mode included
    // frmMainOpen.cpp
    bool AdoInstalled() const;
    void OfferLastDatabase();
    void ShowWithoutDatabase();
    // frmMainActions.cpp
    void ConnectListActions();
    std::vector<ListRow> DocumentRows() const;
    // Removes the document of a list row; false (and said why) when the
    // core refused, so that the row stays.
    bool RemoveListedDocument(long id, const std::string& name);

    CReportList* List(ListId list) const;
    void WriteStatusBar();

    MainWindowState m_state;
    // The session's file layers; report-only is a view CDatabase lays over
    // them when the menu asks for it. Declared first: it outlives the database.
    EnvStack m_files = MakeEnvStack(false);
    std::unique_ptr<CDatabase> m_Database;
    bool m_bLoadRefused = false;
    bool m_bActivated = false;
    int m_boxesShown = 0;  // message boxes shown since the window was made
    bool m_bEnabled = true;
    bool m_bBusy = false;
    QElapsedTimer m_pumped;  // since the window's messages last ran (DoEvents)
    QTimer* m_statusTimer = nullptr;  // the panels while a check runs
    std::string m_sLastFolder;  // where the open dialog starts
    std::string m_sStartArchive;  // opened at the first activation; "" for the usual offer
    QString m_sLastCheck;       // the check the list came from, as its menu item says
    int m_nUsableListWidth = 0;  // pixels, fixed at start-up for the column layout

    frmProgress* m_progress = nullptr;
    frmReorganize* m_reorganize = nullptr;
    frmCompact* m_compact = nullptr;
    frmInformation* m_information = nullptr;
    // The last check's facts for its report; none before a check of the open archive.
    std::optional<CheckRunFacts> m_checkFacts;
    // The notices shown since the archive was opened, which its report lists.
    std::vector<ShownNotice> m_shownNotices;
    // A notice met again in this run of the program is not shown again.
    MessageBoxSession m_notices;
};

}  // namespace qx
