#pragma once
// File changes that survive a crash, and the identity of files. Every change
// passes a named failpoint (support/Failpoint.h) first, so tests can make it
// fail or kill the process right there.
//
// Each operation returns 0 on success or an errno value; ErrorText() turns
// that into the system's words ("No space left on device").
#include "support/Env.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qx {

// Renames without ever replacing what stands under the new name (EEXIST
// then), and makes the rename durable by syncing the folder(s).
int RenameNoReplace(const std::string& from, const std::string& to, std::string_view point);
// Creates a new file (EEXIST when the name is taken), writes `bytes`, and
// syncs the file and its folder before returning.
int CreateDurableFile(const std::string& path, std::string_view bytes, std::string_view point);
// Removes a file and syncs its folder.
int RemoveDurably(const std::string& path, std::string_view point);
// Flushes a file's contents, or a folder's entries, to the medium.
int SyncFile(const std::string& path, std::string_view point);
int SyncFolder(const std::string& folder, std::string_view point);
// The identity of what the path names, links followed; nullopt when nothing
// is there (or it cannot be asked).
std::optional<FileId> IdentityOf(std::string_view path);
// True when both paths exist and are the same file ("a/./x", "a/../a/x", a
// link, another case on a case-insensitive medium, a hard link).
bool SameFile(std::string_view a, std::string_view b);
// What stands under the name itself, links not followed.
EntryKind KindOf(std::string_view path);
// True when the entry named by `path` (its folder resolved, its own name
// kept) lies directly in `folder`.
bool EntryLiesIn(std::string_view path, std::string_view folder);

}  // namespace qx
