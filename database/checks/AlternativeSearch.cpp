// CDatabase: looking for a document's data in the other sub databases.
#include "database/CDatabase.h"
#include "database/access/SubDatabasePlace.h"
#include "support/Log.h"
#include "support/engine/Recordset.h"
#include "support/Settings.h"
#include "support/Tools.h"

namespace qx {

long CDatabase::FindAlternativePicbase(long nDatabaseId, long nPicId) {
    long found = 0;
    std::string foundPath;
    if (!Connected(m_AdoCnMain)) return 0;
    const std::string mainPath = MainDatabaseName();
    engine::Recordset list;
    if (list.open("SELECT * FROM DATABASES WHERE ID <> " + std::to_string(nDatabaseId), *m_AdoCnMain,
                  engine::CursorMode::Lookup)) {
        for (; !list.eof() && found == 0; list.moveNext()) {
            const std::string path = NullToStr(list.value("DATABASE"));
            const SubDatabaseLocation location = LocateSubDatabase(path, mainPath);
            if (location.place == SubDatabasePlace::OwnFile) continue;
            const std::string connectString = ConnectString(path, Settings::Get().DatabasePassword);
            ConnectionPtr candidate = OpenConnection(location.place == SubDatabasePlace::Archive
                                                         ? connectString
                                                         : ReadOnlyConnectString(connectString));
            if (!Connected(candidate)) continue;
            sql::Statement* row = candidate->prepared("SELECT length(PICTURE) FROM PICTURES WHERE ID = ?");
            if (!row) continue;
            row->bind(1, static_cast<std::int64_t>(nPicId));
            if (row->step() == sql::Step::Row && !row->isNull(0) && row->getInt64(0) >= 1) {
                found = list.value("ID").toLong();
                foundPath = path;
            }
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
