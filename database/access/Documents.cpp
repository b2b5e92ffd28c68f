// CDatabase: single document records: parent, folder path, the fields the
// information window shows, and removal of a damaged document.
#include "database/CDatabase.h"
#include "support/CustomDate.h"
#include "support/engine/Recordset.h"
#include "support/Log.h"
#include "support/Tools.h"

namespace qx {

namespace {

// The walk up the folder tree gives up after this many levels: a loop in
// the tree must not hang the check.
constexpr int kMaxFolderDepth = 128;

}  // namespace

long CDatabase::ParentOf(long& nId) {
    if (!Connected(m_AdoCnMain) || nId <= 0) return 0;
    sql::Statement* st = m_AdoCnMain->prepared("SELECT PARENT FROM FOLDERS WHERE (ID = ?)");
    if (!st) return -1;
    st->bind(1, static_cast<std::int64_t>(nId));
    if (st->step() != sql::Step::Row) return -1;
    if (st->isNull(0)) return 0;
    const long parent = static_cast<long>(st->getInt64(0));
    st->reset();
    return parent == nId ? 0 : parent;
}

short CDatabase::VirtualDocumentPath(long& nId, std::string& sPath) {
    if (!Connected(m_AdoCnMain)) return 0;
    return PathBelow(ParentOf(nId), sPath);
}

short CDatabase::PathBelow(long parent, std::string& sPath) {
    // During a check every document of a folder asks for the same path.
    if (m_folderPaths && parent > 0)
        if (auto it = m_folderPaths->find(parent); it != m_folderPaths->end()) {
            sPath = it->second.first;
            return it->second.second;
        }
    const long start = parent;
    std::string path;
    bool valid = true;
    int steps = 0;
    while (valid && parent > 0) {
        sql::Statement* st = m_AdoCnMain->prepared("SELECT NAME FROM FOLDERS WHERE ID = ?");
        if (!st) return 256;
        st->bind(1, static_cast<std::int64_t>(parent));
        if (st->step() == sql::Step::Row) path = (st->isNull(0) ? std::string() : st->getText(0)) + "\\" + path;
        else valid = false;
        st->reset();
        parent = ParentOf(parent);
        if (++steps > kMaxFolderDepth) valid = false;
    }
    sPath = "\\" + path;
    const short status = (valid && parent == 0) ? 0 : 256;
    if (m_folderPaths && start > 0) m_folderPaths->emplace(start, std::make_pair(sPath, status));
    return status;
}

void CDatabase::DocumentInfo(long nId, std::string& sName, std::string& sKeywords, std::string& sNotes,
                             std::string& sDate, std::string& sZip) {
    if (!Connected(m_AdoCnMain)) return;
    engine::Recordset rs;
    if (!rs.open("SELECT * FROM FOLDERS WHERE ID = " + std::to_string(nId), *m_AdoCnMain, engine::CursorMode::Lookup) ||
        rs.eof())
        return;
    sName = NullToStr(rs.value("NAME"));
    std::string keywords;
    for (int i = 1; i <= 5; ++i) {
        keywords += NullToStr(rs.value("WORD" + std::to_string(i)));
        if (!keywords.empty() && !keywords.ends_with("; ")) keywords += "; ";
    }
    if (keywords.ends_with("; ")) keywords.pop_back();
    sKeywords = keywords;
    sNotes = NullToStr(rs.value("NOTES"));
    sDate = FormatStoredDate(NullToStr(rs.value("DATE")));
    sZip = NullToStr(rs.value("POSTAL"));
}

bool CDatabase::RemoveDoc(long& nId) {
    if (!Connected(m_AdoCnMain)) return false;
    auto failed = [&](long number) {
        WriteLog(std::to_string(nId) + " - Error removing (" + std::to_string(number) + ")!");
        return false;
    };
    // Only the document's own sub database may lose the row: whatever else
    // happens to be open can hold another document under the same number.
    const short status = OpenPicbase(nId);
    if (status != 0 || !Connected(m_AdoCnPdb)) return failed(status != 0 ? status : 3704);
    const std::string id = std::to_string(nId);
    if (!m_AdoCnPdb->execute("DELETE FROM PICTURES WHERE ID = " + id))
        return failed(m_AdoCnPdb->errors().empty() ? 0 : m_AdoCnPdb->errors().front().number);
    const auto deleted = m_AdoCnMain->execute("DELETE FROM FOLDERS WHERE ID = " + id);
    if (!deleted) return failed(m_AdoCnMain->errors().empty() ? 0 : m_AdoCnMain->errors().front().number);
    return *deleted == 1;
}

}  // namespace qx
