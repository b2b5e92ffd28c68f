// CDatabase: renumbering the sub databases that documents refer to as
// 1, 2, 3 ... under their standard names and setting the others aside.
//
// The whole renumbering is planned before anything changes, and only a
// plan that changes something is carried out: an archive already in order
// is read and left alone. The table changes and the renames are one change
// through the intent record (ArchiveChange.cpp), so a crash at any moment
// leaves an archive that the next open brings to one side or the other.
#include "database/CDatabase.h"
#include "database/access/EngineErrorText.h"
#include "database/access/FileNames.h"
#include "support/engine/Connection.h"
#include "database/access/SubDatabasePlace.h"
#include "database/maintenance/NamePlanner.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/Tools.h"
#include "support/engine/NoBusyWait.h"
#include "support/engine/Recordset.h"

#include <algorithm>
#include <set>

namespace qx {


namespace {

// Whether another program holds `path` now (the engine answers "busy" or
// "locked"): asked without waiting, after an open that already waited.
bool HeldByAnotherProgram(Env& env, const std::string& path) {
    const sql::NoBusyWaitHere noWait;
    sql::Error err;
    sql::Database db = sql::Database::open(env, path, engine::PasswordBytes(Settings::Get().DatabasePassword),
                                           sql::OpenMode::ReadOnly, err);
    if (!err) db.exec("SELECT ID FROM PICTURES WHERE ID = NULL", &err);
    const int code = err.code & 0xff;
    return code == sql::kBusy || code == sql::kLocked;
}

struct Reference {
    long oldId = 0;
    std::string path;      // the file as it is now (links resolved)
    FileId file;
    int sameFileAs = -1;   // an earlier reference to the very same file
    std::string via;       // where it waits between the two rename phases ("" when it does not move)
    std::string finalPath; // where it is when the renumbering is done
};

struct Row {
    long id;
    std::string path;
};

}  // namespace

bool CDatabase::UnlinkUnused(bool bUpdate) {
    if (!Connected(m_AdoCnMain)) return false;
    Disconnect(m_AdoCnPdb);
    engine::Connection& cn = *m_AdoCnMain;
    const std::string mainPath = MainDatabaseName();
    const std::string folder = GetFolderPart(mainPath);

    auto finish = [&] {
        if (bUpdate) ManagePdbList(ListId::Picbases);
        return false;
    };
    auto abort = [&](const std::string& line, long textId, const std::string& arg) {
        WriteLog(line);
        if (m_bShowErrors)
            m_window.MsgBox(FormatMsg(GetResString(textId, "Resources not found"), {arg}), MsgButtons::OK,
                            MsgIcon::Exclamation, "");
        return finish();
    };
    auto failed = [&](const std::string& during, const sql::Error& e) {
        LogMaintenanceError(during + " (unlinking unused sub databases)", e.code, e.message);
        WriteLog("The sub databases and their files were left as they were");
        // The engine's words are for whoever supports the user; the user is
        // told what they mean.
        if (m_bShowErrors)
            m_window.MsgBoxDetails(
                FormatMsg(GetResString(208, "Resources not found"), {ProblemSentence(ProblemOfCode(e.code), mainPath)}),
                EngineDetails({{e.code, e.message}}), MsgButtons::OK, MsgIcon::Exclamation, "");
        return false;
    };

    // -- What documents refer to, and where those files are. Every one must
    // be a usable file of this archive before anything is planned.
    sql::Error scanError;
    const FolderScan* scan = m_folderScan.get(cn, scanError);
    if (!scan) return failed("listing referenced sub databases", scanError);
    const std::vector<long> referenced = scan->referenced;

    std::vector<Reference> refs;
    for (const long referencedId : referenced) {
        Reference ref;
        ref.oldId = referencedId;
        const std::string number = std::to_string(ref.oldId);
        WriteLog("Distinct database reference found ( " + number + " )");
        sql::Statement* find = cn.prepared("SELECT DATABASE FROM DATABASES WHERE ID = ?");
        if (!find) return failed("looking up sub database " + number, cn.database().lastError());
        find->bind(1, static_cast<std::int64_t>(ref.oldId));
        const sql::Step step = find->step();
        if (step == sql::Step::Failed) {
            const sql::Error e = find->error();
            find->reset();
            return failed("looking up sub database " + number, e);
        }
        if (step == sql::Step::Done) {
            find->reset();
            return abort("Sub database " + number + " is referenced by documents but not listed... Aborting!", 73,
                         SubDatabaseName(mainPath, ref.oldId));
        }
        const std::string stored = find->isNull(0) ? std::string() : find->getText(0);
        find->reset();

        if (!m_env->FileExists(stored)) return abort(FormatMsg("Sub database '%s' was not found!", {stored}), 73, stored);
        if (!IsArchiveFile(stored))
            return abort("Sub database '" + stored +
                             "' is not a file in the folder of the main database and may not be renamed... Aborting!",
                         LocateSubDatabase(*m_env, stored, mainPath).place == SubDatabasePlace::Outside ? 266 : 73, stored);
        m_env->SetReadOnly(stored, false);
        bool readOnly = false;
        const bool opens = IsArchiveSubDatabase(stored, &readOnly);
        if (!opens && HeldByAnotherProgram(*m_env, stored)) {
            // Held is not damaged: the caller ends as in use and names the file.
            m_findings.noteInUse(stored);
            return abort("Sub database '" + stored + "' is in use by another program... Aborting!", 267, stored);
        }
        if (!opens)
            return abort("Sub database '" + stored + "' does not open as a sub database of this archive... Aborting!",
                         73, stored);
        if (readOnly)
            return abort(FormatMsg("The file '%s' is probabely located on a read-only medium... Aborting!", {stored}),
                         74, stored);
        std::error_code ec;
        ref.path = m_env->Canonical(stored, ec);
        const auto id = m_env->IdentityOf(ref.path);
        if (ec || !id) return abort(FormatMsg("Sub database '%s' was not found!", {stored}), 73, stored);
        ref.file = *id;
        ref.sameFileAs = FirstOfFile(refs, ref.file);
        refs.push_back(std::move(ref));
    }

    // -- The rows as they are, in the order they are taken down: the last
    // one first, then the others from the top (the counters of colliding
    // ".obsolete" names follow that order).
    std::vector<Row> rows;
    {
        engine::Recordset all;
        if (!all.open("SELECT * FROM DATABASES", cn, engine::CursorMode::Lookup))
            return failed("reading the sub databases", all.lastError());
        for (; !all.eof(); all.moveNext()) rows.push_back({all.value("ID").toLong(), NullToStr(all.value("DATABASE"))});
        if (all.lastError()) return failed("reading the sub databases", all.lastError());
    }
    if (!rows.empty()) std::rotate(rows.begin(), rows.end() - 1, rows.end());

    // -- The plan. A standard name must be free, or a regular file that
    // the plan moves away; anything else stops the renumbering unchanged.
    NamePlanner names(*m_env);
    std::vector<PlannedRename> setAside, intoPlace;
    std::vector<FileId> movedAway;  // files that leave their names in the first phase
    auto refOf = [&](const FileId& f) {
        return std::find_if(refs.begin(), refs.end(), [&](const Reference& r) { return r.file == f; });
    };
    for (std::size_t k = 0; k < refs.size(); ++k) {
        Reference& ref = refs[k];
        if (ref.sameFileAs >= 0) continue;
        const std::string standard = SubDatabaseName(mainPath, static_cast<long>(k + 1));
        ref.finalPath = standard;
        const EntryKind kind = m_env->KindOf(standard);
        if (kind != EntryKind::None && kind != EntryKind::RegularFile)
            return abort("'" + standard + "' is not a regular file: the sub databases are not renumbered", 206,
                         standard);
        if (kind == EntryKind::RegularFile && m_env->IdentityOf(standard) == ref.file) continue;
        ref.via = names.free(ref.path, ".obsolete");
        setAside.push_back({ref.path, ref.via});
        movedAway.push_back(ref.file);
        intoPlace.push_back({ref.via, standard});
    }
    std::set<std::string> setAsideRows;
    for (const Row& row : rows) {
        if (!m_env->FileExists(row.path)) continue;
        const auto id = m_env->IdentityOf(row.path);
        if (!id || refOf(*id) != refs.end()) continue;  // a referenced file, under another name
        if (std::find(movedAway.begin(), movedAway.end(), *id) != movedAway.end()) continue;
        bool readOnly = false;
        if (!IsArchiveSubDatabase(row.path, &readOnly)) {
            WriteLog("Sub database '" + row.path + "' is not a sub database of this archive and stays where it is");
        } else if (readOnly || m_env->IsReadOnly(row.path)) {
            WriteLog("Sub database '" + row.path + "' is read-only and stays where it is");
        } else {
            std::error_code ec;
            const std::string path = m_env->Canonical(row.path, ec);
            if (ec) continue;
            setAside.push_back({path, names.free(path, ".obsolete")});
            movedAway.push_back(*id);
        }
    }
    // What still stands on a standard name that a file must take is
    // nobody's sub database: it goes aside as ".deleted".
    for (const PlannedRename& r : intoPlace) {
        if (m_env->KindOf(r.to) != EntryKind::RegularFile) continue;
        const auto id = m_env->IdentityOf(r.to);
        if (id && std::find(movedAway.begin(), movedAway.end(), *id) != movedAway.end()) continue;
        if (!IsArchiveFile(r.to))
            return abort("'" + r.to + "' is not a file of this archive: the sub databases are not renumbered", 206,
                         r.to);
        setAside.push_back({r.to, names.free(r.to, ".deleted")});
        if (id) movedAway.push_back(*id);
    }

    // The rows the table must hold afterwards.
    std::vector<Row> wanted;
    for (std::size_t k = 0; k < refs.size(); ++k) {
        const Reference& ref = refs[k];
        const Reference& owner = ref.sameFileAs >= 0 ? refs[static_cast<std::size_t>(ref.sameFileAs)] : ref;
        wanted.push_back({static_cast<long>(k + 1), owner.finalPath});
    }
    const bool renumbered = std::any_of(refs.begin(), refs.end(), [&](const Reference& r) {
        return r.oldId != static_cast<long>(&r - refs.data() + 1);
    });
    std::vector<Row> current = rows;
    auto byId = [](const Row& a, const Row& b) { return a.id < b.id; };
    std::sort(current.begin(), current.end(), byId);
    const bool sameRows = current.size() == wanted.size() &&
                          std::equal(current.begin(), current.end(), wanted.begin(),
                                     [](const Row& a, const Row& b) { return a.id == b.id && a.path == b.path; });
    if (!renumbered && sameRows && setAside.empty()) {
        WriteLog("The sub databases are numbered 1 to " + std::to_string(refs.size()) +
                 " under their standard names: nothing to change");
        return finish();
    }

    std::string why;
    if (!MayChangeMain("The sub databases are not renumbered")) return finish();

    // -- The change: the table in one transaction, then the renames.
    auto changeTablesOnce = [&](sql::Error& err) {
        WriteLog("Deleting all references");
        for (const Row& row : rows) {
            WriteLog(std::to_string(row.id) + " - Deleting reference ");
            sql::Statement* del = cn.prepared("DELETE FROM DATABASES WHERE ID = ?");
            if (!del) return err = cn.database().lastError(), false;
            del->bind(1, static_cast<std::int64_t>(row.id));
            if (!del->run()) return err = del->error(), false;
        }
        WriteLog("Updating references");
        for (const Row& row : wanted) {
            sql::Statement* add = cn.prepared("INSERT INTO DATABASES (ID, DATABASE) VALUES (?, ?)");
            if (!add) return err = cn.database().lastError(), false;
            add->bind(1, static_cast<std::int64_t>(row.id));
            add->bind(2, std::string_view(row.path));
            if (!add->run()) return err = add->error(), false;
        }
        // Entry k has an old number of at least k + 1, so documents already
        // moved to a lower number are never matched again.
        for (std::size_t k = 0; k < refs.size(); ++k) {
            const long i = static_cast<long>(k + 1);
            const Reference& ref = refs[k];
            const Reference& owner = ref.sameFileAs >= 0 ? refs[static_cast<std::size_t>(ref.sameFileAs)] : ref;
            if (ref.oldId != i) {
                sql::Statement* repoint = cn.prepared("UPDATE FOLDERS SET DATABASEID = ? WHERE DATABASEID = ?");
                if (!repoint) return err = cn.database().lastError(), false;
                repoint->bind(1, static_cast<std::int64_t>(i));
                repoint->bind(2, static_cast<std::int64_t>(ref.oldId));
                if (!repoint->run()) return err = repoint->error(), false;
            }
            WriteLog("\t" + (owner.via.empty() ? owner.path : owner.via) + "( " + std::to_string(ref.oldId) +
                     " ) -> " + wanted[k].path + "( " + std::to_string(i) + " )");
        }
        return true;
    };
    auto changeTables = [&](sql::Error& err) {
        if (changeTablesOnce(err)) return true;
        LogMaintenanceError("renumbering the sub databases (unlinking unused sub databases)", err.code, err.message);
        return false;
    };
    std::vector<PlannedRename> renames = setAside;
    renames.insert(renames.end(), intoPlace.begin(), intoPlace.end());
    switch (ChangeArchive("renumber sub databases", renames, changeTables, why)) {
    case ChangeOutcome::Done:
        for (const PlannedRename& r : renames) WriteLog("Renamed '" + r.from + "' to '" + r.to + "'");
        break;
    case ChangeOutcome::NothingChanged:
        // As with any failure of the engine, the list is not refreshed.
        WriteLog("The renumbering was not carried out: " + why);
        WriteLog("The sub databases and their files were left as they were");
        if (m_bShowErrors)
            m_window.MsgBoxDetails(
                FormatMsg(GetResString(208, "Resources not found"),
                          {GetResString(344, "De reden staat hieronder bij de details.")}),
                why, MsgButtons::OK, MsgIcon::Exclamation, "");
        return false;
    case ChangeOutcome::Pending:
        // The tables already name the new files; nothing may use the archive
        // until an open has finished the renames (the opening refuses it).
        WriteLog("The renumbering is committed but not finished: " + why);
        break;
    }
    return finish();
}

}  // namespace qx
