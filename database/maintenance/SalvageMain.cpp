// CDatabase: salvage of a damaged main database.
#include "database/CDatabase.h"
#include "database/maintenance/Salvage.h"
#include "support/Log.h"

namespace qx {

bool CDatabase::SalvageMainDatabase(SalvageFileReport& report) {
    report.kind = SalvageFileReport::Kind::Main;
    report.file = MainDatabaseName();
    report.outcome = SalvageFileReport::Outcome::Failed;
    report.error = "its tables do not all read, and a main database is not salvaged";
    WriteLog("Salvage: " + report.file + " is not salvaged: " + report.error);
    return false;
}

}  // namespace qx
