#pragma once
// The intent record: what a change to several files of an archive is about
// to do, written durably beside the main database before the first change,
// and removed when the last one is done. An open that finds one finishes
// the change or undoes it before anything else (docs/archive-format.md).
//
// A change has at most one part in the main database, committed in one
// transaction that also sets the main database's user_version to the
// record's marker; the renames follow that commit. So the marker tells an
// open which side of the commit a crash fell on: marker in place, the
// renames are finished; marker not in place, nothing had changed yet.
#include "support/Env.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

struct IntentRename {
    std::string from, to;  // file names inside the archive folder, no separators
    FileId file;           // the file that moves, so a step is recognised as done
    bool operator==(const IntentRename&) const = default;
};

// A file named in a record by its name inside the archive folder and its identity.
struct IntentFile {
    std::string name;
    FileId file;
    bool operator==(const IntentFile&) const = default;
};

struct IntentRecord {
    std::string operation;
    // The user_version the main database holds once its part is committed;
    // nullopt for a change without a part in the main database (always
    // finished, never undone).
    std::optional<std::uint32_t> marker;
    std::vector<IntentRename> renames;
    // Files that go once every rename is done (a file kept aside while its
    // replacement took its name), each only while it is still that file.
    std::vector<IntentFile> removes;
    // Files that go when the change is undone because none of its renames
    // had been made (a copy written for a change that never began). Only a
    // record without a marker has them.
    std::vector<IntentFile> discards;

    std::string serialize() const;
    // nullopt for a record that is torn or not one of ours; `why` says which.
    static std::optional<IntentRecord> Parse(std::string_view text, std::string& why);
    bool operator==(const IntentRecord&) const = default;
};

// A name is usable in a record only when it stays inside the folder.
bool IsPlainFileName(std::string_view name);

}  // namespace qx
