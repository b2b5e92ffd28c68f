#pragma once
// Connections opened on this thread while a NoBusyWaitHere lives do not wait
// for another connection's lock: opening (which reads the file to prove the
// key) and every statement fail as busy at once. For readers that only look
// ahead or ask whether a file is held: the wait belongs to the one open
// that reports the file.

namespace qx::sql {

class NoBusyWaitHere {
public:
    NoBusyWaitHere();
    ~NoBusyWaitHere();
    NoBusyWaitHere(const NoBusyWaitHere&) = delete;
    NoBusyWaitHere& operator=(const NoBusyWaitHere&) = delete;

private:
    bool m_saved;
};

}  // namespace qx::sql
