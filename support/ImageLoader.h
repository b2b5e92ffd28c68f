#pragma once
// Loading a stored document as an image, without a display: the same code
// for the desktop window, the command line and the tests. Every page of a
// multi-page file is decoded; a decoder that has to warn (a truncated JPEG
// is filled with grey, a damaged TIFF strip is skipped) gives a picture
// that is not the document, so a warning makes the load fail as well.
#include <QImage>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <future>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace qx {

// The load status of a document, as the check reads it.
inline constexpr int kImageLoaded = 0;
inline constexpr int kImageNotLoaded = 1024;

struct ImageLoad {
    int status = kImageNotLoaded;
    int pages = 0;       // pages (frames) decoded
    QImage first;        // the first page, for a preview; null when not asked for or not loaded
    std::string why;     // the decoder's error or first warning; "" when loaded
};

// Safe to call from several threads at once. `keepFirst`: keep the first
// page for a preview (costs its memory until the result goes).
ImageLoad LoadDocumentImage(std::span<const std::uint8_t> data, bool keepFirst = false);

// The status alone.
inline int LoadImageStatus(std::span<const std::uint8_t> data) { return LoadDocumentImage(data).status; }

// Decodes documents on worker threads, for a walk that goes on reading
// while earlier documents are decoded. Each submitted document's status
// arrives through its future; what is still queued when the pool goes is
// dropped (its future then reports a broken promise).
class ImageDecodePool {
public:
    explicit ImageDecodePool(int threads);
    ~ImageDecodePool();
    ImageDecodePool(const ImageDecodePool&) = delete;
    ImageDecodePool& operator=(const ImageDecodePool&) = delete;
    std::future<int> submit(std::vector<std::uint8_t> data);

private:
    void work();
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::packaged_task<int()>> m_queue;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

}  // namespace qx
