// CDatabase: the check command. Dispatches to the single checks or runs the
// document check, which visits every document row once.
#include "database/CDatabase.h"
#include "database/ProgressWindow.h"
#include "database/access/FileNames.h"
#include "database/access/SubDatabasePlace.h"
#include "database/checks/Backup.h"
#include "database/checks/CheckSupport.h"
#include "database/checks/CheckResume.h"
#include "database/checks/ImagesAhead.h"
#include "database/checks/ResultCodes.h"
#include "database/maintenance/WorkProgress.h"
#include "support/HumanFormat.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <QDateTime>

#include <optional>

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <numeric>
#include <tuple>

namespace qx {

namespace {

enum CheckBits : short {
    BitMoveBrokenPaths = 2,
    BitSearchEmpty = 4,
    BitThorough = 8,
    BitSearchMissing = 16,
    BitLinkCheck = 32,
    BitTrash = 256,
};

}  // namespace

void CDatabase::Analyse(short& Flags) {
    if (!Connected(m_AdoCnMain)) return;
    long currentId = 0;
    ErrorTrap trap("Level 2 Check", currentId);
    const TrappedErrorsAtEnd reportTrapped{*this, trap};
    m_window.ListClear(ListId::Documents);
    m_findings.clear();
    m_sBackupMask.clear();
    m_backupFilesWritten.clear();
    const bool savedShowErrors = m_bShowErrors;
    m_bShowErrors = false;
    struct Restore {
        CDatabase& db;
        bool saved;
        ~Restore() {
            db.m_bShowErrors = saved;
            db.m_folderPaths = nullptr;
            db.m_outsideSubDatabases = nullptr;
            db.m_lockedSubDatabases = nullptr;
            db.m_bJudgeRelinkCopies = false;
        }
    } restore{*this, savedShowErrors};
    m_bJudgeRelinkCopies = (Flags & BitThorough) != 0;
    std::set<std::string> outside, locked;
    m_outsideSubDatabases = &outside;
    m_lockedSubDatabases = &locked;
    // Folders do not change during a check; their paths are looked up once.
    std::unordered_map<long, std::pair<std::string, short>> folderPaths;
    m_folderPaths = &folderPaths;

    m_window.State().m_bListPartial = false;
    if (Flags == 64) return AnalyseFolders();
    // A sub database of the folder with a side file that is a link or no
    // regular file cannot be opened for writing; its documents are not
    // damaged for that, so the check stops before judging any of them.
    if (const auto [bad, file] = NotRegularSubDatabase(); !bad.empty()) {
        // Said at every check it stops, not only at the first meeting.
        m_notRegularTold.erase(bad);
        NotRegularFileMessage(bad, file);
        m_findings.stopped = "'" + bad + "' is a link or no regular file";
        WriteLog("Check stopped: " + m_findings.stopped);
        m_window.State().m_bAnalysed = false;
        m_window.State().m_bListPartial = true;
        return;
    }
    if (Flags == 128) return AnalyseLargeDocs();

    bool cancelled = false, stopped = false;
    ProgressWindow progress(m_window);
    ResumeBegin(Flags);
    if (Flags != BitLinkCheck) {
        if ((Flags & BitTrash) && Settings::Get().DatabaseVersion == 8) EnableTrashSupport();
        m_window.SetEnabled(false);
        if ((Flags & BitThorough) && Settings::Get().DatabaseVersion == 8 && !ResumePassDone("compaction") &&
            !OfferPreCheckCompaction()) {
            // Declined before the first document: nothing was looked at.
            m_window.State().m_bAnalysed = false;
            m_window.State().m_bListPartial = true;
            m_findings.cancelled = true;
            m_findings.total = CountRows(*m_AdoCnMain, "SELECT COUNT(*) FROM FOLDERS WHERE NOT ISFOLDER", trap);
            ReportCancelled();
            return;
        }
        ResumePass("compaction");
        // Before the walk: an index rebuilt here is one the walk can read.
        if (!ResumePassDone("integrity") && !CheckFileIntegrity((Flags & BitThorough) != 0, progress)) {
            // Cancelled, or the main database is held: no document was reached.
            stopped = true;
            m_findings.checked = 0;
            if (!progress.Visible())
                m_findings.total = CountRows(*m_AdoCnMain, "SELECT COUNT(*) FROM FOLDERS WHERE NOT ISFOLDER", trap);
        } else {
            ResumePass("integrity");
            stopped = !CheckDocuments(Flags, progress, currentId, trap);
            if (!stopped) ResumePass("walk");
        }
        // A walk the disk stopped was not cancelled: that is said as a full disk.
        cancelled = stopped && !progress.Visible();
    }
    if (!(Flags & BitLinkCheck) || stopped) {
        progress.Hide();
    } else {
        AnalyseLinkTo();
        // The link check hides the window when it is done; only its Cancel counts.
        cancelled = m_bLinkCheckCancelled;
    }
    m_window.State().m_bAnalysed = !stopped && !cancelled;
    m_window.State().m_bListPartial = stopped || cancelled;
    m_bShowErrors = savedShowErrors;
    if ((Flags & BitThorough) && Settings::Get().DatabaseVersion == 8) ShowBackupSummary();
    ReportTrappedErrors(trap);
    m_findings.cancelled = cancelled;
    ResumeEnd(!stopped && !cancelled);
    if (cancelled) return ReportCancelled();
    // "No errors" only about what was read: not after files in use or
    // writes the disk refused.
    if (m_findings.all().empty() && m_findings.inUse.empty() && m_window.State().m_sSaveError.empty()) {
        WriteLog("No errors found in this database");
        m_window.MsgBox(GetResString(101, "Resources not found"), MsgButtons::OK, MsgIcon::Information,
                        GetResString(1, "Resources not found"));
    }
}

namespace {

// The document rows of a piece of the walk, read in one pass. Names live in
// one shared buffer: a million documents must not cost a million
// allocations.
struct DocumentRows {
    struct Row {
        std::int64_t rowid;
        long id, parent, databaseId;
        std::uint32_t name, template1;  // offsets into text
        std::uint16_t nameLength, templateLength;
        bool parentNull, trashed;
    };
    std::vector<Row> rows;
    std::string text;

    std::string_view name(const Row& r) const { return std::string_view(text).substr(r.name, r.nameLength); }
    std::string_view template1(const Row& r) const {
        return std::string_view(text).substr(r.template1, r.templateLength);
    }
    std::uint32_t keep(const sql::Statement& st, int col, std::uint16_t& length) {
        const std::string value = st.isNull(col) ? std::string() : st.getText(col);
        const auto offset = static_cast<std::uint32_t>(text.size());
        length = static_cast<std::uint16_t>(std::min<size_t>(value.size(), 65535));
        text.append(value, 0, length);
        return offset;
    }
    std::size_t bytes() const { return rows.size() * sizeof(Row) + text.size(); }

    // The walk goes by sub database, and through each one's documents by
    // rising ID: each sub database is then read in one pass beside it.
    using Key = std::tuple<long, long, std::int64_t>;
    static Key KeyOf(const Row& r) { return {r.databaseId, r.id, r.rowid}; }

    // Sorts the rows in walk order and keeps the first ones that fit in
    // `budget` bytes (one at least); true when any were let go.
    bool sortAndKeep(std::size_t budget) {
        std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return KeyOf(a) < KeyOf(b); });
        std::size_t keepRows = 0, used = 0;
        while (keepRows < rows.size()) {
            const Row& r = rows[keepRows];
            const std::size_t more = sizeof(Row) + r.nameLength + r.templateLength;
            if (keepRows > 0 && used + more > budget) break;
            used += more;
            ++keepRows;
        }
        if (keepRows == rows.size()) return false;
        rows.resize(keepRows);  // the room stays for the rows that come next
        std::string kept;
        kept.reserve(text.capacity());
        for (Row& r : rows) {
            const std::string_view n = name(r), t = template1(r);
            r.name = static_cast<std::uint32_t>(kept.size());
            kept.append(n);
            r.template1 = static_cast<std::uint32_t>(kept.size());
            kept.append(t);
        }
        text = std::move(kept);
        return true;
    }
};

// A row's place in the walk's order as bytes that compare the same way
// (the progress record keeps the last one finished). Signed numbers are
// stored big-endian with their sign bit flipped.
std::string WalkKeyOf(const DocumentRows::Row& r) {
    std::string key;
    for (const std::int64_t part : {std::int64_t(r.databaseId), std::int64_t(r.id), r.rowid}) {
        const std::uint64_t u = static_cast<std::uint64_t>(part) ^ (std::uint64_t(1) << 63);
        for (int shift = 56; shift >= 0; shift -= 8) key += static_cast<char>((u >> shift) & 0xff);
    }
    return key;
}

// One piece of the walk: the document rows after `after` (from the first
// when null), in walk order, as many as fit in `budget` bytes. Rows added
// after the walk began (rowid above `maxRowid`) and rows the walk moved to
// another sub database (`relinked`, sorted) are not met. `last`: no row
// was left for a later piece. `seen` counts the document rows the scan met.
void ReadWalkPiece(sql::Database& db, bool trashMark, const std::optional<DocumentRows::Key>& after,
                   std::int64_t maxRowid, const std::vector<std::int64_t>& relinked, std::size_t budget,
                   DocumentRows& docs, long& seen, bool& last, ErrorTrap& trap) {
    docs = DocumentRows();
    seen = 0;
    last = true;
    // The table is scanned in file order and sorted here: letting the engine
    // sort whole records costs several times as much, and its sorter would
    // spill the names to temporary files in the clear.
    sql::Statement st(db, std::string("SELECT rowid, ID, PARENT, NAME, TEMPLATE1, DATABASEID, ") +
                              (trashMark ? "TRASHMARK" : "0") + " FROM FOLDERS WHERE NOT ISFOLDER AND rowid <= ?");
    if (!st.ok()) return trap(st.error());
    st.bind(1, maxRowid);
    // Collected up to a quarter more than the budget before sorting and
    // cutting back: a row past the cut can be refused at once from then on.
    // The room is taken at once: growing would copy it again and again, and
    // what is not written to costs no memory.
    const std::size_t collect = budget + budget / 4;
    const std::size_t rowsAtMost = collect / sizeof(DocumentRows::Row) + 1;
    docs.rows.reserve(static_cast<std::size_t>(std::clamp<std::int64_t>(maxRowid, 1, static_cast<std::int64_t>(rowsAtMost))));
    docs.text.reserve(std::min<std::size_t>(collect, docs.rows.capacity() * 64));
    std::optional<DocumentRows::Key> limit;
    sql::Step s;
    while ((s = st.step()) == sql::Step::Row) {
        ++seen;
        DocumentRows::Row r{};
        r.rowid = st.getInt64(0);
        r.id = static_cast<long>(st.getInt64(1));
        r.databaseId = static_cast<long>(st.getInt64(5));
        const DocumentRows::Key key = DocumentRows::KeyOf(r);
        if (after && key <= *after) continue;
        if (limit && key > *limit) {
            last = false;
            continue;
        }
        if (!relinked.empty() && std::binary_search(relinked.begin(), relinked.end(), r.rowid)) continue;
        r.parentNull = st.isNull(2);
        r.parent = static_cast<long>(st.getInt64(2));
        r.name = docs.keep(st, 3, r.nameLength);
        r.template1 = docs.keep(st, 4, r.templateLength);
        r.trashed = st.getInt64(6) != 0;
        docs.rows.push_back(r);
        if (docs.bytes() > collect && docs.sortAndKeep(budget)) {
            last = false;
            limit = DocumentRows::KeyOf(docs.rows.back());
        }
    }
    if (s == sql::Step::Failed) {
        trap(st.error());
        // What was read is walked; no piece follows a scan that failed.
        (void)docs.sortAndKeep(budget);
        last = true;
        return;
    }
    if (docs.sortAndKeep(budget)) last = false;
}

}  // namespace

std::pair<std::string, std::string> CDatabase::NotRegularSubDatabase() {
    const std::string mainPath = MainDatabaseName();
    for (const std::string& path : SubDatabasePathsToRead()) {
        // A file elsewhere, or one reached through a link, is only read.
        if (LocateSubDatabase(*m_env, path, mainPath).place != SubDatabasePlace::Archive) continue;
        // The entries on disk, as the engine meets them: a report-only
        // run's own view of the names may already have set one aside.
        for (const char* side : {"-journal", "-wal", "-shm"}) {
            const EntryKind kind = m_env->KindOnDisk(path + side);
            if (kind != EntryKind::None && kind != EntryKind::RegularFile) return {path + side, path};
        }
    }
    return {};
}

void CDatabase::ReportCancelled() {
    const long checked = m_findings.checked, total = m_findings.total;
    WriteLog("Check cancelled after " + std::to_string(checked) + " of " + std::to_string(total) + " documents");
    m_window.MsgBox(FormatMsg(GetResString(260, "De controle is afgebroken na %s van %s documenten. Alleen wat tot "
                                                "dan is gevonden staat in de lijst; de rest is niet gecontroleerd."),
                              {FormatCount(checked), FormatCount(total)}),
                    MsgButtons::OK, MsgIcon::Exclamation, GetResString(261, "Controle afgebroken..."));
}

bool CDatabase::CheckDocuments(short flags, ProgressWindow& progress, long& currentId, ErrorTrap& trap) {
    const KeepAlternativeCandidates candidates(*this);

    // The walk reads the rows in pieces, each sorted before it is walked: it
    // changes PARENT and DATABASEID of the rows it has visited, and every row
    // must be visited exactly once. The findings are held back and listed in
    // folder order at the end; the log follows the walk.
    std::vector<ListRow> heldRows;
    std::vector<FolderPlace> heldPlaces;
    struct EndHold {
        CDatabase& db;
        std::vector<ListRow>* rows;
        std::vector<FolderPlace>* places;
        ~EndHold() {
            db.m_heldRows = rows;
            db.m_heldPlaces = places;
        }
    } endHold{*this, m_heldRows, m_heldPlaces};
    m_heldRows = &heldRows;
    m_heldPlaces = &heldPlaces;
    std::size_t firstHeldFinding = m_findings.all().size();
    // The walk's findings a stopped run recorded are the last ones taken
    // over; they are listed with this run's, in one folder order.
    if (m_checkRun && !m_checkRun->heldOver.empty()) {
        const std::size_t n = m_checkRun->heldOver.size(), first = m_checkRun->rows.size() - n;
        if (m_checkRun->rows.size() == firstHeldFinding && m_checkRun->heldOver.front() == first &&
            m_checkRun->heldOver.back() == first + n - 1) {
            for (std::size_t i = first; i < first + n; ++i) {
                const WalkPlace& w = m_checkRun->places[i];
                heldRows.push_back(m_checkRun->rows[i]);
                heldPlaces.push_back({w.inFolder, w.parent, w.id});
            }
            firstHeldFinding = first;
        } else {
            for (const std::size_t i : m_checkRun->heldOver) m_window.ListAdd(ListId::Documents, m_checkRun->rows[i]);
        }
        m_checkRun->heldOver.clear();
    }
    auto listHeld = [&] {
        std::vector<std::size_t> order(heldRows.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        if (heldPlaces.size() == heldRows.size())
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t a, std::size_t b) { return heldPlaces[a] < heldPlaces[b]; });
        m_findings.reorder(firstHeldFinding, order);
        // The progress record pairs each finding with its row by position.
        if (m_checkRun && m_checkRun->rows.size() == m_findings.all().size() &&
            m_checkRun->places.size() == m_checkRun->rows.size() && firstHeldFinding + order.size() == m_checkRun->rows.size()) {
            std::vector<ListRow> rows;
            std::vector<WalkPlace> places;
            for (const std::size_t i : order) {
                rows.push_back(std::move(m_checkRun->rows[firstHeldFinding + i]));
                places.push_back(m_checkRun->places[firstHeldFinding + i]);
            }
            std::move(rows.begin(), rows.end(), m_checkRun->rows.begin() + static_cast<std::ptrdiff_t>(firstHeldFinding));
            std::copy(places.begin(), places.end(), m_checkRun->places.begin() + static_cast<std::ptrdiff_t>(firstHeldFinding));
        }
        for (const std::size_t i : order) m_window.ListAdd(ListId::Documents, heldRows[i]);
        heldRows.clear();
        heldPlaces.clear();
        firstHeldFinding = m_findings.all().size();
    };

    const bool trashMark = GenerationHasTrashMark();
    std::int64_t maxRowid = 0;
    if (sql::Statement last(m_AdoCnMain->database(), "SELECT max(rowid) FROM FOLDERS");
        last.ok() && last.step() == sql::Step::Row)
        maxRowid = last.getInt64(0);
    DataSizes sizes;
    sizes.perDocument = (flags & BitThorough) != 0;
    DocumentRows docs;
    long total = 0;
    bool lastPiece = true;
    // The first piece's scan meets every document row: that is the count,
    // without a pass of its own.
    ReadWalkPiece(m_AdoCnMain->database(), trashMark, std::nullopt, maxRowid, sizes.relinked, m_walkBudgetBytes,
                  docs, total, lastPiece, trap);

    const double step = total > 0 ? 100.0 / total : 0.0;
    double position = 0;
    long index = 0;
    m_findings.total = total;
    m_findings.checked = 0;
    progress.m_sPhase = GetResString(387, "documenten");
    progress.SetInitial(total, 100, (flags & BitThorough) != 0, progress.Now());
    progress.m_sLblProgress1 = GetResString(62, "Resources not found");
    progress.m_sLblProgress2 = GetResString(63, "Resources not found");
    progress.Show();

    // One read transaction per file for the whole walk: a lookup outside a
    // transaction costs several times the lookup itself. Repairs are
    // committed a few times a second and at the end.
    engine::HeldTransaction mainHold(*m_AdoCnMain);
    std::unique_ptr<engine::HeldTransaction> pdbHold;
    std::vector<ConnectionPtr> keptOpen;
    m_pdbPool = &keptOpen;
    struct EndPool {
        CDatabase& db;
        DataSizes& sizes;
        ~EndPool() {
            sizes.endStream();  // its statement goes before the connections
            db.m_pdbPool = nullptr;
            db.m_lastPicbase = {};
        }
    } endPool{*this, sizes};
    std::optional<ImagesAhead> ahead;
    struct EndAhead {
        CDatabase& db;
        ~EndAhead() { db.m_imagesAhead = nullptr; }
    } endAhead{*this};
    // The file each sub database's documents were read from, for the
    // rows with their IDs in other sub databases (below).
    std::unordered_map<long, std::string> readFrom;
    const engine::Connection* lastRead = nullptr;
    long lastReadId = 0;
    // Only a thorough check keeps a record or a time limit: the other walks
    // do not pay for a key and a clock reading per document.
    const bool tracked = m_checkRun && (m_checkRun->active || m_checkRun->maxDurationMs);
    const bool resumed = m_checkRun && m_checkRun->start == CheckRun::Start::Resumed;
    auto walkEnds = [&] {
        // A commit the disk refused ends the walk: every later repair would
        // be refused as well, and would be reported as made.
        return !progress.Visible() || mainHold.error() || (pdbHold && pdbHold->error()) ||
               !m_window.State().m_sSaveError.empty();
    };
    for (;;) {
        // Decoding is the cost of a thorough check; it runs on every core the
        // process may use while the walk reads on, when the window only decodes.
        m_imagesAhead = nullptr;
        ahead.reset();
        if ((flags & BitThorough) && m_window.LoadsWithoutDisplay()) {
            std::vector<ImagesAhead::Upcoming> walk;
            walk.reserve(docs.rows.size());
            for (const DocumentRows::Row& r : docs.rows) {
                walk.push_back({r.id, r.databaseId, IsGraphicalTemplate(docs.template1(r))});
            }
            ahead.emplace(std::move(walk), DecodeWorkers());
            m_imagesAhead = &*ahead;
        }
        for (const DocumentRows::Row& row : docs.rows) {
            if (!progress.Visible()) break;
            if (ahead) ahead->position = static_cast<std::size_t>(&row - docs.rows.data());
            currentId = row.id;
            const std::string name(docs.name(row));
            ++index;
            position += step;
            if (resumed && ResumeSkips(WalkKeyOf(row), row.rowid)) {
                m_findings.checked = index;
                continue;
            }
            const std::size_t findingsBefore = m_findings.all().size();
            progress.SetProgress(static_cast<int>(std::nearbyint(position)), index, name);
            progress.SetTimedUpdate(true);
            DocumentRef doc{row.rowid, row.id, row.parentNull ? 0 : row.parent, row.databaseId,
                            std::string(docs.template1(row)), row.trashed};
            if (doc.parent == doc.id) doc.parent = 0;
            m_walkPlace = {!row.parentNull, row.parentNull ? 0 : row.parent, row.id};
            CheckDocument(doc, flags, name, trap, sizes, [&] {
                if (!pdbHold || !pdbHold->holds(m_AdoCnPdb.get())) {
                    // The repairs written in the sub database left behind are
                    // committed now; a refused commit undoes them and is said.
                    if (pdbHold && !pdbHold->finish()) NoteSaveFailure(pdbHold->path(), pdbHold->error());
                    pdbHold.reset();
                    pdbHold = std::make_unique<engine::HeldTransaction>(*m_AdoCnPdb);
                }
            });
            // A closed connection's address may come back for another file.
            if (m_lastPicbase.connection &&
                (m_lastPicbase.connection != lastRead || m_lastPicbase.databaseId != lastReadId)) {
                lastRead = m_lastPicbase.connection;
                lastReadId = m_lastPicbase.databaseId;
                readFrom[m_lastPicbase.databaseId] = m_lastPicbase.path;
            }
            m_findings.checked = index;
            if (tracked && !ResumeAfterDocument(WalkKeyOf(row), row.rowid, findingsBefore, [&] {
                    mainHold.checkpoint(true);
                    if (pdbHold) pdbHold->checkpoint(true);
                    return !mainHold.error() && !(pdbHold && pdbHold->error());
                }))
                progress.Hide();  // the time is up: stopped as by Cancel, and said so
            mainHold.checkpoint();
            if (pdbHold) pdbHold->checkpoint();
            m_window.DoEvents();
            progress.SetTimedUpdate(false);
            if (walkEnds()) break;
        }
        if (lastPiece || docs.rows.empty() || walkEnds()) break;
        const DocumentRows::Key after = DocumentRows::KeyOf(docs.rows.back());
        std::sort(sizes.relinked.begin(), sizes.relinked.end());
        long seen = 0;
        ReadWalkPiece(m_AdoCnMain->database(), trashMark, after, maxRowid, sizes.relinked, m_walkBudgetBytes, docs,
                      seen, lastPiece, trap);
    }
    docs = DocumentRows();
    m_imagesAhead = nullptr;
    ahead.reset();
    if (!mainHold.finish()) NoteSaveFailure(MainDatabaseName(), mainHold.error());
    if (pdbHold && !pdbHold->finish() && Connected(m_AdoCnPdb)) NoteSaveFailure(m_AdoCnPdb->dataSource(), pdbHold->error());
    pdbHold.reset();
    listHeld();
    const bool completed = progress.Visible() && m_window.State().m_sSaveError.empty();
    // The link check reports these from the rows' side; without it the
    // passes over the sub databases already tell.
    if (completed && !(flags & BitLinkCheck) && !sizes.perDocument) {
        ReportSecondCopies(sizes, readFrom, keptOpen, trap);
        listHeld();
    }
    return completed;
}

void CDatabase::CheckDocument(const DocumentRef& doc, short flags, const std::string& name, ErrorTrap& trap,
                              DataSizes& sizes, const std::function<void()>& holdPdb) {
    const long id = doc.id;
    short code = 0;
    std::string virtualPath;
    std::string picbase;
    long databaseId = doc.databaseId;
    const short status = OpenPicbaseOf(id, doc.databaseId, &picbase, &databaseId);
    // A document whose sub database another program holds was not read:
    // nothing is known about it, so it is no finding either way.
    if (status != 0 && m_bLastOpenInUse) return;
    if (status != 0) return ReportResult(id, status, picbase, name, "");
    holdPdb();

    const short pathStatus = PathBelow(doc.parent, virtualPath);
    auto write = [&](const char* sql, const Variant& value) {
        sql::Statement* st = m_AdoCnMain->prepared(sql);
        if (!st) return trap(*m_AdoCnMain), false;
        st->bind(1, value);
        st->bind(2, doc.rowid);
        if (!st->run()) return trap(st->error()), false;
        return true;
    };
    auto relink = [&](long alt) {
        if (!write("UPDATE FOLDERS SET DATABASEID = ? WHERE rowid = ?", Variant(alt))) return false;
        sizes.relinked.push_back(doc.rowid);
        return true;
    };

    // A thorough run judges a copy before it links to it, as it would judge
    // the document: a copy it would report as corrupt is no repair.
    const bool judgeCopy = (flags & BitThorough) && IsGraphicalTemplate(doc.template1);
    const DataSizes::Answer answer = sizes.sizeOf(*m_AdoCnPdb, id);
    if (answer.firstFailure) {
        // The sub database is damaged somewhere; its documents are judged
        // one by one from here, and the damage is a finding of its own.
        trap.logReported(answer.error);
        ReportResult(0, ResultPdbDamaged, picbase, "", "");
    }
    const std::optional<std::int64_t> size =
        answer.kind == DataSizes::Kind::Found ? std::optional<std::int64_t>(answer.size) : std::nullopt;
    if (answer.kind == DataSizes::Kind::Unreadable) {
        // Nothing is known of this document's data: no search, no relink.
        trap.logReported(answer.error);
        ReportResult(id, ResultPdbDamaged, picbase, name, virtualPath);
    } else if (!size) {
        if (flags & BitSearchMissing) {
            const long alt = FindAlternativePicbase(databaseId, id, judgeCopy);
            if (alt < 1) code = ResultBadLink;
            else if (relink(alt)) ReportResult(id, ResultBadLinkFixed, picbase, name, "");
        }
    } else if (*size == 0) {
        WriteLog(std::to_string(id) + " - Empty document found searching alternative");
        if (flags & BitSearchEmpty) {
            const long alt = FindAlternativePicbase(databaseId, id, judgeCopy);
            if (alt < 1) code = ResultEmptyDocument;
            else if (relink(alt)) ReportResult(id, ResultEmptyFixed, picbase, name, virtualPath);
        }
    } else if (flags & BitThorough) {
        code = CheckDocumentContent(doc, name, picbase, virtualPath, trap);
    }

    // A page stays with its document; only the document is moved.
    if ((flags & BitMoveBrokenPaths) && pathStatus != 0 && doc.template1.rfind("MC", 0) != 0 &&
        write("UPDATE FOLDERS SET PARENT = ? WHERE rowid = ?", Variant()))
        ReportResult(id, ResultVirtualPathFixed, picbase, name, "\\");
    if (code != 0) ReportResult(id, code, picbase, name, virtualPath);
}

bool CDatabase::GenerationHasTrashMark() {
    sql::Statement* probe = m_AdoCnMain->prepared("SELECT TRASHMARK FROM FOLDERS WHERE ID IS NULL");
    return probe != nullptr;
}

bool CDatabase::OfferPreCheckCompaction() {
    const std::string mainPath = MainDatabaseName();
    m_sBackupMask = BackupFileMask(mainPath, QDateTime::currentDateTime());
    std::vector<std::string> large;
    std::string list;
    {
        long noId = 0;
        ErrorTrap trap("Level 2 Check", noId);
        sql::Statement st(m_AdoCnMain->database(),
                          "SELECT DISTINCT(databaseid) FROM folders WHERE databaseid > 0 AND NOT isfolder "
                          "ORDER BY databaseid ASC");
        if (!st.ok()) trap(st.error());
        sql::Step s = sql::Step::Done;
        while (st.ok() && (s = st.step()) == sql::Step::Row) {
            const std::string path = SubDatabaseName(mainPath, static_cast<long>(st.getInt64(0)));
            // Above 660 MB the file is close to what the engine can hold;
            // exactly 660 MB is still below the line.
            if (m_env->FileExists(path) && m_env->FileLength(path) > m_nCompactAboveBytes) {
                large.push_back(path);
                list += path + "\r\n";
            }
        }
        if (st.ok() && s == sql::Step::Failed) trap(st.error());
    }
    if (large.empty()) return true;
    if (DryRun()) {
        for (const std::string& path : large) WriteLog("Report only: '" + path + "' would be compacted before the check");
        return true;
    }
    const std::string question = FormatMsg(
        GetResString(130, "Voordat de databasecontrole kan worden gestart, dienen de volgende databestanden te worden "
                          "gecomprimeerd:%n%n%s%nKlik op OK om door te gaan."),
        {list});
    if (m_window.MsgBox(question, MsgButtons::OKCancel, MsgIcon::Question, "") != MsgAnswer::OK) return false;
    // The check's own connection to a sub database must not hold a file
    // that is being compacted.
    Disconnect(m_AdoCnPdb);
    m_lastPicbase = {};
    m_window.CompactShow();
    bool cancelled = false;
    const long n = static_cast<long>(large.size());
    CompactOutcome outcome;
    outcome.files = n;
    for (const std::string& path : large) outcome.bytesBefore += m_env->FileLength(path);
    WorkProgress progress([this](const ProgressView& view) { m_window.CompactProgress(view); });
    progress.SetFormats("", GetResString(354, "Gecomprimeerd: %s van %s"));
    progress.Start(n, outcome.bytesBefore);
    std::int64_t before = 0;  // bytes of the files done
    for (long i = 1; i <= n && !cancelled; ++i) {
        const std::string& path = large[static_cast<std::size_t>(i - 1)];
        m_window.CompactSetStatus(FormatMsg(GetResString(131, "Bezig met comprimeren databestand %s / %s..."), {FormatCount(i), FormatCount(n)}));
        progress.SetCountLine(FormatMsg(GetResString(353, "Bestand %s van %s: %s"),
                                        {FormatCount(i), FormatCount(n), GetFileNamePart(path)}));
        const std::int64_t length = m_env->FileLength(path);
        m_compactCopying = [&](std::int64_t written, std::int64_t) { progress.SetDone(i - 1, before + written); };
        if (CompactSingle(path, Settings::Get().DatabasePassword)) ++(m_compactSkipped ? outcome.skipped : outcome.compacted);
        else if (outcome.trouble.trouble == Trouble::None) outcome.trouble = m_compactTrouble;
        m_compactCopying = nullptr;
        before += length;
        progress.SetDone(i, before);
        cancelled = m_window.CompactCanceled();
    }
    if (!cancelled) progress.Finish();
    m_window.CompactClose();
    outcome.cancelled = cancelled;
    for (const std::string& path : large) outcome.bytesAfter += m_env->FileLength(path);
    std::string title;
    const std::string summary = DescribeCompactEnd(outcome, title);
    m_window.MsgBox(summary, MsgButtons::OK,
                    outcome.trouble.trouble == Trouble::None ? MsgIcon::Information : MsgIcon::Exclamation, title);
    return !cancelled;
}

void CDatabase::ShowBackupSummary() {
    // The files this run wrote to, not every file of the mask: a run in
    // the same minute as an earlier one must not claim that one's backups.
    std::vector<std::string> names;
    for (const std::string& file : m_backupFilesWritten) names.push_back(GetFileNamePart(file));
    std::string text;
    for (const std::string& name : names) text += name + "\r\n";
    if (text.empty()) return;
    m_window.MsgBox(FormatMsg(GetResString(132, "Tijdens het controleren is het opslagformaat van een aantal documenten "
                                                "bijgewerkt.%n%nBack-ups van de bijgewerkte documenten zijn opgeslagen in "
                                                "de bestanden:%n%n%s%nWij raden u aan van deze bestanden een goede back-up "
                                                "te maken en ze vervolgens te verwijderen."),
                              {text}),
                    MsgButtons::OK, MsgIcon::Information, GetResString(133, "Back-ups..."));
}

}  // namespace qx
