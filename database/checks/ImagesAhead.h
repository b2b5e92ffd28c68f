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
#include <optional>
#include <unordered_map>
#include <vector>

namespace qx {

struct ImagesAhead {
    struct Upcoming {
        long id = 0, databaseId = 0;
        bool graphical = false;
    };
    explicit ImagesAhead(std::vector<Upcoming> walk, int threads) : docs(std::move(walk)), pool(threads) {}

    // Reads the bytes of the next graphical documents stored in the same
    // sub database as the one at `position` (open as `pdb`) and hands them
    // to the workers.
    void fill(engine::Connection& pdb, long databaseId);
    // The result of a document handed out before; waits for it, asking
    // `goOn` a few times a second whether the walk still wants it (a
    // cancelled walk ends the decodes between pages).
    std::optional<ImageLoad> take(long id, const std::function<bool()>& goOn);

    std::vector<Upcoming> docs;   // in walk order
    std::size_t position = 0;     // the document being checked
    std::size_t next = 0;         // the first not yet looked at
    std::unordered_map<long, std::future<ImageLoad>> pending;
    ImageDecodePool pool;
    static constexpr std::size_t kAhead = 8;
};

}  // namespace qx
