#pragma once
// A model of the pages a sub database's table takes, the way the engine lays
// rows out: a cell on a leaf, the rest of a big value on overflow pages,
// leaves filled one after another when rows come in ID order, freed pages
// used again before the file grows. The reorganize plan asks it where the run
// asks a destination its length; tests/core/test_reorganize.cpp checks it
// against real files.
#include <algorithm>
#include <cstdint>

namespace qx::plan {

inline int VarintLength(std::uint64_t v) {
    int n = 1;
    while (v > 0x7f && n < 9) {
        v >>= 7;
        ++n;
    }
    return n;
}

// What one row of PICTURES (ID as the row key, path Null, the value) takes.
struct Cell {
    std::int64_t onLeaf = 0;    // the cell and its pointer
    std::int64_t overflow = 0;  // whole pages of the value that do not fit on the leaf
};

inline Cell CellOf(long id, std::int64_t length, int usable) {
    const std::uint64_t type = 2 * static_cast<std::uint64_t>(length) + 12;
    const std::int64_t header = 3 + VarintLength(type);  // its own size, ID, path, the value's type
    const std::int64_t payload = header + length;
    const std::int64_t maxLocal = usable - 35;
    const std::int64_t minLocal = (usable - 12) * 32 / 255 - 23;
    std::int64_t local = payload;
    Cell c;
    if (payload > maxLocal) {
        const std::int64_t k = minLocal + (payload - minLocal) % (usable - 4);
        local = k <= maxLocal ? k : minLocal;
        c.overflow = (payload - local + usable - 5) / (usable - 4);
    }
    std::int64_t cell = VarintLength(static_cast<std::uint64_t>(payload)) + VarintLength(static_cast<std::uint64_t>(id)) +
                        local + (c.overflow ? 4 : 0);
    c.onLeaf = std::max<std::int64_t>(cell, 4) + 2;
    return c;
}

// The pages of one sub database as rows come and go.
class Tree {
public:
    Tree(int pageSize, int reserved) : m_usable(pageSize - reserved) {}

    void add(long id, std::int64_t length) {
        const Cell c = CellOf(id, length, m_usable);
        if (m_hole >= c.onLeaf) {
            m_hole -= c.onLeaf;  // where a deleted row was
        } else if (m_leafUsed + c.onLeaf > m_usable - 8) {
            ++m_leaves;
            m_leafUsed = c.onLeaf;
        } else {
            m_leafUsed += c.onLeaf;
        }
        const std::int64_t reused = std::min(m_free, c.overflow);
        m_free -= reused;
        m_overflow += c.overflow;
    }
    void remove(long id, std::int64_t length) {
        const Cell c = CellOf(id, length, m_usable);
        m_hole += c.onLeaf;
        m_overflow -= c.overflow;
        m_free += c.overflow;  // on the free list: the file keeps them
    }
    // Page 1 (the schema), the sequence table, the table's tree, free pages.
    std::int64_t pages() const { return 2 + m_leaves + interior() + m_overflow + m_free; }

private:
    std::int64_t interior() const {
        // A divider: the child's page number, the key, its pointer.
        const std::int64_t fanout = (m_usable - 12) / (4 + 4 + 2) + 1;
        std::int64_t total = 0;
        for (std::int64_t n = m_leaves; n > 1;) {
            n = (n + fanout - 1) / fanout;
            total += n;
        }
        return total;
    }

    std::int64_t m_usable;
    std::int64_t m_leaves = 1, m_leafUsed = 0, m_hole = 0, m_overflow = 0, m_free = 0;
};

}  // namespace qx::plan
