#pragma once
// One Quillex at a time per archive. The lock is an advisory lock on a small
// file beside the main database; the kernel drops it when the process ends,
// however it ends, so a crash never leaves a stale lock behind. The file
// tells a second process who holds it.
//
// A report-only run may not create that file (its folder may be read-only),
// so it holds a shared advisory lock on the main database file itself, which
// needs no write permission; a changing run holds the same lock exclusively
// beside its lock file. Either run therefore sees the other, whoever owns
// the folder. The engine's own locks on the file are of another kind and
// never meet these.
#include "support/Env.h"

#include <memory>
#include <string>

namespace qx {

class ArchiveLock {
public:
    using Outcome = LockOutcome;

    // Takes the lock on `lockPath` without waiting.
    static std::unique_ptr<ArchiveLock> Acquire(Env& env, const std::string& lockPath, Outcome& outcome,
                                                std::string& holder);
    // The report-only run's lock: shared on the main database `mainPath`,
    // refused (InUse) while a changing run holds that file or `lockPath`.
    // Unavailable when the main file cannot be opened for reading.
    static std::unique_ptr<ArchiveLock> Share(Env& env, const std::string& mainPath, const std::string& lockPath,
                                              Outcome& outcome, std::string& holder);
    // For a lock taken with Acquire: the main database held exclusively
    // too. False, with `holder` saying who, while a report-only run holds it.
    bool HoldMainFile(const std::string& mainPath, std::string& holder);
    // Whether another process holds the lock now; nothing is created or kept.
    static bool HeldElsewhere(Env& env, const std::string& lockPath, std::string& holder);
    ~ArchiveLock();  // removes the file, then lets go
    ArchiveLock(const ArchiveLock&) = delete;
    ArchiveLock& operator=(const ArchiveLock&) = delete;

    const std::string& path() const { return m_path; }

private:
    ArchiveLock(Env& env, std::string path, std::unique_ptr<FileLock> lock)
        : m_env(env), m_path(std::move(path)), m_lock(std::move(lock)) {}
    Env& m_env;
    std::string m_path;                  // the lock file; "" for a report-only run's lock
    std::unique_ptr<FileLock> m_lock;    // the lock file's, or the main file's for a report-only run
    std::unique_ptr<FileLock> m_mainLock;  // the main file held exclusively by a changing run; let go first
};

}  // namespace qx
