#pragma once
// Copies one database file into a fresh, compact file on a thread the object
// owns, while the caller polls State().
//
// The copy reads the source in one transaction, so it is consistent, into a
// new file attached to the source's connection with the same key and page
// size. The new file gets the source's tables and indexes (their stored
// statements, aimed at the new file), then the rows. Values over 1 MiB are
// never held whole: their row is written with a zero-filled value of the
// right length, then filled in pieces through blob handles, so memory stays
// flat up to documents of a gigabyte. Tables without such values are copied
// with one INSERT ... SELECT, which copies records and index entries as they
// are. Views and triggers come last, so the copy fires no trigger;
// user_version and sqlite_sequence are carried over by hand.
// An empty password means a plain file (the OCR database), copied the same way
// with an empty key and the source's page size. The destination is synced by
// the engine when the copy commits; when anything fails it is removed, so
// the caller finds a destination only when the copy is whole and durable.
//
// The destination may already exist as an empty file: the program creates it
// first, so that a crash during the copy leaves a file it can recognise.
//
// Every file of the copy is opened, created, written, synced and removed
// through the Env the object is given, so its layers (report-only, fault
// injection, power loss) see the copy as they see the rest of a session.
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <string_view>

namespace qx {
class Env;
}

namespace qx::sql {

class Compactor {
public:
    // State(): kRunning while a copy runs, then kDone or the reason it failed.
    // The values are those the string library's GetThreadState reports.
    enum Result : std::int32_t {
        kRunning = -1,
        kDone = 0,
        kFailedOpen = 1,
        kFailedKey = 2,
        kFailedExport = 3,
        kFailedSync = 4,
        kNoThread = 5,
        kBadArguments = 6,
    };

    // Receives English lines (UTF-8) about each copy, from the copying thread.
    using LogSink = std::function<void(const std::string& line)>;

    // `env` outlives the object.
    explicit Compactor(Env& env, LogSink log = {});
    // Waits for a copy that still runs: it uses the files and this object.
    ~Compactor();
    Compactor(const Compactor&) = delete;
    Compactor& operator=(const Compactor&) = delete;

    // Lines from now on go to `log` (empty: nowhere).
    void SetLog(LogSink log);

    // Starts copying `source` into `destination`; returns at once. False when
    // nothing was started: a copy still runs (its state stays), or the
    // arguments are unusable (the state becomes kBadArguments).
    bool Start(const std::string& source, const std::string& destination, std::string_view passwordBytes);
    // The same, leaving out the rows of `table` (its definition is kept): for a
    // file whose rows of that table all live elsewhere now, which saves
    // reading every one of its pages.
    bool StartEmptying(const std::string& source, const std::string& destination, std::string_view passwordBytes,
                       const std::string& table);

    std::int32_t State();
    // Blocks until no copy runs; the state then.
    std::int32_t Wait();
    // Blocks until no copy runs or `most` has passed; the state then. A
    // caller that looks in between learns of the end at once.
    std::int32_t WaitFor(std::chrono::milliseconds most);

private:
    bool Begin(const std::string& source, const std::string& destination, std::string_view passwordBytes,
               const std::string& leaveOut, bool emptying);
    std::int32_t Run(const std::string& source, const std::string& destination, const std::string& passwordBytes,
                     const std::string& leaveOut);
    void Log(const std::string& line);
    // Under m_lock: takes the result of a copy that has ended.
    bool RunningLocked();

    Env& m_env;
    std::mutex m_lock;
    LogSink m_log;
    std::shared_future<std::int32_t> m_work;
    std::int32_t m_state = kDone;
};

}  // namespace qx::sql
