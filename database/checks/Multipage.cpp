// CDatabase: repairs of the multipage structure — pages whose container is
// gone become single pages, and the pages of each container are numbered
// 2, 3, ... behind it.
//
// Each repair reads FOLDERS once, works out every change in memory and
// writes the changes in batches, each batch one transaction: a transaction
// per row costs a wait for the disk per row (minutes for 100,000 documents).
// A batch the disk refuses is undone whole, reported through
// NoteSaveFailure and ends the repair; batches committed before it stay.
#include "database/CDatabase.h"
#include "database/checks/CheckSupport.h"
#include "support/Tools.h"
#include "support/engine/Sql.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qx {

namespace {

// Pages are numbered in a 16-bit field.
constexpr long kMaxPage = std::numeric_limits<std::int16_t>::max();

// Rows written per transaction: large enough that the commits do not count,
// small enough that the rollback journal of one batch stays a few MB.
constexpr std::size_t kBatchRows = 20000;


// Page markers match case-insensitively: archives hold markers in either
// case ("MC12", "mc12"), and a page whose marker differs only in case still
// belongs to its container. Only ASCII letters fold, as in the engine's
// NOCASE comparison.
std::string FoldedMarker(std::string marker) {
    for (char& c : marker)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return marker;
}

// One row to change: its rowid and the PAGE it gets.
struct Change {
    std::int64_t rowid = 0;
    std::int64_t page = 0;
};

// Runs `write` for every change, kBatchRows to a transaction (a savepoint
// when the caller already holds one). False, with the failure in `err`,
// when a statement or a commit fails: that batch is rolled back whole.
template <typename Write>
bool WriteInBatches(sql::Database& db, const std::vector<Change>& changes, Write write, sql::Error& err) {
    for (std::size_t from = 0; from < changes.size(); from += kBatchRows) {
        sql::Savepoint batch(db);
        if (!batch.ok()) {
            err = db.lastError();
            return false;
        }
        const std::size_t to = std::min(changes.size(), from + kBatchRows);
        for (std::size_t i = from; i < to; ++i)
            if (!write(changes[i], err)) return false;
        if (!batch.release(&err)) return false;
    }
    return true;
}

// A read that fails before anything is written is reported like a failed
// save: the repair did not happen, and the caller must be able to tell.
sql::Error ReadFailure(sql::Statement& st, sql::Database& db) {
    sql::Error e = st.error();
    if (!e) e = db.lastError();
    if (!e) e = {sql::kMisuse, "the rows could not be read"};
    return e;
}

}  // namespace

long CDatabase::CheckMultipageParentMissing() {
    if (!Connected(m_AdoCnMain)) return 0;
    sql::Database& db = m_AdoCnMain->database();

    // Every ID, and the page rows with the container number their marker
    // names. A blob marker is never equal to the text 'MC<ID>': left alone.
    std::vector<std::int64_t> ids;
    std::vector<std::pair<std::int64_t, long>> pages;  // rowid, container ID
    {
        sql::Statement st(db, "SELECT rowid, ID, TEMPLATE1 LIKE 'MC%', TEMPLATE1 FROM FOLDERS");
        sql::Step step = st.ok() ? st.step() : sql::Step::Failed;
        for (; step == sql::Step::Row; step = st.step()) {
            if (st.columnType(1) == sql::ColumnType::Integer) ids.push_back(st.getInt64(1));
            long nContainerId = 0;
            if (st.getInt64(2) == 1 && st.columnType(3) == sql::ColumnType::Text &&
                ContainerOf(st.getText(3), nContainerId))
                pages.emplace_back(st.getInt64(0), nContainerId);
        }
        if (step == sql::Step::Failed) {
            NoteSaveFailure(MainDatabaseName(), ReadFailure(st, db));
            return 0;
        }
    }
    std::sort(ids.begin(), ids.end());

    std::vector<Change> orphans;
    for (const auto& [rowid, nContainerId] : pages)
        if (!std::binary_search(ids.begin(), ids.end(), static_cast<std::int64_t>(nContainerId)))
            orphans.push_back({rowid, 1});
    if (orphans.empty()) return 0;

    sql::Statement single(db, "UPDATE FOLDERS SET TEMPLATE1 = NULL, PAGE = 1, WIDTH = 0, HEIGHT = 0 WHERE rowid = ?");
    sql::Error err;
    if (!single.ok()) err = single.error();
    else if (WriteInBatches(db, orphans,
                            [&](const Change& c, sql::Error& e) {
                                single.bind(1, c.rowid);
                                const bool ok = single.run();
                                if (!ok) e = single.error();
                                single.reset();
                                return ok;
                            },
                            err))
        return 0;
    NoteSaveFailure(MainDatabaseName(), err);
    return 0;
}

void CDatabase::MultipageRenumberPages() {
    if (!Connected(m_AdoCnMain)) return;
    sql::Database& db = m_AdoCnMain->database();

    // Containers are those marked "MP" in any case (LIKE without a wildcard),
    // taken in rowid order; their pages in PAGE order, equal numbers in rowid
    // order, as the engine sorts a scan of the table.
    struct Row {
        std::int64_t rowid = 0;
        std::optional<std::int64_t> page;  // nullopt: Null or not a whole number
    };
    std::vector<std::pair<std::int64_t, Row>> containers;  // by rowid: ID, row
    std::unordered_map<std::string, std::vector<Row>> pagesOf;
    {
        sql::Statement st(db,
                          "SELECT rowid, ID, TEMPLATE1 LIKE 'MP', TEMPLATE1, PAGE FROM FOLDERS "
                          "WHERE TEMPLATE1 LIKE 'MP' OR TEMPLATE1 LIKE 'MC%' ORDER BY PAGE ASC, rowid ASC");
        sql::Step step = st.ok() ? st.step() : sql::Step::Failed;
        for (; step == sql::Step::Row; step = st.step()) {
            Row row{st.getInt64(0), std::nullopt};
            if (st.columnType(4) == sql::ColumnType::Integer) row.page = st.getInt64(4);
            if (st.getInt64(2) == 1) containers.emplace_back(st.getInt64(1), row);
            else if (st.columnType(3) == sql::ColumnType::Text) pagesOf[FoldedMarker(st.getText(3))].push_back(row);
        }
        if (step == sql::Step::Failed) {
            NoteSaveFailure(MainDatabaseName(), ReadFailure(st, db));
            return;
        }
    }
    std::sort(containers.begin(), containers.end(),
              [](const auto& x, const auto& y) { return x.second.rowid < y.second.rowid; });

    // A container with more pages than the field can number ends the
    // renumbering there: its earlier pages keep their new numbers, the
    // container and the containers after it are left as they are.
    std::vector<Change> changes;
    for (const auto& [id, container] : containers) {
        const auto found = pagesOf.find("mc" + std::to_string(id));
        bool full = false;
        if (found != pagesOf.end()) {
            long number = 2;
            for (const Row& page : found->second) {
                if (number > kMaxPage) {
                    full = true;
                    break;
                }
                // A row that already has its number is not written again.
                if (page.page != number) changes.push_back({page.rowid, number});
                ++number;
            }
        }
        if (full) break;
        if (container.page != 1) changes.push_back({container.rowid, 1});
    }
    if (changes.empty()) return;

    sql::Statement renumber(db, "UPDATE FOLDERS SET PAGE = ? WHERE rowid = ?");
    sql::Error err;
    if (!renumber.ok()) err = renumber.error();
    else if (WriteInBatches(db, changes,
                            [&](const Change& c, sql::Error& e) {
                                renumber.bind(1, c.page);
                                renumber.bind(2, c.rowid);
                                const bool ok = renumber.run();
                                if (!ok) e = renumber.error();
                                renumber.reset();
                                return ok;
                            },
                            err))
        return;
    NoteSaveFailure(MainDatabaseName(), err);
}

}  // namespace qx
