#pragma once
// What a reorganize would do, worked out from the row sizes alone: nothing
// is read whole, nothing is written, so it answers for archives of any size.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qx {

struct ReorganizePlan {
    // Rows that go from one sub database into another, in the order of the run.
    struct Move {
        long sourceId = 0;  // DATABASES.ID
        std::string source;
        long destinationId = 0;
        std::string destination;
        long documents = 0;
        std::int64_t bytes = 0;
    };
    struct FileAfter {
        std::string path;
        std::int64_t before = 0;
        std::int64_t after = 0;  // expected; 0 for a file that is retired
    };
    // A sub database that the renumbering before the moves gives another number or name.
    struct Renumbered {
        long oldId = 0;
        std::string from;
        long newId = 0;
        std::string to;
    };
    std::vector<Move> moves;
    std::vector<std::string> retired;  // files that end as ".obsolete"
    std::vector<FileAfter> files;
    long documentsMoved = 0;
    std::int64_t bytesMoved = 0;
    long duplicatesOverwritten = 0;   // same ID, the same bytes or empty: overwritten or left behind
    long duplicatesFixed = 0;         // same ID, other data: the row that is not the document's becomes "Fixed N"
    long unreferencedSkipped = 0;     // no FOLDERS row, no data: stays where it is
    long unreferencedRepaired = 0;    // no FOLDERS row, data: a "Repaired document"
    // Why a run would stop before moving anything (the text it would show); empty when it would run.
    std::string refusal;
    // The renumbering a run does first (its files renamed, the list rewritten).
    std::vector<Renumbered> renumbered;
    std::vector<std::pair<std::string, std::string>> setAside;  // file, the name it is set aside under
    // The renumbering the run ends with, once the moves are done: the sub
    // databases documents still refer to become 1, 2, 3 ...; the others are
    // set aside. Names are those after the moves (`files`, `retired`).
    std::vector<Renumbered> renumberedAtEnd;
    std::vector<std::pair<std::string, std::string>> setAsideAtEnd;
    // Files whose read-only attribute the run clears (not a refusal).
    std::vector<std::string> readOnly;
    // The page counts of a file after the plan are estimated within this
    // many pages per sub database (docs/benchmarks.md has the measurement).
    int pageTolerance = 0;
};

// The plan as lines for a person, in the program's language.
std::string DescribePlan(const ReorganizePlan& plan);

namespace plan {

// Pages a table of rows (ID, length of the stored value) takes in a freshly
// compacted sub database, page 1 and the sequence table included, for
// pages of `pageSize` bytes of which `reserved` are the cipher's.
std::int64_t CompactedPages(const std::vector<std::pair<long, std::int64_t>>& rowsInIdOrder, int pageSize,
                            int reserved);

// Bytes the cipher keeps at the end of every page of an archive file: an IV
// of 16 and an HMAC-SHA1 of 20, rounded up to whole AES blocks
// (docs/archive-format.md).
inline constexpr int kCipherReservedBytes = 48;

}  // namespace plan

}  // namespace qx
