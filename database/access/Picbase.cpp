// CDatabase: finding, relocating and opening the sub database of a document,
// and writing new, empty sub databases.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "database/access/SubDatabasePlace.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/engine/Recordset.h"

#include <cstdio>
#include <optional>

namespace qx {

namespace {

// Stored paths may come from another system: take the file name after the
// last separator of either kind.
std::string NormalPath(Env& env, const std::string& path) { return path.empty() ? path : env.Absolute(path); }

std::string StoredFileName(const std::string& stored) {
    const size_t cut = stored.find_last_of("\\/");
    return cut == std::string::npos ? stored : stored.substr(cut + 1);
}

}  // namespace

short CDatabase::OpenPicbase(long& nId, std::string* sPicbaseName, long* nDatabaseId) {
    return OpenPicbaseOf(nId, std::nullopt, sPicbaseName, nDatabaseId);
}

short CDatabase::OpenPicbaseOf(long nId, std::optional<long> knownDatabaseId, std::string* sPicbaseName,
                               long* nDatabaseId) {
    m_bLastOpenInUse = false;
    if (!Connected(m_AdoCnMain)) return 512;
    std::string usePath;
    auto finish = [&](short status) {
        if (sPicbaseName) *sPicbaseName = usePath.empty() ? std::string() : GetFileNamePart(usePath);
        return status;
    };
    auto runtimeError = [&](const engine::ProviderError& e) {
        WriteLog("Runtime Error Opening " + usePath + ": " + std::to_string(e.number) + " " + e.description);
        return finish(512);
    };
    auto lastError = [&](engine::Connection& cn) {
        return cn.errors().empty() ? engine::ProviderError{512, "Unknown error"} : cn.errors().front();
    };

    // The document check asks for the same sub database for document after
    // document; while it runs, a repeat of the last successful answer is
    // given again without looking up the row and the files once more.
    if (m_pdbPool && knownDatabaseId && m_lastPicbase.connection && *knownDatabaseId == m_lastPicbase.databaseId &&
        m_AdoCnPdb.get() == m_lastPicbase.connection && Connected(m_AdoCnPdb) &&
        m_AdoCnPdb->dataSource() == m_lastPicbase.path) {
        usePath = m_lastPicbase.path;
        if (nDatabaseId) *nDatabaseId = m_lastPicbase.databaseId;
        return finish(0);
    }
    auto remember = [&](long databaseId) {
        if (m_pdbPool && knownDatabaseId) m_lastPicbase = {databaseId, usePath, m_AdoCnPdb.get()};
        return finish(0);
    };

    // Prepared once per main connection: this runs for every document of a
    // check. A caller that holds the document row already knows its
    // DATABASEID; the DATABASES row alone then gives the same answer as the
    // join, without reading the document row again.
    sql::Statement* find =
        knownDatabaseId
            ? m_AdoCnMain->prepared("SELECT ID AS DATABASEID, DATABASE AS DATABASENAME FROM DATABASES WHERE ID = ?")
            : m_AdoCnMain->prepared(
                  "SELECT DATABASES.ID AS DATABASEID, DATABASES.DATABASE AS DATABASENAME FROM DATABASES, FOLDERS "
                  "WHERE (DATABASES.ID = FOLDERS.DATABASEID) AND (FOLDERS.ID = ?)");
    if (!find) return runtimeError(lastError(*m_AdoCnMain));
    find->bind(1, static_cast<std::int64_t>(knownDatabaseId ? *knownDatabaseId : nId));
    const sql::Step step = find->step();
    if (step == sql::Step::Failed) return runtimeError({find->error().code, find->error().message});
    if (step == sql::Step::Done) return finish(1);
    const long databaseId = static_cast<long>(find->getInt64(0));
    const std::string stored = find->isNull(1) ? std::string() : find->getText(1);
    find->reset();
    if (nDatabaseId) *nDatabaseId = databaseId;

    const std::string mainPath = MainDatabaseName();
    if (!m_env->FileExists(mainPath)) return finish(32);

    // An open writable connection was judged a file of the archive folder
    // when it was opened; only a file not open yet is judged here.
    auto openWritable = [&](const std::string& path) {
        if (Connected(m_AdoCnPdb) && m_AdoCnPdb->dataSource() == path) return !m_AdoCnPdb->isReadOnly();
        if (m_pdbPool)
            for (const ConnectionPtr& cn : *m_pdbPool)
                if (Connected(cn) && cn->dataSource() == path) return !cn->isReadOnly();
        return false;
    };
    std::optional<SubDatabaseLocation> location;

    // A sub database lying beside the main database wins, so an archive
    // moved as a whole keeps working; its row is pointed there. Only a file
    // of the archive folder counts: a folder of that name, a link leading
    // out or one of the archive's own files would send the row elsewhere.
    const std::string candidate = GetFolderPart(mainPath) + PathSeparator() + StoredFileName(stored);
    bool besideMain = false;
    if (!StoredFileName(stored).empty() && m_env->FileExists(candidate)) {
        if (!openWritable(candidate)) location = LocateSubDatabase(*m_env, candidate, mainPath);
        besideMain = !location || location->place == SubDatabasePlace::Archive;
    }
    if (besideMain) {
        usePath = candidate;
        if (stored != candidate) {  // the same path again would change nothing
            sql::Statement* relocate = m_AdoCnMain->prepared("UPDATE DATABASES SET DATABASE = ? WHERE ID = ?");
            if (!relocate) return runtimeError(lastError(*m_AdoCnMain));
            relocate->bind(1, std::string_view(candidate));
            relocate->bind(2, static_cast<std::int64_t>(databaseId));
            if (!relocate->run()) {
                // The file is there all the same: a disk that refuses the new
                // path makes the sub database no less readable. The refusal
                // is reported as such; the row keeps its old path.
                const sql::Error e = relocate->error();
                if ((e.code & 0xff) != 13 /* full */ && (e.code & 0xff) != 10 /* I/O */)
                    return runtimeError({e.code, e.message});
                NoteSaveFailure(mainPath, e);
            }
        }
    } else {
        usePath = stored;
        location.reset();
        if (!m_env->FileExists(usePath)) return finish(2);
        // Spelled the way an open connection names its file, so that the
        // connection kept open is found again for the next document
        // instead of the file being opened once per document.
        usePath = NormalPath(*m_env, stored);
    }

    if (Connected(m_AdoCnPdb) && m_AdoCnPdb->property("Data Source").value_or("") == usePath)
        return remember(databaseId);
    if (m_pdbPool) {
        // During the document check the folders' documents lie in several
        // sub databases in turn: keep the last few open instead of reopening.
        if (Connected(m_AdoCnPdb)) {
            m_pdbPool->insert(m_pdbPool->begin(), std::move(m_AdoCnPdb));
            constexpr size_t kKeptOpen = 8;
            if (m_pdbPool->size() > kKeptOpen) m_pdbPool->pop_back();
        }
        for (auto it = m_pdbPool->begin(); it != m_pdbPool->end(); ++it)
            if (Connected(*it) && (*it)->property("Data Source").value_or("") == usePath) {
                m_AdoCnPdb = std::move(*it);
                m_pdbPool->erase(it);
                return remember(databaseId);
            }
    }
    Disconnect(m_AdoCnPdb);

    // A stored path may point anywhere. The archive's own files are no sub
    // databases: opened a second time, the main database would hold every
    // commit of the check waiting. A file elsewhere (the rows of a copied
    // archive still name the files it was copied from) is read, never
    // changed, its attributes included.
    if (!location) location = LocateSubDatabase(*m_env, usePath, mainPath);
    if (location->place == SubDatabasePlace::OwnFile) {
        WriteLog(NamesOwnFileLine(databaseId, besideMain ? usePath : stored, *location));
        return finish(512);
    }
    if (m_lockedSubDatabases && m_lockedSubDatabases->count(usePath)) {
        m_bLastOpenInUse = true;
        return finish(512);
    }
    const std::string connectString = ConnectString(usePath, Settings::Get().DatabasePassword);
    if (location->place == SubDatabasePlace::Archive) {
        m_env->SetReadOnly(usePath, false);
        m_AdoCnPdb = OpenConnection(connectString);
    } else {
        ReportOutsideSubDatabase(usePath);
        m_AdoCnPdb = OpenConnection(ReadOnlyConnectString(connectString));
    }
    if (!Connected(m_AdoCnPdb)) {
        const long code = m_lastOpenError.number & 0xff;
        if (m_lockedSubDatabases && (code == sql::kBusy || code == sql::kLocked)) {
            // The engine waited its busy time once; the file is in use.
            m_bLastOpenInUse = true;
            ReportSubDatabaseInUse(usePath, "documents");
        }
        return finish(512);
    }
    // Any failure of the probe means the file is no usable sub database,
    // whatever sign its error number has.
    engine::Recordset probe;
    if (!probe.open("SELECT ID FROM PICTURES WHERE ID = NULL", *m_AdoCnPdb, engine::CursorMode::Lookup)) return finish(512);
    return remember(databaseId);
}

std::vector<std::string> CDatabase::SubDatabasePathsToRead() {
    std::vector<std::string> paths;
    if (!Connected(m_AdoCnMain)) return paths;
    const std::string folder = GetFolderPart(MainDatabaseName());
    sql::Statement st(m_AdoCnMain->database(), "SELECT DATABASE FROM DATABASES ORDER BY ID");
    while (st.ok() && st.step() == sql::Step::Row) {
        const std::string stored = st.isNull(0) ? std::string() : st.getText(0);
        const std::string beside = folder + PathSeparator() + StoredFileName(stored);
        if (!StoredFileName(stored).empty() && m_env->KindOf(beside) == EntryKind::RegularFile) paths.push_back(beside);
        else if (!stored.empty() && m_env->FileExists(stored)) paths.push_back(stored);
    }
    return paths;
}

bool CDatabase::CreateSubDatabase(const std::string& sFileName) {
    WriteLog("Creating '" + sFileName + "'...");
    auto failed = [&](long number, const std::string& description) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%lX", static_cast<unsigned long>(static_cast<std::uint32_t>(number)));
        WriteLog(std::string("Error 0x") + hex + " while creating sub database: " + description);
        return false;
    };
    if (m_env->FileExists(sFileName)) {
        m_env->SetReadOnly(sFileName, false);
        const std::string aside = DeletedName(*m_env, sFileName);
        // Never over a name that appeared since it was found free.
        if (const int rc = m_env->RenameNoReplace(sFileName, aside, "create-sub-database.set-aside"))
            return failed(rc, ErrorText(rc));
    }
    sql::Error err;
    if (!CreateSubDatabaseFile(*m_env, sFileName, Settings::Get().DatabasePassword, err)) return failed(err.code, err.message);
    return true;
}

}  // namespace qx
