#pragma once
// Path text. All paths are UTF-8 text with the platform's separators;
// nothing here touches the disk except AppPath (files go through support/Env.h).
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

// The text after the last separator, the whole path when there is none.
std::string GetFileNamePart(std::string_view path);
// The path without its file-name part and without the trailing separator.
std::string GetFolderPart(std::string_view path);
// The folder of the running program, without a trailing separator.
std::string AppPath();


}  // namespace qx
