#pragma once
// How much one batch of Reorganize takes, shared by the run and its plan so
// that both end a batch at the same row.
#include <cstddef>
#include <cstdint>

namespace qx::reorganize {

// Rows per batch of the two commits: few enough that a batch stays small in
// the journal, many enough that the fsyncs do not dominate.
constexpr std::size_t kBatchRows = 256;
// Small documents fill a batch up to this many bytes (and at most
// kMaxBatchRows rows) instead: 256 rows of 1 KB would spend the move on the
// commits' fsyncs. A batch holds only its rows' IDs in memory.
constexpr std::int64_t kBatchBytes = 64 << 20;
constexpr std::size_t kMaxBatchRows = 65536;

// Whether a batch that holds `rows` rows of `bytes` bytes takes another row.
constexpr bool BatchTakesMore(std::size_t rows, std::int64_t bytes) {
    return rows < kBatchRows || (bytes < kBatchBytes && rows < kMaxBatchRows);
}

}  // namespace qx::reorganize
