#pragma once
// The documents of a thorough check's walk that come next, decoded on
// worker threads while the walk goes on. The walk still judges every
// document in its own order: it takes a document's status when it gets
// there, so results, log lines and list rows keep the document order.
#include "support/ImageLoader.h"
#include "support/engine/Connection.h"

#include <cstddef>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

namespace qx {

struct ImagesAhead {
    struct Upcoming {
        long id = 0, databaseId = 0;
        bool graphical = false;
    };
    // What may wait for the workers. Every worker has a few documents
    // queued so that none waits for the walk; the bytes read and not yet
    // decoded stay below a bound whatever the documents' sizes, except
    // that a single document larger than the bound still goes, alone.
    static constexpr std::size_t kDocumentsPerWorker = 4;
    static constexpr std::size_t kBytesAhead = 64u << 20;

    ImagesAhead(std::vector<Upcoming> walk, int workers, std::size_t bytesAhead = kBytesAhead)
        : docs(std::move(walk)),
          pool(workers),
          m_documentsAhead(kDocumentsPerWorker * static_cast<std::size_t>(pool.workers())),
          m_bytesAhead(bytesAhead) {}

    // Reads the bytes of the next graphical documents that lie in the sub
    // database open as `pdb` (the one of the document at `position`), as
    // far as the bounds allow, and hands them to the workers. Documents of
    // other sub databases in between are read when the walk has theirs
    // open, so documents that alternate between files are read ahead too.
    void fill(engine::Connection& pdb, long databaseId);
    // The result for the document at `position`, when it was handed out
    // before; waits for it, asking `goOn` a few times a second whether the
    // walk still wants it (a cancelled walk ends the decodes between pages).
    std::optional<ImageLoad> take(long id, const std::function<bool()>& goOn);

    std::vector<Upcoming> docs;  // in walk order
    std::size_t position = 0;    // the document being checked
    ImageDecodePool pool;

    // For tests: the most bytes read ahead of the walk's own document and
    // not yet decoded at once (counted as they are handed out).
    std::size_t peakBytesHeld() const { return m_peakBytes; }
    // For tests: the documents handed out before the walk was at them.
    std::size_t readAhead() const { return m_readAhead; }

private:
    struct Pending {
        long id = 0;
        std::future<ImageLoad> result;
    };
    void dropPassed();
    std::map<std::size_t, Pending> m_pending;          // by place in the walk
    std::unordered_map<long, std::size_t> m_nextOf;     // per sub database: the first place not yet looked at
    std::size_t m_documentsAhead, m_bytesAhead;
    std::size_t m_peakBytes = 0, m_readAhead = 0;
};

}  // namespace qx
