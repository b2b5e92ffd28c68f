#pragma once
// The sizes of the stored data of every sub database, read on a second
// thread while the check reads and sorts the document rows: on two cores the
// two largest reads of a normal check overlap. A read that fails, or a file
// that changed after it was read, yields nothing, and the check reads the
// file itself as it would without this.
#include "support/Env.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qx {

class SizePrefetch {
public:
    using Rows = std::vector<std::pair<std::int64_t, std::int64_t>>;  // ID, size; by ID
    // `env` outlives the object.
    SizePrefetch(Env& env, std::vector<std::string> paths, std::string passwordBytes);
    ~SizePrefetch();
    SizePrefetch(const SizePrefetch&) = delete;
    SizePrefetch& operator=(const SizePrefetch&) = delete;

    // The rows of the file at `path` (judged by identity), waiting while it
    // is being read; nullopt when it was not asked for, failed or changed.
    std::optional<Rows> take(const std::string& path);

private:
    struct Job {
        std::string path;
        std::optional<FileId> id;
        bool done = false, ok = false;
        std::int64_t size = 0, mtimeNs = 0;
        Rows rows;
    };
    void run();

    Env& m_env;
    std::string m_password;
    std::vector<Job> m_jobs;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace qx
