#pragma once
// What an archive holds, read straight from its files the way the program
// finds them, and the comparisons that tell whether an interrupted change
// lost anything: documents that no longer lead to their bytes, data rows no
// listed sub database holds any more, folder rows hung under a parent that
// is neither the old nor the new one.
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/Env.h"
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace qx::test {

struct ArchiveSnapshot {
    bool opened = false;                   // the main database could be read
    std::map<long, std::string> documents;  // document id -> SHA-256 of the non-empty data it leads to
    std::map<long, long> parents;           // every FOLDERS row -> its PARENT
    std::set<std::pair<long, std::string>> dataRows;  // (ID, SHA-256) of non-empty data in the listed files
    std::vector<std::string> notes;         // what could not be read, for failure messages
};

namespace snapshot_detail {

template <typename Bytes>
std::string Sha256(const Bytes& bytes) {
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(QByteArrayView(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    return h.result().toHex().toStdString();
}

// A stored path may name another system's folder; the file of that name
// beside the main database wins, as it does when the program looks.
inline std::string Resolve(const std::string& mainPath, const std::string& stored) {
    const std::size_t cut = stored.find_last_of("\\/");
    const std::string name = cut == std::string::npos ? stored : stored.substr(cut + 1);
    const std::string beside = std::filesystem::path(mainPath).parent_path().string() + "/" + name;
    if (!name.empty() && qx::RealEnv().KindOf(beside) == EntryKind::RegularFile) return beside;
    return stored;
}

}  // namespace snapshot_detail

inline ArchiveSnapshot TakeSnapshot(const std::string& mainPath, int generation = 8) {
    using namespace snapshot_detail;
    ArchiveSnapshot s;
    const std::string password = engine::PasswordBytes(PasswordForGeneration(generation));
    sql::Error err;
    sql::Database main = sql::Database::open(qx::RealEnv(), mainPath, password, sql::OpenMode::ReadWrite, err);
    if (!main.isOpen()) {
        s.notes.push_back("main database: " + err.message);
        return s;
    }

    // Each listed file once, however many rows name it.
    using Key = std::pair<std::uint64_t, std::uint64_t>;  // device, inode
    std::map<long, std::optional<Key>> fileOfRow;
    std::map<Key, std::map<long, std::string>> dataOfFile;
    {
        sql::Statement rows(main, "SELECT ID, DATABASE FROM DATABASES");
        for (sql::Step st; rows.ok() && (st = rows.step()) == sql::Step::Row;) {
            const long id = static_cast<long>(rows.getInt64(0));
            const std::string path = Resolve(mainPath, rows.isNull(1) ? std::string() : rows.getText(1));
            const std::optional<FileId> found = qx::RealEnv().IdentityOf(path);
            const std::optional<Key> identity =
                found ? std::optional<Key>(Key{found->device, found->inode}) : std::nullopt;
            fileOfRow[id] = identity;
            if (!identity) {
                s.notes.push_back("sub database " + std::to_string(id) + ": no file " + path);
                continue;
            }
            if (dataOfFile.count(*identity)) continue;
            sql::Error subErr;
            // Read through a link, never opened for writing through one.
            sql::Database sub = sql::Database::open(qx::RealEnv(), 
                path, password, qx::RealEnv().KindOf(path) == EntryKind::Link ? sql::OpenMode::ReadOnly : sql::OpenMode::ReadWrite,
                subErr);
            sql::Statement pictures(sub, "SELECT ID, PICTURE FROM PICTURES WHERE length(PICTURE) > 0");
            if (!pictures.ok()) {
                s.notes.push_back("sub database " + std::to_string(id) + " (" + path + "): " +
                                  (subErr ? subErr.message : pictures.error().message));
                fileOfRow[id].reset();
                continue;
            }
            auto& data = dataOfFile[*identity];
            while (pictures.step() == sql::Step::Row) {
                const long pid = static_cast<long>(pictures.getInt64(0));
                data[pid] = Sha256(pictures.getBlob(1));
                s.dataRows.emplace(pid, data[pid]);
            }
        }
        if (!rows.ok()) {
            s.notes.push_back("DATABASES: " + rows.error().message);
            return s;
        }
    }
    // The thorough check keeps the bytes it rewrites in backup files beside
    // the main database: data there is kept, not stranded.
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(mainPath).parent_path(), ec)) {
        if (e.path().extension() != ".bak") continue;
        sql::Error bakErr;
        sql::Database bak = sql::Database::open(qx::RealEnv(), e.path().string(), password, sql::OpenMode::ReadOnly, bakErr);
        sql::Statement kept(bak, "SELECT ID, PICTURE FROM PICTURES WHERE length(PICTURE) > 0");
        while (kept.ok() && kept.step() == sql::Step::Row)
            s.dataRows.emplace(static_cast<long>(kept.getInt64(0)), Sha256(kept.getBlob(1)));
    }

    sql::Statement folders(main, "SELECT ID, PARENT, ISFOLDER, DATABASEID FROM FOLDERS");
    if (!folders.ok()) {
        s.notes.push_back("FOLDERS: " + folders.error().message);
        return s;
    }
    while (folders.step() == sql::Step::Row) {
        const long id = static_cast<long>(folders.getInt64(0));
        s.parents[id] = static_cast<long>(folders.getInt64(1));
        if (folders.getInt64(2) != 0 || folders.isNull(3)) continue;
        const auto file = fileOfRow.find(static_cast<long>(folders.getInt64(3)));
        if (file == fileOfRow.end() || !file->second) continue;
        const auto& data = dataOfFile[*file->second];
        if (const auto row = data.find(id); row != data.end()) s.documents[id] = row->second;
    }
    s.opened = true;
    return s;
}

// One line per finding, at most `limit` of them, and how many there were.
struct Findings {
    std::vector<std::string> lines;
    long count = 0;
    void add(const std::string& line, std::size_t limit = 8) {
        ++count;
        if (lines.size() < limit) lines.push_back(line);
    }
    std::string text() const {
        std::string t;
        for (const std::string& l : lines) t += "  - " + l + "\n";
        if (count > static_cast<long>(lines.size()))
            t += "  - ... " + std::to_string(count - static_cast<long>(lines.size())) + " more\n";
        return t;
    }
};

// Documents that led to data before and now lead to nothing, or to bytes
// that are neither the old ones nor those of the finished change.
inline Findings LostDocuments(const ArchiveSnapshot& before, const ArchiveSnapshot& reference,
                              const ArchiveSnapshot& now) {
    Findings f;
    for (const auto& [id, sha] : before.documents) {
        const auto it = now.documents.find(id);
        if (it == now.documents.end()) {
            f.add("document " + std::to_string(id) + " leads to no data");
            continue;
        }
        const auto ref = reference.documents.find(id);
        if (it->second != sha && (ref == reference.documents.end() || it->second != ref->second))
            f.add("document " + std::to_string(id) + " leads to other bytes (" + it->second.substr(0, 12) + ")");
    }
    // Bytes a document led to before, and one still leads to when the change
    // is finished (perhaps under another number), must be some document's now.
    std::set<std::string> ledToNow, ledToFinished;
    for (const auto& [id, sha] : now.documents) ledToNow.insert(sha);
    for (const auto& [id, sha] : reference.documents) ledToFinished.insert(sha);
    for (const auto& [id, sha] : before.documents)
        if (!ledToNow.count(sha) && ledToFinished.count(sha))
            f.add("the bytes of document " + std::to_string(id) + " (" + sha.substr(0, 12) + ") are no document's");
    return f;
}

// Data rows that were in a listed sub database before and are in none now,
// not even under a new number: bytes under a name nothing resolves.
inline Findings StrandedData(const ArchiveSnapshot& before, const ArchiveSnapshot& now) {
    Findings f;
    std::set<std::string> renumbered;  // bytes now under a number that did not hold them before
    for (const auto& row : now.dataRows)
        if (!before.dataRows.count(row)) renumbered.insert(row.second);
    for (const auto& row : before.dataRows)
        if (!now.dataRows.count(row) && !renumbered.count(row.second))
            f.add("data row " + std::to_string(row.first) + " (" + row.second.substr(0, 12) +
                  ") is in no listed sub database");
    return f;
}

// Rows whose PARENT is neither what it was nor what the finished change
// makes it.
inline Findings StrayParents(const ArchiveSnapshot& before, const ArchiveSnapshot& reference,
                             const ArchiveSnapshot& now) {
    Findings f;
    for (const auto& [id, parent] : now.parents) {
        const auto was = before.parents.find(id), will = reference.parents.find(id);
        const bool known = was != before.parents.end() || will != reference.parents.end();
        if (!known || (was != before.parents.end() && was->second == parent) ||
            (will != reference.parents.end() && will->second == parent))
            continue;
        f.add("row " + std::to_string(id) + " has parent " + std::to_string(parent) + " (before " +
              (was == before.parents.end() ? std::string("none") : std::to_string(was->second)) + ", finished " +
              (will == reference.parents.end() ? std::string("none") : std::to_string(will->second)) + ")");
    }
    return f;
}

// Where two maps differ, for the comparison with the finished change.
template <typename V>
Findings MapDifferences(const std::map<long, V>& expected, const std::map<long, V>& actual, const std::string& what) {
    Findings f;
    auto show = [](const V& v) {
        if constexpr (std::is_same_v<V, std::string>) return v.substr(0, 12);
        else return std::to_string(v);
    };
    for (const auto& [id, v] : expected) {
        const auto it = actual.find(id);
        if (it == actual.end()) f.add(what + " " + std::to_string(id) + " missing (expected " + show(v) + ")");
        else if (it->second != v)
            f.add(what + " " + std::to_string(id) + " is " + show(it->second) + ", expected " + show(v));
    }
    for (const auto& [id, v] : actual)
        if (!expected.count(id)) f.add(what + " " + std::to_string(id) + " is extra (" + show(v) + ")");
    return f;
}

}  // namespace qx::test
