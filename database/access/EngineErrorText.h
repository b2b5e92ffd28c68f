#pragma once
// What a failure of the engine means for the user: one Dutch sentence that
// says what happened to which file and what to do about it, chosen by the
// engine's result code. The engine's own words are English and meant for
// whoever supports the user: they go into the details part of a message.
#include <string>
#include <vector>

namespace qx {

class Env;
namespace engine {
struct ProviderError;
}

// The reasons a user can act on. A file another program holds, one that may
// not be read and a read error are never damage: calling them damage sends
// the user to a backup and throws recent work away.
enum class EngineProblem {
    InUse,         // busy or locked: another program holds the file
    CannotOpen,    // the engine could not open it, the file system said no more
    Missing,       // the file is not there
    NoPermission,  // the system refuses access
    NotAnArchive,  // not a database of ours, or the password does not fit
    Damaged,       // the file's structure is broken
    DiskFull,
    ReadError,     // the disk or the network failed while reading or writing
    ReadOnly,      // the file, its folder or the medium cannot be written
    Other,
};

// The problem an engine result code stands for (extended codes count by
// their primary code).
EngineProblem ProblemOfCode(long code);
// The same for a file that failed to open: "cannot open" is made precise
// by asking the file layer whether the file is there and may be read.
EngineProblem ProblemOfOpen(Env& env, long code, const std::string& path);
// The Dutch sentence for the problem, naming `path`.
std::string ProblemSentence(EngineProblem problem, const std::string& path);
// The engine's own words, one "description (number)" a line (CR LF between).
std::string EngineDetails(const std::vector<engine::ProviderError>& errors);

}  // namespace qx
