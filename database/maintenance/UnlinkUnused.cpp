// CDatabase: renumbering the sub databases that documents refer to as
// 1, 2, 3 ... under their standard names and setting the others aside.
#include "database/CDatabase.h"
#include "database/maintenance/References.h"
#include "database/access/FileNames.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/TextResources.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <QString>

#include <algorithm>
#include <filesystem>

namespace qx {

namespace fs = std::filesystem;

namespace {

struct Reference {
    long oldId = 0;
    std::string stored;    // the path DATABASES held for it
    std::string path;      // where its file is now
    int sameFileAs = -1;   // an earlier reference stored with the very same path
};

// Names that differ only in case are one file on some systems and two on
// others; only the file system can tell.
bool SamePath(const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) != 0) return false;
    std::error_code ec;
    return fs::equivalent(PathFromUtf8(a), PathFromUtf8(b), ec) && !ec;
}

bool NameTaken(const std::string& path) {
    std::error_code ec;
    const fs::file_type type = fs::symlink_status(PathFromUtf8(path), ec).type();
    return type != fs::file_type::not_found && type != fs::file_type::none;
}

}  // namespace

bool CDatabase::UnlinkUnused(bool bUpdate) {
    if (!Connected(m_AdoCnMain)) return false;
    Disconnect(m_AdoCnPdb);
    engine::Connection& cn = *m_AdoCnMain;
    const std::string mainPath = MainDatabaseName();

    auto finish = [&] {
        if (bUpdate) ManagePdbList(ListId::Picbases);
        return false;
    };
    auto abort = [&](const std::string& line, long textId, const std::string& path) {
        WriteLog(line);
        if (m_bShowErrors)
            m_window.MsgBox(FormatMsg(GetResString(textId, "Resources not found"), {path}), MsgButtons::OK,
                            MsgIcon::Exclamation, "");
        return finish();
    };
    auto failed = [&](const std::string& during, const sql::Error& e) {
        LogMaintenanceError(during + " (unlinking unused sub databases)", e.code, e.message);
        return false;
    };
    auto lastError = [&] {
        const engine::ProviderError e = cn.errors().empty() ? engine::ProviderError{512, "Unknown error"}
                                                            : cn.errors().front();
        return sql::Error{static_cast<int>(e.number), e.description};
    };

    // Every referenced file must be usable before anything is changed.
    std::vector<Reference> refs;
    {
        std::vector<long> referenced;
        sql::Error listError;
        if (!ReferencedSubDatabases(cn, referenced, listError))
            return failed("listing referenced sub databases", listError);
        for (const long referencedId : referenced) {
            Reference ref;
            ref.oldId = referencedId;
            const std::string number = std::to_string(ref.oldId);
            WriteLog("Distinct database reference found ( " + number + " )");
            sql::Statement* find = cn.prepared("SELECT DATABASE FROM DATABASES WHERE ID = ?");
            if (!find) return failed("looking up sub database " + number, lastError());
            find->bind(1, static_cast<std::int64_t>(ref.oldId));
            const sql::Step step = find->step();
            if (step == sql::Step::Failed) return failed("looking up sub database " + number, find->error());
            if (step == sql::Step::Done) {
                find->reset();
                return abort("Sub database " + number + " is referenced by documents but not listed... Aborting!", 73,
                             SubDatabaseName(mainPath, ref.oldId));
            }
            ref.stored = find->isNull(0) ? std::string() : find->getText(0);
            find->reset();
            ref.path = ref.stored;
            const std::string& path = ref.path;

            if (!FileExists(path)) return abort(FormatMsg("Sub database '%s' was not found!", {path}), 73, path);
            if (!IsArchiveFile(path))
                return abort("Sub database '" + path +
                                 "' is not a file in the folder of the main database and may not be renamed... "
                                 "Aborting!",
                             73, path);
            SetFileReadOnly(path, false);
            bool readOnly = false;
            if (!IsArchiveSubDatabase(path, &readOnly))
                return abort("Sub database '" + path + "' does not open as a sub database of this archive... Aborting!",
                             73, path);
            if (readOnly)
                return abort(FormatMsg("The file '%s' is probabely located on a read-only medium... Aborting!", {path}),
                             74, path);
            for (std::size_t j = 0; j < refs.size(); ++j)
                if (refs[j].stored == ref.stored) {
                    ref.sameFileAs = static_cast<int>(j);
                    break;
                }
            refs.push_back(std::move(ref));
        }
    }

    // From here the table is rebuilt as one change. Should the engine fail
    // halfway, the change is rolled back and the files already renamed get
    // their names back, so documents never point at the wrong file.
    sql::Savepoint savepoint(cn.database());
    if (!savepoint.ok()) return failed("starting the renumbering", cn.database().lastError());
    std::vector<std::pair<std::string, std::string>> renamed;
    auto rename = [&](const std::string& from, const std::string& to) {
        if (!RenameArchiveFile(from, to)) return false;
        renamed.emplace_back(from, to);
        return true;
    };
    auto failedChange = [&](const std::string& during, const sql::Error& e) {
        failed(during, e);
        for (auto it = renamed.rbegin(); it != renamed.rend(); ++it) RenameArchiveFile(it->second, it->first);
        WriteLog("The sub databases and their files were left as they were");
        return false;
    };
    auto storePath = [&](long id, const std::string& path) {
        sql::Statement* set = cn.prepared("UPDATE DATABASES SET DATABASE = ? WHERE ID = ?");
        if (!set) return failedChange("updating sub database " + std::to_string(id), lastError());
        set->bind(1, std::string_view(path));
        set->bind(2, static_cast<std::int64_t>(id));
        return set->run() || failedChange("updating sub database " + std::to_string(id), set->error());
    };

    WriteLog("Deleting all references");
    struct Row {
        long id;
        std::string path;
    };
    std::vector<Row> rows;
    {
        engine::Recordset all;
        if (!all.open("SELECT * FROM DATABASES", cn, engine::CursorMode::Lookup))
            return failedChange("reading the sub databases", all.lastError());
        for (; !all.eof(); all.moveNext()) rows.push_back({all.value("ID").toLong(), NullToStr(all.value("DATABASE"))});
    }
    // The last row goes first, then the others from the top; the counters
    // of colliding ".obsolete" names follow that order.
    if (!rows.empty()) std::rotate(rows.begin(), rows.end() - 1, rows.end());
    for (const Row& row : rows) {
        if (FileExists(row.path)) {
            const std::string obsolete = ObsoleteName(row.path);
            auto ref = std::find_if(refs.begin(), refs.end(), [&](const Reference& r) { return r.path == row.path; });
            bool readOnly = false;
            if (ref != refs.end()) {
                // Checked above; should the rename fail, the file goes
                // straight from its old name to its new one below.
                if (rename(row.path, obsolete)) ref->path = obsolete;
            } else if (!IsArchiveSubDatabase(row.path, &readOnly)) {
                WriteLog("Sub database '" + row.path + "' is not a sub database of this archive and stays where it is");
            } else if (readOnly || IsFileReadOnly(row.path)) {
                WriteLog("Sub database '" + row.path + "' is read-only and stays where it is");
            } else {
                rename(row.path, obsolete);
            }
        }
        WriteLog(std::to_string(row.id) + " - Deleting reference ");
        sql::Statement* del = cn.prepared("DELETE FROM DATABASES WHERE ID = ?");
        if (!del) return failedChange("deleting sub database " + std::to_string(row.id), lastError());
        del->bind(1, static_cast<std::int64_t>(row.id));
        if (!del->run()) return failedChange("deleting sub database " + std::to_string(row.id), del->error());
    }

    WriteLog("Updating references");
    for (std::size_t k = 0; k < refs.size(); ++k) {
        const long i = static_cast<long>(k + 1);
        sql::Statement* add = cn.prepared("INSERT INTO DATABASES (ID, DATABASE) VALUES (?, ?)");
        if (!add) return failedChange("adding sub database " + std::to_string(i), lastError());
        add->bind(1, static_cast<std::int64_t>(i));
        add->bind(2, std::string_view(SubDatabaseName(mainPath, i)));
        if (!add->run()) return failedChange("adding sub database " + std::to_string(i), add->error());
    }

    // Entry k has an old number of at least k + 1, so documents already moved
    // to a lower number are never matched again.
    for (std::size_t k = 0; k < refs.size(); ++k) {
        const long i = static_cast<long>(k + 1);
        Reference& ref = refs[k];
        const std::string standard = SubDatabaseName(mainPath, i);
        sql::Statement* repoint = cn.prepared("UPDATE FOLDERS SET DATABASEID = ? WHERE DATABASEID = ?");
        if (!repoint) return failedChange("renumbering sub database " + std::to_string(ref.oldId), lastError());
        repoint->bind(1, static_cast<std::int64_t>(i));
        repoint->bind(2, static_cast<std::int64_t>(ref.oldId));
        if (!repoint->run())
            return failedChange("renumbering sub database " + std::to_string(ref.oldId), repoint->error());

        if (ref.sameFileAs >= 0) ref.path = refs[static_cast<std::size_t>(ref.sameFileAs)].path;
        WriteLog("\t" + ref.path + "( " + std::to_string(ref.oldId) + " ) -> " + standard + "( " + std::to_string(i) +
                 " )");
        if (ref.sameFileAs >= 0) {
            // Two numbers were stored with one file: both lead to it now.
            if (ref.path != standard && !storePath(i, ref.path)) return false;
            continue;
        }
        if (SamePath(standard, ref.path)) continue;

        if (NameTaken(standard)) {
            if (IsArchiveFile(standard)) {
                const std::string aside = DeletedName(standard);
                if (rename(standard, aside)) {
                    // A referenced file standing there (its own rename failed
                    // earlier) is followed, and so is the row that names it.
                    for (std::size_t m = 0; m < refs.size(); ++m) {
                        if (refs[m].path != standard) continue;
                        refs[m].path = aside;
                        if (m < k && !storePath(static_cast<long>(m + 1), aside)) return false;
                    }
                }
            } else {
                WriteLog("'" + standard + "' is not a file of this archive and stays where it is");
            }
        }
        if (rename(ref.path, standard)) {
            ref.path = standard;
        } else if (!storePath(i, ref.path)) {  // the row follows the file, so its documents stay linked
            return false;
        }
    }

    sql::Error err;
    if (!savepoint.release(&err)) return failedChange("saving the renumbering", err);
    return finish();
}

}  // namespace qx
