#pragma once
// What a reorganize would do, worked out from the row sizes alone: nothing
// is read whole, nothing is written, so it answers for archives of any size.
#include <cstdint>
#include <string>
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
    std::vector<Move> moves;
    std::vector<std::string> retired;  // files that end as ".obsolete"
    std::vector<FileAfter> files;
    long documentsMoved = 0;
    std::int64_t bytesMoved = 0;
    long duplicatesOverwritten = 0;   // same ID, equal size or empty: overwritten
    long duplicatesFixed = 0;         // same ID, different data: a "Fixed N" document
    long unreferencedSkipped = 0;     // no FOLDERS row, no data: stays where it is
    long unreferencedRepaired = 0;    // no FOLDERS row, data: a "Repaired document"
    // Why a run would stop before moving anything (the text it would show); empty when it would run.
    std::string refusal;
};

// The plan as lines for a person, in the program's language.
std::string DescribePlan(const ReorganizePlan& plan);

}  // namespace qx
