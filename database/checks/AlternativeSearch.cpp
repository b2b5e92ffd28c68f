// CDatabase: looking for a document's data in the other sub databases.
#include "database/CDatabase.h"
#include "database/access/SubDatabasePlace.h"
#include "support/Log.h"
#include "support/engine/Recordset.h"
#include "support/Settings.h"
#include "support/Tools.h"

#include "support/Env.h"
#include "support/ImageLoader.h"

#include <algorithm>

#include <map>

namespace qx {

// Connections by connect string, each with the identity of the file it was
// opened on: a file replaced since is opened again.
struct CDatabase::AlternativeCandidates {
    std::map<std::string, std::pair<std::optional<FileId>, ConnectionPtr>> open;
    // Where each stored path leads: asking costs a stat of every file of the archive.
    std::map<std::string, SubDatabaseLocation> places;
};

CDatabase::KeepAlternativeCandidates::KeepAlternativeCandidates(CDatabase& db)
    : m_db(db), m_outer(db.m_alternatives == nullptr) {
    if (m_outer) m_db.m_alternatives = std::make_shared<AlternativeCandidates>();
}

CDatabase::KeepAlternativeCandidates::~KeepAlternativeCandidates() {
    if (m_outer) m_db.m_alternatives.reset();
}

long CDatabase::FindAlternativePicbase(long nDatabaseId, long nPicId, bool mustLoadAsImage) {
    long found = 0;
    std::string foundPath;
    if (!Connected(m_AdoCnMain)) return 0;
    const std::string mainPath = MainDatabaseName();
    engine::Recordset list;
    if (list.open("SELECT * FROM DATABASES WHERE ID <> " + std::to_string(nDatabaseId), *m_AdoCnMain,
                  engine::CursorMode::Lookup)) {
        for (; !list.eof() && found == 0; list.moveNext()) {
            const std::string path = NullToStr(list.value("DATABASE"));
            const SubDatabaseLocation location = [&] {
                if (!m_alternatives) return LocateSubDatabase(*m_env, path, mainPath);
                const auto known = m_alternatives->places.find(path);
                if (known != m_alternatives->places.end()) return known->second;
                return m_alternatives->places[path] = LocateSubDatabase(*m_env, path, mainPath);
            }();
            if (location.place == SubDatabasePlace::OwnFile) continue;
            std::string connectString = ConnectString(path, Settings::Get().DatabasePassword);
            if (location.place != SubDatabasePlace::Archive) connectString = ReadOnlyConnectString(connectString);
            ConnectionPtr once;
            ConnectionPtr* candidate = &once;
            if (m_alternatives) {
                auto& [identity, kept] = m_alternatives->open[connectString];
                if (!Connected(kept) || !identity || m_env->IdentityOf(kept->dataSource()) != identity) {
                    kept = OpenConnection(connectString);
                    identity = Connected(kept) ? m_env->IdentityOf(kept->dataSource()) : std::nullopt;
                }
                candidate = &kept;
            } else {
                once = OpenConnection(connectString);
            }
            if (!Connected(*candidate)) continue;
            sql::Statement* row = (*candidate)->prepared(mustLoadAsImage
                                                             ? "SELECT PICTURE FROM PICTURES WHERE ID = ?"
                                                             : "SELECT length(PICTURE) FROM PICTURES WHERE ID = ?");
            if (!row) continue;
            row->bind(1, static_cast<std::int64_t>(nPicId));
            if (row->step() == sql::Step::Row && !row->isNull(0) &&
                (mustLoadAsImage ? row->columnBytes(0) >= 1 : row->getInt64(0) >= 1)) {
                std::string why;
                if (mustLoadAsImage) {
                    const ImageLoad load = LoadDocumentImage(row->getBlob(0));
                    if (load.status != kImageLoaded) why = load.why.empty() ? "it is not an image" : load.why;
                }
                if (why.empty()) {
                    found = list.value("ID").toLong();
                    foundPath = path;
                } else {
                    std::replace_if(why.begin(), why.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
                    WriteLog(std::to_string(nPicId) + " - the copy in '" + path + "' does not load, not used: " + why);
                }
            }
            // A kept connection must not hold its read lock between documents.
            row->reset();
        }
    }
    if (found != 0)
        WriteLog(std::to_string(nPicId) + " - alternative sub database found ( " + std::to_string(found) + " - " +
                 foundPath + " )");
    else
        WriteLog(std::to_string(nPicId) + " - No alternative sub database found");
    return found;
}

}  // namespace qx
