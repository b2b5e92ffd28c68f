#include "database/maintenance/LeftoverJournals.h"

#include "database/access/FileNames.h"
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

// "<stem>_<n>.pdb" and what it is set aside under, with the journal's suffix.
bool IsSubDatabaseJournal(std::string_view name, std::string_view stem) {
    if (name.substr(0, stem.size()) != stem || !EndsWith(name, kJournal)) return false;
    name.remove_prefix(stem.size());
    std::size_t digits = 0;
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
    return digits > 0 && name.substr(digits, 4) == ".pdb";
}

bool IsRegular(const fs::path& p) {
    std::error_code ec;
    return fs::symlink_status(p, ec).type() == fs::file_type::regular;
}

}  // namespace

int RollBackLeftoverJournals(const std::string& mainPath, const std::string& password) {
    const fs::path main = PathFromUtf8(mainPath);
    const std::string stem = PathToUtf8(main.stem()) + "_";
    std::vector<fs::path> journals;
    std::error_code ec;
    for (fs::directory_iterator it(main.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = PathToUtf8(it->path().filename());
        if (IsSubDatabaseJournal(name, stem)) journals.push_back(it->path());
    }
    int rolledBack = 0;
    for (const fs::path& journal : journals) {
        const std::string journalName = PathToUtf8(journal);
        const fs::path file = PathFromUtf8(journalName.substr(0, journalName.size() - kJournal.size()));
        const std::string fileName = PathToUtf8(file);
        if (!IsRegular(journal) || !IsRegular(file)) {
            WriteLog("'" + journalName + "' belongs to no sub database that can be opened here and stays where it is");
            continue;
        }
        sql::Error err;
        sql::Database db = sql::Database::open(fileName, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
        if (db.isOpen()) {
            // The first read of a file with a hot journal plays the journal back.
            sql::Statement probe(db, "SELECT count(*) FROM sqlite_master");
            if (probe.step() != sql::Step::Row) err = probe.error();
        }
        db = sql::Database();
        if (!IsRegular(journal)) {
            WriteLog("The unfinished change left in '" + journalName + "' was rolled back");
            ++rolledBack;
        } else {
            WriteLog("'" + journalName + "' stays where it is: " +
                     (err ? err.message : std::string("the engine did not take it for an unfinished change")));
        }
    }
    return rolledBack;
}

}  // namespace qx
