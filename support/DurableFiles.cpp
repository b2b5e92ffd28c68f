#include "support/DurableFiles.h"

#include "support/Failpoint.h"
#include "support/FileOperations.h"
#include "support/ReportOnly.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace qx {

namespace {

std::string FolderOf(const std::string& path) {
    std::string folder = GetFolderPart(path);
    return folder.empty() ? std::string(".") : folder;
}

#ifndef _WIN32
int SyncDescriptorOf(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return errno;
    const int rc = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return rc;
}

// renameat2 with RENAME_NOREPLACE checks and renames in one step. File
// systems without it get link + unlink, which also refuses a taken name;
// a crash between the two leaves the file under both names, never under none.
int RenameWithoutReplacing(const char* from, const char* to) {
#ifdef SYS_renameat2
    constexpr unsigned kNoReplace = 1;  // RENAME_NOREPLACE
    if (::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kNoReplace) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
    if (::link(from, to) != 0) return errno;
    if (::unlink(from) != 0) return errno;
    return 0;
}
#endif

}  // namespace

int RenameNoReplace(const std::string& from, const std::string& to, std::string_view point) {
    if (const int injected = Failpoint(point)) return injected;
    if (reportonly::Active()) return reportonly::Rename(from, to);
#ifdef _WIN32
    if (!MoveFileExW(PathFromUtf8(from).c_str(), PathFromUtf8(to).c_str(), MOVEFILE_WRITE_THROUGH))
        return GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EIO;
    return 0;
#else
    if (const int rc = RenameWithoutReplacing(from.c_str(), to.c_str())) return rc;
    const std::string a = FolderOf(from), b = FolderOf(to);
    int rc = SyncFolder(a, std::string(point) + ".sync-folder");
    if (rc == 0 && !SameFile(a, b)) rc = SyncFolder(b, std::string(point) + ".sync-folder");
    // Not durable means not done: the name goes back, so the caller's
    // picture (it failed) is the truth.
    if (rc != 0) RenameWithoutReplacing(to.c_str(), from.c_str());
    return rc;
#endif
}

int CreateDurableFile(const std::string& path, std::string_view bytes, std::string_view point) {
    if (const int injected = Failpoint(point)) return injected;
    // Nothing is created on disk in a report-only run; a caller that forgot
    // to skip this step learns it, instead of writing.
    if (reportonly::Active()) return EROFS;
#ifdef _WIN32
    HANDLE h = CreateFileW(PathFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EIO;
    DWORD written = 0;
    const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && FlushFileBuffers(h);
    CloseHandle(h);
    return ok ? 0 : EIO;
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return errno;
    int rc = 0;
    for (std::size_t done = 0; done < bytes.size() && rc == 0;) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR) rc = errno;
        if (n > 0) done += static_cast<std::size_t>(n);
    }
    if (rc == 0) {
        if (const int injected = Failpoint(std::string(point) + ".sync")) rc = injected;
        else if (::fsync(fd) != 0) rc = errno;
    }
    ::close(fd);
    if (rc != 0) {
        ::unlink(path.c_str());  // a half-written file of ours helps nobody
        return rc;
    }
    if (const int rc2 = SyncFolder(FolderOf(path), std::string(point) + ".sync-folder")) {
        ::unlink(path.c_str());  // the caller is told it failed: nothing of it may stay
        return rc2;
    }
    return 0;
#endif
}

int RemoveDurably(const std::string& path, std::string_view point) {
    if (const int injected = Failpoint(point)) return injected;
    if (reportonly::Active()) return reportonly::Remove(path);
    std::error_code ec;
    if (!fs::remove(PathFromUtf8(path), ec)) return ec ? ec.value() : ENOENT;
    return SyncFolder(FolderOf(path), std::string(point) + ".sync-folder");
}

int SyncFile(const std::string& path, std::string_view point) {
    if (const int injected = Failpoint(point)) return injected;
    if (reportonly::Active()) return 0;
#ifdef _WIN32
    HANDLE h = CreateFileW(PathFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return EIO;
    const bool ok = FlushFileBuffers(h);
    CloseHandle(h);
    return ok ? 0 : EIO;
#else
    return SyncDescriptorOf(path, O_RDONLY);
#endif
}

int SyncFolder(const std::string& folder, std::string_view point) {
    if (const int injected = Failpoint(point)) return injected;
    if (reportonly::Active()) return 0;
#ifdef _WIN32
    (void)folder;  // NTFS journals its folder entries itself
    return 0;
#else
    return SyncDescriptorOf(folder, O_RDONLY | O_DIRECTORY);
#endif
}

std::string ErrorText(int err) { return std::generic_category().message(err); }

namespace {
std::optional<FileId> DiskIdentityOf(std::string_view path);
}

std::optional<FileId> IdentityOf(std::string_view path) {
    if (path.empty()) return std::nullopt;
    if (const reportonly::Entry e = reportonly::Look(std::string(path)); e.state != reportonly::Entry::State::Disk) {
        if (e.state == reportonly::Entry::State::Absent) return std::nullopt;
        if (e.backing.empty()) return FileId{0, e.id};  // made by the run: no inode on disk
        return DiskIdentityOf(e.backing);
    }
    return DiskIdentityOf(path);
}

namespace {
std::optional<FileId> DiskIdentityOf(std::string_view path) {
#ifdef _WIN32
    HANDLE h = CreateFileW(PathFromUtf8(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok) return std::nullopt;
    return FileId{info.dwVolumeSerialNumber,
                  (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
#else
    struct stat st {};
    const std::string p(path);
    if (::stat(p.c_str(), &st) != 0) return std::nullopt;
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
#endif
}
}  // namespace

bool SameFile(std::string_view a, std::string_view b) {
    const auto x = IdentityOf(a);
    return x && x == IdentityOf(b);
}

EntryKind KindOf(std::string_view path) {
    if (const reportonly::Entry e = reportonly::Look(std::string(path)); e.state != reportonly::Entry::State::Disk)
        return e.state == reportonly::Entry::State::File ? EntryKind::RegularFile : EntryKind::None;
    std::error_code ec;
    switch (fs::symlink_status(PathFromUtf8(path), ec).type()) {
    case fs::file_type::not_found:
    case fs::file_type::none: return EntryKind::None;
    case fs::file_type::regular: return EntryKind::RegularFile;
    case fs::file_type::directory: return EntryKind::Folder;
    case fs::file_type::symlink: return EntryKind::Link;
    default: return EntryKind::Other;
    }
}

bool EntryLiesIn(std::string_view path, std::string_view folder) {
    const fs::path raw = PathFromUtf8(path);
    const fs::path name = raw.filename();
    if (name.empty() || name == "." || name == "..") return false;
    const std::string parent = raw.has_parent_path() ? PathToUtf8(raw.parent_path()) : std::string(".");
    return SameFile(parent, folder);
}

}  // namespace qx
