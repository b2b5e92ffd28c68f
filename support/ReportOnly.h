#pragma once
// Report-only runs: the program does everything a repairing run does, but
// every file of the archive is opened for reading only and what the run
// writes, creates, renames or deletes lives in memory until the run ends.
// Because the repairing code itself runs (commits, renames and all), the
// report cannot drift from what a real run would do, and a crash during a
// report-only run cannot change a byte on disk.
//
// The file helpers (support/FileOperations.h, support/DurableFiles.h) and the
// engine consult this view while it is active; code above them needs no
// branch of its own except where a step has no meaning in memory (the
// intent record, the archive lock, the log).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qx::reportonly {

// True while a report-only run is under way in this process.
bool Active();

// Starts a report-only run for as long as the object lives; its end forgets
// every change the run made.
class Scope {
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

// What the run's view holds under a name.
struct Entry {
    enum class State { Disk, Absent, File } state = State::Disk;  // Disk: the disk answers
    std::string backing;  // the file on disk whose bytes show through ("" for a file made by the run)
    std::int64_t size = 0;
    std::uint64_t id = 0;  // stands for the inode of a file made by the run
};
Entry Look(const std::string& path);

// The file operations of a run, done in its view: 0 or an errno value
// (EEXIST when the new name is taken, ENOENT when there is nothing to move).
int Rename(const std::string& from, const std::string& to);
int Remove(const std::string& path);
void SetReadOnlyAttribute(const std::string& path, bool readOnly);
std::optional<bool> ReadOnlyAttribute(const std::string& path);

// What the run did to names, in order, for its report ("rename A -> B").
std::vector<std::string> Changes();

// The engine's file layer for report-only connections.
const char* VfsName();

}  // namespace qx::reportonly
