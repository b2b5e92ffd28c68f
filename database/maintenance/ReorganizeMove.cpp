// CDatabase: the move of Reorganize, from the source towards the destination.
//
// No document is ever without its bytes. The rows move in batches, each in
// two commits in this order:
//   1. the copies in the destination (durable before anything points there);
//   2. FOLDERS re-pointed at the destination (and the rows the move repairs).
// The moved rows leave the source in one commit when the move leaves the
// source or the destination (or stops): a source moved out whole is
// compacted without its rows, which reads none of their pages; otherwise
// they are deleted. Until then, and after a crash, a moved document's bytes
// stand in two sub databases with FOLDERS pointing at one of them; the next
// run, which starts again at the same destination, meets it as a duplicate of
// equal size and overwrites it.
//
// The destination's length is read from its open connection (pages times
// page size, which inside the batch's transaction already counts what the
// batch wrote), so the switch to the next destination happens at the same
// row as it would by reopening the file after each row.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/checks/ResultCodes.h"
#include "database/maintenance/ReorganizeBatch.h"
#include "database/maintenance/WorkProgress.h"
#include "support/Env.h"
#include "support/Failpoint.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/Tools.h"

#include <ctime>
#include <limits>
#include <optional>
#include <vector>

namespace qx {

namespace {

// Bytes per piece when a value is copied: a larger document is never held
// whole; one of up to a piece is copied in one go.
constexpr std::int64_t kChunk = 1 << 20;

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &local);
    return text;
}

// Length of the file as the connection sees it, its own uncommitted pages included.
std::int64_t Length(sql::Database& db) {
    sql::Statement count(db, "PRAGMA page_count"), size(db, "PRAGMA page_size");
    if (count.step() != sql::Step::Row || size.step() != sql::Step::Row) return -1;
    return count.getInt64(0) * size.getInt64(0);
}

std::optional<std::int64_t> SizeOf(sql::Database& db, long id, sql::Error& err) {
    sql::Statement st(db, "SELECT length(PICTURE) FROM PICTURES WHERE ID = ?");
    st.bind(1, static_cast<std::int64_t>(id));
    switch (st.step()) {
    case sql::Step::Row: return st.isNull(0) ? 0 : st.getInt64(0);
    case sql::Step::Done: return std::nullopt;
    case sql::Step::Failed: err = st.error(); return std::nullopt;
    }
    return std::nullopt;
}

// As above, through a prepared statement, which is left reset.
std::optional<std::int64_t> SizeOf(sql::Statement& st, long id, sql::Error& err) {
    st.bind(1, static_cast<std::int64_t>(id));
    std::optional<std::int64_t> size;
    switch (st.step()) {
    case sql::Step::Row: size = st.isNull(0) ? 0 : st.getInt64(0); break;
    case sql::Step::Done: break;
    case sql::Step::Failed: err = st.error(); break;
    }
    st.reset();
    return size;
}

// Fills row `to` of `dst`, already written zero-filled at `size`, with the
// value of row `from` of `src`, one piece at a time.
bool StreamValue(sql::Database& src, long from, sql::Database& dst, long to, std::int64_t size, sql::Error& err) {
    sql::Blob in = sql::Blob::open(src, "PICTURES", "PICTURE", from, false, err);
    if (!in.isOpen()) return false;
    sql::Blob out = sql::Blob::open(dst, "PICTURES", "PICTURE", to, true, err);
    if (!out.isOpen()) return false;
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min(size, kChunk)));
    for (std::int64_t at = 0; at < size; at += kChunk) {
        const std::span<std::uint8_t> part(piece.data(), static_cast<std::size_t>(std::min(kChunk, size - at)));
        if (!in.read(at, part, &err) || !out.write(at, part, &err)) return false;
    }
    return true;
}

// The statements a batch runs once per row, prepared once per batch: for
// documents of a few KB preparing them cost more than the copying.
struct BatchStatements {
    BatchStatements(sql::Database& dst, sql::Database& main)
        : pages(dst, "PRAGMA page_count"),
          sizeThere(dst, "SELECT length(PICTURE) FROM PICTURES WHERE ID = ?"),
          ref(main, "SELECT DATABASEID FROM FOLDERS WHERE ID = ?"),
          add(dst, "INSERT INTO PICTURES (ID, PICTURE) VALUES (?, ?)") {
        sql::Statement size(dst, "PRAGMA page_size");
        pageSize = size.step() == sql::Step::Row ? size.getInt64(0) : -1;
    }
    // As Length(), with the page size read once.
    std::int64_t length() {
        const std::int64_t n = pages.step() == sql::Step::Row && pageSize > 0 ? pages.getInt64(0) * pageSize : -1;
        pages.reset();
        return n;
    }
    // Whether the destination is still shorter than `limit`, as length()
    // would say. The file is asked only when the rows inserted since it was
    // last asked could have brought it there: a row adds at most its
    // overflow pages and the pages of splits up the tree (at most two per
    // level; sub databases are at most a few levels deep).
    bool shorterThan(std::int64_t limit) {
        if (known >= 0 && known + grown < limit) return true;
        known = length();
        grown = 0;
        return known < limit;
    }
    void inserted(std::int64_t bytes) {
        constexpr std::int64_t kSplitPages = 16, kPageOverhead = 128;
        grown = pageSize > kPageOverhead ? grown + (bytes / (pageSize - kPageOverhead) + 1 + kSplitPages) * pageSize
                                         : std::numeric_limits<std::int64_t>::max() / 2;
    }
    // After anything else written: ask the file next time.
    void changed() { known = -1; }

    std::int64_t pageSize = -1, known = -1, grown = 0;
    sql::Statement pages, sizeThere, ref, add;
};

// Copies the value of row `from` of `src` into row `to` of `dst` (which
// must not exist). A value of up to one piece comes read already (`value`)
// and goes in one insert; a larger one is written zero-filled at its size
// first and then filled piece by piece, so that it is never held whole.
bool CopyValue(sql::Database& src, long from, sql::Database& dst, long to, std::int64_t size, const Bytes& value,
               sql::Error& err, BatchStatements& st) {
    sql::Statement& add = st.add;
    add.bind(1, static_cast<std::int64_t>(to));
    if (size > 0 && size <= kChunk) {
        add.bindBlob(2, value);
        return add.run() || (err = add.error(), false);
    }
    add.bindZeroBlob(2, size);
    if (!add.run()) return err = add.error(), false;
    if (size == 0) return true;
    return StreamValue(src, from, dst, to, size, err);
}

// Copies row `from` of PICTURES to the new row `to` of the same file, piece by piece.
bool CopyWithin(sql::Database& db, long from, long to, std::int64_t size, sql::Error& err) {
    sql::Statement add(db, "INSERT INTO PICTURES (ID, PICTURE) VALUES (?, ?)");
    add.bind(1, static_cast<std::int64_t>(to));
    add.bindZeroBlob(2, size);
    if (!add.run()) return err = add.error(), false;
    if (size == 0) return true;
    return StreamValue(db, from, db, to, size, err);
}

// Whether row `a` of `x` and row `b` of `y` (one file or two) hold the same
// bytes, compared piece by piece.
bool SameBytes(sql::Database& dx, long a, sql::Database& dy, long b, std::int64_t size, sql::Error& err) {
    if (size == 0) return true;
    sql::Blob x = sql::Blob::open(dx, "PICTURES", "PICTURE", a, false, err);
    if (!x.isOpen()) return false;
    sql::Blob y = sql::Blob::open(dy, "PICTURES", "PICTURE", b, false, err);
    if (!y.isOpen() || x.size() != size || y.size() != size) return false;
    std::vector<std::uint8_t> p(static_cast<std::size_t>(std::min(size, kChunk))), q(p.size());
    for (std::int64_t at = 0; at < size; at += kChunk) {
        const auto n = static_cast<std::size_t>(std::min(kChunk, size - at));
        if (!x.read(at, {p.data(), n}, &err) || !y.read(at, {q.data(), n}, &err)) return false;
        if (!std::equal(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(n), q.begin())) return false;
    }
    return true;
}

bool Exec(sql::Database& db, const std::string& text, std::initializer_list<std::int64_t> args, sql::Error& err) {
    sql::Statement st(db, text);
    int i = 1;
    for (std::int64_t a : args) st.bind(i++, a);
    if (!st.run()) return err = st.error(), false;
    return true;
}

// Exec() through a statement prepared once for many rows.
bool Run(sql::Statement& st, std::initializer_list<std::int64_t> args, sql::Error& err) {
    int i = 1;
    for (std::int64_t a : args) st.bind(i++, a);
    if (!st.run()) return err = st.error(), false;
    return true;
}

// Changes with every commit another connection makes to the file, so that
// two readings by the same connection tell whether anyone else wrote.
bool DataVersion(sql::Database& db, std::int64_t& version, sql::Error& err) {
    sql::Statement st(db, "PRAGMA data_version");
    if (st.step() != sql::Step::Row) return err = st.error(), false;
    version = st.getInt64(0);
    return true;
}

// Whether the source holds any row, and its data_version, in one read.
bool ProbeSource(sql::Database& db, bool& empty, std::int64_t& version, sql::Error& err) {
    sql::HeldTransaction reading(db);
    sql::Statement st(db, "SELECT 1 FROM PICTURES LIMIT 1");
    const sql::Step step = st.step();
    if (step == sql::Step::Failed) return err = st.error(), false;
    empty = step == sql::Step::Done;
    return DataVersion(db, version, err);
}

// Whether the sub database `owner` of the list holds a row `id`: nothing
// when it is not listed (or `err` when it cannot be read).
std::optional<bool> OwnRowIn(Env& env, const std::vector<std::pair<long, std::string>>& list, long owner, long id,
                             sql::Error& err) {
    const auto entry = std::find_if(list.begin(), list.end(), [&](const auto& e) { return e.first == owner; });
    if (entry == list.end()) return std::nullopt;
    sql::Database db = sql::Database::open(env, entry->second, engine::PasswordBytes(Settings::Get().DatabasePassword),
                                           sql::OpenMode::ReadOnly, err);
    if (!db.isOpen()) return std::nullopt;
    sql::Statement st(db, "SELECT 1 FROM PICTURES WHERE ID = ?");
    st.bind(1, static_cast<std::int64_t>(id));
    switch (st.step()) {
    case sql::Step::Row: return true;
    case sql::Step::Done: return false;
    case sql::Step::Failed: err = st.error(); return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

bool CDatabase::MoveLoop(const std::vector<std::pair<long, std::string>>& list, std::size_t& source,
                         std::size_t& destination, ConnectionPtr& src, ConnectionPtr& dst,
                         const std::function<bool(std::size_t, const std::string&, const CompactOptions&)>& compact,
                         WorkProgress& progress) {
    const std::string& pwd = Settings::Get().DatabasePassword;
    sql::Database& mainDb = m_AdoCnMain->database();
    auto stop = [this](const std::string& during, const sql::Error& e) {
        CompactTrouble& trouble = m_reorganizeOutcome.trouble;
        if (trouble.trouble == Trouble::None) trouble = {TroubleOfEngineCode(e.code), during + ": " + e.message, 0, {}};
        WriteLog("Reorganize: " + e.message + " (" + std::to_string(e.code) + ")");
        m_sReorganizeStop = during + ": " + e.message;
        WriteLog("Reorganize: stopped while " + during + "; what was moved until then stays moved");
        return false;
    };
    // A named step of the file layer refused with an errno value.
    auto stopAt = [&](const std::string& during, int rc) {
        CompactTrouble& trouble = m_reorganizeOutcome.trouble;
        if (trouble.trouble == Trouble::None) trouble = {TroubleOfErrno(rc), during + ": " + ErrorText(rc), 0, {}};
        return stop(during, sql::Error{rc, ErrorText(rc)});
    };
    auto line = [](long id, const char* tail) { WriteLog("Reorganize: " + std::to_string(id) + tail); };

    sql::Error err;
    // The source is walked in ID order by one cursor per batch, which also
    // reads the values of up to a piece: every page of it is read once.
    // sourceDone: no row after the last one taken; lastTaken: the ID taken
    // last (none yet in a fresh source: IDs may span the whole 64-bit range,
    // so no value before the first and none after the last is made up);
    // seenHere: the rows taken from this source.
    bool sourceDone = false;
    std::optional<std::int64_t> lastTaken;
    std::int64_t listedVersion = 0;
    std::size_t seenHere = 0;
    if (!ProbeSource(src->database(), sourceDone, listedVersion, err))
        return stop("reading " + list[source].second, err);

    // Rows moved out of the source (copied, committed, re-pointed) are deleted
    // there only when the move leaves the source or the destination: deleting
    // rows batch by batch rewrote every page of the source through the
    // journal, and a source moved out whole is emptied at once instead, which
    // frees its pages without rewriting them (or not even that, below).
    std::vector<long> pendingDrop;
    auto dropMoved = [&]() {
        if (pendingDrop.empty()) return true;
        sql::Database& in = src->database();
        // The moved bytes live on in the destination: overwriting their old
        // pages would write the whole move once more.
        in.exec("PRAGMA secure_delete = OFF");
        sql::Transaction deletions(in);
        if (!deletions.ok()) return stop("writing " + list[source].second, in.lastError());
        // Emptied at once only when the table holds exactly the rows taken:
        // all moved, and nobody else has written the file since the first look.
        bool whole = sourceDone && pendingDrop.size() == seenHere;
        std::int64_t version = 0;
        if (whole && !DataVersion(in, version, err)) return stop("reading " + list[source].second, err);
        if (whole && version == listedVersion) {
            if (!in.exec("DELETE FROM PICTURES", &err)) return stop("emptying " + list[source].second, err);
        } else {
            sql::Statement drop(in, "DELETE FROM PICTURES WHERE ID = ?");
            for (const long id : pendingDrop)
                if (!Run(drop, {id}, err))
                    return stop("deleting document " + std::to_string(id) + " from its old place", err);
        }
        if (const int rc = m_env->Step("reorganize.emptying"))
            return stopAt("deleting the moved documents", rc);
        if (!deletions.commit(&err)) return stop("deleting the moved documents", err);
        pendingDrop.clear();
        return true;
    };
    // A source moved out whole need not even be emptied: its compaction
    // leaves its rows out, which reads none of their pages. Our connection
    // holds the file's write lock from the check until the copy is durable,
    // so no row can come in between. In a report-only run, and whenever this
    // does not happen, the rows are deleted and the file compacted as usual.
    auto compactEmptied = [&](bool& compacted) {
        compacted = false;
        if (DryRun() || pendingDrop.empty() || pendingDrop.size() != seenHere) return true;
        std::optional<sql::Transaction> held;
        held.emplace(src->database());
        if (!held->ok()) return stop("writing " + list[source].second, src->database().lastError());
        std::int64_t version = 0;
        if (!DataVersion(src->database(), version, err)) return stop("reading " + list[source].second, err);
        if (version != listedVersion) return true;
        bool released = false;
        CompactOptions options;
        options.leaveOutRowsOf = "PICTURES";
        options.copied = [&] {
            held.reset();
            Disconnect(src);
            released = true;
        };
        compacted = compact(source, list[source].second, options);
        if (compacted) {
            pendingDrop.clear();
            if (!released) Disconnect(src);
        } else if (released) {
            // The file kept its rows; they are deleted one by one, as
            // nothing holds it any more.
            held.reset();
            src = OpenConnection(ConnectString(list[source].second, pwd));
            if (!Connected(src)) return stop("opening " + list[source].second, sql::Error{sql::kCantOpen, "cannot open"});
            seenHere = std::numeric_limits<std::size_t>::max();
        }
        return true;
    };

    // A stored document given a new number keeps its bytes there; the row
    // under its old number may then be overwritten. Such documents are the
    // ones this run made and those a cut-off run made ("Fixed N" rows).
    auto referenced = [&](long id) {
        sql::Statement st(mainDb, "SELECT 1 FROM FOLDERS WHERE ID = ?");
        st.bind(1, static_cast<std::int64_t>(id));
        const sql::Step step = st.step();
        if (step == sql::Step::Failed) err = st.error();
        return step != sql::Step::Done;
    };
    // New document IDs are handed out here, before the main database gets
    // its row: the copy must be durable before any row names it.
    // When the highest number in use is the highest there is, no new number
    // is left: a row that would need one stops the run (numbersLeft).
    long nextNewId = 0;
    bool numbersLeft = true;
    {
        sql::Statement st(mainDb, "SELECT max(coalesce((SELECT max(ID) FROM FOLDERS), 0), "
                                  "coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'FOLDERS'), 0))");
        if (st.step() != sql::Step::Row) return stop("reading the document numbers", st.error());
        const std::int64_t highest = std::max<std::int64_t>(st.getInt64(0), 0);
        numbersLeft = highest < std::numeric_limits<std::int64_t>::max();
        nextNewId = numbersLeft ? static_cast<long>(highest + 1) : 0;
    }
    // A number for a new document, one the destination does not hold yet, or
    // the one under which a cut-off run already copied these very bytes
    // (`copied`): row `fromId` of `from`, `size` bytes.
    auto newNumber = [&](sql::Database& out, sql::Database& from, long fromId, std::int64_t size, bool& copied,
                         long& newId) {
        copied = false;
        for (;;) {
            if (!numbersLeft) {
                err = sql::Error{1, "no document number is left above the highest one in use"};
                return false;
            }
            const auto taken = SizeOf(out, nextNewId, err);
            if (err) return false;
            if (!taken) break;
            if (*taken == size && !referenced(nextNewId) && !err && SameBytes(out, nextNewId, from, fromId, size, err)) {
                copied = true;
                break;
            }
            if (err) return false;
            numbersLeft = nextNewId < std::numeric_limits<long>::max();
            if (numbersLeft) ++nextNewId;
        }
        newId = nextNewId;
        numbersLeft = nextNewId < std::numeric_limits<long>::max();
        if (numbersLeft) ++nextNewId;
        return true;
    };

    std::vector<long> fixedHere;
    long fixedOf = -1;  // the DATABASES.ID fixedHere belongs to
    // Whether a "Fixed N" document of the destination already holds the bytes
    // of row `id` of `from`.
    auto keptAsFixed = [&](sql::Database& out, long destinationId, sql::Database& from, long id, std::int64_t size) {
        if (fixedOf != destinationId) {
            fixedHere.clear();
            fixedOf = destinationId;
            sql::Statement st(mainDb, "SELECT ID FROM FOLDERS WHERE DATABASEID = ? AND NAME = 'Fixed ' || ID");
            st.bind(1, static_cast<std::int64_t>(destinationId));
            sql::Step step;
            while ((step = st.step()) == sql::Step::Row) fixedHere.push_back(static_cast<long>(st.getInt64(0)));
            if (step == sql::Step::Failed) return err = st.error(), false;
        }
        for (const long candidate : fixedHere) {
            const auto stored = SizeOf(out, candidate, err);
            if (err) return false;
            if (stored && *stored == size && SameBytes(out, candidate, from, id, size, err)) return true;
            if (err) return false;
        }
        return false;
    };
    long retried = 0;  // a row met again after its stored namesake got a new number

    auto moveRows = [&]() {
        while (m_window.ReorganizeVisible() && destination != source) {
            // -- Source switch.
            if (sourceDone) {
                WriteLog("Reorganize: switching to new source sub database");
                const std::string emptied = list[source].second;
                bool compacted = false;
                if (source > destination && !compactEmptied(compacted)) return false;
                if (!compacted) {
                    if (!dropMoved()) return false;
                    Disconnect(src);
                    if (source > destination) compact(source, emptied, {});
                }
                // Only a file nothing points at any more is retired.
                sql::Statement still(mainDb, "SELECT 1 FROM FOLDERS WHERE DATABASEID = ? LIMIT 1");
                still.bind(1, static_cast<std::int64_t>(list[source].first));
                const sql::Step referenced = still.step();
                if (referenced == sql::Step::Failed) return stop("looking up " + emptied, still.error());
                if (referenced == sql::Step::Row) {
                    WriteLog("Reorganize: '" + emptied + "' still holds documents and keeps its name");
                } else {
                    std::string why;
                    const auto outcome = ChangeArchive("retire " + GetFileNamePart(emptied),
                                                       {{emptied, emptied + ".obsolete"}},
                                                       [](sql::Error&) { return true; }, why);
                    if (outcome == ChangeOutcome::NothingChanged)
                        WriteLog("Reorganize: '" + emptied + "' keeps its name: " + why);
                    else if (outcome == ChangeOutcome::Pending)
                        return stop("retiring " + emptied, sql::Error{sql::kCantOpen, why});
                }
                --source;
                src = OpenConnection(ConnectString(list[source].second, pwd));
                if (!Connected(src)) return stop("opening " + list[source].second, sql::Error{sql::kCantOpen, "cannot open"});
                lastTaken.reset();
                seenHere = 0;
                if (!ProbeSource(src->database(), sourceDone, listedVersion, err))
                    return stop("reading " + list[source].second, err);
                m_window.ReorganizeSetCaption(GetResString(93, "Resources not found"));
                progress.SetPhase(GetResString(93, "Resources not found"));
                continue;
            }
            // -- Destination switch.
            if (!Connected(dst)) dst = OpenConnection(ConnectString(list[destination].second, pwd));
            if (!Connected(dst)) return stop("opening " + list[destination].second, sql::Error{sql::kCantOpen, "cannot open"});
            sql::Database& out = dst->database();
            if (Length(out) >= m_nReorganizeCapacity) {
                // A run after a crash starts again at the lowest destination
                // with room; rows left in the source must be found there.
                if (!dropMoved()) return false;
                WriteLog("Reorganize: switching to new destination sub database");
                Disconnect(dst);
                ++destination;
                if (destination < source) compact(destination, list[destination].second, {});
                m_window.ReorganizeSetCaption(GetResString(93, "Resources not found"));
                progress.SetPhase(GetResString(93, "Resources not found"));
                continue;
            }

            // -- One batch: the copies, then FOLDERS, then the deletions.
            struct Moved {
                enum Kind {
                    Document,  // its document is re-pointed at the destination
                    Repaired,  // no FOLDERS row: one is made
                    Stray,     // another document's ID: only leaves the source
                };
                long id;
                Kind kind;
            };
            std::vector<Moved> moved;
            std::vector<long> fixed;
            std::int64_t batchMoved = 0;  // bytes the batch copied
            const long destinationId = list[destination].first;
            sql::Database& in = src->database();
            {
                sql::Transaction copies(out);
                if (!copies.ok()) return stop("writing " + list[destination].second, out.lastError());
                // One read lock each for the whole batch instead of one per statement.
                sql::HeldTransaction reading(in), lookups(mainDb);
                std::int64_t batchBytes = 0;
                BatchStatements st(out, mainDb);
                sql::Statement cursor(in, "SELECT ID, length(PICTURE), CASE WHEN length(PICTURE) <= ? THEN PICTURE END "
                                          "FROM PICTURES WHERE ? OR ID > ? ORDER BY ID");
                cursor.bind(1, kChunk);
                cursor.bind(2, static_cast<std::int64_t>(!lastTaken));
                cursor.bind(3, lastTaken.value_or(0));
                sql::Step cur = cursor.step();
                while (cur == sql::Step::Row &&
                       reorganize::BatchTakesMore(moved.size(), batchBytes) &&
                       st.shorterThan(m_nReorganizeCapacity)) {
                    const long id = static_cast<long>(cursor.getInt64(0));
                    const std::int64_t size = cursor.isNull(1) ? 0 : cursor.getInt64(1);
                    const std::optional<std::int64_t> there = SizeOf(st.sizeThere, id, err);
                    if (err) return stop("reading " + list[destination].second, err);
                    // Whose row this is follows from the document's DATABASEID:
                    // a row of the same ID in another sub database is a stray.
                    sql::Statement& ref = st.ref;
                    ref.bind(1, static_cast<std::int64_t>(id));
                    const sql::Step found = ref.step();
                    if (found == sql::Step::Failed) return stop("reading the documents", ref.error());
                    const long owner = found == sql::Step::Row && !ref.isNull(0) ? static_cast<long>(ref.getInt64(0)) : 0;
                    ref.reset();
                    bool stray = false;
                    if (found == sql::Step::Row && owner != list[source].first) {
                        if (owner == destinationId) {
                            stray = there.has_value();
                        } else if (const auto own = OwnRowIn(*m_env, list, owner, id, err)) {
                            stray = *own;
                        } else if (err) {
                            return stop("reading the sub database of document " + std::to_string(id), err);
                        }
                    }
                    if (stray) {
                        retried = 0;
                        // The document's own row stays; this one is a leftover
                        // copy of it, nothing, or a document of its own.
                        bool leftover = owner == destinationId && *there == size &&
                                        SameBytes(in, id, out, id, size, err);
                        if (err) return stop("reading " + list[destination].second, err);
                        if (!leftover && size > 0) leftover = keptAsFixed(out, destinationId, in, id, size);
                        if (err) return stop("reading " + list[destination].second, err);
                        ++seenHere;
                        lastTaken = id;
                        if (leftover || size > 0) line(id, " - Duplicate entries detected!");
                        if (!leftover && size == 0) {
                            line(id, " - Unreferenced empty document: skipping");
                            WriteLog("Reorganize: skipping source field " + std::to_string(source + 1) +
                                     ", destination field " + std::to_string(destination + 1));
                            cur = cursor.step();
                            continue;
                        }
                        if (!leftover) {
                            line(id, " - Duplicate reference found: creating new reference");
                            bool copied = false;
                            long newId = 0;
                            if (!newNumber(out, in, id, size, copied, newId))
                                return stop("giving document " + std::to_string(id) + " a new number", err);
                            const Bytes value = cursor.isNull(2) ? Bytes() : cursor.getBlob(2);
                            st.changed();
                            if (!copied && !CopyValue(in, id, out, newId, size, value, err, st))
                                return stop("copying document " + std::to_string(id), err);
                            WriteLog("Reorganize: New entry created: " + std::to_string(newId));
                            fixed.push_back(newId);
                            fixedHere.push_back(newId);
                            batchBytes += size;
                        }
                        moved.push_back({id, Moved::Stray});
                        cur = cursor.step();
                        progress.Tick();
                        m_window.DoEvents();
                        if (!m_window.ReorganizeVisible()) break;
                        continue;
                    }
                    if (there) {
                        if (id != retried) line(id, " - Duplicate entries detected!");
                        retried = 0;
                        // The incoming row is the document's: the stored one is
                        // overwritten only when it holds nothing or these very bytes.
                        bool kept = *there == 0 || (*there == size && SameBytes(in, id, out, id, size, err));
                        if (err) return stop("reading " + list[destination].second, err);
                        if (!kept) kept = keptAsFixed(out, destinationId, out, id, *there);
                        if (err) return stop("reading " + list[destination].second, err);
                        st.changed();
                        if (kept) {
                            if (!Exec(out, "DELETE FROM PICTURES WHERE ID = ?", {id}, err))
                                return stop("writing " + list[destination].second, err);
                        } else {
                            // The stored document is copied to a new number and gets
                            // its own row before its old place is overwritten (in the
                            // next batch), so a crash in between leaves it reachable.
                            line(id, " - Duplicate reference found: creating new reference");
                            bool copied = false;
                            long newId = 0;
                            if (!newNumber(out, out, id, *there, copied, newId))
                                return stop("giving document " + std::to_string(id) + " a new number", err);
                            if (!copied && !CopyWithin(out, id, newId, *there, err))
                                return stop("copying document " + std::to_string(id), err);
                            WriteLog("Reorganize: New entry created: " + std::to_string(newId));
                            fixed.push_back(newId);
                            fixedHere.push_back(newId);
                            retried = id;
                            break;
                        }
                    }
                    ++seenHere;
                    lastTaken = id;
                    if (found == sql::Step::Done && size == 0) {
                        line(id, " - Unreferenced empty document: skipping");
                        WriteLog("Reorganize: skipping source field " + std::to_string(source + 1) +
                                 ", destination field " + std::to_string(destination + 1));
                        cur = cursor.step();
                        continue;
                    }
                    if (found == sql::Step::Done) line(id, " - Unreferenced: creating new entry");
                    const Bytes value = cursor.isNull(2) ? Bytes() : cursor.getBlob(2);
                    if (!CopyValue(in, id, out, id, size, value, err, st))
                        return stop("copying document " + std::to_string(id), err);
                    moved.push_back({id, found == sql::Step::Done ? Moved::Repaired : Moved::Document});
                    batchBytes += size;
                    st.inserted(size);
                    cur = cursor.step();
                    progress.Tick();
                    m_window.DoEvents();
                    if (!m_window.ReorganizeVisible()) break;
                }
                if (cur == sql::Step::Failed) return stop("reading " + list[source].second, cursor.error());
                sourceDone = cur == sql::Step::Done;
                if (moved.empty() && fixed.empty()) continue;
                if (!copies.commit(&err)) return stop("saving the copies in " + list[destination].second, err);
                batchMoved = batchBytes;
            }
            if (const int rc = m_env->Step("reorganize.copied"))
                return stopAt("saving the copies", rc);
            {
                sql::Transaction folders(mainDb);
                if (!folders.ok()) return stop("changing the documents", mainDb.lastError());
                const std::string today = Today();
                for (const long newId : fixed) {
                    sql::Statement add(mainDb, "INSERT INTO FOLDERS (ID, NAME, DATE, ISFOLDER, DATABASEID) "
                                               "VALUES (?, ?, ?, 0, ?)");
                    add.bind(1, static_cast<std::int64_t>(newId));
                    add.bind(2, std::string_view("Fixed " + std::to_string(newId)));
                    add.bind(3, std::string_view(today));
                    add.bind(4, static_cast<std::int64_t>(destinationId));
                    if (!add.run()) return stop("adding document " + std::to_string(newId), add.error());
                }
                sql::Statement repoint(mainDb, "UPDATE FOLDERS SET DATABASEID = ? WHERE ID = ?");
                for (const Moved& m : moved) {
                    if (m.kind == Moved::Stray) continue;
                    if (m.kind == Moved::Repaired) {
                        sql::Statement add(mainDb, "INSERT INTO FOLDERS (ID, NAME, DATE, ISFOLDER, DATABASEID) "
                                                   "VALUES (?, 'Repaired document', ?, 0, ?)");
                        add.bind(1, static_cast<std::int64_t>(m.id));
                        add.bind(2, std::string_view(today));
                        add.bind(3, static_cast<std::int64_t>(destinationId));
                        if (!add.run()) return stop("adding document " + std::to_string(m.id), add.error());
                    } else if (!Run(repoint, {destinationId, m.id}, err)) {
                        return stop("re-pointing document " + std::to_string(m.id), err);
                    }
                }
                if (!folders.commit(&err)) return stop("saving the documents", err);
                m_folderScan.clear();
            }
            for (const long newId : fixed) ReportResult(newId, ResultDuplicateFixed, list[destination].second, "", "");
            if (const int rc = m_env->Step("reorganize.repointed"))
                return stopAt("re-pointing the documents", rc);
            for (const Moved& m : moved) pendingDrop.push_back(m.id);
            progress.Add(static_cast<long>(moved.size()), batchMoved);
            m_window.DoEvents();
        }
        return true;
    };
    // Also after a cancel or a stop, what was moved is deleted from its old
    // place; the first reason to stop is the one reported.
    const bool moved = moveRows();
    if (!Connected(src) || pendingDrop.empty()) return moved;
    const std::string firstStop = m_sReorganizeStop;
    const bool dropped = dropMoved();
    if (!moved) m_sReorganizeStop = firstStop;
    return moved && dropped;
}

}  // namespace qx
