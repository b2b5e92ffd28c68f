// Reading every page of a database file through the engine, naming what a
// page that does not read belongs to, and rebuilding damaged indexes.
#include "database/checks/Integrity.h"

#include "support/FileOperations.h"

#include <algorithm>
#include <cctype>

namespace qx::integrity {

namespace {

constexpr int kBusy = 5, kLocked = 6, kCorrupt = 11, kNotADatabase = 26;

std::string Quoted(const std::string& name) {
    std::string out = "\"";
    for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// The engine names an index in "row N missing from index X", "wrong # of
// entries in index X" and "non-unique entry in index X".
std::string IndexNamedIn(const std::string& line) {
    for (const char* marker : {"missing from index ", "entries in index ", "entry in index "}) {
        const size_t at = line.find(marker);
        if (at != std::string::npos) return line.substr(at + std::string(marker).size());
    }
    return {};
}

bool IsInUse(const sql::Error& e) { return e.code == kBusy || e.code == kLocked; }
bool IsDamage(const sql::Error& e) { return e.code == kCorrupt || e.code == kNotADatabase; }

struct Tree {
    std::string type, name, table;
};

// Reads one tree on its own; the error when a page of it does not read.
sql::Error ReadTree(sql::Database& db, const Tree& t) {
    sql::Error err;
    if (t.type == "table") {
        if (!TableReadsCompletely(db, t.name, err)) return err;
        return {};
    }
    // sum(1), not count(*): a count may be answered from another, smaller tree.
    sql::Statement st(db, "SELECT sum(1) FROM " + Quoted(t.table) + " INDEXED BY " + Quoted(t.name));
    // An index the engine cannot walk on its own (none of the archive's)
    // is judged by the check's own words only.
    if (!st.ok()) return IsDamage(st.error()) ? st.error() : sql::Error{};
    if (st.step() == sql::Step::Failed) return st.error();
    return {};
}

}  // namespace

bool Verdict::Repairable() const {
    return kind == Kind::Damaged && !damage.empty() &&
           std::all_of(damage.begin(), damage.end(), [](const Damage& d) { return !d.index.empty() || d.unusedPages; });
}

bool TableReadsCompletely(sql::Database& db, const std::string& table, sql::Error& err) {
    // Stepping loads every value of every row, so the overflow pages of
    // long values are read as well.
    sql::Statement st(db, "SELECT * FROM " + Quoted(table) + " NOT INDEXED");
    if (!st.ok()) return err = st.error(), false;
    sql::Step s;
    while ((s = st.step()) == sql::Step::Row) {
    }
    if (s == sql::Step::Failed) return err = st.error(), false;
    return true;
}

Verdict Verify(sql::Database& db, Depth depth, std::int64_t cacheBytes) {
    Verdict v;
    // Only index lookups come back to a page; a file without indexes is
    // read once, front to back, and a larger cache would only hold memory.
    if (cacheBytes > 0) {
        sql::Statement st(db, "SELECT 1 FROM sqlite_master WHERE type = 'index' LIMIT 1");
        if (st.ok() && st.step() == sql::Step::Row)
            db.exec("PRAGMA cache_size = -" + std::to_string(std::max<std::int64_t>(cacheBytes / 1024, 1)));
    }
    std::vector<std::string> lines;
    sql::Error failure;
    {
        sql::Statement st(db, depth == Depth::Full ? "PRAGMA integrity_check" : "PRAGMA quick_check");
        if (!st.ok()) {
            failure = st.error();
        } else {
            sql::Step s;
            // The engine may put several complaints into one row, a line each.
            while ((s = st.step()) == sql::Step::Row) {
                const std::string row = st.isNull(0) ? std::string() : st.getText(0);
                for (size_t at = 0; at <= row.size();) {
                    const size_t end = std::min(row.find('\n', at), row.size());
                    if (end > at) lines.push_back(row.substr(at, end - at));
                    at = end + 1;
                }
            }
            if (s == sql::Step::Failed) failure = st.error();
        }
    }
    if (failure && IsInUse(failure)) {
        v.kind = Verdict::Kind::InUse;
        v.error = failure.message;
        return v;
    }
    const bool complaints = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l != "ok" && !l.starts_with("*** in database");
    });
    if (failure && !IsDamage(failure) && !complaints) {
        // The full check stops with a plain error where an index it looks
        // rows up in does not read; the page check tells whether that is so.
        if (depth == Depth::Full) {
            Verdict pages = Verify(db, Depth::Pages);
            if (pages.kind != Verdict::Kind::Clean) return pages;
        }
        v.kind = Verdict::Kind::Unreadable;
        v.error = failure.message;
        return v;
    }
    if (!failure && lines.size() == 1 && lines.front() == "ok") return v;

    v.kind = Verdict::Kind::Damaged;
    auto add = [&](Damage d) {
        for (const Damage& k : v.damage)
            if (k.table == d.table && k.index == d.index && k.unusedPages == d.unusedPages) return;
        v.damage.push_back(std::move(d));
    };
    auto tableOf = [&](const std::string& index) {
        sql::Statement st(db, "SELECT tbl_name FROM sqlite_master WHERE type = 'index' AND name = ?");
        st.bind(1, std::string_view(index));
        return st.ok() && st.step() == sql::Step::Row ? st.getText(0) : std::string();
    };
    bool unreadPage = static_cast<bool>(failure);
    std::string first = failure ? failure.message : std::string();
    long unused = 0;
    std::string firstUnused;
    for (const std::string& line : lines) {
        if (line.starts_with("*** in database") || line == "ok") continue;
        if (const std::string index = IndexNamedIn(line); !index.empty()) {
            add({tableOf(index), index, line, false});
        } else if (line.ends_with(" is never used")) {
            if (unused++ == 0) firstUnused = line;
        } else {
            unreadPage = true;
            if (first.empty()) first = line;
        }
    }
    if (unreadPage) {
        // Each tree read on its own names what the damaged pages belong to.
        std::vector<Tree> trees;
        sql::Statement st(db, "SELECT type, name, tbl_name FROM sqlite_master "
                              "WHERE type IN ('table', 'index') AND rootpage > 0 ORDER BY type DESC, name");
        sql::Step s = sql::Step::Failed;
        while (st.ok() && (s = st.step()) == sql::Step::Row)
            trees.push_back({st.getText(0), st.getText(1), st.getText(2)});
        if (!st.ok() || s == sql::Step::Failed) add({"sqlite_master", "", st.error().message, false});
        const size_t before = v.damage.size();
        for (const Tree& t : trees) {
            if (const sql::Error e = ReadTree(db, t); e) {
                if (t.type == "table") add({t.name, "", e.message, false});
                else add({t.table, t.name, e.message, false});
            }
        }
        // Pages of no tree we can name (the free list, a broken link
        // between pages): the file itself is damaged.
        if (v.damage.size() == before) add({"", "", first, false});
    } else if (unused > 0) {
        // Alone, unused pages are left over from an index rebuilt in place
        // or from an interrupted change: nothing fails to read.
        add({"", "", std::to_string(unused) + " unused page(s), the first: " + firstUnused, true});
    }
    return v;
}

Verdict VerifyFile(Env& env, const std::string& path, std::string_view passwordBytes, Depth depth, std::int64_t cacheBytes) {
    sql::Error err;
    sql::Database db = sql::Database::open(env, path, passwordBytes, sql::OpenMode::ReadOnly, err);
    if (!db.isOpen()) {
        Verdict v;
        if (IsInUse(err)) {
            v.kind = Verdict::Kind::InUse;
            v.error = err.message;
        } else if (IsDamage(err)) {
            v.kind = Verdict::Kind::Damaged;
            v.damage.push_back({"", "", err.message, false});
        } else {
            v.kind = Verdict::Kind::Unreadable;
            v.error = err.message;
        }
        return v;
    }
    return Verify(db, depth, cacheBytes);
}

bool RebuildIndexes(sql::Database& db, const std::vector<std::string>& indexes, sql::Error& err) {
    // DROP INDEX and REINDEX free the old tree and so must read it; the
    // rebuilt tree is built under a temporary name and takes the old one's
    // place in the schema instead.
    if (!db.exec("PRAGMA writable_schema = 1", &err)) return false;
    struct SchemaLocked {
        sql::Database& db;
        ~SchemaLocked() { db.exec("PRAGMA writable_schema = 0"); }
    } locked{db};
    sql::Transaction tx(db);
    if (!tx.ok()) return err = db.lastError(), false;
    std::int64_t version = 0;
    {
        sql::Statement st(db, "PRAGMA schema_version");
        if (!st.ok() || st.step() != sql::Step::Row) return err = st.error(), false;
        version = st.getInt64(0);
    }
    int n = 0;
    for (const std::string& index : indexes) {
        std::string create;
        {
            sql::Statement st(db, "SELECT sql FROM sqlite_master WHERE type = 'index' AND name = ?");
            st.bind(1, std::string_view(index));
            if (!st.ok() || st.step() != sql::Step::Row) {
                err = st.error();
                if (!err) err = {1, "no index " + index};
                return false;
            }
            if (st.isNull(0)) return err = {1, "index " + index + " belongs to its table's definition"}, false;
            create = st.getText(0);
        }
        const std::string upper = Upper(create);
        const size_t on = upper.find(" ON ");
        if (on == std::string::npos) return err = {1, "cannot read the definition of index " + index}, false;
        const std::string temporary = "quillex_rebuilt_" + std::to_string(++n);
        const std::string rebuilt =
            std::string(upper.starts_with("CREATE UNIQUE") ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
            Quoted(temporary) + create.substr(on);
        if (!db.exec(rebuilt, &err)) return false;
        sql::Statement move(db, "UPDATE sqlite_master SET rootpage = (SELECT rootpage FROM sqlite_master WHERE "
                                "type = 'index' AND name = ?) WHERE type = 'index' AND name = ?");
        move.bind(1, std::string_view(temporary));
        move.bind(2, std::string_view(index));
        if (!move.run()) return err = move.error(), false;
        if (db.changes() != 1) return err = {1, "index " + index + " was not found again"}, false;
        sql::Statement drop(db, "DELETE FROM sqlite_master WHERE type = 'index' AND name = ?");
        drop.bind(1, std::string_view(temporary));
        if (!drop.run()) return err = drop.error(), false;
    }
    // Every connection reads the schema again, this one included once it
    // is reopened.
    if (!db.exec("PRAGMA schema_version = " + std::to_string(version + 1), &err)) return false;
    return tx.commit(&err);
}

std::int64_t CacheFor(Env& env, const std::string& path) {
    // The check looks up every row in every index of its table; the whole
    // file in the cache is the most it can use. Above 512 MiB the pages
    // of long values dominate, which the check reads once.
    constexpr std::int64_t kMost = 512LL * 1024 * 1024, kLeast = 8LL * 1024 * 1024;
    const std::int64_t length = env.FileExists(path) ? env.FileLength(path) : 0;
    return std::clamp<std::int64_t>(length + 1024 * 1024, kLeast, kMost);
}

}  // namespace qx::integrity
