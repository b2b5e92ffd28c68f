// CDatabase: bringing the DATABASES table in line with the documents and the
// files on disk, listing the sub databases, and the checks that keep the
// list maintenance from touching files outside the archive.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/SubDatabasePlace.h"
#include "database/maintenance/References.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/HumanFormat.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <cerrno>
#include <cstdio>

namespace qx {


namespace {

// Whole kilobytes, truncated, grouped the Dutch way ("1.088KB") whatever
// the system's locale: the interface is Dutch. A file under one kilobyte
// reads "0KB", not a bare "KB".
std::string FormatKB(std::int64_t kb) { return FormatCount(kb) + "KB"; }

std::string WithoutExtension(const std::string& fileName) {
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

engine::ProviderError LastError(const engine::Connection& cn) {
    return cn.errors().empty() ? engine::ProviderError{512, "Unknown error"} : cn.errors().front();
}

}  // namespace

void CDatabase::LogMaintenanceError(const std::string& sDuring, long nNumber, const std::string& sDescription) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%lX", static_cast<unsigned long>(static_cast<std::uint32_t>(nNumber)));
    WriteLog(std::string("Error [0x") + hex + "] while " + sDuring + ": " + sDescription);
}

bool CDatabase::IsArchiveFile(const std::string& sPath) const {
    const std::string mainPath = MainDatabaseName();
    if (mainPath.empty() || sPath.empty()) return false;
    // The entry a rename acts on must lie in the folder itself, and so must
    // the file it leads to.
    return m_env->EntryLiesIn(sPath, GetFolderPart(mainPath)) &&
           LocateSubDatabase(*m_env, sPath, mainPath).place == SubDatabasePlace::Archive;
}

bool CDatabase::IsArchiveSubDatabase(const std::string& sPath, bool* pbReadOnly) const {
    if (pbReadOnly) *pbReadOnly = false;
    if (!IsArchiveFile(sPath)) return false;
    engine::Connection cn(*m_env);
    if (!cn.open(ConnectString(sPath, Settings::Get().DatabasePassword))) return false;
    bool ok;
    {
        engine::Recordset probe;
        ok = probe.open("SELECT ID FROM PICTURES WHERE ID = NULL", cn, engine::CursorMode::Lookup);
    }
    if (ok && pbReadOnly) *pbReadOnly = cn.isReadOnly();
    cn.close();
    return ok;
}

bool CDatabase::RenameArchiveFile(const std::string& sFrom, const std::string& sTo, std::string_view point) {
    if (const int rc = m_env->RenameNoReplace(sFrom, sTo, point)) {
        if (rc == EEXIST)
            WriteLog("Could not rename '" + sFrom + "' to '" + sTo + "': that name is taken");
        else
            LogMaintenanceError("renaming '" + sFrom + "' to '" + sTo + "'", rc, ErrorText(rc));
        return false;
    }
    return true;
}

void CDatabase::NoteSaveFailure(const std::string& sFile, const sql::Error& e) {
    LogMaintenanceError("saving the changes in '" + sFile + "'", e.code,
                        e.message + "; the changes since the last save were undone");
    std::string& first = m_window.State().m_sSaveError;
    if (first.empty()) first = "'" + sFile + "': " + e.message;
    if ((e.code & 0xff) == 13 /* full */) m_findings.diskFull = true;
}

bool CDatabase::VerifyBeforeChange(std::string& why) {
    std::int64_t version = 0;
    {
        sql::Statement st(m_AdoCnMain->database(), "PRAGMA data_version");
        if (st.step() != sql::Step::Row) {
            why = st.error().message;
            return false;
        }
        version = st.getInt64(0);
    }
    const void* core = m_AdoCnMain->core().get();
    if (!m_verified || m_verified->core != core || m_verified->version != version) {
        Verdict v{core, version, false, {}};
        v.ok = MainDatabaseReadsCleanly(v.why);
        m_verified = v;
    }
    why = m_verified->why;
    return m_verified->ok;
}

bool CDatabase::MayChangeMain(const std::string& sRefusal) {
    std::string why;
    if (VerifyBeforeChange(why)) return true;
    const std::string mainPath = MainDatabaseName();
    WriteLog(sRefusal + ": the main database '" + mainPath + "' fails its integrity check (" + why + ")");
    if (!m_bDamageTold && m_bShowErrors) {
        m_bDamageTold = true;
        m_window.MsgBox(FormatMsg(GetResString(207, "Resources not found"), {mainPath}), MsgButtons::OK,
                        MsgIcon::Exclamation, GetResString(86, "Resources not found"));
    }
    return false;
}

// A retired file is the sub database of number n only when it holds the
// data of the documents that refer to n: after a renumbering, the retired
// file of an old number holds other documents entirely.
bool CDatabase::RetiredFileBelongsTo(const std::string& sRetired, long nNumber) {
    std::vector<long> ids;
    {
        sql::Statement st(m_AdoCnMain->database(),
                          "SELECT ID FROM FOLDERS WHERE NOT ISFOLDER AND DATABASEID = ? ORDER BY ID LIMIT 64");
        st.bind(1, static_cast<std::int64_t>(nNumber));
        for (sql::Step step; (step = st.step()) != sql::Step::Done;) {
            if (step == sql::Step::Failed) {
                WriteLog("'" + sRetired + "' stays where it is: the documents of sub database " +
                         std::to_string(nNumber) + " cannot be read (" + st.error().message + ")");
                return false;
            }
            ids.push_back(static_cast<long>(st.getInt64(0)));
        }
    }
    if (ids.empty()) return false;
    engine::Connection cn(*m_env);
    if (!cn.open(ConnectString(sRetired, Settings::Get().DatabasePassword))) return false;
    std::size_t found = 0;
    {
        sql::Statement st(cn.database(), "SELECT 1 FROM PICTURES WHERE ID = ?");
        for (const long id : ids) {
            st.bind(1, static_cast<std::int64_t>(id));
            const sql::Step step = st.step();
            st.reset();
            if (step == sql::Step::Failed) {
                WriteLog("'" + sRetired + "' stays where it is: it cannot be read (" + st.error().message + ")");
                return false;
            }
            if (step == sql::Step::Row) ++found;
        }
    }
    cn.close();
    return found * 2 > ids.size();
}

namespace {

// Whether no document refers to sub database `id`: false also when that
// cannot be read.
bool NoDocumentIn(sql::Database& main, long id) {
    sql::Statement st(main, "SELECT 1 FROM FOLDERS WHERE NOT ISFOLDER AND DATABASEID = ? LIMIT 1");
    st.bind(1, static_cast<std::int64_t>(id));
    return st.step() == sql::Step::Done;
}

}  // namespace

bool CDatabase::ManagePdbList(ListId list) {
    if (!Connected(m_AdoCnMain)) return false;
    m_window.ListClear(list);
    MainWindowState& state = m_window.State();

    const std::string mainPath = MainDatabaseName();
    if (!m_env->FileExists(mainPath)) {
        state.m_nDBSizeMB = 0;
        m_window.MsgBox(GetResString(95, "Resources not found"), MsgButtons::OK, MsgIcon::Exclamation,
                        GetResString(86, "Resources not found"));
        return false;
    }
    state.m_nDBSizeMB = static_cast<long>(m_env->FileLength(mainPath) / 1024 / 1024);

    engine::Connection& cn = *m_AdoCnMain;
    auto failed = [&](const std::string& during, const sql::Error& e) {
        LogMaintenanceError(during + " (sub database list)", e.code, e.message);
        return false;
    };
    auto failedOn = [&](const std::string& during) {
        const engine::ProviderError e = LastError(cn);
        return failed(during, {static_cast<int>(e.number), e.description});
    };

    // One pass over FOLDERS answers the three questions below.
    sql::Error scanError;
    const FolderScan* scan = m_folderScan.get(cn, scanError);
    if (!scan) return failed("reading the documents", scanError);
    const FolderScan figures = *scan;

    // Nothing is written to a main database that does not read cleanly:
    // what is read from it may be wrong.
    bool verified = false;
    auto mayChange = [&] { return verified || (verified = MayChangeMain("The sub database list is left as it is")); };

    // Documents without stored data are legitimate and keep their names,
    // keywords and notes: they are counted, never deleted. A DATABASES row 0
    // can belong to no document and goes.
    WriteLog("There were " + std::to_string(figures.documentsWithoutSub) +
             " document links found that referenced invalid sub 0");
    {
        sql::Statement* row0 = cn.prepared("SELECT 1 FROM DATABASES WHERE ID = 0");
        if (!row0) return failedOn("looking up sub database 0");
        const sql::Step step = row0->step();
        row0->reset();
        if (step == sql::Step::Failed) return failed("looking up sub database 0", row0->error());
        if (step == sql::Step::Row) {
            if (!mayChange()) return false;
            if (!cn.execute("DELETE FROM DATABASES WHERE ID = 0")) return failedOn("removing sub database 0");
        }
    }

    // Every sub database that documents refer to gets a row.
    for (const long n : figures.referenced) {
        WriteLog("Distinct database reference found (" + std::to_string(n) + ")");
        sql::Statement* find = cn.prepared("SELECT ID FROM DATABASES WHERE ID = ?");
        if (!find) return failedOn("looking up sub database " + std::to_string(n));
        find->bind(1, static_cast<std::int64_t>(n));
        const sql::Step step = find->step();
        find->reset();
        if (step == sql::Step::Failed) return failed("looking up sub database " + std::to_string(n), find->error());
        if (step == sql::Step::Row) continue;
        if (!mayChange()) return false;
        sql::Statement* add = cn.prepared("INSERT INTO DATABASES (ID, DATABASE) VALUES (?, ?)");
        if (!add) return failedOn("adding sub database " + std::to_string(n));
        add->bind(1, static_cast<std::int64_t>(n));
        add->bind(2, std::string_view(SubDatabaseName(mainPath, n)));
        if (!add->run()) return failed("adding sub database " + std::to_string(n), add->error());
    }

    state.m_nItemCount = figures.items;

    engine::Recordset rows;
    if (!rows.open("SELECT * FROM DATABASES", cn, engine::CursorMode::Lookup))
        return failed("reading the sub databases", rows.lastError());
    bool result = !rows.eof();
    auto storePath = [&](long id, const std::string& path) {
        if (!mayChange()) return false;
        sql::Statement* set = cn.prepared("UPDATE DATABASES SET DATABASE = ? WHERE ID = ?");
        if (!set) return failedOn("updating sub database " + std::to_string(id));
        set->bind(1, std::string_view(path));
        set->bind(2, static_cast<std::int64_t>(id));
        return set->run() || failed("updating sub database " + std::to_string(id), set->error());
    };
    const std::string mainTitle = WithoutExtension(GetFileNamePart(mainPath));
    auto setAsideUnused = [&](long id, const std::string& retired) {
        return m_env->KindOf(retired) == EntryKind::RegularFile && IsArchiveSubDatabase(retired) &&
               NoDocumentIn(m_AdoCnMain->database(), id);
    };
    for (; !rows.eof(); rows.moveNext()) {
        const long id = rows.value("ID").toLong();
        const std::string p = SubDatabaseName(mainPath, id);
        std::string s = NullToStr(rows.value("DATABASE"));

        // A retired file comes back under its standard name, but only a sub
        // database of this archive: the name says nothing about the contents.
        const std::string retired = p + ".obsolete";
        if (m_env->KindOf(p) == EntryKind::None && m_env->FileExists(retired)) {
            if (!IsArchiveSubDatabase(retired))
                WriteLog("'" + retired + "' is not a sub database of this archive and stays where it is");
            else if (!RetiredFileBelongsTo(retired, id))
                WriteLog("'" + retired + "' does not hold the documents of sub database " + std::to_string(id) +
                         " and stays where it is");
            else if (mayChange())
                RenameArchiveFile(retired, p, "pdblist.restore");
        }

        // A standard name that leads out of the archive (a link) is not the
        // sub database: pointing the row there would send later repairs to
        // a file elsewhere.
        if (m_env->FileExists(p) && IsArchiveFile(p)) {
            if (s != p && !storePath(id, p)) return false;
            const std::int64_t length = m_env->FileLength(p);
            m_window.ListAdd(list, ListRow{"PDB" + std::to_string(id), p, {FormatKB(length / 1024)}, 0, false});
            state.m_nDBSizeMB += static_cast<long>(length / 1024 / 1024);
            continue;
        }
        if (s.empty()) {
            if (!storePath(id, p)) return false;
            s = p;
        }
        if (m_env->FileExists(s)) {
            m_window.ListAdd(list, ListRow{"PDB" + std::to_string(id), s, {GetResString(81, "Resources not found")},
                                           0, true});
        } else if (setAsideUnused(id, retired)) {
            // A change that emptied it set it aside on purpose (a reorganize
            // cut off before it dropped the row): nothing is missing.
            WriteLog("Sub database " + std::to_string(id) + " was emptied and set aside as '" + retired +
                     "'; no document refers to it");
        } else {
            m_window.MsgBox(FormatMsg(GetResString(80, "Resources not found"), {mainTitle, s, p}), MsgButtons::OK,
                            MsgIcon::Exclamation, GetResString(86, "Resources not found"));
            result = false;
        }
    }
    return result;
}

}  // namespace qx
