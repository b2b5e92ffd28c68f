// CDatabase: packing the stored data of an archive into as few sub
// databases as possible, from the highest-numbered one into the lowest one
// with room, and retiring every emptied file as ".obsolete".
//
// No document is ever without its bytes. The rows move in batches, each in
// three commits in this order:
//   1. the copies in the destination (durable before anything points there);
//   2. FOLDERS re-pointed at the destination (and the rows the move repairs);
//   3. the rows deleted from the source.
// A crash between two of them leaves at worst a document whose bytes stand
// in two sub databases with FOLDERS pointing at one of them; the next run
// meets it as a duplicate of equal size and overwrites it.
//
// The destination's length is read from its open connection (pages times
// page size, which inside the batch's transaction already counts what the
// batch wrote), so the switch to the next destination happens at the same
// row as it would by reopening the file after each row.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/checks/ResultCodes.h"
#include "support/DurableFiles.h"
#include "support/Failpoint.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/SysInfo.h"
#include "support/TextResources.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <ctime>
#include <optional>
#include <vector>

namespace qx {

namespace {

constexpr std::int64_t kReorganizeFreeSpace = 104'857'600;
// A report-only run keeps every byte it moves in memory.
constexpr std::int64_t kReportOnlyMoveLimit = 1'073'741'824;
// Rows per batch of the three commits: few enough that a batch stays small
// in memory and in the journal, many enough that the fsyncs do not dominate.
constexpr std::size_t kBatchRows = 256;
// Small documents fill a batch up to this many bytes (and at most
// kMaxBatchRows rows) instead: 256 rows of 1 KB would spend the move on
// the three commits' fsyncs.
constexpr std::int64_t kBatchBytes = 16 << 20;
constexpr std::size_t kMaxBatchRows = 16384;
// Bytes per piece when a value is copied: a larger document is never held
// whole; one of up to a piece is copied in one go.
constexpr std::int64_t kChunk = 1 << 20;

using PdbEntry = std::pair<long, std::string>;  // DATABASES.ID, standard path

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &local);
    return text;
}

std::string Res(long id) { return GetResString(id, "Resources not found"); }

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
    BatchStatements(sql::Database& src, sql::Database& dst, sql::Database& main)
        : pages(dst, "PRAGMA page_count"),
          sizeThere(dst, "SELECT length(PICTURE) FROM PICTURES WHERE ID = ?"),
          ref(main, "SELECT DATABASEID FROM FOLDERS WHERE ID = ?"),
          read(src, "SELECT PICTURE FROM PICTURES WHERE ID = ?"),
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
    std::int64_t pageSize = -1;
    sql::Statement pages, sizeThere, ref, read, add;
};

// Copies the value of row `from` of `src` into row `to` of `dst` (which
// must not exist). A value of up to one piece goes in one read and one
// insert; a larger one is written zero-filled at its size first and then
// filled piece by piece, so that it is never held whole.
bool CopyValue(sql::Database& src, long from, sql::Database& dst, long to, std::int64_t size, sql::Error& err,
               BatchStatements& st) {
    sql::Statement& add = st.add;
    add.bind(1, static_cast<std::int64_t>(to));
    if (size > 0 && size <= kChunk) {
        sql::Statement& read = st.read;
        read.bind(1, static_cast<std::int64_t>(from));
        const sql::Step found = read.step();
        const Bytes value = found == sql::Step::Row ? read.getBlob(0) : Bytes();
        if (found == sql::Step::Failed) return err = read.error(), false;
        read.reset();
        // The row was listed at the start of this source: missing now, the file is damaged.
        if (found == sql::Step::Done) return err = sql::Error{1, "no such rowid: " + std::to_string(from)}, false;
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

// Whether rows `a` and `b` of PICTURES hold the same bytes, compared piece by piece.
bool SameBytes(sql::Database& db, long a, long b, std::int64_t size, sql::Error& err) {
    if (size == 0) return true;
    sql::Blob x = sql::Blob::open(db, "PICTURES", "PICTURE", a, false, err);
    if (!x.isOpen()) return false;
    sql::Blob y = sql::Blob::open(db, "PICTURES", "PICTURE", b, false, err);
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

}  // namespace

bool CDatabase::Reorganize() {
    m_sReorganizeStop.clear();
    if (!Connected(m_AdoCnMain)) return false;
    const std::string mainPath = MainDatabaseName();
    const std::string folder = GetFolderPart(mainPath);
    const std::string& pwd = Settings::Get().DatabasePassword;
    auto logError = [](const sql::Error& e) {
        WriteLog("Reorganize: " + e.message + " (" + std::to_string(e.code) + ")");
    };

    if (FolderFreeSpace(folder) < kReorganizeFreeSpace) {
        std::string root = DriveRoot(mainPath);
        if (root.empty()) root = folder;
        m_window.MsgBox(FormatMsg(Res(76), {root}), MsgButtons::OK, MsgIcon::Exclamation, Res(83));
        return false;
    }

    if (DryRun()) {
        std::int64_t stored = 0;
        sql::Statement st(m_AdoCnMain->database(), "SELECT DATABASE FROM DATABASES");
        while (st.ok() && st.step() == sql::Step::Row)
            if (!st.isNull(0)) stored += FileLength(st.getText(0));
        if (stored > kReportOnlyMoveLimit) {
            m_sReorganizeStop = "a report-only run would hold up to " + std::to_string(stored / 1048576) +
                                " MB of moved data in memory; nothing was done";
            WriteLog("Reorganize: " + m_sReorganizeStop);
            m_window.MsgBox(FormatMsg(Res(220), {stored / 1048576}), MsgButtons::OK, MsgIcon::Exclamation, Res(83));
            return false;
        }
    }

    Disconnect(m_AdoCnPdb);
    const bool showErrors = m_bShowErrors;
    m_bShowErrors = false;
    m_window.ListClear(ListId::Documents);
    m_window.SetEnabled(false);
    m_window.ReorganizeShow();
    m_window.DoEvents();
    m_window.ReorganizeSetCaption(Res(91));
    m_window.ReorganizeSetCancelEnabled(false);

    UnlinkUnused(false);

    // -- The list, each entry under its standard name, writable.
    std::vector<PdbEntry> list;
    bool result = false, valid = true;
    {
        engine::Recordset rs;
        if (!rs.open("SELECT * FROM DATABASES ORDER BY ID ASC", *m_AdoCnMain, engine::CursorMode::Lookup)) {
            logError(rs.lastError());
            valid = false;
        }
        result = valid && !rs.eof();
        for (; valid && !rs.eof(); rs.moveNext()) {
            const long id = rs.value("ID").toLong();
            const std::string stored = NullToStr(rs.value("DATABASE"));
            const std::string standard = SubDatabaseName(mainPath, id);
            if (stored != standard) {
                m_window.MsgBox(FormatMsg(Res(77), {stored, standard}), MsgButtons::OK, MsgIcon::Exclamation, "");
                valid = false;
            } else if (!FileExists(standard)) {
                m_window.MsgBox(FormatMsg(Res(78), {standard}), MsgButtons::OK, MsgIcon::Exclamation, "");
                valid = false;
            } else {
                SetFileReadOnly(standard, false);
                if (IsFileReadOnly(standard)) {
                    m_window.MsgBox(FormatMsg(Res(74), {standard}), MsgButtons::OK, MsgIcon::Exclamation, "");
                    valid = false;
                } else {
                    list.push_back({id, standard});
                }
            }
        }
    }
    m_window.DoEvents();
    if (valid && !MayChangeMain("The archive is not reorganized")) valid = false;

    auto compact = [&](std::size_t index, const std::string& path) {
        m_window.ReorganizeSetCaption(FormatMsg(Res(71), {std::to_string(index + 1)}));
        m_window.ReorganizeSetCancelEnabled(false);
        CompactSingle(path, pwd);
        m_window.ReorganizeSetCancelEnabled(true);
    };

    if (valid && list.size() == 1) {
        compact(0, list[0].second);
    } else if (valid && list.size() >= 2) {
        std::size_t source = list.size() - 1, destination = 0;
        compact(destination, list[destination].second);
        ConnectionPtr src = OpenConnection(ConnectString(list[source].second, pwd));
        ConnectionPtr dst = OpenConnection(ConnectString(list[destination].second, pwd));
        if (!Connected(src)) {
            m_window.MsgBox(FormatMsg(Res(79), {list[source].second}), MsgButtons::OK, MsgIcon::Exclamation, Res(92));
            valid = false;
        } else {
            m_window.ReorganizeSetCaption(Res(93));
            valid = MoveLoop(list, source, destination, src, dst, compact);
        }
        if (valid && m_window.ReorganizeVisible() && destination == source) {
            Disconnect(src);
            Disconnect(dst);
            compact(destination, list[destination].second);
        }
        Disconnect(src);
        Disconnect(dst);
    }

    // -- Final phase.
    if (valid && m_window.ReorganizeVisible()) {
        m_window.ReorganizeSetCancelEnabled(false);
        Disconnect(m_AdoCnPdb);
        UnlinkUnused(false);
        m_window.ReorganizeSetCaption(Res(72));
        CompactSingle(mainPath, pwd);
        if (!Connected(m_AdoCnMain)) SetDatabase(OpenConnection(ConnectString(mainPath, pwd)));
        const std::string omd = OmdName(mainPath);
        if (FileExists(omd)) {
            WriteLog("Compacting OMD database...");
            CompactSingle(omd, "");
        } else {
            WriteLog("Skipping compact of OMD database: file not found");
        }
        m_window.ReorganizeSetCancelEnabled(true);
    }

    ManagePdbList(ListId::Picbases);
    m_bShowErrors = showErrors;
    m_window.ReorganizeHide();
    m_window.SetEnabled(true);
    return result;
}

namespace {

// ID and length of every source row, in ID order: one pass over the
// source, which the move then walks without asking it again; and the file's
// data_version at that moment, read in the same transaction.
bool SourceRows(sql::Database& db, std::vector<std::pair<long, std::int64_t>>& rows, std::int64_t& version,
                sql::Error& err) {
    rows.clear();
    sql::HeldTransaction reading(db);
    sql::Statement st(db, "SELECT ID, length(PICTURE) FROM PICTURES ORDER BY ID");
    sql::Step step;
    while ((step = st.step()) == sql::Step::Row)
        rows.emplace_back(static_cast<long>(st.getInt64(0)), st.isNull(1) ? 0 : st.getInt64(1));
    if (step == sql::Step::Failed) return err = st.error(), false;
    return DataVersion(db, version, err);
}

}  // namespace

bool CDatabase::MoveLoop(const std::vector<std::pair<long, std::string>>& list, std::size_t& source,
                         std::size_t& destination, ConnectionPtr& src, ConnectionPtr& dst,
                         const std::function<void(std::size_t, const std::string&)>& compact) {
    const std::string& pwd = Settings::Get().DatabasePassword;
    sql::Database& mainDb = m_AdoCnMain->database();
    auto stop = [this](const std::string& during, const sql::Error& e) {
        WriteLog("Reorganize: " + e.message + " (" + std::to_string(e.code) + ")");
        m_sReorganizeStop = during + ": " + e.message;
        WriteLog("Reorganize: stopped while " + during + "; what was moved until then stays moved");
        return false;
    };
    auto line = [](long id, const char* tail) { WriteLog("Reorganize: " + std::to_string(id) + tail); };

    sql::Error err;
    std::vector<std::pair<long, std::int64_t>> rows;
    std::int64_t listedVersion = 0;
    if (!SourceRows(src->database(), rows, listedVersion, err)) return stop("reading " + list[source].second, err);
    std::size_t next = 0;

    // Rows moved out of the source (copied, committed, re-pointed) are deleted
    // there only when the move leaves the source: a source moved out whole is
    // then emptied at once, which frees its pages without rewriting them,
    // where deleting row by row rewrites each page through the journal. Until
    // then a moved row exists in both files, as after a crash between two
    // commits; the next run overwrites such an equal copy.
    std::vector<long> pendingDrop;
    auto dropMoved = [&]() {
        if (pendingDrop.empty()) return true;
        sql::Database& in = src->database();
        // The moved bytes live on in the destination: overwriting their old
        // pages would write the whole move once more.
        in.exec("PRAGMA secure_delete = OFF");
        sql::Transaction deletions(in);
        if (!deletions.ok()) return stop("writing " + list[source].second, in.lastError());
        // Emptied at once only when the table holds exactly the listed rows:
        // all moved, and nobody else has written the file since the listing.
        bool whole = next == rows.size() && pendingDrop.size() == rows.size();
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
        if (const int rc = Failpoint("reorganize.emptying"))
            return stop("deleting the moved documents", sql::Error{rc, ErrorText(rc)});
        if (!deletions.commit(&err)) return stop("deleting the moved documents", err);
        pendingDrop.clear();
        return true;
    };

    // New document IDs are handed out here, before the main database gets
    // its row: the copy must be durable before any row names it.
    long nextNewId = 0;
    {
        sql::Statement st(mainDb, "SELECT max(coalesce((SELECT max(ID) FROM FOLDERS), 0), "
                                  "coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'FOLDERS'), 0))");
        if (st.step() != sql::Step::Row) return stop("reading the document numbers", st.error());
        nextNewId = static_cast<long>(st.getInt64(0)) + 1;
    }

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
    std::vector<long> fixedHere;
    long fixedOf = -1;  // the DATABASES.ID fixedHere belongs to
    auto keptAsFixed = [&](sql::Database& out, long destinationId, long id, std::int64_t size) {
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
            if (stored && *stored == size && SameBytes(out, candidate, id, size, err)) return true;
            if (err) return false;
        }
        return false;
    };
    long retried = 0;  // a row met again after its stored namesake got a new number

    auto moveRows = [&]() {
        while (m_window.ReorganizeVisible() && destination != source) {
            // -- Source switch.
            if (next == rows.size()) {
                if (!dropMoved()) return false;
                WriteLog("Reorganize: switching to new source sub database");
                Disconnect(src);
                const std::string emptied = list[source].second;
                if (source > destination) compact(source, emptied);
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
                if (!SourceRows(src->database(), rows, listedVersion, err))
                    return stop("reading " + list[source].second, err);
                next = 0;
                m_window.ReorganizeSetCaption(GetResString(93, "Resources not found"));
                continue;
            }
            // -- Destination switch.
            if (!Connected(dst)) dst = OpenConnection(ConnectString(list[destination].second, pwd));
            if (!Connected(dst)) return stop("opening " + list[destination].second, sql::Error{sql::kCantOpen, "cannot open"});
            sql::Database& out = dst->database();
            if (Length(out) >= m_nReorganizeCapacity) {
                WriteLog("Reorganize: switching to new destination sub database");
                Disconnect(dst);
                ++destination;
                if (destination < source) compact(destination, list[destination].second);
                m_window.ReorganizeSetCaption(GetResString(93, "Resources not found"));
                continue;
            }

            // -- One batch: the copies, then FOLDERS, then the deletions.
            struct Moved {
                long id;
                bool repaired;  // no FOLDERS row: one is made
            };
            std::vector<Moved> moved;
            std::vector<long> fixed;
            const long destinationId = list[destination].first;
            sql::Database& in = src->database();
            {
                sql::Transaction copies(out);
                if (!copies.ok()) return stop("writing " + list[destination].second, out.lastError());
                // One read lock each for the whole batch instead of one per statement.
                sql::HeldTransaction reading(in), lookups(mainDb);
                std::int64_t batchBytes = 0;
                BatchStatements st(in, out, mainDb);
                while (next < rows.size() &&
                       (moved.size() < kBatchRows || (batchBytes < kBatchBytes && moved.size() < kMaxBatchRows)) &&
                       st.length() < m_nReorganizeCapacity) {
                    const auto [id, size] = rows[next];
                    const std::optional<std::int64_t> there = SizeOf(st.sizeThere, id, err);
                    if (err) return stop("reading " + list[destination].second, err);
                    if (there) {
                        if (id != retried) line(id, " - Duplicate entries detected!");
                        retried = 0;
                        const bool kept = *there == size || *there == 0 || keptAsFixed(out, destinationId, id, *there);
                        if (err) return stop("reading " + list[destination].second, err);
                        if (kept) {
                            if (!Exec(out, "DELETE FROM PICTURES WHERE ID = ?", {id}, err))
                                return stop("writing " + list[destination].second, err);
                        } else {
                            // The stored document is copied to a new number and gets
                            // its own row before its old place is overwritten (in the
                            // next batch), so a crash in between leaves it reachable.
                            line(id, " - Duplicate reference found: creating new reference");
                            bool copied = false;
                            for (;;) {  // a number the destination does not hold, or our own copy from a cut-off run
                                const auto taken = SizeOf(out, nextNewId, err);
                                if (err) return stop("reading " + list[destination].second, err);
                                if (!taken) break;
                                if (*taken == *there && !referenced(nextNewId) && !err &&
                                    SameBytes(out, nextNewId, id, *there, err)) {
                                    copied = true;
                                    break;
                                }
                                if (err) return stop("reading " + list[destination].second, err);
                                ++nextNewId;
                            }
                            const long newId = nextNewId++;
                            if (!copied && !CopyWithin(out, id, newId, *there, err))
                                return stop("copying document " + std::to_string(id), err);
                            WriteLog("Reorganize: New entry created: " + std::to_string(newId));
                            fixed.push_back(newId);
                            fixedHere.push_back(newId);
                            retried = id;
                            break;
                        }
                    }
                    sql::Statement& ref = st.ref;
                    ref.bind(1, static_cast<std::int64_t>(id));
                    const sql::Step found = ref.step();
                    if (found == sql::Step::Failed) return stop("reading the documents", ref.error());
                    ref.reset();
                    ++next;
                    if (found == sql::Step::Done && size == 0) {
                        line(id, " - Unreferenced empty document: skipping");
                        WriteLog("Reorganize: skipping source field " + std::to_string(source + 1) +
                                 ", destination field " + std::to_string(destination + 1));
                        continue;
                    }
                    if (found == sql::Step::Done) line(id, " - Unreferenced: creating new entry");
                    if (!CopyValue(in, id, out, id, size, err, st)) return stop("copying document " + std::to_string(id), err);
                    moved.push_back({id, found == sql::Step::Done});
                    batchBytes += size;
                    m_window.DoEvents();
                    if (!m_window.ReorganizeVisible()) break;
                }
                if (moved.empty() && fixed.empty()) continue;
                if (!copies.commit(&err)) return stop("saving the copies in " + list[destination].second, err);
            }
            if (const int rc = Failpoint("reorganize.copied"))
                return stop("saving the copies", sql::Error{rc, ErrorText(rc)});
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
                    if (m.repaired) {
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
            if (const int rc = Failpoint("reorganize.repointed"))
                return stop("re-pointing the documents", sql::Error{rc, ErrorText(rc)});
            for (const Moved& m : moved) pendingDrop.push_back(m.id);
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
