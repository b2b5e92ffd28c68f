#pragma once
// The durable progress record of a thorough check: enough to go on where a
// stopped run (Cancel, a time limit, a full disk, a crash) left off and to
// end with the same list and counters as a run that never stopped.
//
// Written through the Env only: each new state goes to a fresh name (two
// names are used in turn, the one not holding the record trusted now), file
// and folder synced; nothing is ever renamed over it. A torn, altered or
// foreign record is refused, never trusted (docs/archive-format.md).
#include "database/MainWindow.h"
#include "database/checks/Findings.h"
#include "support/Env.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

// Where a finding of the document walk goes in the list, which shows the
// walk's findings in folder order once the walk ends.
struct WalkPlace {
    bool placed = false;  // a finding of the walk (others are listed at once)
    bool inFolder = false;
    long parent = 0, id = 0;
    bool operator==(const WalkPlace&) const = default;
};

struct RecordedFinding {
    Finding finding;
    ListRow row;  // the list's row as it was shown
    WalkPlace place;
    bool operator==(const RecordedFinding& o) const;
};

struct CheckProgressRecord {
    std::uint64_t sequence = 0;  // grows with every write; the highest whole one is the state
    int flags = 0;               // the check's level and options
    // The archive the record is of: the main database and every sub
    // database by identity (path, device and inode).
    FileId main;
    std::vector<std::pair<std::string, FileId>> subDatabases;
    long total = 0;    // documents in the walk
    long checked = 0;  // documents finished, in walk order
    std::vector<std::string> passes;  // the passes done ("integrity", "compaction", "walk")
    // The walk key of the last document finished (opaque bytes, compared
    // as they are); empty before the first.
    std::string position;
    // Rows a repair changed: their walk key may have moved past the position.
    std::vector<std::int64_t> changedRows;
    std::vector<RecordedFinding> findings;
    std::vector<std::string> inUse;
    std::string backupMask;
    std::vector<std::string> backupFiles;

    bool passDone(std::string_view pass) const;
    std::string serialize() const;
    // nullopt for a record that is torn or not one of ours; `why` says which.
    static std::optional<CheckProgressRecord> Parse(std::string_view text, std::string& why);
    bool operator==(const CheckProgressRecord&) const = default;
};

// The two names a record of the archive at `mainPath` is kept under
// ("/a/Kantoor.dat" -> "/a/Kantoor.check-1", "/a/Kantoor.check-2").
std::array<std::string, 2> CheckProgressNames(std::string_view mainPath);

// The record beside one main database.
class CheckProgressStore {
public:
    CheckProgressStore(Env& env, std::string_view mainPath);

    // Whether either name holds anything.
    bool Present();
    // The newest whole record. nullopt with `why` empty: there is none;
    // with `why` set: something is there but none of it can be trusted.
    std::optional<CheckProgressRecord> Load(std::string& why);
    // Writes `record` as the next state (its sequence is set); 0 or an
    // errno value, the trusted state unchanged on failure.
    int Write(CheckProgressRecord& record);
    // Removes both names; 0 or the first errno value.
    int RemoveAll();

private:
    Env& m_env;
    std::array<std::string, 2> m_names;
    int m_trusted = -1;  // the name holding the state written or read last
    std::uint64_t m_sequence = 0;
};

}  // namespace qx
