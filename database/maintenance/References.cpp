#include "database/maintenance/References.h"

#include <set>

namespace qx {

namespace {

bool DataVersion(engine::Connection& cn, std::int64_t& version, sql::Error& err) {
    sql::Statement* st = cn.prepared("PRAGMA data_version");
    if (!st) {
        err = cn.database().lastError();
        return false;
    }
    const sql::Step step = st->step();
    if (step != sql::Step::Row) {
        err = st->error();
        st->reset();
        return false;
    }
    version = st->getInt64(0);
    st->reset();
    return true;
}

}  // namespace

bool ScanFolders(engine::Connection& cn, FolderScan& scan, sql::Error& err) {
    scan = {};
    // The tests are those of the queries the list management is defined
    // by ("NOT ISFOLDER AND DATABASEID > 0"), evaluated by the engine so that
    // Null and odd values count exactly as they would there.
    sql::Statement st(cn.database(), "SELECT (NOT ISFOLDER) AND DATABASEID > 0, (NOT ISFOLDER) AND DATABASEID = 0, "
                                     "DATABASEID FROM FOLDERS");
    std::set<long> referenced;
    for (;;) {
        const sql::Step step = st.step();
        if (step == sql::Step::Done) break;
        if (step == sql::Step::Failed) {
            err = st.error();
            return false;
        }
        ++scan.items;
        if (!st.isNull(0) && st.getInt64(0) != 0) referenced.insert(static_cast<long>(st.getInt64(2)));
        else if (!st.isNull(1) && st.getInt64(1) != 0) ++scan.documentsWithoutSub;
    }
    scan.referenced.assign(referenced.begin(), referenced.end());
    return true;
}

const FolderScan* FolderScanCache::get(engine::Connection& cn, sql::Error& err) {
    std::int64_t version = 0;
    if (!DataVersion(cn, version, err)) return nullptr;
    const std::int64_t changes = cn.database().totalChanges();
    if (m_valid && m_core == cn.core().get() && m_changes == changes && m_dataVersion == version) return &m_scan;
    m_valid = false;
    if (!ScanFolders(cn, m_scan, err)) return nullptr;
    m_valid = true;
    m_core = cn.core().get();
    m_changes = changes;
    m_dataVersion = version;
    return &m_scan;
}

}  // namespace qx
