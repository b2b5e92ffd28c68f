#include "support/FileOperations.h"

#include "support/ReportOnly.h"

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

// Anything at all under that name (file, folder, even a dangling link) makes
// the name taken. An error other than "not found" (say, no rights on the
// folder) counts as free: the caller's create will then fail on its own
// instead of this loop running forever.
bool NameTaken(const std::string& path) {
    if (const reportonly::Entry e = reportonly::Look(path); e.state != reportonly::Entry::State::Disk)
        return e.state == reportonly::Entry::State::File;
    std::error_code ec;
    fs::file_type type = fs::symlink_status(PathFromUtf8(path), ec).type();
    return type != fs::file_type::not_found && type != fs::file_type::none;
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

bool FileExists(std::string_view path) {
    if (path.empty()) return false;
    if (reportonly::Active()) {
        if (const reportonly::Entry e = reportonly::Look(std::string(path)); e.state != reportonly::Entry::State::Disk)
            return e.state == reportonly::Entry::State::File;
    }
#ifdef _WIN32
    std::error_code ec;
    return fs::is_regular_file(PathFromUtf8(path), ec);
#else
    // A check asks this for every document: one stat call, no path objects.
    struct stat st {};
    const std::string p(path);
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
#endif
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

std::string CanonicalPath(std::string_view path, std::error_code& ec) {
    ec.clear();
    if (const reportonly::Entry e = reportonly::Look(std::string(path)); e.state != reportonly::Entry::State::Disk) {
        // A name the run made or took away exists only in its view: the
        // folder is real, the name is the run's.
        if (e.state == reportonly::Entry::State::Absent) {
            ec = std::make_error_code(std::errc::no_such_file_or_directory);
            return {};
        }
        const fs::path p = PathFromUtf8(path);
        const fs::path folder = fs::canonical(p.has_parent_path() ? p.parent_path() : fs::path("."), ec);
        return ec ? std::string() : PathToUtf8(folder / p.filename());
    }
    return PathToUtf8(fs::canonical(PathFromUtf8(path), ec));
}

std::int64_t FileLength(std::string_view path) {
    if (const reportonly::Entry e = reportonly::Look(std::string(path)); e.state != reportonly::Entry::State::Disk)
        return e.size;
    std::error_code ec;
    std::uintmax_t n = fs::file_size(PathFromUtf8(path), ec);
    return ec ? 0 : static_cast<std::int64_t>(n);
}

// std::filesystem maps the owner's write permission onto the read-only
// attribute on Windows, so one code path serves both platforms.
bool IsFileReadOnly(std::string_view path) {
    if (const auto told = reportonly::ReadOnlyAttribute(std::string(path))) return *told;
    const reportonly::Entry e = reportonly::Look(std::string(path));
    if (e.state != reportonly::Entry::State::Disk) {
        if (e.state == reportonly::Entry::State::Absent || e.backing.empty()) return false;
        path = e.backing;
    }
    std::error_code ec;
    fs::file_status st = fs::status(PathFromUtf8(path), ec);
    if (ec || !fs::exists(st)) return false;
    return (st.permissions() & fs::perms::owner_write) == fs::perms::none;
}

void SetFileReadOnly(std::string_view path, bool readOnly) {
    if (path.empty()) return;
    if (reportonly::Active()) {
        if (IsFileReadOnly(path) != readOnly) reportonly::SetReadOnlyAttribute(std::string(path), readOnly);
        return;
    }
    std::error_code ec;
    fs::path p = PathFromUtf8(path);
    fs::file_status st = fs::status(p, ec);
    if (ec || !fs::exists(st)) return;
    bool isReadOnly = (st.permissions() & fs::perms::owner_write) == fs::perms::none;
    if (readOnly == isReadOnly) return;
    fs::permissions(p, fs::perms::owner_write, readOnly ? fs::perm_options::remove : fs::perm_options::add, ec);
}

std::string UniqueFileName(std::string_view path) {
    std::string original(path);
    if (!NameTaken(original)) return original;

    std::string base = StripTrailingSeparators(path);
    std::string ext;
    // The counter goes before the extension only when the last "." lies in
    // the file name; a "." in a folder name would move the new name into
    // another folder, so then the counter goes at the end.
    std::size_t dot = base.rfind('.');
    std::size_t sep = LastSeparator(base);
    if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) {
        ext = base.substr(dot);  // kept in its own case: it matters on POSIX file systems
        base.resize(dot);
    }
    for (unsigned long long n = 1;; ++n) {
        char counter[32];
        std::snprintf(counter, sizeof counter, "_%03llu", n);
        std::string candidate = base + counter + ext;
        if (!NameTaken(candidate)) return candidate;
    }
}

}  // namespace qx
