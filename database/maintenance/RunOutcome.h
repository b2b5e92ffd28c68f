#pragma once
// How a reorganize or a compaction ended, and what the user reads about it:
// a summary after a run that did its work, and after one that stopped, what
// happened and what to do next.
#include <cstdint>
#include <string>

namespace qx {

// Kinds of trouble the user can act on differently.
enum class Trouble {
    None,
    DiskFull,  // a write was refused for want of space
    InUse,     // another program holds a file (locked)
    Damaged,   // a file of the archive is no sound database
    Other,
};

// The trouble an engine error (its code, extended or not) or an errno value stands for.
Trouble TroubleOfEngineCode(int code);
Trouble TroubleOfErrno(int err);

// What a compaction that failed ran into; nothing after one that succeeded.
struct CompactTrouble {
    Trouble trouble = Trouble::None;
    std::string reason;           // the log's words
    std::int64_t needed = 0;      // more free bytes it needed (DiskFull), 0 when not known
    std::string volume;           // where they are needed
};

struct ReorganizeOutcome {
    bool reportOnly = false;
    bool cancelled = false;
    // Why it stopped before its end ("" when it did not); as m_sReorganizeStop.
    std::string stop;
    CompactTrouble trouble;           // the kind of the stop
    long documentsMoved = 0;
    std::int64_t bytesMoved = 0;
    long filesSetAside = 0;           // files given a ".obsolete" or ".deleted" name by the run
    std::int64_t bytesSetAside = 0;
    std::int64_t bytesBefore = 0;     // the archive's files in use: main, OCR, listed sub databases
    std::int64_t bytesAfter = 0;
};

struct CompactOutcome {
    long files = 0;       // to compact
    long compacted = 0;   // copied and swapped in
    long skipped = 0;     // left as they were: a copy could not be smaller
    bool cancelled = false;
    std::int64_t bytesBefore = 0;  // of the files that were to be compacted
    std::int64_t bytesAfter = 0;
    CompactTrouble trouble;        // the first failure
};

// "<what happened> <what to do>" in Dutch, for `trouble`.
std::string TroubleAdvice(const CompactTrouble& trouble);
// The box after a reorganize: the summary, or why it stopped and what now.
// `title` receives the box's title; `stopped` whether it is a warning.
std::string DescribeReorganizeEnd(const ReorganizeOutcome& outcome, std::string& title, bool& stopped);
// The summary after the compaction of several files.
std::string DescribeCompactEnd(const CompactOutcome& outcome, std::string& title);

}  // namespace qx
