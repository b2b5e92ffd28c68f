#pragma once
// Paths and files. All paths are UTF-8 text with the platform's separators;
// nothing here throws: a failure gives false, 0 or an empty text.
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <string_view>

namespace qx {

// True for the characters that separate folders: "/" on POSIX, "\" and "/" on Windows.
bool IsPathSeparator(char c);
// The platform's preferred separator as text ("/" or "\").
const char* PathSeparator();
// A UTF-8 path as std::filesystem sees it (wide on Windows).
std::filesystem::path PathFromUtf8(std::string_view path);
std::string PathToUtf8(const std::filesystem::path& path);

// True when the path names an existing regular file (directories do not count).
bool FileExists(std::string_view path);
// The text after the last separator, the whole path when there is none.
std::string GetFileNamePart(std::string_view path);
// The path without its file-name part and without the trailing separator.
std::string GetFolderPart(std::string_view path);
// The folder of the running program, without a trailing separator.
std::string AppPath();

// The path with links and ".." resolved (a report-only run's names included);
// "" and `ec` set when it does not exist.
std::string CanonicalPath(std::string_view path, std::error_code& ec);
std::int64_t FileLength(std::string_view path);
bool IsFileReadOnly(std::string_view path);
void SetFileReadOnly(std::string_view path, bool readOnly);

// The path itself when nothing of that name exists, else the first free
// "<base>_001<ext>", "<base>_002<ext>", ... in the same folder.
std::string UniqueFileName(std::string_view path);

}  // namespace qx
