#include "database/maintenance/References.h"

#include "support/engine/Recordset.h"

namespace qx {

bool ReferencedSubDatabases(engine::Connection& cn, std::vector<long>& numbers, sql::Error& err) {
    numbers.clear();
    engine::Recordset distinct;
    if (!distinct.open("SELECT DISTINCT DATABASEID FROM FOLDERS WHERE NOT ISFOLDER AND DATABASEID > 0 "
                       "ORDER BY DATABASEID",
                       cn, engine::CursorMode::Lookup)) {
        err = distinct.lastError();
        return false;
    }
    for (; !distinct.eof(); distinct.moveNext()) numbers.push_back(distinct.value(0).toLong());
    return true;
}

}  // namespace qx
