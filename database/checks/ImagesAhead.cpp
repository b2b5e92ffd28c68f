#include "database/checks/ImagesAhead.h"

#include <algorithm>
#include <chrono>

namespace qx {

void ImagesAhead::dropPassed() {
    // A document the walk passed without loading it (no data, a sub
    // database that did not open) is not waited for; its decode, if still
    // under way, ends unheard.
    while (!m_pending.empty() && m_pending.begin()->first < position) m_pending.erase(m_pending.begin());
}

void ImagesAhead::fill(engine::Connection& pdb, long databaseId) {
    dropPassed();
    // The documents a little ahead of the walk, nearest first: a later
    // document waiting in the queue would hold up one the walk needs
    // sooner. Those of another sub database in this stretch are read when
    // the walk has theirs open.
    const std::size_t end = std::min(docs.size(), position + m_documentsAhead);
    std::size_t& at = m_nextOf[databaseId];
    at = std::max(at, position);
    for (; at < end; ++at) {
        const Upcoming& u = docs[at];
        if (u.databaseId != databaseId || !u.graphical || m_pending.count(at)) continue;
        // The walk reads the document it is at in any case: it goes to the
        // workers whatever waits there already.
        const bool current = at == position;
        sql::Statement* length = pdb.prepared("SELECT length(PICTURE) FROM PICTURES WHERE ID = ?");
        sql::Statement* read = pdb.prepared("SELECT PICTURE FROM PICTURES WHERE ID = ?");
        if (!length || !read) return;
        // Whatever does not read here is read again, and judged, by the walk.
        length->bind(1, static_cast<std::int64_t>(u.id));
        const bool sized = length->step() == sql::Step::Row;
        const std::int64_t size = sized ? length->getInt64(0) : 0;
        length->reset();
        if (size <= 0) continue;
        const std::size_t held = pool.bytesHeld();
        if (!current && held > 0 && held + static_cast<std::size_t>(size) > m_bytesAhead) return;
        read->bind(1, static_cast<std::int64_t>(u.id));
        if (read->step() == sql::Step::Row && read->columnBytes(0) > 0) {
            m_pending.emplace(at, Pending{u.id, pool.submit(read->getBlob(0))});
            if (!current) {
                m_peakBytes = std::max(m_peakBytes, held + static_cast<std::size_t>(size));
                ++m_readAhead;
            }
        }
        read->reset();
    }
}

std::optional<ImageLoad> ImagesAhead::take(long id, const std::function<bool()>& goOn) {
    dropPassed();
    auto it = m_pending.find(position);
    if (it == m_pending.end() || it->second.id != id) return std::nullopt;
    std::future<ImageLoad> result = std::move(it->second.result);
    m_pending.erase(it);
    while (result.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (!goOn()) pool.cancel();
    }
    return result.get();
}

}  // namespace qx
