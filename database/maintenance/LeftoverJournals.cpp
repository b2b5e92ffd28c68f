#include "database/maintenance/LeftoverJournals.h"

#include "database/access/FileNames.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"

#include <system_error>
#include <vector>

namespace qx {

namespace {

constexpr std::string_view kJournal = "-journal";

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() > tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The archive's own files that the engine keeps journals for: the main
// database, its sub databases "<stem>_<n>.pdb", the backup files
// "<stem><digits>.bak" (keyed like the sub databases) and the OCR database
// (no key). `keyed` says which.
bool IsArchiveJournal(std::string_view name, std::string_view stem, bool& keyed) {
    if (name.substr(0, stem.size()) != stem || !EndsWith(name, kJournal)) return false;
    name.remove_prefix(stem.size());
    name.remove_suffix(kJournal.size());
    keyed = true;
    if (name == ".dat") return true;
    if (name == ".omd") return keyed = false, true;
    const bool sub = !name.empty() && name.front() == '_';
    if (sub) name.remove_prefix(1);
    std::size_t digits = 0;
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
    return digits > 0 && name.substr(digits) == (sub ? ".pdb" : ".bak");
}

// A journal still there after the engine read its file is one it did not
// take for an unfinished change: its header was never completed, because the
// run stopped before the journal reached the disk, when the file itself had
// not been touched yet. The engine replaces and removes such a journal at the
// next change of its file; a change that writes a header value back as it was
// makes it do so now, under the engine's own lock.
bool RetireStaleJournal(sql::Database& db, sql::Error& err) {
    if (!db.exec("BEGIN IMMEDIATE", &err)) return false;
    sql::Statement version(db, "PRAGMA user_version");
    if (version.step() != sql::Step::Row) {
        err = version.error();
        db.exec("ROLLBACK");
        return false;
    }
    const std::string same = "PRAGMA user_version = " + std::to_string(version.getInt64(0));
    version = sql::Statement();
    if (!db.exec(same, &err) || !db.exec("COMMIT", &err)) {
        db.exec("ROLLBACK");
        return false;
    }
    return true;
}

bool IsRegular(Env& env, const std::string& p) { return env.KindOf(p) == EntryKind::RegularFile; }

}  // namespace

int RollBackLeftoverJournals(Env& env, const std::string& mainPath, const std::string& password) {
    const std::string folder = GetFolderPart(mainPath);
    std::string stem = GetFileNamePart(mainPath);
    if (const std::size_t dot = stem.rfind('.'); dot != std::string::npos && dot > 0) stem.resize(dot);
    std::vector<std::pair<std::string, bool>> journals;  // the journal, its file keyed
    std::error_code ec;
    for (const std::string& name : env.ListFolder(folder.empty() ? std::string(".") : folder, ec))
        if (bool keyed = true; IsArchiveJournal(name, stem, keyed))
            journals.emplace_back(folder.empty() ? name : folder + PathSeparator() + name, keyed);
    int rolledBack = 0;
    for (const auto& [journal, keyed] : journals) {
        const std::string& journalName = journal;
        const std::string fileName = journalName.substr(0, journalName.size() - kJournal.size());
        if (!IsRegular(env, journal) || !IsRegular(env, fileName)) {
            WriteLog("'" + journalName + "' belongs to no file of the archive that can be opened here and stays where it is");
            continue;
        }
        // A file that never got its first page (killed while it was being
        // made): whatever its journal holds are pages of nothing, and the
        // file stays as empty as a rollback would leave it.
        if (env.FileLength(fileName) == 0) {
            if (const int rc = env.RemoveDurably(journalName, "journal.remove-of-empty-file")) {
                WriteLog("'" + journalName + "' stays where it is: " + ErrorText(rc));
            } else {
                WriteLog("'" + journalName + "' belonged to an empty file, so there was nothing to roll back; removed");
                ++rolledBack;
            }
            continue;
        }
        sql::Error err;
        bool stale = false;
        sql::Database db = sql::Database::open(env, fileName, keyed ? engine::PasswordBytes(password) : std::string(),
                                               sql::OpenMode::ReadWrite, err);
        if (db.isOpen()) {
            // The first read of a file with a hot journal plays the journal back.
            sql::Statement probe(db, "SELECT count(*) FROM sqlite_master");
            if (probe.step() != sql::Step::Row) err = probe.error();
            probe = sql::Statement();
            stale = !err && IsRegular(env, journal);
            if (stale) RetireStaleJournal(db, err);
        }
        db = sql::Database();
        if (!IsRegular(env, journal)) {
            WriteLog(stale ? "'" + journalName +
                                 "' held no unfinished change (the run stopped before it wrote one) and was retired"
                           : "The unfinished change left in '" + journalName + "' was rolled back");
            ++rolledBack;
        } else {
            WriteLog("'" + journalName + "' stays where it is: " +
                     (err ? err.message : std::string("the engine did not take it for an unfinished change")));
        }
    }
    return rolledBack;
}

}  // namespace qx
