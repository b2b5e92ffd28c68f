// CDatabase: single document records: parent, folder path, the fields the
// information window shows, and removal of a damaged document.
#include "database/CDatabase.h"
#include "support/CustomDate.h"
#include "support/FileOperations.h"
#include "support/Settings.h"
#include "support/engine/Recordset.h"
#include "support/Log.h"
#include "support/Tools.h"

#include <vector>

namespace qx {

namespace {

// The walk up the folder tree gives up after this many levels: a loop in
// the tree must not hang the check.
constexpr int kMaxFolderDepth = 128;

bool IsLockError(long number) { return number == sql::kBusy || number == sql::kLocked; }

long FirstError(const engine::Connection& cn) { return cn.errors().empty() ? 0 : cn.errors().front().number; }

// Why a sub database did not open, asked again on the file itself: a lock
// held by another program must not be taken for damage, since a document
// removed for damage loses its record for good.
// A file not opened for writing because it or a side file is a link or no
// regular file is not damaged either.
enum class Reopened { Locked, NotRegular, Damaged, Opens };

Reopened ReopenSubDatabase(Env& env, const std::string& path) {
    if (path.empty() || !env.FileExists(path)) return Reopened::Damaged;
    engine::Connection cn(env);
    if (!cn.open(CDatabase::ConnectString(path, Settings::Get().DatabasePassword))) {
        if (FirstError(cn) == sql::kNotRegularFile) return Reopened::NotRegular;
        return IsLockError(FirstError(cn)) ? Reopened::Locked : Reopened::Damaged;
    }
    engine::Recordset probe;
    if (probe.open("SELECT ID FROM PICTURES WHERE ID = NULL", cn, engine::CursorMode::Lookup)) return Reopened::Opens;
    return IsLockError(probe.lastError().code) ? Reopened::Locked : Reopened::Damaged;
}

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
    sDate = ShowStoredDate(NullToStr(rs.value("DATE")));
    sZip = NullToStr(rs.value("POSTAL"));
}

bool CDatabase::RemoveDoc(long& nId) {
    if (!Connected(m_AdoCnMain)) return false;
    const std::string id = std::to_string(nId);
    auto failed = [&](long number) {
        WriteLog(id + " - Error removing (" + std::to_string(number) + ")!");
        return false;
    };
    auto locked = [&](const std::string& picbase) {
        WriteLog(id + " - Not removed: sub database '" + picbase + "' is locked by another program");
        return false;
    };
    // A folder is no document: removing it would orphan what it holds.
    {
        sql::Statement* kind =
            m_AdoCnMain->prepared("SELECT CASE WHEN ISFOLDER THEN 1 ELSE 0 END FROM FOLDERS WHERE ID = ?");
        if (!kind) return failed(FirstError(*m_AdoCnMain));
        kind->bind(1, static_cast<std::int64_t>(nId));
        const sql::Step step = kind->step();
        if (step == sql::Step::Failed) return failed(kind->error().code);
        const bool folder = step == sql::Step::Row && kind->getInt64(0) != 0;
        kind->reset();
        if (folder) {
            WriteLog(id + " - Not removed: it is a folder, not a document");
            return false;
        }
    }
    // Only the document's own sub database may lose the row: whatever else
    // happens to be open can hold another document under the same number.
    std::string picbase;
    long databaseId = 0;
    const short status = OpenPicbase(nId, &picbase, &databaseId);
    std::string note;  // logged once the record is gone
    switch (status) {
    case 0:
        if (!Connected(m_AdoCnPdb)) return failed(3704);
        if (m_AdoCnPdb->isReadOnly()) {
            note = id + " - Data row left in '" + m_AdoCnPdb->dataSource() + "': the file cannot be written";
            break;
        }
        if (!m_AdoCnPdb->execute("DELETE FROM PICTURES WHERE ID = " + id)) {
            const long number = FirstError(*m_AdoCnPdb);
            return IsLockError(number) ? locked(picbase) : failed(number);
        }
        break;
    case 1:
    case 2:
    case 512: {
        if (status == 512) {
            std::string path;
            sql::Statement* row = m_AdoCnMain->prepared("SELECT DATABASE FROM DATABASES WHERE ID = ?");
            if (!row) return failed(FirstError(*m_AdoCnMain));
            row->bind(1, static_cast<std::int64_t>(databaseId));
            const sql::Step step = row->step();
            if (step == sql::Step::Failed) return failed(row->error().code);
            if (step == sql::Step::Row && !row->isNull(0)) path = row->getText(0);
            row->reset();
            // The copy beside the main database is the one that was opened.
            const std::string beside = GetFolderPart(MainDatabaseName()) + PathSeparator() + picbase;
            if (!picbase.empty() && m_env->FileExists(beside)) path = beside;
            switch (ReopenSubDatabase(*m_env, path)) {
            case Reopened::Locked: return locked(picbase);
            case Reopened::NotRegular:
                WriteLog(id + " - Not removed: sub database '" + picbase +
                         "' or one of its side files is a link or no regular file");
                return false;
            case Reopened::Opens:
                WriteLog(id + " - Not removed: sub database '" + picbase + "' did not open at first; try again");
                return false;
            case Reopened::Damaged: break;
            }
        }
        const std::string why = status == 1   ? "no sub database is registered for it"
                                : status == 2 ? "sub database '" + picbase + "' not found"
                                              : "sub database '" + picbase + "' could not be opened";
        note = id + " - Data row not removed: " + why + " (" + std::to_string(status) + ")";
        break;
    }
    default: return failed(status);
    }

    // Pages refer to their container alone; when its data is lost with its
    // sub database, pages left behind would turn into single documents.
    bool container = false;
    if (status != 0) {
        sql::Statement* kind =
            m_AdoCnMain->prepared("SELECT COUNT(*) FROM FOLDERS WHERE ID = ? AND TEMPLATE1 LIKE 'MP'");
        if (!kind) return failed(FirstError(*m_AdoCnMain));
        kind->bind(1, static_cast<std::int64_t>(nId));
        if (kind->step() != sql::Step::Row) return failed(kind->error().code);
        container = kind->getInt64(0) > 0;
        kind->reset();
    }
    // The pages go with their own data rows, each in the sub database its
    // DATABASEID names: a row left behind without its record would come
    // back from the next check as a nameless document.
    if (container) {
        std::vector<long> pages;
        {
            sql::Statement list(m_AdoCnMain->database(),
                                "SELECT ID FROM FOLDERS WHERE TEMPLATE1 = ? COLLATE NOCASE AND ID <> ? ORDER BY ID");
            list.bind(1, std::string_view("MC" + id));
            list.bind(2, static_cast<std::int64_t>(nId));
            sql::Step step;
            while ((step = list.step()) == sql::Step::Row) pages.push_back(static_cast<long>(list.getInt64(0)));
            if (step == sql::Step::Failed) return failed(list.error().code);
        }
        for (long page : pages) {
            const std::string pageId = std::to_string(page);
            std::string pagePicbase;
            long pageRef = page;
            const short pageStatus = OpenPicbase(pageRef, &pagePicbase);
            if (pageStatus == 512 && !pagePicbase.empty()) {
                // As for the document itself: a page's data row is only
                // given up when its sub database is really damaged.
                switch (ReopenSubDatabase(*m_env, GetFolderPart(MainDatabaseName()) + PathSeparator() + pagePicbase)) {
                case Reopened::Locked: return locked(pagePicbase);
                case Reopened::NotRegular:
                    WriteLog(id + " - Not removed: sub database '" + pagePicbase + "' of page " + pageId +
                             " or one of its side files is a link or no regular file");
                    return false;
                case Reopened::Opens:
                    WriteLog(id + " - Not removed: sub database '" + pagePicbase + "' of page " + pageId +
                             " did not open at first; try again");
                    return false;
                case Reopened::Damaged: break;
                }
            }
            if (pageStatus != 0 || !Connected(m_AdoCnPdb)) {
                WriteLog(id + " - Data row of page " + pageId + " not removed: sub database '" + pagePicbase +
                         "' could not be opened (" + std::to_string(pageStatus) + ")");
                continue;
            }
            if (m_AdoCnPdb->isReadOnly()) {
                WriteLog(id + " - Data row of page " + pageId + " left in '" + m_AdoCnPdb->dataSource() +
                         "': the file cannot be written");
                continue;
            }
            if (!m_AdoCnPdb->execute("DELETE FROM PICTURES WHERE ID = " + pageId)) {
                const long number = FirstError(*m_AdoCnPdb);
                return IsLockError(number) ? locked(pagePicbase) : failed(number);
            }
        }
    }
    const std::string where =
        container ? "(ID = " + id + ") OR (TEMPLATE1 = 'MC" + id + "' COLLATE NOCASE)" : "ID = " + id;
    const auto deleted = m_AdoCnMain->execute("DELETE FROM FOLDERS WHERE " + where);
    if (!deleted) return failed(FirstError(*m_AdoCnMain));
    if (*deleted == 0) return false;
    if (!note.empty()) WriteLog(note);
    if (container && *deleted > 1) WriteLog(id + " - " + std::to_string(*deleted - 1) + " page(s) removed with it");
    return true;
}

}  // namespace qx
