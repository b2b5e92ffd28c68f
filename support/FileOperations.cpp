#include "support/FileOperations.h"

#include "support/ProcessEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QString>

#include <cstdio>
#include <system_error>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace qx {

namespace {

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

std::string ExecutableFolder() {
#ifdef _WIN32
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return PathToUtf8(fs::path(std::wstring(buf.data(), n)).parent_path());
        buf.resize(buf.size() * 2);
    }
#else
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return PathToUtf8(exe.parent_path());
    fs::path cwd = fs::current_path(ec);  // no /proc: the best remaining guess
    return ec ? std::string() : PathToUtf8(cwd);
#endif
}

}  // namespace

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

fs::path PathFromUtf8(std::string_view path) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
}

std::string PathToUtf8(const fs::path& path) {
    std::u8string s = path.u8string();
    return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

bool FileExists(std::string_view path) { return ProcessEnv().FileExists(std::string(path)); }

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

std::string CanonicalPath(std::string_view path, std::error_code& ec) {
    return ProcessEnv().Canonical(std::string(path), ec);
}

std::int64_t FileLength(std::string_view path) { return ProcessEnv().FileLength(std::string(path)); }

bool IsFileReadOnly(std::string_view path) { return ProcessEnv().IsReadOnly(std::string(path)); }

void SetFileReadOnly(std::string_view path, bool readOnly) { ProcessEnv().SetReadOnly(std::string(path), readOnly); }

std::string UniqueFileName(std::string_view path) { return ProcessEnv().UniqueFileName(std::string(path)); }

}  // namespace qx
