#pragma once
// Loading a stored document as an image, without a display: the same code
// for the desktop window, the command line and the tests. Every page of a
// multi-page file is decoded, in order, once. A decoder that has to warn (a
// truncated JPEG is filled with grey, a damaged TIFF strip is skipped) gives
// a picture that is not the document, so a warning makes the load fail as
// well; so does a file that ends before its format says it does, and an
// image whose decoding would take more memory than kImageMemoryLimitMB.
// Whatever a decoder says goes into the result, never to the terminal.
#include <QImage>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qx {

// The load status of a document, as the check reads it.
inline constexpr int kImageLoaded = 0;
inline constexpr int kImageNotLoaded = 1024;
// The decode was stopped before it reached a verdict.
inline constexpr int kImageCancelled = -1;

// The memory one image may take while it is decoded: its pixels (4 bytes
// each, 1 bit for a black-and-white page) and, for a progressive JPEG, the
// decoder's coefficients. A file that declares more is a finding: a few
// kilobytes must never claim gigabytes.
inline constexpr std::int64_t kImageMemoryLimitMB = 256;

struct ImageLoad {
    int status = kImageNotLoaded;
    int pages = 0;       // pages (frames) decoded
    QImage first;        // the first page, for a preview; null when not asked for or not loaded
    std::string why;     // the decoder's error or first warning; "" when loaded
};

// Safe to call from several threads at once. `keepFirst`: keep the first
// page for a preview (costs its memory until the result goes). `stop`, when
// given and set by another thread, ends the decode between pages with
// kImageCancelled.
ImageLoad LoadDocumentImage(std::span<const std::uint8_t> data, bool keepFirst = false,
                            const std::atomic<bool>* stop = nullptr);

// The status alone.
inline int LoadImageStatus(std::span<const std::uint8_t> data) { return LoadDocumentImage(data).status; }

// Why the last load on this thread failed ("" after one that succeeded):
// for callers that only get the status back through an interface.
const std::string& LastImageLoadProblem();

// The cores this process may run on: its affinity mask, and the CPU quota
// of its control group (a container given two of a machine's 64 cores is
// given two), at least 1.
int AvailableCores();
// The cores a control group's quota grants: cgroup v2's cpu.max ("max
// 100000", "150000 100000") or v1's cfs quota and period (-1: none), rounded
// up; nothing when there is no quota.
std::optional<int> CoresOfCpuMax(std::string_view cpuMax);
std::optional<int> CoresOfCfsQuota(long long quotaMicroseconds, long long periodMicroseconds);
// The decoders a thorough check runs: QUILLEX_DECODE_WORKERS when it holds a
// number from 1 to 256, else AvailableCores().
int DecodeWorkers();

// Decodes documents on worker threads, for a walk that goes on reading
// while earlier documents are decoded. Each submitted document's result
// arrives through its future; what is still queued when the pool goes is
// dropped (its future then reports a broken promise), and a decode under
// way ends at its next page.
class ImageDecodePool {
public:
    explicit ImageDecodePool(int threads);
    ~ImageDecodePool();
    ImageDecodePool(const ImageDecodePool&) = delete;
    ImageDecodePool& operator=(const ImageDecodePool&) = delete;
    std::future<ImageLoad> submit(std::vector<std::uint8_t> data);
    // Ends the decodes under way and every later one with kImageCancelled.
    void cancel() { m_cancel = true; }
    int workers() const { return static_cast<int>(m_threads.size()); }
    // The bytes of the documents submitted whose decode has not ended: a
    // document's bytes are let go as soon as it is decoded.
    std::size_t bytesHeld() const { return m_bytesHeld; }

private:
    struct Job {
        std::vector<std::uint8_t> data;
        std::promise<ImageLoad> result;
    };
    void work();
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    bool m_stop = false;
    std::atomic<bool> m_cancel{false};
    std::atomic<std::size_t> m_bytesHeld{0};
    std::vector<std::thread> m_threads;
};

}  // namespace qx
