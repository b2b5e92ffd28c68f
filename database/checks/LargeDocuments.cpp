// CDatabase: the large-document check. Measures the stored data of every
// sub database that documents refer to and logs one line of statistics.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/SubDatabasePlace.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/HumanFormat.h"
#include "support/TextResources.h"
#include "support/engine/Recordset.h"

#include <cmath>
#include <vector>

namespace qx {

namespace {

constexpr std::int64_t kSizeLimit = 204800;

engine::ProviderError LastError(const ConnectionPtr& cn) {
    if (!cn || cn->errors().empty()) return {0, "Unknown error"};
    return cn->errors().front();
}

}  // namespace

void CDatabase::AnalyseLargeDocs() {
    m_largeDocuments = {};
    if (!Connected(m_AdoCnMain)) return;
    const std::string mainPath = MainDatabaseName();
    long pages = 0;
    long average = 0;
    long exceeded = 0;
    std::vector<long> exceededIds;

    // A sub database that cannot be read costs its own rows, not the
    // statistics of all the others.
    auto skipped = [](const std::string& path, const engine::ProviderError& e) {
        WriteLog("Size check: sub database '" + path + "' could not be read: " + e.description + " (" +
                 std::to_string(e.number) + ")");
    };

    // Without the list of sub databases there is nothing to measure, and a
    // statistics line would only pretend there was.
    std::vector<long> ids;
    {
        engine::Recordset rs;
        bool listed = rs.open("SELECT DISTINCT DATABASEID FROM FOLDERS WHERE DATABASEID > 0 ORDER BY DATABASEID ASC",
                              *m_AdoCnMain, engine::CursorMode::Scan);
        for (; listed && !rs.eof(); listed = rs.moveNext()) ids.push_back(rs.value(0).toLong());
        if (!listed) {
            const engine::ProviderError e = LastError(m_AdoCnMain);
            WriteLog("Size check: " + e.description + " (" + std::to_string(e.number) + ")");
            return;
        }
    }

    for (const long id : ids) {
        const std::string path = SubDatabaseName(mainPath, id);
        Disconnect(m_AdoCnPdb);
        // Only read here; a standard name may still be a link leading out
        // of the archive folder or to the main database.
        const SubDatabaseLocation location = LocateSubDatabase(*m_env, path, mainPath);
        const std::string connectString = ConnectString(path, Settings::Get().DatabasePassword);
        if (location.place != SubDatabasePlace::OwnFile)
            m_AdoCnPdb = OpenConnection(location.place == SubDatabasePlace::Archive
                                            ? connectString
                                            : ReadOnlyConnectString(connectString));
        if (!m_env->FileExists(path)) {
            m_window.MsgBox(FormatMsg(GetResString(127, "De subdatabase '%s' is niet gevonden!"), {path}),
                            MsgButtons::OK, MsgIcon::Exclamation, "");
            continue;
        }
        if (location.place == SubDatabasePlace::OwnFile) {
            WriteLog(NamesOwnFileLine(id, path, location));
            continue;
        }
        if (!Connected(m_AdoCnPdb)) {
            skipped(path, LastError(m_AdoCnPdb));
            continue;
        }
        // The size is all that is needed: the bytes themselves are never read.
        sql::Statement* sizes = m_AdoCnPdb->prepared("SELECT length(PICTURE), ID FROM PICTURES");
        if (!sizes) {
            skipped(path, LastError(m_AdoCnPdb));
            continue;
        }
        sql::Step row;
        while ((row = sizes->step()) == sql::Step::Row) {
            const std::int64_t size = sizes->isNull(0) ? 0 : sizes->getInt64(0);
            if (size > kSizeLimit) {
                ++exceeded;
                exceededIds.push_back(static_cast<long>(sizes->getInt64(1)));
            }
            if (pages == 0) {
                average = static_cast<long>(size);
            } else {
                const double n = static_cast<double>(pages);
                const double avg = (n / (n + 1)) * static_cast<double>(average) + static_cast<double>(size) / (n + 1);
                average = static_cast<long>(std::nearbyint(avg));
            }
            ++pages;
        }
        if (row == sql::Step::Failed) skipped(path, {sizes->error().code, sizes->error().message});
        sizes->reset();
    }

    WriteLog(FormatMsg("Size check: %s pages analysed, average size: %s bytes, size limit exceeded: %s times",
                       {pages, average, exceeded}));
    m_largeDocuments = {true, pages, average, exceeded, std::move(exceededIds)};
    // The statistics are the whole result of this check: said, not only logged.
    m_window.MsgBox(FormatMsg(GetResString(287, "%s pagina's geanalyseerd, gemiddelde grootte: %s bytes, "
                                                "groottegrens (200 KB) overschreden: %s keer."),
                              {FormatCount(pages), FormatCount(average), FormatCount(exceeded)}),
                    MsgButtons::OK, MsgIcon::Information, GetResString(288, "Grote documenten"));
}

}  // namespace qx
