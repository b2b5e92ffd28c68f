#pragma once
// Whether every page of a database file reads, and which table or index a
// page that does not read belongs to. The cipher authenticates each page,
// so a damaged page is a read error wherever it lies; a file counts as
// clean only when the engine's own check has read all of it.
#include "support/engine/Sql.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qx::integrity {

enum class Depth {
    Pages,  // every page of every tree, overflow chain and the free list, and their structure
    Full    // the same, and every index entry matched with its table row
};

struct Damage {
    std::string table;   // the damaged table, or the table of the damaged index; "" when unknown
    std::string index;   // "" when the table itself (or the file's structure) is damaged
    std::string detail;  // the engine's words
    bool unusedPages = false;  // pages no tree uses: nothing unreadable, only space lost
};

struct Verdict {
    enum class Kind {
        Clean,
        Damaged,
        InUse,      // another program holds the file locked: not judged
        Unreadable  // not opened or read for another reason (permission, I/O): not judged
    } kind = Kind::Clean;
    std::vector<Damage> damage;
    std::string error;  // InUse / Unreadable: why
    // Every finding lies in an index or is unused space: the tables read.
    bool Repairable() const;
};

// The engine's check at `depth`. When it complains, every tree of the
// schema is read on its own, so that the damage is named by its table or
// index. `cacheBytes` > 0: the page cache for the check.
Verdict Verify(sql::Database& db, Depth depth, std::int64_t cacheBytes = 0);

// Opens `path` for reading only and verifies it.
Verdict VerifyFile(Env& env, const std::string& path, std::string_view passwordBytes, Depth depth, std::int64_t cacheBytes = 0);

// Reads every row and every value of `table`, overflow pages included.
bool TableReadsCompletely(sql::Database& db, const std::string& table, sql::Error& err);

// Gives each index a new tree built from its table, in one transaction; the
// old trees are left unused (a compaction of the file drops them). Nothing
// of the damaged trees is read.
bool RebuildIndexes(sql::Database& db, const std::vector<std::string>& indexes, sql::Error& err);

// The page cache that lets a full check of `path` run without evicting the
// index pages it looks up again and again.
std::int64_t CacheFor(Env& env, const std::string& path);

}  // namespace qx::integrity
