// CDatabase: the empty-folder check. Lists every folder that no row names as
// its parent; changes nothing.
#include "database/CDatabase.h"
#include "database/ProgressWindow.h"
#include "database/checks/ResultCodes.h"
#include "support/Log.h"
#include "support/TextResources.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <cmath>

namespace qx {

namespace {

engine::ProviderError LastError(const engine::Connection& cn) {
    return cn.errors().empty() ? engine::ProviderError{0, "Unknown error"} : cn.errors().front();
}

}  // namespace

void CDatabase::AnalyseFolders() {
    if (!Connected(m_AdoCnMain)) return;
    engine::Connection& cn = *m_AdoCnMain;
    long nId = 0;
    // A failure is logged against the folder at hand and the walk goes on.
    auto logError = [&](long number, const std::string& description) {
        WriteLog("Folder Check [" + std::to_string(nId) + "]: " + description + " (" + std::to_string(number) + ")");
    };
    auto logConnectionError = [&] {
        const engine::ProviderError e = LastError(cn);
        logError(e.number, e.description);
    };

    long total = 0;
    if (sql::Statement* count = cn.prepared("SELECT COUNT(*) AS CNT FROM FOLDERS WHERE ISFOLDER")) {
        const sql::Step row = count->step();
        if (row == sql::Step::Row) total = static_cast<long>(count->getInt64(0));
        else if (row == sql::Step::Failed) logError(count->error().code, count->error().message);
        count->reset();
    } else {
        logConnectionError();
    }
    if (total <= 0) return;

    const double step = 100.0 / static_cast<double>(total);
    double position = 0;
    long counter = 0;
    ProgressWindow progress(m_window);
    progress.m_sPhase = GetResString(389, "mappen");
    progress.Start(total, 96, 97);

    engine::Recordset folders;
    if (!folders.open("SELECT ID, NAME FROM FOLDERS WHERE ISFOLDER", cn, engine::CursorMode::Scan)) {
        logConnectionError();
    } else {
        while (!folders.eof() && progress.Visible()) {
            nId = folders.value("ID").toLong();
            const std::string name = NullToStr(folders.value("NAME"));
            // One child is enough to tell: there is no need to read them all.
            if (sql::Statement* child = cn.prepared("SELECT ID FROM FOLDERS WHERE PARENT = ? LIMIT 1")) {
                child->bind(1, static_cast<std::int64_t>(nId));
                const sql::Step found = child->step();
                if (found == sql::Step::Failed) logError(child->error().code, child->error().message);
                child->reset();
                if (found == sql::Step::Done) {
                    std::string path;
                    VirtualDocumentPath(nId, path);
                    ReportResult(nId, ResultEmptyFolder, "", name, path);
                }
            } else {
                logConnectionError();
            }
            position += step;
            ++counter;
            progress.SetProgress(static_cast<int>(std::nearbyint(position)), counter, name);
            if (!folders.moveNext()) logConnectionError();
        }
    }
    progress.Hide();
}

}  // namespace qx
