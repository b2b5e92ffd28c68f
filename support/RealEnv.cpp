// The system's files: the one place where the core calls the platform's file
// functions. Nothing here throws; failures come back as errno values, false,
// 0 or nullopt.
#include "support/Env.h"

#include "support/FileOperations.h"
#include "support/SysInfo.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace qx {

namespace {

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

int WriteAll(int fd, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Opens for writing without waiting on a pipe, and only keeps a regular
// file; `flags` may add O_NOFOLLOW.
int OpenUserFile(const std::string& path, int flags, int& fd) {
    fd = ::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fd = -1;
        return EINVAL;
    }
    return 0;
}
#endif

#ifdef _WIN32
class HandleLock final : public FileLock {
public:
    explicit HandleLock(HANDLE h) : m_handle(h) {}
    ~HandleLock() override {
        if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
    }

private:
    HANDLE m_handle;
};
#else
// The descriptor carries the lock; a lock file is removed before it is let
// go, so that no later process finds it held by nobody.
class DescriptorLock final : public FileLock {
public:
    DescriptorLock(int fd, std::string removeFirst) : m_fd(fd), m_remove(std::move(removeFirst)) {}
    ~DescriptorLock() override {
        if (!m_remove.empty()) ::unlink(m_remove.c_str());
        ::close(m_fd);
    }

private:
    int m_fd;
    std::string m_remove;
};

std::string HolderIn(int fd) {
    char buf[256] = {};
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    std::string who(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    while (!who.empty() && (who.back() == '\n' || who.back() == '\r')) who.pop_back();
    return who;
}

class DescriptorFile final : public UnnamedFile {
public:
    explicit DescriptorFile(int fd) : m_fd(fd) {}
    ~DescriptorFile() override { ::close(m_fd); }
    std::optional<FileId> Identity() override {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0) return std::nullopt;
        return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    }
    int Link(const std::string& path) override {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    }

private:
    int m_fd;
};
#endif

class RealFiles final : public Env {
public:
    EntryKind KindOf(const std::string& path) override {
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

    bool FileExists(const std::string& path) override {
        if (path.empty()) return false;
#ifdef _WIN32
        std::error_code ec;
        return fs::is_regular_file(PathFromUtf8(path), ec);
#else
        // A check asks this for every document: one stat call, no path objects.
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
#endif
    }

    std::optional<FileId> IdentityOf(const std::string& path) override {
        if (path.empty()) return std::nullopt;
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
        if (::stat(path.c_str(), &st) != 0) return std::nullopt;
        return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
#endif
    }

    std::int64_t FileLength(const std::string& path) override {
        std::error_code ec;
        const std::uintmax_t n = fs::file_size(PathFromUtf8(path), ec);
        return ec ? 0 : static_cast<std::int64_t>(n);
    }

    // std::filesystem maps the owner's write permission onto the read-only
    // attribute on Windows, so one code path serves both platforms.
    bool IsReadOnly(const std::string& path) override {
        std::error_code ec;
        const fs::file_status st = fs::status(PathFromUtf8(path), ec);
        if (ec || !fs::exists(st)) return false;
        return (st.permissions() & fs::perms::owner_write) == fs::perms::none;
    }

    std::string Canonical(const std::string& path, std::error_code& ec) override {
        ec.clear();
        return PathToUtf8(fs::canonical(PathFromUtf8(path), ec));
    }

    std::vector<std::string> ListFolder(const std::string& folder, std::error_code& ec) override {
        ec.clear();
        std::vector<std::string> names;
        for (fs::directory_iterator it(PathFromUtf8(folder), ec), end; !ec && it != end; it.increment(ec))
            names.push_back(PathToUtf8(it->path().filename()));
        return names;
    }

    int ReadFile(const std::string& path, std::string& out) override {
        out.clear();
#ifdef _WIN32
        if (KindOf(path) == EntryKind::Link) return ELOOP;
        std::FILE* f = ::_wfopen(PathFromUtf8(path).c_str(), L"rb");
        if (!f) return errno;
        char buf[65536];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
        const bool ok = !std::ferror(f);
        std::fclose(f);
        return ok ? 0 : EIO;
#else
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return errno;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return EINVAL;
        }
        char buf[65536];
        int rc = 0;
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) rc = errno;
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        ::close(fd);
        return rc;
#endif
    }

    std::int64_t FreeSpace(const std::string& folder) override {
        std::error_code ec;
        const fs::space_info info = fs::space(PathFromUtf8(folder), ec);
        if (ec || info.available == static_cast<std::uintmax_t>(-1)) return -1;
        return static_cast<std::int64_t>(info.available);
    }

    std::int64_t ModifiedAt(const std::string& path) override {
#ifdef _WIN32
        std::error_code ec;
        const auto t = fs::last_write_time(PathFromUtf8(path), ec);
        if (ec) return -1;
        return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
#else
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return -1;
        return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#endif
    }

    bool FolderWritable(const std::string& folder) override {
#ifdef _WIN32
        (void)folder;
        return true;  // the engine reports a folder it cannot write to when it tries
#else
        return ::access(folder.empty() ? "." : folder.c_str(), W_OK) == 0;
#endif
    }

    std::string LinkTarget(const std::string& path, std::error_code& ec) override {
        ec.clear();
        const fs::path target = fs::read_symlink(PathFromUtf8(path), ec);
        return ec ? std::string() : PathToUtf8(target);
    }

    std::string Absolute(const std::string& path) override {
        std::error_code ec;
        const fs::path p = PathFromUtf8(path);
        const fs::path abs = fs::absolute(p, ec);
        return PathToUtf8((ec ? p : abs).lexically_normal());
    }

    int AccessError(const std::string& path, bool forWriting) override {
#ifdef _WIN32
        (void)path, (void)forWriting;
        return 0;
#else
        return ::access(path.empty() ? "." : path.c_str(), forWriting ? W_OK : R_OK) == 0 ? 0 : errno;
#endif
    }

    bool OwnedByThisUser(const std::string& path) override {
#ifdef _WIN32
        (void)path;
        return true;
#else
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && st.st_uid == ::geteuid();
#endif
    }

    bool StaysReadOnly(const std::string& path) override {
#ifdef _WIN32
        (void)path;
        return false;
#else
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return false;
        struct statvfs fsInfo {};
        if (::statvfs(path.c_str(), &fsInfo) == 0 && (fsInfo.f_flag & ST_RDONLY)) return true;
        if (!(st.st_mode & S_IWUSR)) return ::geteuid() != 0 && st.st_uid != ::geteuid();
        return ::access(path.c_str(), W_OK) != 0;
#endif
    }

    std::string VolumeRoot(const std::string& path) override {
#ifdef _WIN32
        return DriveRootWindows(path);
#else
        if (path.empty()) return {};
        std::error_code ec;
        fs::path p = fs::absolute(PathFromUtf8(path), ec);
        if (ec) return {};
        // Links count where they lead: that is the volume the data lands on.
        fs::path resolved = fs::weakly_canonical(p, ec);
        p = ec ? p.lexically_normal() : resolved;

        // A file about to be written does not exist yet; its folder decides.
        struct stat st {};
        while (::stat(p.c_str(), &st) != 0) {
            if (!p.has_relative_path()) return {};
            p = p.parent_path();
        }
        if (!S_ISDIR(st.st_mode)) {
            p = p.parent_path();
            if (::stat(p.c_str(), &st) != 0) return {};
        }
        // Climb while the parent is on the same device: the last folder before
        // the device changes is the mount point.
        while (p.has_relative_path()) {
            fs::path parent = p.parent_path();
            struct stat up {};
            if (::stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev) break;
            p = parent;
        }
        std::string root = PathToUtf8(p);
        if (root.empty() || root.back() != '/') root += '/';
        return root;
#endif
    }

#ifdef _WIN32
    std::unique_ptr<FileLock> LockFileExclusively(const std::string& path, const std::string& me, LockOutcome& outcome,
                                                  std::string& holder) override {
        HANDLE h = CreateFileW(PathFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            outcome = GetLastError() == ERROR_SHARING_VIOLATION ? LockOutcome::InUse : LockOutcome::Unavailable;
            holder = outcome == LockOutcome::InUse ? "een ander proces" : "the lock file cannot be created";
            return nullptr;
        }
        DWORD written = 0;
        WriteFile(h, me.data(), static_cast<DWORD>(me.size()), &written, nullptr);
        outcome = LockOutcome::Held;
        return std::make_unique<HandleLock>(h);
    }

    bool LockFileHeld(const std::string& path, std::string& holder) override {
        HANDLE h = CreateFileW(PathFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        holder = "een ander proces";
        return h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    }

    // The engine opens its files with sharing that keeps a second changing
    // program out; the lock file tells of one already there.
    std::unique_ptr<FileLock> LockExisting(const std::string&, bool, LockOutcome& outcome, std::string&) override {
        outcome = LockOutcome::Held;
        return std::make_unique<HandleLock>(INVALID_HANDLE_VALUE);
    }
#else
    // The holder removes the file when it lets go. A process that opened
    // the old file just before that holds a lock on a name that no longer
    // exists, so after locking, the file must still be the one on the name.
    std::unique_ptr<FileLock> LockFileExclusively(const std::string& path, const std::string& me, LockOutcome& outcome,
                                                  std::string& holder) override {
        for (int attempt = 0; attempt < 20; ++attempt) {
            int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
            if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            if (fd < 0) {
                outcome = LockOutcome::Unavailable;
                holder = ErrorText(errno);
                return nullptr;
            }
            struct stat opened {};
            if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
                ::close(fd);
                outcome = LockOutcome::Unavailable;
                holder = "'" + path + "' is not a regular file";
                return nullptr;
            }
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                const int err = errno;
                const std::string who = HolderIn(fd);
                ::close(fd);
                if (err != EWOULDBLOCK) {
                    outcome = LockOutcome::Unavailable;
                    holder = ErrorText(err);
                    return nullptr;
                }
                outcome = LockOutcome::InUse;
                holder = who.empty() ? std::string("een ander proces") : who;
                return nullptr;
            }
            struct stat named {};
            if (::stat(path.c_str(), &named) != 0 || named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) {
                ::close(fd);
                continue;
            }
            if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, me.data(), me.size(), 0);
            outcome = LockOutcome::Held;
            return std::make_unique<DescriptorLock>(fd, path);
        }
        outcome = LockOutcome::Unavailable;
        holder = "the lock file keeps changing";
        return nullptr;
    }

    bool LockFileHeld(const std::string& path, std::string& holder) override {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) return false;
        bool held = false;
        if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
            held = errno == EWOULDBLOCK;
            holder = HolderIn(fd);
            if (holder.empty()) holder = "een ander proces";
        }
        ::close(fd);  // also lets go of the shared lock
        return held;
    }

    std::unique_ptr<FileLock> LockExisting(const std::string& path, bool exclusive, LockOutcome& outcome,
                                           std::string& holder) override {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) {
            outcome = LockOutcome::Unavailable;
            holder = ErrorText(errno);
            return nullptr;
        }
        // Another error (a file system without these locks) leaves the run
        // unguarded, as it always was there.
        if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd);
            outcome = LockOutcome::InUse;
            holder = "een ander proces";
            return nullptr;
        }
        outcome = LockOutcome::Held;
        return std::make_unique<DescriptorLock>(fd, std::string());
    }
#endif

    int CreateUnnamedFile(const std::string& folder, std::unique_ptr<UnnamedFile>& out) override {
#if defined(O_TMPFILE) && !defined(_WIN32)
        const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
        if (fd < 0) return errno;
        out = std::make_unique<DescriptorFile>(fd);
        return 0;
#else
        (void)folder, (void)out;
        return EOPNOTSUPP;
#endif
    }

    int Step(std::string_view) override { return 0; }

    int RenameEntry(const std::string& from, const std::string& to) override {
#ifdef _WIN32
        if (!MoveFileExW(PathFromUtf8(from).c_str(), PathFromUtf8(to).c_str(), MOVEFILE_WRITE_THROUGH))
            return GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EIO;
        return 0;
#else
        return RenameWithoutReplacing(from.c_str(), to.c_str());
#endif
    }

    int WriteNewEntry(const std::string& path, std::string_view bytes) override {
#ifdef _WIN32
        HANDLE h = CreateFileW(PathFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
        if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EIO;
        DWORD written = 0;
        const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                        written == bytes.size();
        CloseHandle(h);
        if (!ok) DeleteFileW(PathFromUtf8(path).c_str());
        return ok ? 0 : EIO;
#else
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) return errno;
        int rc = WriteAll(fd, bytes);
        if (::close(fd) != 0 && rc == 0) rc = errno;
        if (rc != 0) ::unlink(path.c_str());  // a half-written file of ours helps nobody
        return rc;
#endif
    }

    int RemoveEntry(const std::string& path) override {
        std::error_code ec;
        if (!fs::remove(PathFromUtf8(path), ec)) return ec ? ec.value() : ENOENT;
        return 0;
    }

    int FlushFile(const std::string& path) override {
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

    int FlushFolder(const std::string& folder) override {
#ifdef _WIN32
        (void)folder;  // NTFS journals its folder entries itself
        return 0;
#else
        return SyncDescriptorOf(folder, O_RDONLY | O_DIRECTORY);
#endif
    }

    int ChangeReadOnly(const std::string& path, bool readOnly) override {
        if (path.empty()) return ENOENT;
        std::error_code ec;
        const fs::path p = PathFromUtf8(path);
        const fs::file_status st = fs::status(p, ec);
        if (ec) return ec.value();
        if (!fs::exists(st)) return ENOENT;
        const bool isReadOnly = (st.permissions() & fs::perms::owner_write) == fs::perms::none;
        if (readOnly == isReadOnly) return 0;
        fs::permissions(p, fs::perms::owner_write, readOnly ? fs::perm_options::remove : fs::perm_options::add, ec);
        return ec ? ec.value() : 0;
    }

    int AppendToFile(const std::string& path, std::string_view bytes) override {
#ifdef _WIN32
        switch (KindOf(path)) {
        case EntryKind::None:
        case EntryKind::RegularFile: break;
        case EntryKind::Link: return ELOOP;
        default: return EINVAL;
        }
        std::FILE* f = ::_wfopen(PathFromUtf8(path).c_str(), L"ab");
        if (!f) return errno;
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        return std::fclose(f) == 0 && ok ? 0 : EIO;
#else
        int fd = -1;
        if (const int rc = OpenUserFile(path, O_APPEND | O_NOFOLLOW, fd)) return rc;
        int rc = WriteAll(fd, bytes);
        if (::close(fd) != 0 && rc == 0) rc = errno;
        return rc;
#endif
    }

    int WriteNewFile(const std::string& path, std::string_view bytes) override {
#ifdef _WIN32
        std::FILE* f = ::_wfopen(PathFromUtf8(path).c_str(), L"wb");
        if (!f) return errno;
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        return std::fclose(f) == 0 && ok ? 0 : EIO;
#else
        int fd = -1;
        if (const int rc = OpenUserFile(path, 0, fd)) return rc;
        // Emptied only once it is known to be a regular file of ours.
        int rc = ::ftruncate(fd, 0) == 0 ? 0 : errno;
        if (rc == 0) rc = WriteAll(fd, bytes);
        if (::close(fd) != 0 && rc == 0) rc = errno;
        return rc;
#endif
    }

    bool ReportOnly() const override { return false; }
};

}  // namespace

// The running program's folder, asked of the system once.
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

Env& RealEnv() {
    static RealFiles env;
    return env;
}

}  // namespace qx
