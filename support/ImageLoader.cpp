#include "support/ImageLoader.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace qx {

namespace {

// Qt reports decoder warnings through one process-wide message handler. It
// is installed once; a decode marks its own thread, and only messages that
// arrive on a marked thread are kept (and not printed). Everything else goes
// on to the handler that was there before.
struct Capture {
    std::string first;
    int count = 0;
};
thread_local Capture* t_capture = nullptr;
QtMessageHandler g_previous = nullptr;
std::once_flag g_installed;

void CaptureHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (t_capture && type != QtDebugMsg && type != QtInfoMsg) {
        if (t_capture->count++ == 0) t_capture->first = message.toStdString();
        return;
    }
    if (g_previous) g_previous(type, context, message);
    else if (type != QtDebugMsg && type != QtInfoMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
}

class CaptureScope {
public:
    CaptureScope() {
        std::call_once(g_installed, [] { g_previous = qInstallMessageHandler(CaptureHandler); });
        m_outer = t_capture;
        t_capture = &m_capture;
    }
    ~CaptureScope() { t_capture = m_outer; }
    const Capture& captured() const { return m_capture; }

private:
    Capture m_capture;
    Capture* m_outer = nullptr;
};

}  // namespace

ImageLoad LoadDocumentImage(std::span<const std::uint8_t> data, bool keepFirst) {
    ImageLoad out;
    if (data.empty()) {
        out.why = "no data";
        return out;
    }
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()),
                                                     static_cast<qsizetype>(data.size()));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    CaptureScope scope;
    QImageReader reader(&buffer);
    // A scanned page may be large; the document is what it is.
    reader.setAllocationLimit(0);
    const QByteArray format = reader.format();
    const int count = std::max(1, reader.imageCount());
    for (int page = 0; page < count; ++page) {
        // TIFF pages are found through their directory; other formats
        // (animated GIF) hand out their frames in order.
        if (page > 0 && format == "tiff" && !reader.jumpToImage(page)) {
            out.why = "page " + std::to_string(page + 1) + " of " + std::to_string(count) + " cannot be found";
            return out;
        }
        QImage image;
        if (!reader.read(&image) || image.isNull()) {
            out.why = reader.errorString().toStdString();
            if (count > 1) out.why = "page " + std::to_string(page + 1) + ": " + out.why;
            out.first = QImage();
            return out;
        }
        if (page == 0 && keepFirst) out.first = image;
        ++out.pages;
        if (scope.captured().count) break;
    }
    if (scope.captured().count) {
        out.why = scope.captured().first;
        out.first = QImage();
        return out;
    }
    out.status = kImageLoaded;
    return out;
}

ImageDecodePool::ImageDecodePool(int threads) {
    for (int i = 0; i < std::max(1, threads); ++i) m_threads.emplace_back([this] { work(); });
}

ImageDecodePool::~ImageDecodePool() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads) t.join();
}

std::future<int> ImageDecodePool::submit(std::vector<std::uint8_t> data) {
    std::packaged_task<int()> task([bytes = std::move(data)] { return LoadImageStatus(bytes); });
    std::future<int> result = task.get_future();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(task));
    }
    m_wake.notify_one();
    return result;
}

void ImageDecodePool::work() {
    for (;;) {
        std::packaged_task<int()> task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop) return;
            task = std::move(m_queue.front());
            m_queue.pop_front();
        }
        task();
    }
}

}  // namespace qx
