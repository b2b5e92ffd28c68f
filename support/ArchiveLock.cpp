#include "support/ArchiveLock.h"

#include <QCoreApplication>
#include <QString>
#include <QSysInfo>

namespace qx {

namespace {

std::string Describe() {
    return "proces " + std::to_string(QCoreApplication::applicationPid()) + " op " +
           QSysInfo::machineHostName().toStdString();
}

}  // namespace

std::unique_ptr<ArchiveLock> ArchiveLock::Acquire(Env& env, const std::string& lockPath, Outcome& outcome,
                                                  std::string& holder) {
    std::unique_ptr<FileLock> lock = env.LockFileExclusively(lockPath, Describe() + "\n", outcome, holder);
    if (!lock) return nullptr;
    return std::unique_ptr<ArchiveLock>(new ArchiveLock(env, lockPath, std::move(lock)));
}

bool ArchiveLock::HeldElsewhere(Env& env, const std::string& lockPath, std::string& holder) {
    return env.LockFileHeld(lockPath, holder);
}

std::unique_ptr<ArchiveLock> ArchiveLock::Share(Env& env, const std::string& mainPath, const std::string& lockPath,
                                                Outcome& outcome, std::string& holder) {
    if (HeldElsewhere(env, lockPath, holder)) {
        outcome = Outcome::InUse;
        return nullptr;
    }
    std::unique_ptr<FileLock> lock = env.LockExisting(mainPath, false, outcome, holder);
    if (!lock) return nullptr;
    return std::unique_ptr<ArchiveLock>(new ArchiveLock(env, std::string(), std::move(lock)));
}

bool ArchiveLock::HoldMainFile(const std::string& mainPath, std::string& holder) {
    if (m_mainLock) return true;
    Outcome outcome = Outcome::Held;
    std::string why;
    m_mainLock = m_env.LockExisting(mainPath, true, outcome, why);
    // A file that cannot be opened is named by the open that follows.
    if (outcome != Outcome::InUse) return true;
    holder = "een ander proces, dat alleen rapporteert";
    return false;
}

ArchiveLock::~ArchiveLock() { m_mainLock.reset(); }

}  // namespace qx
