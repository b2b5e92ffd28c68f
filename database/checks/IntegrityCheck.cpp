// CDatabase: the integrity pass of the document check. A check says "no
// errors" only about what it has read, so the normal check reads every page
// of the main and OCR databases and the thorough check runs the engine's
// full check of every file of the archive.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/checks/Integrity.h"
#include "database/checks/ResultCodes.h"
#include "support/DurableFiles.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"

#include <set>

namespace qx {

namespace {

std::string EnglishWhat(const integrity::Damage& d) {
    if (!d.index.empty()) return "index " + d.index + " of table " + d.table;
    if (!d.table.empty() && !d.unusedPages) return "table " + d.table;
    return "the file's structure";
}

std::string DutchWhat(const integrity::Damage& d) {
    if (!d.index.empty()) return FormatMsg(GetResString(252, "index %s van tabel %s"), {d.index, d.table});
    if (!d.table.empty() && !d.unusedPages) return FormatMsg(GetResString(253, "tabel %s"), {d.table});
    return GetResString(254, "de opbouw van het bestand");
}

}  // namespace

void CDatabase::CheckFileIntegrity(bool thorough) {
    if (!Connected(m_AdoCnMain)) return;
    struct File {
        std::string path, password;
        bool ownIndexes;  // a file of this archive whose indexes may be rebuilt
    };
    const std::string mainPath = MainDatabaseName();
    const std::string password = Settings::Get().DatabasePassword;
    std::vector<File> files{{mainPath, password, true}};
    if (const std::string omd = OmdName(mainPath); FileExists(omd)) files.push_back({omd, "", true});
    if (thorough)
        for (const std::string& path : SubDatabasePathsToRead()) files.push_back({path, password, false});

    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
    const integrity::Depth depth = thorough ? integrity::Depth::Full : integrity::Depth::Pages;
    for (const File& file : files) {
        // Two rows naming one file: it is read once.
        if (const auto id = IdentityOf(file.path); id && !seen.insert({id->device, id->inode}).second) continue;
        m_window.DoEvents();
        const std::string keyBytes = engine::PasswordBytes(file.password);
        const integrity::Verdict v =
            integrity::VerifyFile(file.path, keyBytes, depth, thorough ? integrity::CacheFor(file.path) : 0);
        const std::string head = "Integrity check: '" + file.path + "'";
        switch (v.kind) {
        case integrity::Verdict::Kind::Clean: WriteLog(head + " reads completely"); continue;
        case integrity::Verdict::Kind::InUse:
            // Locked is no damage; the file was not read, which the log says.
            WriteLog(head + " is in use by another program and was not checked (" + v.error + ")");
            continue;
        case integrity::Verdict::Kind::Unreadable:
            WriteLog(head + " could not be read (" + v.error + ")");
            ReportResult(0, ResultDatabaseError, "", file.path + ": " + v.error, "");
            continue;
        case integrity::Verdict::Kind::Damaged: break;
        }
        for (const integrity::Damage& d : v.damage) WriteLog(head + ": " + EnglishWhat(d) + " is damaged: " + d.detail);
        const bool rebuilt = file.ownIndexes && v.Repairable() && RebuildDamagedIndexes(file.path, file.password, v);
        for (const integrity::Damage& d : v.damage)
            ReportResult(0, rebuilt ? ResultIndexRebuilt : ResultFileDamaged, file.path, DutchWhat(d), "");
    }
}

bool CDatabase::RebuildDamagedIndexes(const std::string& path, const std::string& password,
                                      const integrity::Verdict& verdict) {
    const std::string head = "Integrity check: '" + path + "'";
    const std::string keyBytes = engine::PasswordBytes(password);
    // The proof that only indexes are damaged: every table reads to its end.
    {
        sql::Error err;
        sql::Database db = sql::Database::open(path, keyBytes, sql::OpenMode::ReadOnly, err);
        if (!db.isOpen())
            return WriteLog(head + ": not repaired, the file could not be opened again (" + err.message + ")"), false;
        std::vector<std::string> tables;
        sql::Statement st(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND rootpage > 0");
        sql::Step s = sql::Step::Failed;
        while (st.ok() && (s = st.step()) == sql::Step::Row) tables.push_back(st.getText(0));
        if (!st.ok() || s == sql::Step::Failed)
            return WriteLog(head + ": not repaired, its schema does not read (" + st.error().message + ")"), false;
        for (const std::string& table : tables)
            if (!integrity::TableReadsCompletely(db, table, err))
                return WriteLog(head + ": not repaired, table " + table + " does not read completely (" + err.message +
                                ")"),
                       false;
    }
    std::vector<std::string> indexes;
    for (const integrity::Damage& d : verdict.damage)
        if (!d.index.empty()) indexes.push_back(d.index);
    // A report-only run rebuilds them too, in its view in memory, so that
    // the walk after it reads what it would read in a real run.
    if (!indexes.empty()) {
        sql::Error err;
        sql::Database db = sql::Database::open(path, keyBytes, sql::OpenMode::ReadWrite, err);
        if (!db.isOpen() || db.readOnly())
            return WriteLog(head + ": not repaired, the file cannot be written (" + err.message + ")"), false;
        if (!integrity::RebuildIndexes(db, indexes, err))
            return WriteLog(head + ": the indexes could not be rebuilt (" + err.message + "); nothing was changed"),
                   false;
        WriteLog(head + ": every table reads; the damaged indexes were rebuilt from them");
    }
    // The old trees are left unused in the file; a compaction copies the
    // file without them. Should it fail, the next check compacts again.
    if (!CompactSingle(path, password))
        WriteLog(head + ": the pages of the old indexes stay unused until the file is compacted");
    const integrity::Verdict after = integrity::VerifyFile(path, keyBytes, integrity::Depth::Pages);
    if (after.kind == integrity::Verdict::Kind::Damaged && !after.Repairable()) {
        WriteLog(head + ": still damaged after the rebuild");
        return false;
    }
    return true;
}

}  // namespace qx
