// CDatabase: salvage of a damaged sub database. Every row that still reads
// is copied into a fresh keyed file beside it; the damaged file is set aside
// (".damaged", never deleted) and the copy takes its name, as one change
// through the intent record:
//   1. the copy is created without a name, the record (the damaged file
//      aside, the copy into its place, the copy to discard when nothing was
//      renamed) is written, then the copy gets its ".salvaged" name;
//   2. the rows are read from the damaged file, which is only ever opened
//      for reading, and written to the copy, which is synced;
//   3. every copied row is read back from the copy and proved equal to what
//      the damaged file gave;
//   4. the damaged file goes aside, the copy takes its name, the record goes.
// Before step 4 has begun an open discards the copy; after, it finishes.
//
// Rows are found first by ID, for every document the main database expects
// in the file, then by a sweep of the row numbers for rows no document
// expects. A page that does not read stops the engine's walk; the sweep
// then looks for the first row number past it that the engine can reach
// again (doubling the step, then halving the gap), so one damaged page
// costs a few dozen lookups, not a walk of everything behind it.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/maintenance/IntentRecord.h"
#include "database/maintenance/Salvage.h"
#include "database/maintenance/SalvageCopy.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/engine/Cipher.h"
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <set>

namespace qx {

namespace {

// What a row held, in 2 x 128 bits: a digest of its path and one of its
// data, each the 64-bit XXH64 under two seeds. A cryptographic hash would
// cost more than reading and writing the row together; the copy is proved
// against damage and slips, not against an adversary.
struct Digest {
    std::uint64_t h[4] = {};
    std::uint8_t kinds = 0;  // Null and empty told apart, text and blob too
    bool operator==(const Digest&) const = default;
};

std::uint64_t Rotl(std::uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

std::uint64_t Xxh64(const std::uint8_t* p, std::size_t len, std::uint64_t seed) {
    constexpr std::uint64_t P1 = 11400714785074694791ULL, P2 = 14029467366897019727ULL, P3 = 1609587929392839161ULL,
                            P4 = 9650029242287828579ULL, P5 = 2870177450012600261ULL;
    auto read64 = [](const std::uint8_t* q) {
        std::uint64_t v;
        std::memcpy(&v, q, 8);
        return v;
    };
    auto round = [&](std::uint64_t acc, std::uint64_t input) { return Rotl(acc + input * P2, 31) * P1; };
    const std::uint8_t* const end = p + len;
    std::uint64_t h;
    if (len >= 32) {
        std::uint64_t v1 = seed + P1 + P2, v2 = seed + P2, v3 = seed, v4 = seed - P1;
        for (const std::uint8_t* limit = end - 32; p <= limit; p += 32) {
            v1 = round(v1, read64(p));
            v2 = round(v2, read64(p + 8));
            v3 = round(v3, read64(p + 16));
            v4 = round(v4, read64(p + 24));
        }
        h = Rotl(v1, 1) + Rotl(v2, 7) + Rotl(v3, 12) + Rotl(v4, 18);
        for (const std::uint64_t v : {v1, v2, v3, v4}) h = (h ^ round(0, v)) * P1 + P4;
    } else {
        h = seed + P5;
    }
    h += len;
    for (; p + 8 <= end; p += 8) h = Rotl(h ^ round(0, read64(p)), 27) * P1 + P4;
    if (p + 4 <= end) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        h = Rotl(h ^ (static_cast<std::uint64_t>(v) * P1), 23) * P2 + P3;
        p += 4;
    }
    for (; p < end; ++p) h = Rotl(h ^ (*p * P5), 11) * P1;
    h ^= h >> 33;
    h *= P2;
    h ^= h >> 29;
    h *= P3;
    return h ^ (h >> 32);
}

Digest DigestOf(const std::string& text, const Bytes& blob, bool pathNull, bool blobNull, bool blobIsText) {
    Digest d;
    const auto* t = reinterpret_cast<const std::uint8_t*>(text.data());
    d.h[0] = Xxh64(t, text.size(), 1);
    d.h[1] = Xxh64(t, text.size(), 2);
    d.h[2] = Xxh64(blob.data(), blob.size(), 1);
    d.h[3] = Xxh64(blob.data(), blob.size(), 2);
    d.kinds = static_cast<std::uint8_t>((pathNull ? 1 : 0) | (blobNull ? 2 : 0) | (blobIsText ? 4 : 0));
    return d;
}

// One PICTURES row as read: its values and their digest.
struct Row {
    bool pathNull = true, blobNull = true;
    bool blobIsText = false;  // stored as text: copied as text
    std::string path;
    Bytes blob;
    Digest digest;
};

enum class Read { Found, Absent, Unreadable };

// The row `id` of PICTURES, every value of it (overflow pages included).
Read ReadRow(sql::Statement& st, std::int64_t id, Row& row) {
    st.reset();
    st.bind(1, id);
    switch (st.step()) {
    case sql::Step::Done: return Read::Absent;
    case sql::Step::Failed: return Read::Unreadable;
    case sql::Step::Row: break;
    }
    row.pathNull = st.isNull(0);
    row.path = row.pathNull ? std::string() : st.getText(0);
    row.blobNull = st.isNull(1);
    row.blobIsText = st.columnType(1) == sql::ColumnType::Text;
    row.blob = row.blobNull ? Bytes() : st.getBlob(1);
    // A value that stops on a damaged overflow page comes back short, with
    // the error kept on the connection; its length is known from the cell.
    if (!row.blobNull && static_cast<std::int64_t>(row.blob.size()) != st.columnBytes(1)) return Read::Unreadable;
    row.digest = DigestOf(row.path, row.blob, row.pathNull, row.blobNull, row.blobIsText);
    // The statement must end cleanly too: a row number given twice would be
    // no row of ours.
    if (st.step() != sql::Step::Done) return Read::Unreadable;
    return Read::Found;
}

// What the damaged file is read through.
struct Source {
    sql::Database db;
    sql::Statement byId;  // SELECT path, PICTURE FROM PICTURES WHERE ID = ?
};

}  // namespace

bool CDatabase::SalvageSubDatabase(long nDatabaseId, const std::string& sPath, SalvageFileReport& report) {
    report.kind = SalvageFileReport::Kind::Sub;
    report.file = sPath;
    report.databaseId = nDatabaseId;
    auto fail = [&](const std::string& why) {
        report.outcome = SalvageFileReport::Outcome::Failed;
        report.error = why;
        WriteLog("Salvage: " + sPath + " is not salvaged: " + why);
        return false;
    };
    if (!Connected(m_AdoCnMain)) return fail("no archive is open");
    const std::string mainPath = MainDatabaseName();
    const std::string folder = GetFolderPart(mainPath);
    if (m_env->KindOf(sPath) != EntryKind::RegularFile || !m_env->EntryLiesIn(sPath, folder))
        return fail("it is not a file in the archive folder");
    const std::string intent = IntentName(mainPath);
    if (!DryRun() && m_env->KindOf(intent) != EntryKind::None)
        return fail("an earlier change is not finished ('" + intent + "' exists)");
    const std::string password = engine::PasswordBytes(Settings::Get().DatabasePassword);

    // The documents the main database expects in this file. A main database
    // that does not read to its end cannot tell which documents are lost.
    struct Expected {
        long id;
        std::string name;
        long parent;
    };
    std::vector<Expected> expected;
    {
        sql::Statement st(m_AdoCnMain->database(),
                          "SELECT ID, NAME, PARENT FROM FOLDERS WHERE ISFOLDER = 0 AND DATABASEID = ? ORDER BY ID");
        st.bind(1, static_cast<std::int64_t>(nDatabaseId));
        sql::Step step;
        while ((step = st.step()) == sql::Step::Row)
            expected.push_back({static_cast<long>(st.getInt64(0)), st.isNull(1) ? std::string() : st.getText(1),
                                st.isNull(2) ? 0L : static_cast<long>(st.getInt64(2))});
        if (step == sql::Step::Failed)
            return fail("the documents of the main database do not read (" + st.error().message +
                        "); the main database must be salvaged first");
    }

    Source src;
    {
        sql::Error err;
        src.db = sql::Database::open(*m_env, sPath, password, sql::OpenMode::ReadOnly, err);
        if (!src.db.isOpen()) return fail("it does not open (" + err.message + "); nothing of it can be read");
        src.byId = sql::Statement(src.db, "SELECT path, PICTURE FROM PICTURES WHERE ID = ?");
        if (!src.byId.ok()) return fail("its table PICTURES cannot be read (" + src.byId.error().message + ")");
    }
    // The definitions to repeat in the copy, as the damaged file stores them.
    std::vector<std::pair<std::string, std::string>> schema;  // type, sql
    {
        sql::Statement st(src.db, "SELECT type, sql FROM sqlite_master WHERE sql IS NOT NULL AND name NOT LIKE "
                                  "'sqlite\\_%' ESCAPE '\\' ORDER BY type = 'index', rowid");
        sql::Step step;
        while ((step = st.step()) == sql::Step::Row) schema.emplace_back(st.getText(0), st.getText(1));
        if (step == sql::Step::Failed) return fail("its table list does not read (" + st.error().message + ")");
    }
    std::int64_t sequence = 0;
    {
        sql::Statement st(src.db, "SELECT seq FROM sqlite_sequence WHERE name = 'PICTURES'");
        if (st.ok() && st.step() == sql::Step::Row) sequence = st.getInt64(0);
    }

    const bool dryRun = DryRun();
    WriteLog("Salvage: " + sPath + (dryRun ? " is read (report only: nothing is changed)" : " is salvaged"));

    // 1. The copy and the record (not in a report-only run).
    salvage::Replacement replacement(*m_env, sPath, folder, intent);
    const std::string& copyPath = replacement.copyPath();
    salvage::CopyTarget target;
    auto undo = [&](const std::string& why) {
        target.close();
        replacement.discard();
        return fail(why);
    };
    if (!dryRun) {
        if (const std::string why = replacement.begin(); !why.empty()) return undo(why);
        sql::Error err;
        if (!target.open(*m_env, copyPath, password, err)) return undo("the copy cannot be opened (" + err.message + ")");
        if (!target.db().exec("BEGIN;", &err)) return undo(err.message);
        for (const auto& [type, sqlText] : schema)
            if (!target.db().exec(salvage::AimedAtCopy(sqlText), &err)) return undo("the copy's tables: " + err.message);
    }

    // 2. The rows.
    std::map<std::int64_t, Digest> copied;  // row -> digest of what the damaged file gave
    std::set<std::int64_t> unreadable;       // rows known to exist that did not read
    sql::Statement insert;
    if (!dryRun) {
        insert = sql::Statement(target.db(), "INSERT INTO salvaged.PICTURES (ID, path, PICTURE) VALUES (?, ?, ?)");
        if (!insert.ok()) return undo("the copy's table PICTURES: " + insert.error().message);
    }
    std::string writeError;
    auto take = [&](std::int64_t id) -> Read {
        Row row;
        const Read r = ReadRow(src.byId, id, row);
        if (r == Read::Unreadable) unreadable.insert(id);
        if (r != Read::Found) return r;
        ++report.rowsRead;
        if (!dryRun) {
            insert.reset();
            insert.bind(1, id);
            if (row.pathNull) insert.bindNull(2);
            else insert.bind(2, std::string_view(row.path));
            if (row.blobNull) insert.bindNull(3);
            else if (row.blobIsText)
                insert.bind(3, std::string_view(reinterpret_cast<const char*>(row.blob.data()), row.blob.size()));
            else insert.bindBlob(3, row.blob);
            if (!insert.run() && writeError.empty()) writeError = insert.error().message;
        }
        copied.emplace(id, row.digest);
        return r;
    };
    const int stepFailed = dryRun ? 0 : m_env->Step("salvage.copying");
    if (stepFailed) return undo(ErrorText(stepFailed));
    std::set<long> expectedIds;
    for (const Expected& e : expected) {
        expectedIds.insert(e.id);
        (void)take(e.id);
        if (!writeError.empty()) return undo("writing the copy: " + writeError);
    }
    // The sweep: every row number the engine reaches, in order; the rows
    // no document expects are read as they come.
    {
        sql::Statement walk(src.db, "SELECT ID FROM PICTURES WHERE ID >= ? ORDER BY ID");
        salvage::SweepRows(walk, report.unreadableRanges, [&](sql::Statement& row) {
            const std::int64_t id = row.getInt64(0);
            if (writeError.empty() && !copied.count(id) && !unreadable.count(id)) (void)take(id);
        });
        if (!writeError.empty()) return undo("writing the copy: " + writeError);
    }
    // Rows of other tables (a sub database has none of its own), as far as
    // they read.
    if (!dryRun)
        for (const auto& [type, sqlText] : schema) {
            if (type != "table") continue;
            sql::Statement names(src.db, "SELECT name FROM sqlite_master WHERE sql = ?");
            names.bind(1, std::string_view(sqlText));
            if (names.step() != sql::Step::Row) continue;
            const std::string table = names.getText(0);
            if (table == "PICTURES") continue;
            sql::Statement rows(src.db, "SELECT * FROM " + sql::QuoteIdentifier(table));
            std::string marks;
            for (int c = 0; c < rows.columnCount(); ++c) marks += c ? ", ?" : "?";
            sql::Statement put(target.db(), "INSERT INTO salvaged." + sql::QuoteIdentifier(table) + " VALUES (" + marks + ")");
            while (rows.ok() && put.ok() && rows.step() == sql::Step::Row) {
                put.reset();
                for (int c = 0; c < rows.columnCount(); ++c) put.bind(c + 1, rows.value(c));
                (void)put.run();
            }
        }

    for (const Expected& e : expected) {
        if (!unreadable.count(e.id)) continue;
        std::string path;
        if (PathBelow(e.parent, path) != 0) path.clear();
        if (path.empty() || path.front() != '\\') path = "\\" + path;
        report.lost.push_back({e.id, e.name, path});
    }
    report.rowsLost = static_cast<std::int64_t>(unreadable.size());

    if (dryRun) {
        report.rowsSalvaged = report.rowsRead;
        report.outcome = SalvageFileReport::Outcome::WouldSalvage;
        WriteLog("Salvage: " + sPath + ": " + std::to_string(report.rowsRead) + " rows would be salvaged, " +
                 std::to_string(report.rowsLost) + " rows are lost (report only: nothing changed)");
        return true;
    }

    // The sequence of row numbers goes on where the damaged file's did.
    {
        sql::Error err;
        if (!target.db().exec("INSERT INTO salvaged.sqlite_sequence (name, seq) SELECT 'PICTURES', 0 WHERE NOT "
                              "EXISTS (SELECT 1 FROM salvaged.sqlite_sequence WHERE name = 'PICTURES');",
                              &err) ||
            !target.db().exec("UPDATE salvaged.sqlite_sequence SET seq = max(seq, " + std::to_string(sequence) +
                                  ") WHERE name = 'PICTURES';",
                              &err) ||
            !target.db().exec("COMMIT;", &err))
            return undo("writing the copy: " + err.message);
    }
    target.close();
    if (const int rc = m_env->SyncFile(copyPath, "salvage.copy_written")) return undo(ErrorText(rc));

    // 3. Every row read back from the copy and proved equal.
    {
        sql::Error err;
        sql::Database check = sql::Database::open(*m_env, copyPath, password, sql::OpenMode::ReadOnly, err);
        if (!check.isOpen()) return undo("the copy does not open (" + err.message + ")");
        sql::Statement st(check, "SELECT ID, path, PICTURE FROM PICTURES ORDER BY ID");
        std::int64_t equal = 0;
        sql::Step step;
        while ((step = st.step()) == sql::Step::Row) {
            const auto it = copied.find(st.getInt64(0));
            const bool pathNull = st.isNull(1), blobNull = st.isNull(2);
            const bool blobIsText = st.columnType(2) == sql::ColumnType::Text;  // asked before the value is read
            const Bytes blob = blobNull ? Bytes() : st.getBlob(2);
            if (it == copied.end() ||
                DigestOf(pathNull ? std::string() : st.getText(1), blob, pathNull, blobNull, blobIsText) != it->second)
                return undo("the copy does not give back row " + std::to_string(st.getInt64(0)) + " as it was read");
            ++equal;
        }
        if (step == sql::Step::Failed) return undo("the copy does not read back (" + st.error().message + ")");
        if (equal != static_cast<std::int64_t>(copied.size()))
            return undo("the copy holds " + std::to_string(equal) + " of " + std::to_string(copied.size()) + " rows");
        report.rowsSalvaged = equal;
    }
    if (const int rc = m_env->Step("salvage.verified")) return undo(ErrorText(rc));

    // 4. The swap, with every connection to the file closed.
    src.byId = {};
    src.db.close();
    if (Connected(m_AdoCnPdb) && m_env->SameFile(m_AdoCnPdb->dataSource(), sPath)) Disconnect(m_AdoCnPdb);
    if (m_pdbPool)
        std::erase_if(*m_pdbPool, [&](const ConnectionPtr& cn) { return cn && m_env->SameFile(cn->dataSource(), sPath); });
    m_lastPicbase = {};
    bool stuck = false;
    if (const int rc = replacement.swap(stuck)) {
        if (!stuck) return undo(ErrorText(rc));
        report.outcome = SalvageFileReport::Outcome::Failed;
        report.error = ErrorText(rc);
        return false;
    }
    report.setAsideAs = replacement.asideName();
    replacement.finish();
    report.outcome = SalvageFileReport::Outcome::Salvaged;
    WriteLog("Salvage: " + sPath + ": " + std::to_string(report.rowsSalvaged) + " rows salvaged, " +
             std::to_string(report.rowsLost) + " rows lost, " + std::to_string(report.lost.size()) +
             " documents lost; the damaged file is kept as '" + replacement.asidePath() + "'");
    return true;
}

}  // namespace qx
