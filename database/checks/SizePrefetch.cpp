#include "database/checks/SizePrefetch.h"

#include "support/engine/NoBusyWait.h"
#include "support/engine/Sql.h"


namespace qx {

namespace {

// Size and modification time: a commit by anyone after the read changes them.
bool Stamp(Env& env, const std::string& path, std::int64_t& size, std::int64_t& mtimeNs) {
    mtimeNs = env.ModifiedAt(path);
    if (mtimeNs < 0) return false;
    size = env.FileLength(path);
    return true;
}

}  // namespace

SizePrefetch::SizePrefetch(Env& env, std::vector<std::string> paths, std::string passwordBytes)
    : m_env(env), m_password(std::move(passwordBytes)) {
    for (std::string& p : paths) {
        Job job;
        job.id = m_env.IdentityOf(p);
        job.path = std::move(p);
        if (job.id) m_jobs.push_back(std::move(job));
    }
    if (!m_jobs.empty()) m_thread = std::thread([this] { run(); });
}

SizePrefetch::~SizePrefetch() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    if (m_thread.joinable()) m_thread.join();
}

void SizePrefetch::run() {
    for (std::size_t i = 0; i < m_jobs.size(); ++i) {
        std::string path;
        {
            std::lock_guard lock(m_mutex);
            if (m_stop) break;
            path = m_jobs[i].path;
        }
        Rows rows;
        std::int64_t size0 = 0, mtime0 = 0, size1 = -1, mtime1 = -1;
        bool ok = Stamp(m_env, path, size0, mtime0);
        if (ok) {
            sql::Error err;
            // A locked file is the check's to report, after its one wait;
            // waiting here as well would hold the check up a second time.
            const sql::NoBusyWaitHere noWait;
            sql::Database db = sql::Database::open(m_env, path, m_password, sql::OpenMode::ReadOnly, err);
            sql::Statement st(db, "SELECT ID, length(PICTURE) FROM PICTURES ORDER BY ID");
            sql::Step s = sql::Step::Failed;
            while (st.ok() && (s = st.step()) == sql::Step::Row)
                rows.emplace_back(st.getInt64(0), st.isNull(1) ? 0 : st.getInt64(1));
            ok = db.isOpen() && st.ok() && s == sql::Step::Done && Stamp(m_env, path, size1, mtime1) && size0 == size1 &&
                 mtime0 == mtime1;
        }
        std::lock_guard lock(m_mutex);
        Job& job = m_jobs[i];
        job.done = true;
        job.ok = ok;
        job.size = size1;
        job.mtimeNs = mtime1;
        if (ok) job.rows = std::move(rows);
        m_changed.notify_all();
    }
    std::lock_guard lock(m_mutex);
    for (Job& job : m_jobs) job.done = true;  // stopped: whoever waits stops waiting
    m_changed.notify_all();
}

std::optional<SizePrefetch::Rows> SizePrefetch::take(const std::string& path) {
    const std::optional<FileId> id = m_env.IdentityOf(path);
    if (!id) return std::nullopt;
    std::unique_lock lock(m_mutex);
    for (Job& job : m_jobs) {
        if (job.id != id) continue;
        m_changed.wait(lock, [&] { return job.done; });
        if (!job.ok) return std::nullopt;
        job.ok = false;  // handed out once
        std::int64_t size = 0, mtime = 0;
        if (!Stamp(m_env, job.path, size, mtime) || size != job.size || mtime != job.mtimeNs) return std::nullopt;
        return std::move(job.rows);
    }
    return std::nullopt;
}

}  // namespace qx
