#pragma once
// One Quillex at a time per archive. The lock is an advisory lock on a small
// file beside the main database; the kernel drops it when the process ends,
// however it ends, so a crash never leaves a stale lock behind. The file
// tells a second process who holds it.
#include <cstdint>
#include <memory>
#include <string>

namespace qx {

class ArchiveLock {
public:
    enum class Outcome {
        Held,        // this process holds the lock
        InUse,       // another process holds it; `holder` says which
        Unavailable  // the lock file cannot be made (read-only folder); `holder` says why
    };

    // Takes the lock on `lockPath` without waiting.
    static std::unique_ptr<ArchiveLock> Acquire(const std::string& lockPath, Outcome& outcome, std::string& holder);
    // Whether another process holds the lock now; nothing is created or kept.
    static bool HeldElsewhere(const std::string& lockPath, std::string& holder);
    ~ArchiveLock();  // removes the file, then lets go
    ArchiveLock(const ArchiveLock&) = delete;
    ArchiveLock& operator=(const ArchiveLock&) = delete;

    const std::string& path() const { return m_path; }

private:
    ArchiveLock(std::string path, std::intptr_t handle) : m_path(std::move(path)), m_handle(handle) {}
    std::string m_path;
    std::intptr_t m_handle;
};

}  // namespace qx
