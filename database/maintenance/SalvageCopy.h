#pragma once
// What the salvage of each kind of file shares: the fresh copy (made without
// a name, so that the intent record can name it before anything finds it),
// the connection that writes it, and the walk over a table's rows that
// steps over pages that do not read.
#include "database/maintenance/NewCopy.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/engine/Cipher.h"
#include "support/engine/Sql.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qx::salvage {

// The fresh copy of a salvage: its names' failpoints are the salvage's own.
class NewCopy : public qx::NewCopy {
public:
    NewCopy(Env& env, const std::string& folder, const std::string& path)
        : qx::NewCopy(env, folder, path, "salvage.create_copy") {}
    int link(const std::string& path) { return qx::NewCopy::link(path, "salvage.name_copy"); }
};

// The fresh copy that is to take a damaged file's place, and the intent
// record through which the next open finishes or undoes the change. The
// damaged file is only ever renamed aside, never written or removed.
class Replacement {
public:
    // file: the damaged file; folder: the archive folder it lies in;
    // intent: the archive's intent record.
    Replacement(Env& env, std::string file, const std::string& folder, std::string intent);
    const std::string& copyPath() const { return m_copyPath; }
    const std::string& asidePath() const { return m_asidePath; }
    const std::string& asideName() const { return m_asideName; }
    // Makes the copy, writes the record and names the copy: "" when done,
    // else why not.
    std::string begin();
    // Takes the copy and the record away again (what cannot be removed is
    // logged and left for the next open).
    void discard();
    // Sets the damaged file aside and puts the copy in its place: 0, or the
    // error; `stuck` when the damaged file could not be put back (the next
    // open then finishes the change).
    int swap(bool& stuck);
    // The change is whole: the record goes.
    void finish();

private:
    Env& m_env;
    std::string m_file, m_folder, m_intent, m_copyPath, m_asidePath, m_asideName;
    std::optional<NewCopy> m_copy;
    bool m_recordWritten = false;
};

inline std::string Quoted(const std::string& s, char q) {
    std::string out(1, q);
    for (char c : s) {
        out += c;
        if (c == q) out += q;
    }
    return out + q;
}

// The copy is written through an in-memory connection with the new file
// attached as "salvaged": the engine makes the file, which already exists
// (empty) under its name, with the archive's key and page size. A plain
// file (empty password) gets the engine's default page size.
class CopyTarget {
public:
    bool open(Env& env, const std::string& path, const std::string& passwordBytes, sql::Error& err) {
        m_db = sql::Database::open(env, ":memory:", "", sql::OpenMode::Create, err);
        if (!m_db.isOpen()) return false;
        const bool keyed = !passwordBytes.empty();
        const std::string attach = "ATTACH DATABASE " + Quoted(path, '\'') + " AS salvaged KEY " +
                                   (keyed ? Quoted(sql::RawKeyFor(passwordBytes), '"') : std::string("''")) + ";";
        // The copy needs no journal: it is thrown away unless all of it
        // succeeds. Its commit syncs it.
        const std::string page =
            keyed ? "PRAGMA salvaged.cipher_page_size = " + std::to_string(sql::CipherPageSize()) + "; " : "";
        return m_db.exec(attach, &err) &&
               m_db.exec(page + "PRAGMA salvaged.journal_mode = OFF; PRAGMA salvaged.synchronous = FULL;", &err);
    }
    sql::Database& db() { return m_db; }
    void close() {
        if (m_db.isOpen()) (void)m_db.exec("DETACH DATABASE salvaged;");
        m_db.close();
    }

private:
    sql::Database m_db;
};

// A stored definition ("CREATE TABLE "X" ...", "CREATE INDEX "I" ON ...")
// aimed at the copy.
inline std::string AimedAtCopy(std::string statement) {
    for (const char* head : {"TABLE ", "INDEX "}) {
        const std::size_t at = statement.find(head);
        if (at != std::string::npos && at < 24) {
            statement.insert(at + 6, "salvaged.");
            return statement;
        }
    }
    return statement;
}

// Walks `walk` ("... WHERE rowid >= ?1 ORDER BY rowid", the row number in
// column 0) over every row the engine reaches, calling `onRow` for each.
// A page that does not read stops the engine's walk; the walk then goes on
// from the first row number past it that the engine can reach again (the
// step doubled until one is found, then the gap halved), so one damaged page
// costs a few dozen lookups, not a walk of everything behind it. Counts the
// stretches stepped over in `unreadable`.
template <typename OnRow>
void SweepRows(sql::Statement& walk, std::int64_t& unreadable, OnRow&& onRow) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    auto reaches = [&](std::int64_t from) {
        walk.reset();
        walk.bind(1, from);
        return walk.step() != sql::Step::Failed;
    };
    std::int64_t from = std::numeric_limits<std::int64_t>::min();
    for (;;) {
        walk.reset();
        walk.bind(1, from);
        std::int64_t last = from;
        bool any = false;
        sql::Step step;
        while ((step = walk.step()) == sql::Step::Row) {
            last = walk.getInt64(0);
            any = true;
            onRow(walk);
        }
        if (step == sql::Step::Done) return;
        ++unreadable;
        std::int64_t bad = any ? last + 1 : from;
        if (any && last == kMax) return;
        std::int64_t good = 0, stride = 1;
        bool found = false;
        while (!found) {
            const std::int64_t probe = bad > kMax - stride ? kMax : bad + stride;
            if (reaches(probe)) {
                good = probe;
                found = true;
            } else if (probe == kMax) {
                return;  // nothing past the damage reads
            } else {
                bad = probe;
                if (stride <= kMax / 2) stride *= 2;
            }
        }
        while (good - bad > 1) {
            const std::int64_t mid = bad + (good - bad) / 2;
            (reaches(mid) ? good : bad) = mid;
        }
        from = good;
    }
}

}  // namespace qx::salvage
