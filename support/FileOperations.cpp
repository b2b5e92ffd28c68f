#include "support/FileOperations.h"

#include <QCoreApplication>
#include <QDir>
#include <QString>

#include <filesystem>

namespace qx {

// The running program's folder as the system tells it (support/RealEnv.cpp).
std::string ExecutableFolder();

// Shared with support/Env.cpp, which declares them.
std::size_t LastSeparator(std::string_view path) {
    for (std::size_t i = path.size(); i-- > 0;)
        if (IsPathSeparator(path[i])) return i;
    return std::string_view::npos;
}

// Drops trailing separators but never turns a root ("/", "\") into nothing.
std::string StripTrailingSeparators(std::string_view path) {
    std::size_t end = path.size();
    while (end > 1 && IsPathSeparator(path[end - 1])) --end;
    return std::string(path.substr(0, end));
}

bool IsPathSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

const char* PathSeparator() {
#ifdef _WIN32
    return "\\";
#else
    return "/";
#endif
}

std::filesystem::path PathFromUtf8(std::string_view path) {
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
    std::u8string s = path.u8string();
    return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

std::string GetFileNamePart(std::string_view path) {
    std::size_t sep = LastSeparator(path);
    return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

std::string GetFolderPart(std::string_view path) {
    std::size_t sep = LastSeparator(path);
    if (sep == std::string_view::npos) return {};
    // A file straight in the root keeps the root itself ("/" for "/x.dat"):
    // an empty text would read as "the current folder" to whoever lists,
    // enters or measures the folder. Joining "/" + "/" + name still names
    // the same file. A drive root comes back as "C:", as Windows callers expect.
    return StripTrailingSeparators(path.substr(0, sep + 1));
}

std::string AppPath() {
    if (QCoreApplication::instance()) {
        QString dir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
        return StripTrailingSeparators(dir.toStdString());
    }
    static const std::string folder = ExecutableFolder();
    return folder;
}

}  // namespace qx
