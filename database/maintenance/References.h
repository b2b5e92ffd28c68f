#pragma once
// What the sub-database list needs to know of the FOLDERS table, read in one
// pass: the list management and the renumbering run one after another when
// an archive is opened, and on a large archive each pass over FOLDERS costs
// as much as the whole rest of the open.
#include "support/engine/Connection.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace qx {

struct FolderScan {
    std::vector<long> referenced;   // DATABASEID > 0 of documents, distinct, ascending
    long documentsWithoutSub = 0;   // documents whose DATABASEID is 0
    long items = 0;                 // all FOLDERS rows
};

bool ScanFolders(engine::Connection& cn, FolderScan& scan, sql::Error& err);

// Keeps the last scan while the main database is unchanged: no row changed
// through this connection, and no other connection committed.
class FolderScanCache {
public:
    const FolderScan* get(engine::Connection& cn, sql::Error& err);
    void clear() { m_valid = false; }

private:
    bool m_valid = false;
    const void* m_core = nullptr;
    std::int64_t m_changes = 0, m_dataVersion = 0;
    FolderScan m_scan;
};

}  // namespace qx
