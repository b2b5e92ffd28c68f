#include "database/CDatabase.h"
#include "support/Log.h"

namespace qx {

bool CDatabase::CompactSingle(const std::string& sDatabaseName, const std::string&) {
    WriteLog("Compact: Unable to compact " + sDatabaseName);
    return false;
}

bool CDatabase::CompactAll() { return false; }

}  // namespace qx
