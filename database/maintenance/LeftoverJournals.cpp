#include "database/maintenance/LeftoverJournals.h"

#include "database/access/FileNames.h"
#include "support/DurableFiles.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace qx {

namespace {

namespace fs = std::filesystem;

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

bool IsRegular(const fs::path& p) {
    std::error_code ec;
    return fs::symlink_status(p, ec).type() == fs::file_type::regular;
}

}  // namespace

int RollBackLeftoverJournals(const std::string& mainPath, const std::string& password) {
    const fs::path main = PathFromUtf8(mainPath);
    const std::string stem = PathToUtf8(main.stem());
    std::vector<std::pair<fs::path, bool>> journals;  // the journal, its file keyed
    std::error_code ec;
    for (fs::directory_iterator it(main.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = PathToUtf8(it->path().filename());
        if (bool keyed = true; IsArchiveJournal(name, stem, keyed)) journals.emplace_back(it->path(), keyed);
    }
    int rolledBack = 0;
    for (const auto& [journal, keyed] : journals) {
        const std::string journalName = PathToUtf8(journal);
        const fs::path file = PathFromUtf8(journalName.substr(0, journalName.size() - kJournal.size()));
        const std::string fileName = PathToUtf8(file);
        if (!IsRegular(journal) || !IsRegular(file)) {
            WriteLog("'" + journalName + "' belongs to no file of the archive that can be opened here and stays where it is");
            continue;
        }
        // A file that never got its first page (killed while it was being
        // made): whatever its journal holds are pages of nothing, and the
        // file stays as empty as a rollback would leave it.
        if (std::error_code sizeError; fs::file_size(file, sizeError) == 0 && !sizeError) {
            if (const int rc = RemoveDurably(journalName, "journal.remove-of-empty-file")) {
                WriteLog("'" + journalName + "' stays where it is: " + ErrorText(rc));
            } else {
                WriteLog("'" + journalName + "' belonged to an empty file, so there was nothing to roll back; removed");
                ++rolledBack;
            }
            continue;
        }
        sql::Error err;
        bool stale = false;
        sql::Database db = sql::Database::open(fileName, keyed ? engine::PasswordBytes(password) : std::string(),
                                               sql::OpenMode::ReadWrite, err);
        if (db.isOpen()) {
            // The first read of a file with a hot journal plays the journal back.
            sql::Statement probe(db, "SELECT count(*) FROM sqlite_master");
            if (probe.step() != sql::Step::Row) err = probe.error();
            probe = sql::Statement();
            stale = !err && IsRegular(journal);
            if (stale) RetireStaleJournal(db, err);
        }
        db = sql::Database();
        if (!IsRegular(journal)) {
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
