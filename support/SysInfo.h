#pragma once
// Disks: the root of the volume a path lies on and the space free on it.
#include <cstdint>
#include <string>
#include <string_view>

namespace qx {

class Env;

// The root of the volume holding the path, with a trailing separator; "" when
// it cannot be told. On POSIX this is the mount point of the path's file
// system (the path need not exist yet: its nearest existing folder counts).
// On Windows it is DriveRootWindows(path).
std::string DriveRoot(Env& env, std::string_view path);

// Windows drive roots worked out from the text alone: "C:\" for "C:\x" and
// "C:x", "\\server\share\" for a UNC path with a share and something after
// it, "" otherwise. Available on every platform.
std::string DriveRootWindows(std::string_view path);

// Bytes available to the caller in the folder itself (a folder may be a
// mount of its own, or carry a quota its volume's root does not); -1 when it
// cannot be asked. Tests put a function of their own in its place.
std::int64_t FolderFreeSpace(Env& env, std::string_view folder);
void OverrideFolderFreeSpaceForTests(std::int64_t (*probe)(std::string_view folder));

}  // namespace qx
