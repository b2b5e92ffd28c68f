#pragma once
// What a caller asks of one thorough check that keeps its progress, and how
// its start and end went. The record itself: CheckProgressRecord.h.
#include "database/checks/CheckProgressRecord.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qx {

class CDatabase;

struct CheckRun {
    // --- Asked.
    bool resume = false;                      // go on where the record says
    std::optional<std::int64_t> maxDurationMs;  // stop the walk cleanly after this long
    // Milliseconds from any fixed point; a steady clock when empty.
    std::function<std::int64_t()> clock;

    // --- How the start went.
    enum class Start {
        Fresh,     // begun from the start
        Resumed,   // went on from a record
        NoRecord,  // asked to go on, but no record was there: begun from the start
        Refused,   // a record was there that cannot be trusted or is of another state of the archive
        NotKept    // a report-only run: nothing is recorded
    };
    Start start = Start::Fresh;
    std::string refusedWhy;  // Refused: why (English, for the log)
    long resumedAfter = 0;   // Resumed: the documents the stopped run had finished

    // --- How it ended.
    bool timeUp = false;         // the walk stopped at maxDurationMs
    bool recordKept = false;     // a record stays for a later run to go on from
    std::string recordError;     // the last write of the record that failed ("" when none)

    // --- Kept while the run goes (CDatabase's checks/CheckResume.cpp).
    bool active = false;
    std::unique_ptr<CheckProgressStore> store;
    CheckProgressRecord record;
    std::vector<ListRow> rows;  // the list's rows, one per finding, in order
    std::vector<WalkPlace> places;  // beside `rows`
    // Findings of the walk taken over from the record: listed with the
    // walk's own, in folder order, when the walk ends (positions in rows).
    std::vector<std::size_t> heldOver;
    std::set<std::int64_t> changed;
    std::int64_t startedAt = 0, lastWrite = 0, lastWriteCost = 0;
    long documents = 0;  // documents finished by this run
    std::int64_t now() const;
};

// Hands `run` to `database` for the checks run while this object lives.
class CheckRunScope {
public:
    CheckRunScope(CDatabase& database, CheckRun& run);
    ~CheckRunScope();
    CheckRunScope(const CheckRunScope&) = delete;
    CheckRunScope& operator=(const CheckRunScope&) = delete;

private:
    CDatabase& m_database;
};

// The stopped thorough check of the open archive that a run could go on
// from; nullopt when there is none, it cannot be trusted, or it is of
// another state of the archive (`why` then says so), or the run is report-only.
std::optional<CheckProgressRecord> StoppedThoroughCheck(CDatabase& database, std::string& why);

// "90m", "2h", "45s", "1h30m" as milliseconds; nullopt for anything else
// (no unit, zero, a negative or overlong number).
std::optional<std::int64_t> ParseDuration(const std::string& text);

}  // namespace qx
