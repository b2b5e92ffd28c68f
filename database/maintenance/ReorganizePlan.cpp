// CDatabase: what a reorganize would do, without doing it.
//
// The plan walks the run's own steps (Reorganize.cpp, UnlinkUnused.cpp) on
// what the files hold now: the renumbering first, then the checks of the
// list, then the rows from the highest-numbered sub database into the lowest
// one with room, in ID order, batch by batch. Only IDs and lengths are read
// (and, where two rows share an ID, their bytes, which the run compares),
// every file is opened read-only, and nothing is logged (the log is a file
// of the archive folder too).
//
// Where the run asks a destination its length (pages times page size), the
// plan asks a model of the file (PlanPages.h).
#include "database/maintenance/ReorganizePlan.h"

#include "database/CDatabase.h"
#include "database/access/SubDatabasePlace.h"
#include "database/access/FileNames.h"
#include "database/maintenance/NamePlanner.h"
#include "database/maintenance/PlanPages.h"
#include "database/maintenance/ReorganizeBatch.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Env.h"
#include "support/Settings.h"
#include "support/SysInfo.h"
#include "support/TextResources.h"
#include "support/Tools.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

namespace qx {

namespace plan {

std::int64_t CompactedPages(const std::vector<std::pair<long, std::int64_t>>& rowsInIdOrder, int pageSize,
                            int reserved) {
    Tree tree(pageSize, reserved);
    for (const auto& [id, length] : rowsInIdOrder) tree.add(id, length);
    return tree.pages();
}

}  // namespace plan

namespace {

constexpr std::int64_t kReorganizeFreeSpace = 104'857'600;
// The model came out exact on every archive of the tests; the margin is for
// rows that land between a destination's IDs and split a full leaf, which
// the model counts as appended (docs/benchmarks.md).
constexpr int kPageTolerance = 2;

using Rows = std::vector<std::pair<long, std::int64_t>>;  // ID, length of the value

std::string Res(long id) { return GetResString(id, "Resources not found"); }

// A sub database opened for reading only: no journal is played back, no
// attribute changes, nothing is written.
bool OpenSub(Env& env, const std::string& path, sql::Database& db) {
    sql::Error err;
    db = sql::Database::open(env, path, engine::PasswordBytes(Settings::Get().DatabasePassword), sql::OpenMode::ReadOnly,
                             err);
    if (!db.isOpen()) return false;
    sql::Statement probe(db, "SELECT ID FROM PICTURES WHERE ID = NULL");
    return probe.ok() && probe.step() == sql::Step::Done;
}

bool ReadRows(Env& env, const std::string& path, Rows& rows, int& pageSize) {
    rows.clear();
    sql::Database db;
    if (!OpenSub(env, path, db)) return false;
    {
        sql::Statement size(db, "PRAGMA page_size");
        if (size.step() != sql::Step::Row) return false;
        pageSize = static_cast<int>(size.getInt64(0));
    }
    sql::Statement st(db, "SELECT ID, length(PICTURE) FROM PICTURES ORDER BY ID");
    sql::Step step;
    while ((step = st.step()) == sql::Step::Row)
        rows.emplace_back(static_cast<long>(st.getInt64(0)), st.isNull(1) ? 0 : st.getInt64(1));
    return step == sql::Step::Done;
}

// Whether the sub database at `path` holds a row `id`.
bool HasRow(Env& env, const std::string& path, long id, bool& has) {
    sql::Database db;
    if (!OpenSub(env, path, db)) return false;
    sql::Statement st(db, "SELECT 1 FROM PICTURES WHERE ID = ?");
    st.bind(1, static_cast<std::int64_t>(id));
    const sql::Step step = st.step();
    has = step == sql::Step::Row;
    return step != sql::Step::Failed;
}

// Whether row `a` of the file `x` and row `b` of the file `y` hold the same
// `size` bytes, as the run compares them before it overwrites one with the other.
bool SameRowBytes(Env& env, const std::string& x, long a, const std::string& y, long b, std::int64_t size, bool& same) {
    same = size == 0;
    if (same) return true;
    sql::Database dx, dy;
    if (!OpenSub(env, x, dx) || !OpenSub(env, y, dy)) return false;
    sql::Error err;
    sql::Blob bx = sql::Blob::open(dx, "PICTURES", "PICTURE", a, false, err);
    sql::Blob by = sql::Blob::open(dy, "PICTURES", "PICTURE", b, false, err);
    if (!bx.isOpen() || !by.isOpen()) return false;
    if (bx.size() != size || by.size() != size) return true;
    constexpr std::int64_t kPiece = 1 << 20;
    std::vector<std::uint8_t> p(static_cast<std::size_t>(std::min(size, kPiece))), q(p.size());
    for (std::int64_t at = 0; at < size; at += kPiece) {
        const auto n = static_cast<std::size_t>(std::min(kPiece, size - at));
        if (!bx.read(at, {p.data(), n}, &err) || !by.read(at, {q.data(), n}, &err)) return false;
        if (!std::equal(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(n), q.begin())) return true;
    }
    same = true;
    return true;
}

// The number N of a name "..._N.pdb" (0 for any other name).
long NumberIn(const std::string& path) {
    const std::string name = GetFileNamePart(path);
    const std::size_t dot = name.rfind(".pdb"), bar = name.rfind('_', dot);
    if (dot == std::string::npos || bar == std::string::npos || dot != name.size() - 4) return 0;
    long n = 0;
    for (std::size_t i = bar + 1; i < dot; ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 100'000'000) return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

// What a report-only opening already did to the names of the archive (its
// renumbering and setting aside, in memory only): each file from where it
// is on disk to where the run leaves it, passing names in between.
void OpeningChanges(Env& env, ReorganizePlan& plan) {
    if (!env.ReportOnly()) return;
    std::vector<std::pair<std::string, std::string>> moves;  // from on disk, to now
    const std::string renameWord = "rename ", arrow = " -> ";
    for (const std::string& change : env.Changes()) {
        if (change.compare(0, renameWord.size(), renameWord) != 0) continue;
        const std::size_t at = change.find(arrow, renameWord.size());
        if (at == std::string::npos) continue;
        const std::string from = change.substr(renameWord.size(), at - renameWord.size());
        const std::string to = change.substr(at + arrow.size());
        const auto chain = std::find_if(moves.begin(), moves.end(), [&](const auto& m) { return m.second == from; });
        if (chain != moves.end()) chain->second = to;
        else moves.push_back({from, to});
    }
    for (const auto& [from, to] : moves) {
        if (from == to) continue;
        const bool aside = to.size() > 9 && (to.compare(to.size() - 9, 9, ".obsolete") == 0 ||
                                             (to.size() > 8 && to.compare(to.size() - 8, 8, ".deleted") == 0));
        if (aside) plan.setAside.push_back({from, to});
        else plan.renumbered.push_back({NumberIn(from), from, NumberIn(to), to});
    }
}

// One entry of the list the moves work on.
struct Entry {
    long id = 0;
    std::string stored;  // the path the list holds for it when the moves begin
    std::string read;    // where its file is now
};

}  // namespace

bool CDatabase::PlanReorganize(ReorganizePlan& plan) {
    plan = ReorganizePlan{};
    plan.pageTolerance = kPageTolerance;
    OpeningChanges(*m_env, plan);
    if (!Connected(m_AdoCnMain)) return false;
    const std::string mainPath = MainDatabaseName();
    const std::string folder = GetFolderPart(mainPath);
    sql::Database& mainDb = m_AdoCnMain->database();

    // -- The start check.
    if (FolderFreeSpace(*m_env, folder) < kReorganizeFreeSpace) {
        std::string root = DriveRoot(*m_env, mainPath);
        if (root.empty()) root = folder;
        plan.refusal = FormatMsg(Res(76), {root});
        return true;
    }

    // -- The list as it is, and as the renumbering leaves it.
    std::vector<Entry> current;
    {
        sql::Statement st(mainDb, "SELECT ID, DATABASE FROM DATABASES ORDER BY ID");
        sql::Step step;
        while ((step = st.step()) == sql::Step::Row)
            current.push_back({static_cast<long>(st.getInt64(0)), st.isNull(1) ? "" : st.getText(1), ""});
        if (step != sql::Step::Done) return false;
        for (Entry& e : current) e.read = e.stored;
    }
    sql::Error scanError;
    const FolderScan* scan = m_folderScan.get(*m_AdoCnMain, scanError);
    if (!scan) return false;
    std::map<long, long> renumber;  // old DATABASES.ID -> new
    const std::size_t openingRenumbered = plan.renumbered.size();
    std::vector<Entry> list = current;
    std::set<std::string> noted;
    auto noteReadOnly = [&](const std::string& path) {
        if (m_env->IsReadOnly(path) && noted.insert(path).second) plan.readOnly.push_back(path);
    };
    {
        struct Ref {
            long oldId;
            std::string stored, path, finalPath;
            FileId file;
            int sameFileAs = -1;
        };
        std::vector<Ref> refs;
        bool stops = false;
        for (const long oldId : scan->referenced) {
            const auto row = std::find_if(current.begin(), current.end(), [&](const Entry& e) { return e.id == oldId; });
            if (row == current.end() || !m_env->FileExists(row->stored) || !IsArchiveFile(row->stored)) {
                stops = true;
                break;
            }
            sql::Database probe;
            if (!OpenSub(*m_env, row->stored, probe) || m_env->StaysReadOnly(row->stored)) {
                stops = true;
                break;
            }
            std::error_code ec;
            Ref ref{oldId, row->stored, m_env->Canonical(row->stored, ec), "", {}, -1};
            const auto id = m_env->IdentityOf(ref.path);
            if (ec || !id) {
                stops = true;
                break;
            }
            noteReadOnly(row->stored);
            ref.file = *id;
            ref.sameFileAs = FirstOfFile(refs, ref.file);
            refs.push_back(std::move(ref));
        }
        NamePlanner names(*m_env);
        auto freeName = [&](const std::string& path, const char* suffix) { return names.free(path, suffix); };
        std::vector<FileId> movedAway;
        std::vector<std::string> intoPlace;
        for (std::size_t k = 0; !stops && k < refs.size(); ++k) {
            Ref& ref = refs[k];
            if (ref.sameFileAs >= 0) continue;
            const std::string standard = SubDatabaseName(mainPath, static_cast<long>(k + 1));
            ref.finalPath = standard;
            const EntryKind kind = m_env->KindOf(standard);
            if (kind != EntryKind::None && kind != EntryKind::RegularFile) {
                stops = true;
                break;
            }
            if (kind == EntryKind::RegularFile && m_env->IdentityOf(standard) == ref.file) continue;
            freeName(ref.path, ".obsolete");
            movedAway.push_back(ref.file);
            intoPlace.push_back(standard);
        }
        std::vector<std::pair<std::string, std::string>> setAside;
        for (const Entry& row : current) {
            if (stops || !m_env->FileExists(row.stored)) continue;
            const auto id = m_env->IdentityOf(row.stored);
            if (!id || std::any_of(refs.begin(), refs.end(), [&](const Ref& r) { return r.file == *id; })) continue;
            if (std::find(movedAway.begin(), movedAway.end(), *id) != movedAway.end()) continue;
            sql::Database probe;
            if (!IsArchiveFile(row.stored) || !OpenSub(*m_env, row.stored, probe) || m_env->IsReadOnly(row.stored) ||
                m_env->StaysReadOnly(row.stored))
                continue;  // stays where it is
            std::error_code ec;
            const std::string path = m_env->Canonical(row.stored, ec);
            if (ec) continue;
            setAside.push_back({path, freeName(path, ".obsolete")});
            movedAway.push_back(*id);
        }
        for (const std::string& to : intoPlace) {
            if (stops || m_env->KindOf(to) != EntryKind::RegularFile) continue;
            const auto id = m_env->IdentityOf(to);
            if (id && std::find(movedAway.begin(), movedAway.end(), *id) != movedAway.end()) continue;
            if (!IsArchiveFile(to)) stops = true;
            else setAside.push_back({to, freeName(to, ".deleted")});
            if (id) movedAway.push_back(*id);
        }
        std::vector<Entry> wanted;
        bool changes = !setAside.empty() || current.size() != refs.size();
        for (std::size_t k = 0; k < refs.size(); ++k) {
            const Ref& ref = refs[k];
            const Ref& owner = ref.sameFileAs >= 0 ? refs[static_cast<std::size_t>(ref.sameFileAs)] : ref;
            const long newId = static_cast<long>(k + 1);
            wanted.push_back({newId, owner.finalPath, owner.path});
            if (ref.oldId != newId || ref.stored != owner.finalPath) {
                changes = true;
                plan.renumbered.push_back({ref.oldId, ref.stored, newId, owner.finalPath});
            }
        }
        std::string why;
        if (!stops && changes && VerifyBeforeChange(why)) {
            list = wanted;
            plan.setAside.insert(plan.setAside.end(), setAside.begin(), setAside.end());
            for (const Ref& ref : refs) renumber[ref.oldId] = static_cast<long>(&ref - refs.data() + 1);
        } else {
            plan.renumbered.resize(openingRenumbered);
        }
    }

    // -- The checks of the list: the first box a run shows is where it stops.
    auto refuse = [&](std::string text) {
        if (plan.refusal.empty()) plan.refusal = std::move(text);
    };
    for (const Entry& e : list) {
        const std::string standard = SubDatabaseName(mainPath, e.id);
        if (e.stored != standard) refuse(FormatMsg(Res(77), {e.stored, standard}));
        else if (!m_env->FileExists(e.read)) refuse(FormatMsg(Res(78), {standard}));
        else if (!IsPlainDataFile(*m_env, e.read)) refuse(FormatMsg(Res(289), {standard}));
        else if (m_env->StaysReadOnly(e.read)) refuse(FormatMsg(Res(74), {standard}));
        else noteReadOnly(e.read);
        plan.files.push_back({e.stored, m_env->FileExists(e.read) ? m_env->FileLength(e.read) : 0, 0});
    }
    if (!plan.refusal.empty()) return true;
    if (std::string why; !VerifyBeforeChange(why)) {
        plan.refusal = FormatMsg(Res(207), {mainPath});
        return true;
    }

    const std::size_t count = list.size();
    std::vector<std::int64_t> after(count, 0);
    int pageSize = 0;
    Rows rows;
    auto compacted = [&](Rows r) {
        std::sort(r.begin(), r.end());
        return plan::CompactedPages(r, pageSize, plan::kCipherReservedBytes) * pageSize;
    };
    auto finish = [&] {
        for (std::size_t i = 0; i < count; ++i) plan.files[i].after = after[i];
        return true;
    };
    if (count == 0) return finish();
    if (count == 1) {
        if (!ReadRows(*m_env, list[0].read, rows, pageSize)) return false;
        after[0] = compacted(rows);
        return finish();
    }

    // -- The moves, as MoveLoop makes them.
    std::size_t source = count - 1, destination = 0;
    Rows sourceRows;
    {
        int ignored = 0;
        if (!ReadRows(*m_env, list[source].read, sourceRows, ignored)) {
            plan.refusal = FormatMsg(Res(79), {list[source].stored});
            return true;
        }
    }
    std::unordered_map<long, std::int64_t> held;  // the destination's rows
    // Where the bytes of a row of the destination are now, when not in the
    // destination under its own ID: the file and the ID there.
    std::unordered_map<long, std::pair<std::string, long>> origin;
    std::optional<plan::Tree> tree;
    auto chooseDestination = [&](std::size_t d) {
        // Compacted as it is chosen: the model starts from its rows in ID order.
        if (!ReadRows(*m_env, list[d].read, rows, pageSize)) return false;
        held.clear();
        origin.clear();
        tree.emplace(pageSize, plan::kCipherReservedBytes);
        for (const auto& [id, length] : rows) {
            held[id] = length;
            tree->add(id, length);
        }
        return true;
    };
    if (!chooseDestination(destination)) return false;

    std::unordered_map<long, long> documentOf;  // FOLDERS.ID -> DATABASEID, as the run leaves it
    std::unordered_map<long, long> pointing;    // DATABASEID -> FOLDERS rows
    std::unordered_map<long, long> placed;      // row ID -> DATABASES.ID it was moved into
    std::set<long> folderRows;                  // FOLDERS rows that are folders
    long nextNewId = 0;
    bool numbersLeft = true;  // false: the highest number in use is the highest there is
    // The number the run gives the next new document, as it hands them out;
    // none when no number is left, where the run stops.
    auto newNumber = [&]() -> std::optional<long> {
        while (numbersLeft && held.count(nextNewId)) {
            numbersLeft = nextNewId < std::numeric_limits<long>::max();
            if (numbersLeft) ++nextNewId;
        }
        if (!numbersLeft) return std::nullopt;
        const long id = nextNewId;
        numbersLeft = nextNewId < std::numeric_limits<long>::max();
        if (numbersLeft) ++nextNewId;
        return id;
    };
    const std::string noNumberLeft = "no document number is left above the highest one in use";
    {
        sql::Statement st(mainDb, "SELECT ID, DATABASEID, ISFOLDER FROM FOLDERS");
        sql::Step step;
        while ((step = st.step()) == sql::Step::Row) {
            long databaseId = st.isNull(1) ? 0 : static_cast<long>(st.getInt64(1));
            if (const auto it = renumber.find(databaseId); it != renumber.end()) databaseId = it->second;
            documentOf[static_cast<long>(st.getInt64(0))] = databaseId;
            ++pointing[databaseId];
            if (!st.isNull(2) && st.getInt64(2) != 0) folderRows.insert(static_cast<long>(st.getInt64(0)));
        }
        if (step != sql::Step::Done) return false;
        sql::Statement next(mainDb, "SELECT max(coalesce((SELECT max(ID) FROM FOLDERS), 0), "
                                    "coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'FOLDERS'), 0))");
        if (next.step() != sql::Step::Row) return false;
        const std::int64_t highest = std::max<std::int64_t>(next.getInt64(0), 0);
        numbersLeft = highest < std::numeric_limits<std::int64_t>::max();
        nextNewId = numbersLeft ? static_cast<long>(highest + 1) : 0;
    }

    const std::int64_t capacity = m_nReorganizeCapacity;
    auto full = [&] { return tree->pages() * pageSize >= capacity; };
    Rows skipped;  // rows of the current source that stay in it
    std::size_t next = 0;
    auto record = [&](long documents, std::int64_t bytes) {
        if (plan.moves.empty() || plan.moves.back().sourceId != list[source].id ||
            plan.moves.back().destinationId != list[destination].id)
            plan.moves.push_back({list[source].id, list[source].stored, list[destination].id,
                                  list[destination].stored, 0, 0});
        plan.moves.back().documents += documents;
        plan.moves.back().bytes += bytes;
        plan.documentsMoved += documents;
        plan.bytesMoved += bytes;
    };
    bool endedOnSource = false;
    while (destination != source) {
        if (next == sourceRows.size()) {
            if (source > destination) after[source] = compacted(skipped);
            if (pointing[list[source].id] == 0) {
                plan.retired.push_back(list[source].stored);
                after[source] = 0;
            }
            --source;
            skipped.clear();
            next = 0;
            if (source == destination) break;
            int ignored = 0;
            if (!ReadRows(*m_env, list[source].read, sourceRows, ignored)) return false;
            continue;
        }
        if (full()) {
            after[destination] = tree->pages() * pageSize;
            ++destination;
            if (destination < source && !chooseDestination(destination)) return false;
            if (destination == source) endedOnSource = true;
            continue;
        }
        // One batch: what it holds is undone when it moves nothing, as the
        // run's transaction is rolled back then.
        const plan::Tree treeBefore = *tree;
        std::vector<std::pair<long, std::int64_t>> overwritten;
        long movedRows = 0, fixedRows = 0;
        std::int64_t movedBytes = 0;
        std::vector<std::pair<long, bool>> moved;  // ID, had a FOLDERS row
        std::vector<long> fixed, strays;
        // Rows of other data than the document's become documents "Fixed N"
        // where the run would make them; false when no number is left for one.
        auto fixAsNewDocument = [&](std::int64_t bytes, const std::pair<std::string, long>& from) {
            const auto number = newNumber();
            if (!number) {
                plan.refusal = noNumberLeft;
                return false;
            }
            tree->add(*number, bytes);
            held[*number] = bytes;
            origin[*number] = from;
            fixed.push_back(*number);
            ++fixedRows;
            return true;
        };
        const std::size_t skippedBefore = skipped.size();
        const long repairedBefore = plan.unreferencedRepaired;
        const long destinationId = list[destination].id;
        const std::string& sourceFile = list[source].read;
        // Whether the destination's row `id` holds the bytes of row `id` of the source.
        auto sameAsSource = [&](long id, std::int64_t size, bool& same) {
            const auto o = origin.find(id);
            return o == origin.end() ? SameRowBytes(*m_env, list[destination].read, id, sourceFile, id, size, same)
                                     : SameRowBytes(*m_env, o->second.first, o->second.second, sourceFile, id, size, same);
        };
        std::vector<std::pair<long, std::int64_t>> leftovers;
        while (next < sourceRows.size() && reorganize::BatchTakesMore(moved.size(), movedBytes) && !full()) {
            const auto [id, size] = sourceRows[next];
            // The run keeps a document's own row, the one its DATABASEID names.
            const auto doc = documentOf.find(id);
            bool stray = false;
            if (doc != documentOf.end() && doc->second != list[source].id) {
                if (doc->second == destinationId) {
                    stray = held.count(id) > 0;
                } else if (const auto p = placed.find(id); p != placed.end()) {
                    stray = p->second == doc->second;
                } else {
                    const auto entry = std::find_if(list.begin(), list.end(),
                                                    [&](const Entry& e) { return e.id == doc->second; });
                    if (entry != list.end() && !HasRow(*m_env, entry->read, id, stray)) return false;
                }
            }
            if (stray) {
                ++next;
                bool leftover = false;
                if (doc->second == destinationId && held.at(id) == size && !sameAsSource(id, size, leftover))
                    return false;
                if (!leftover && size == 0) {
                    skipped.push_back({id, size});
                    continue;
                }
                if (leftover) {
                    leftovers.push_back({id, size});
                } else if (!fixAsNewDocument(size, {sourceFile, id})) {
                    return true;
                }
                moved.push_back({id, false});
                strays.push_back(id);
                ++movedRows;
                movedBytes += size;
                continue;
            }
            if (const auto there = held.find(id); there != held.end()) {
                const std::int64_t stored = there->second;
                bool same = stored == 0;
                if (!same && stored == size && !sameAsSource(id, size, same)) return false;
                tree->remove(id, stored);
                held.erase(there);
                if (same) {
                    overwritten.push_back({id, stored});
                } else {
                    const auto o = origin.find(id);
                    std::pair<std::string, long> from{list[destination].read, id};
                    if (o != origin.end()) from = o->second;
                    if (!fixAsNewDocument(stored, from)) return true;
                }
                origin.erase(id);
            }
            const bool referenced = documentOf.count(id) > 0;
            ++next;
            if (!referenced && size == 0) {
                skipped.push_back({id, size});
                continue;
            }
            if (!referenced) ++plan.unreferencedRepaired;
            tree->add(id, size);
            held[id] = size;
            origin[id] = {sourceFile, id};
            moved.push_back({id, referenced});
            ++movedRows;
            movedBytes += size;
        }
        if (moved.empty() && fixed.empty()) {
            *tree = treeBefore;
            for (const auto& [id, stored] : overwritten) held[id] = stored;
            plan.unreferencedRepaired = repairedBefore;
            plan.unreferencedSkipped += static_cast<long>(skipped.size() - skippedBefore);
            continue;
        }
        plan.unreferencedSkipped += static_cast<long>(skipped.size() - skippedBefore);
        plan.duplicatesOverwritten += static_cast<long>(overwritten.size() + leftovers.size());
        plan.duplicatesFixed += fixedRows;
        for (const long newId : fixed) {
            documentOf[newId] = destinationId;
            ++pointing[destinationId];
        }
        for (const auto& [id, referenced] : moved) {
            if (std::find(strays.begin(), strays.end(), id) != strays.end()) continue;
            placed[id] = destinationId;
            if (referenced) --pointing[documentOf[id]];
            documentOf[id] = destinationId;
            ++pointing[destinationId];
        }
        record(movedRows, movedBytes);
    }
    // The file where source and destination met is compacted last.
    if (endedOnSource) {
        Rows left(sourceRows.begin() + static_cast<std::ptrdiff_t>(next), sourceRows.end());
        left.insert(left.end(), skipped.begin(), skipped.end());
        after[destination] = compacted(std::move(left));
    } else {
        Rows left(held.begin(), held.end());
        after[destination] = compacted(std::move(left));
    }
    // The run ends with the renumbering once more: the sub databases
    // documents still refer to become 1, 2, 3 ..., the others are set aside.
    {
        std::set<long> referencedAfter;
        for (const auto& [id, databaseId] : documentOf)
            if (databaseId > 0 && !folderRows.count(id)) referencedAfter.insert(databaseId);
        std::vector<const Entry*> kept;
        bool stops = false;
        for (const long id : referencedAfter) {
            const auto e = std::find_if(list.begin(), list.end(), [&](const Entry& x) { return x.id == id; });
            if (e == list.end() ||
                std::find(plan.retired.begin(), plan.retired.end(), e->stored) != plan.retired.end()) {
                stops = true;  // the run's renumbering refuses what it cannot find
                break;
            }
            kept.push_back(&*e);
        }
        NamePlanner names(*m_env);
        for (std::size_t k = 0; !stops && k < kept.size(); ++k) {
            const long newId = static_cast<long>(k + 1);
            if (kept[k]->id != newId)
                plan.renumberedAtEnd.push_back({kept[k]->id, kept[k]->stored, newId, SubDatabaseName(mainPath, newId)});
        }
        for (const Entry& e : list) {
            if (stops || referencedAfter.count(e.id) ||
                std::find(plan.retired.begin(), plan.retired.end(), e.stored) != plan.retired.end())
                continue;
            if (m_env->FileExists(e.read)) plan.setAsideAtEnd.push_back({e.stored, names.free(e.stored, ".obsolete")});
        }
    }
    return finish();
}

}  // namespace qx
