// frmMain: is the data access there, the offer of the product's last
// archive, and the window's part of opening one (choosing the file).
#include "shell/frmMain.h"

#include "database/access/OpenArchive.h"
#include "support/FileOperations.h"
#include "support/Registry.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/engine/Sql.h"
#include "windows/MessageBoxes.h"
#include "windows/CFileDlg.h"

#include <QApplication>

#include <utility>

namespace qx {

namespace {

frmMain::ProgramEnd& InstalledProgramEnd() {
    static frmMain::ProgramEnd end;
    return end;
}

frmMain::DataAccessProbe& InstalledProbe() {
    static frmMain::DataAccessProbe probe;
    return probe;
}

constexpr int kAccessErrorExit = 75;  // a path or file access error ended the program
constexpr const char* kProductKey = "Software\\Tarnwick\\Vellumo 8";

}  // namespace

frmMain::ProgramEnd frmMain::SetProgramEnd(ProgramEnd end) {
    return std::exchange(InstalledProgramEnd(), std::move(end));
}

frmMain::DataAccessProbe frmMain::SetDataAccessProbe(DataAccessProbe probe) {
    return std::exchange(InstalledProbe(), std::move(probe));
}

// The engine is linked in, but it can still be unusable (a broken or
// mismatched shared library): a private in-memory database proves it works
// without touching any file.
bool frmMain::AdoInstalled() const {
    if (InstalledProbe()) return InstalledProbe()();
    sql::Error err;
    sql::Database probe = sql::Database::open(RealEnv(), ":memory:", {}, sql::OpenMode::Create, err);
    const bool works = probe.isOpen() && probe.exec("SELECT 1");
    probe.close();
    return works;
}

void frmMain::OfferLastDatabase() {
    const std::string last = RegReadString(kProductKey, "Database");
    if (last.empty() || !m_files.top().FileExists(last)) return;
    const MsgAnswer answer =
        MsgBox(GetResString(128, "Wilt u de laatst gebruikte Vellumo 8 database openen?"), MsgButtons::YesNo,
               MsgIcon::None, GetResString(1, "Resources not found"));
    if (answer == MsgAnswer::Yes)
        OpenDatabaseFile(last);
    else
        m_sLastFolder = GetFolderPart(last);
}

void frmMain::OpenDatabaseFile(const std::string& sDatabase) {
    const MessageBoxRun run;
    m_shownNotices.clear();  // they belonged to the archive open until now
    std::string file = sDatabase;
    if (file.empty()) {
        CFileDlg dialog;
        dialog.InitialDir = QString::fromStdString(m_sLastFolder);
        dialog.Caption = QString::fromStdString(GetResString(20, "Resources not found"));
        dialog.DefaultFileName.clear();
        dialog.DefaultExt = QStringLiteral("dat");
        dialog.DialogStartupPostition = 1;
        dialog.Filter = QStringLiteral("Vellumo Databases (*.dat)|*.dat");
        dialog.FilterIndex = 1;
        dialog.ParentForm = this;
        // Whatever happens in the dialog, the archive open until now is given up.
        Settings::Get().LogFileName.clear();
        m_state.m_sDatabaseName.clear();
        if (!dialog.ShowOpen()) {
            ShowWithoutDatabase();
            return;
        }
        SetBusy(true);
        DoEvents();
        file = dialog.FullName(QStringLiteral("1")).toStdString();
    }
    m_sLastFolder = GetFolderPart(file);
    // Everything the open finds is told in one box at its end, not in a
    // chain of boxes the user must click away one by one.
    MessageBoxGathering gathering(this, file);
    const OpenOutcome outcome = qx::OpenDatabaseFile(Database(), file);
    SetBusy(false);
    gathering.Show();
    if (outcome != OpenOutcome::AccessError) return;
    // The user has been told; nothing of the archive is held any more.
    m_Database.reset();
    if (InstalledProgramEnd()) {
        InstalledProgramEnd()(kAccessErrorExit);
        return;
    }
    QApplication::closeAllWindows();
    QCoreApplication::exit(kAccessErrorExit);
}

// A cancelled open dialog: the state of a window that never had an archive.
void frmMain::ShowWithoutDatabase() {
    m_state.m_nDamaged = -1;
    m_state.m_nFixed = -1;
    m_state.m_bAnalysed = false;
    m_state.m_bCompressed = false;
    m_state.m_bMissingPdbs = true;
    SetTitle(TitleText());
    UpdateMenus();
    UpdateStatusBar();
    SetBusy(false);
}

}  // namespace qx
