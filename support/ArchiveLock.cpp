#include "support/ArchiveLock.h"

#include "support/DurableFiles.h"
#include "support/FileOperations.h"

#include <QString>
#include <QSysInfo>

#include <cerrno>
#include <cstdint>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qx {

namespace {

std::string Describe() {
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(::getpid());
#endif
    return "proces " + std::to_string(pid) + " op " + QSysInfo::machineHostName().toStdString();
}

}  // namespace

#ifdef _WIN32

std::unique_ptr<ArchiveLock> ArchiveLock::Acquire(const std::string& lockPath, Outcome& outcome, std::string& holder) {
    HANDLE h = CreateFileW(PathFromUtf8(lockPath).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        outcome = GetLastError() == ERROR_SHARING_VIOLATION ? Outcome::InUse : Outcome::Unavailable;
        holder = outcome == Outcome::InUse ? "een ander proces" : "the lock file cannot be created";
        return nullptr;
    }
    const std::string me = Describe() + "\n";
    DWORD written = 0;
    WriteFile(h, me.data(), static_cast<DWORD>(me.size()), &written, nullptr);
    outcome = Outcome::Held;
    return std::unique_ptr<ArchiveLock>(new ArchiveLock(lockPath, reinterpret_cast<std::intptr_t>(h)));
}

bool ArchiveLock::HeldElsewhere(const std::string& lockPath, std::string& holder) {
    HANDLE h = CreateFileW(PathFromUtf8(lockPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    holder = "een ander proces";
    return h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
}

std::unique_ptr<ArchiveLock> ArchiveLock::Share(const std::string&, const std::string& lockPath, Outcome& outcome,
                                                std::string& holder) {
    // The engine opens the main file with sharing that keeps a second
    // changing program out; the lock file tells of one already there.
    outcome = HeldElsewhere(lockPath, holder) ? Outcome::InUse : Outcome::Held;
    if (outcome == Outcome::InUse) return nullptr;
    return std::unique_ptr<ArchiveLock>(new ArchiveLock(std::string(), reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)));
}

bool ArchiveLock::HoldMainFile(const std::string&, std::string&) { return true; }

ArchiveLock::~ArchiveLock() {
    if (reinterpret_cast<HANDLE>(m_handle) != INVALID_HANDLE_VALUE) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

#else

std::unique_ptr<ArchiveLock> ArchiveLock::Acquire(const std::string& lockPath, Outcome& outcome, std::string& holder) {
    // The holder removes the file when it lets go. A process that opened
    // the old file just before that holds a lock on a name that no longer
    // exists, so after locking, the file must still be the one on the name.
    for (int attempt = 0; attempt < 20; ++attempt) {
        int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0 && errno == EACCES) fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            outcome = Outcome::Unavailable;
            holder = ErrorText(errno);
            return nullptr;
        }
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            outcome = Outcome::Unavailable;
            holder = "'" + lockPath + "' is not a regular file";
            return nullptr;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            char buf[256] = {};
            const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
            ::close(fd);
            if (err != EWOULDBLOCK) {
                outcome = Outcome::Unavailable;
                holder = ErrorText(err);
                return nullptr;
            }
            std::string who(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
            while (!who.empty() && (who.back() == '\n' || who.back() == '\r')) who.pop_back();
            outcome = Outcome::InUse;
            holder = who.empty() ? std::string("een ander proces") : who;
            return nullptr;
        }
        struct stat named {};
        if (::stat(lockPath.c_str(), &named) != 0 || named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) {
            ::close(fd);
            continue;
        }
        const std::string me = Describe() + "\n";
        if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, me.data(), me.size(), 0);
        outcome = Outcome::Held;
        return std::unique_ptr<ArchiveLock>(new ArchiveLock(lockPath, fd));
    }
    outcome = Outcome::Unavailable;
    holder = "the lock file keeps changing";
    return nullptr;
}

bool ArchiveLock::HeldElsewhere(const std::string& lockPath, std::string& holder) {
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    bool held = false;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        held = errno == EWOULDBLOCK;
        char buf[256] = {};
        const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
        holder.assign(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
        if (holder.empty()) holder = "een ander proces";
    }
    ::close(fd);  // also lets go of the shared lock
    return held;
}

std::unique_ptr<ArchiveLock> ArchiveLock::Share(const std::string& mainPath, const std::string& lockPath,
                                                Outcome& outcome, std::string& holder) {
    if (HeldElsewhere(lockPath, holder)) {
        outcome = Outcome::InUse;
        return nullptr;
    }
    const int fd = ::open(mainPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        outcome = Outcome::Unavailable;
        holder = ErrorText(errno);
        return nullptr;
    }
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        outcome = Outcome::InUse;
        holder = "een ander proces";
        return nullptr;
    }
    // Another error (a file system without these locks) leaves the run
    // unguarded, as it always was there; it changes nothing on disk anyway.
    outcome = Outcome::Held;
    return std::unique_ptr<ArchiveLock>(new ArchiveLock(std::string(), fd));
}

bool ArchiveLock::HoldMainFile(const std::string& mainPath, std::string& holder) {
    if (m_mainHandle >= 0) return true;
    const int fd = ::open(mainPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return true;  // the open that follows names what is wrong with the file
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err != EWOULDBLOCK) return true;
        holder = "een ander proces, dat alleen rapporteert";
        return false;
    }
    m_mainHandle = fd;
    return true;
}

ArchiveLock::~ArchiveLock() {
    if (m_mainHandle >= 0) ::close(static_cast<int>(m_mainHandle));
    if (!m_path.empty()) ::unlink(m_path.c_str());
    ::close(static_cast<int>(m_handle));
}

#endif

}  // namespace qx
