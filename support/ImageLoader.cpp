#include "support/ImageLoader.h"

#include "support/ImageStructure.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QtGlobal>

#include <tiffio.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sched.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

namespace qx {

namespace {

constexpr std::int64_t kLimitBytes = kImageMemoryLimitMB * 1024 * 1024;

// What the decoders of one load said. Qt and the TIFF library report
// through process-wide handlers; those are installed once, a load marks its
// own thread, and only messages that arrive on a marked thread are kept
// (and not printed). Everything else goes on to the handler that was there
// before.
struct Capture {
    std::string first;
    int count = 0;
    void add(std::string message) {
        if (count++ == 0) first = std::move(message);
    }
};
thread_local Capture* t_capture = nullptr;
thread_local std::string t_lastProblem;

QtMessageHandler g_previousQt = nullptr;
TIFFErrorHandler g_previousTiffError = nullptr;
TIFFErrorHandler g_previousTiffWarning = nullptr;
std::once_flag g_installed;

void QtCapture(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (t_capture && type != QtDebugMsg && type != QtInfoMsg) return t_capture->add(message.toStdString());
    if (g_previousQt) g_previousQt(type, context, message);
    else if (type != QtDebugMsg && type != QtInfoMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
}

std::string TiffText(const char* module, const char* fmt, va_list ap) {
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    return module && *module ? std::string(module) + ": " + text : std::string(text);
}

void TiffErrorCapture(const char* module, const char* fmt, va_list ap) {
    if (t_capture) return t_capture->add(TiffText(module, fmt, ap));
    if (g_previousTiffError) g_previousTiffError(module, fmt, ap);
}

void TiffWarningCapture(const char* module, const char* fmt, va_list ap) {
    if (t_capture) return t_capture->add(TiffText(module, fmt, ap));
    if (g_previousTiffWarning) g_previousTiffWarning(module, fmt, ap);
}

class CaptureScope {
public:
    CaptureScope() {
        std::call_once(g_installed, [] {
            g_previousQt = qInstallMessageHandler(QtCapture);
            // Qt's own TIFF reader shares this library; its messages on a
            // marked thread are ours, the others keep going where they went.
            g_previousTiffError = TIFFSetErrorHandler(TiffErrorCapture);
            g_previousTiffWarning = TIFFSetWarningHandler(TiffWarningCapture);
        });
        m_outer = t_capture;
        t_capture = &m_capture;
    }
    ~CaptureScope() { t_capture = m_outer; }
    Capture& captured() { return m_capture; }

private:
    Capture m_capture;
    Capture* m_outer = nullptr;
};

std::string MegaBytes(std::int64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB"; }

std::string OverLimit(std::int64_t width, std::int64_t height, std::int64_t bytes) {
    return "the image declares " + std::to_string(width) + "x" + std::to_string(height) + " pixels; decoding it takes " +
           MegaBytes(bytes) + ", more than the " + std::to_string(kImageMemoryLimitMB) + " MB an image may take";
}

std::string PageOf(int page, const std::string& why) { return "page " + std::to_string(page) + ": " + why; }

// ---- TIFF, through the library itself: its diagnostics come to this
// file's handle, a page is read after the one before (never by number from
// the start), and a page's size is known before anything is allocated.

struct TiffSource {
    std::span<const std::uint8_t> data;
    toff_t at = 0;
    Capture* capture = nullptr;
    // Warnings while the pixels are decoded mean pixels that are not the
    // document's (a fax line of the wrong length); in a directory they are
    // about tags the library does not know, which every scanner writes.
    bool decoding = false;
    int warnings = 0;
};

tmsize_t TiffRead(thandle_t h, void* buffer, tmsize_t size) {
    auto* s = static_cast<TiffSource*>(h);
    if (s->at >= s->data.size() || size <= 0) return 0;
    const tmsize_t n = static_cast<tmsize_t>(std::min<toff_t>(static_cast<toff_t>(size), s->data.size() - s->at));
    std::memcpy(buffer, s->data.data() + s->at, static_cast<std::size_t>(n));
    s->at += static_cast<toff_t>(n);
    return n;
}
tmsize_t TiffWrite(thandle_t, void*, tmsize_t) { return -1; }
toff_t TiffSeek(thandle_t h, toff_t offset, int whence) {
    auto* s = static_cast<TiffSource*>(h);
    const toff_t base = whence == SEEK_CUR ? s->at : whence == SEEK_END ? s->data.size() : 0;
    s->at = base + offset;
    return s->at;
}
int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t h) { return static_cast<TiffSource*>(h)->data.size(); }
int TiffMap(thandle_t h, void** base, toff_t* size) {
    auto* s = static_cast<TiffSource*>(h);
    *base = const_cast<std::uint8_t*>(s->data.data());
    *size = s->data.size();
    return 1;
}
void TiffUnmap(thandle_t, void*, toff_t) {}

int TiffError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    static_cast<TiffSource*>(user)->capture->add(TiffText(module, fmt, ap));
    return 1;
}
int TiffWarning(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    auto* s = static_cast<TiffSource*>(user);
    if (!s->decoding) return 1;
    std::string text = TiffText(module, fmt, ap);
    // Files of old writers that the library reads correctly all the same.
    for (const char* benign : {"Old-style LZW codes", "Improper JPEG sampling factors"})
        if (text.find(benign) != std::string::npos) return 1;
    ++s->warnings;
    s->capture->add(std::move(text));
    return 1;
}

struct TiffClose_ {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

ImageLoad LoadTiff(std::span<const std::uint8_t> data, bool keepFirst, const std::atomic<bool>* stop,
                   Capture& capture) {
    ImageLoad out;
    TiffSource source{data, 0, &capture};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kLimitBytes));
    TIFFOpenOptionsSetErrorHandlerExtR(options, TiffError, &source);
    TIFFOpenOptionsSetWarningHandlerExtR(options, TiffWarning, &source);
    std::unique_ptr<TIFF, TiffClose_> tif(TIFFClientOpenExt("document", "r", &source, TiffRead, TiffWrite, TiffSeek,
                                                            TiffClose, TiffSize, TiffMap, TiffUnmap, options));
    TIFFOpenOptionsFree(options);
    const auto failed = [&](std::string why) {
        out.why = out.pages > 0 || !why.empty() ? std::move(why) : "not a readable TIFF file";
        out.first = QImage();
        return out;
    };
    if (!tif) return failed(capture.first);
    std::vector<std::uint8_t> buffer;
    do {
        const int page = out.pages + 1;
        if (stop && *stop) {
            out.status = kImageCancelled;
            return out;
        }
        std::uint32_t width = 0, height = 0;
        std::uint16_t bits = 1, samples = 1;
        TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
        if (width == 0 || height == 0) return failed(PageOf(page, "the page has no pixels"));
        const std::int64_t bytes = image::DecodeBytes(width, height, bits == 1 && samples == 1);
        if (bytes > kLimitBytes) return failed(PageOf(page, OverLimit(width, height, bytes)));
        char refusal[1024] = "";
        if (!TIFFRGBAImageOK(tif.get(), refusal)) return failed(PageOf(page, refusal));
        if (capture.count) return failed(PageOf(page, capture.first));
        // Every strip or tile is decoded into one buffer: the codec finds
        // what is damaged without the page being held whole.
        source.decoding = true;
        const bool tiled = TIFFIsTiled(tif.get());
        const tmsize_t chunk = tiled ? TIFFTileSize(tif.get()) : TIFFStripSize(tif.get());
        if (chunk <= 0) return failed(PageOf(page, capture.count ? capture.first : "the page has no strips"));
        if (chunk > kLimitBytes) return failed(PageOf(page, OverLimit(width, height, chunk)));
        buffer.resize(static_cast<std::size_t>(chunk));
        const std::uint32_t chunks = tiled ? TIFFNumberOfTiles(tif.get()) : TIFFNumberOfStrips(tif.get());
        for (std::uint32_t c = 0; c < chunks; ++c) {
            const tmsize_t got = tiled ? TIFFReadEncodedTile(tif.get(), c, buffer.data(), chunk)
                                       : TIFFReadEncodedStrip(tif.get(), c, buffer.data(), chunk);
            if (got < 0 || capture.count) {
                return failed(PageOf(page, capture.count ? capture.first
                                                         : (tiled ? "tile " : "strip ") + std::to_string(c) +
                                                               " cannot be read"));
            }
        }
        if (page == 1 && keepFirst) {
            const std::int64_t previewBytes = image::DecodeBytes(width, height, false);
            if (previewBytes <= kLimitBytes) {
                QImage preview(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGBA8888);
                if (!preview.isNull() &&
                    TIFFReadRGBAImageOriented(tif.get(), width, height, reinterpret_cast<std::uint32_t*>(preview.bits()),
                                              ORIENTATION_TOPLEFT, 0))
                    out.first = std::move(preview);
            }
            if (capture.count) return failed(PageOf(page, capture.first));
        }
        source.decoding = false;
        ++out.pages;
    } while (TIFFReadDirectory(tif.get()));
    // The directories end either where the file says so or where it cannot
    // be read any further; only the library's message tells them apart.
    if (capture.count) return failed(PageOf(out.pages + 1, capture.first));
    out.status = kImageLoaded;
    return out;
}

// ---- every other format, through Qt's readers, after the file's own
// structure has shown that it is whole and not too large.

std::string StructureProblem(std::span<const std::uint8_t> data, const QByteArray& format, int& declaredFrames) {
    declaredFrames = 0;
    if (format == "gif") return image::CheckGif(data, declaredFrames);
    if (format == "bmp") return image::CheckBmp(data);
    if (format == "png") return image::CheckPng(data);
    return "";
}

ImageLoad LoadWithQt(std::span<const std::uint8_t> data, bool keepFirst, const std::atomic<bool>* stop,
                     Capture& capture) {
    ImageLoad out;
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()),
                                                     static_cast<qsizetype>(data.size()));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(static_cast<int>(kImageMemoryLimitMB));
    const QByteArray format = reader.format();
    const auto failed = [&](std::string why) {
        out.why = std::move(why);
        out.first = QImage();
        return out;
    };
    // The structure first: some decoders print what they find in a broken
    // file on the terminal, past every handler.
    int declaredFrames = 0;
    if (std::string problem = StructureProblem(data, format, declaredFrames); !problem.empty())
        return failed(std::move(problem));
    if (!format.isEmpty()) {
        const QSize declared = reader.size();
        if (declared.isValid()) {
            std::int64_t need = image::DecodeBytes(declared.width(), declared.height(), false);
            if (format == "jpeg") {
                // A progressive JPEG keeps every coefficient of the picture
                // until its last scan.
                if (const auto frame = image::ReadJpegFrame(data); frame && frame->progressive)
                    need += static_cast<std::int64_t>(frame->width) * frame->height * frame->components * 2;
            }
            if (need > kLimitBytes) return failed(OverLimit(declared.width(), declared.height(), need));
        }
    }
    const int count = std::max({1, reader.imageCount(), declaredFrames});
    for (int page = 1; page <= count; ++page) {
        if (stop && *stop) {
            out.status = kImageCancelled;
            return out;
        }
        QImage image;
        if (!reader.read(&image) || image.isNull()) {
            if (capture.count) return failed(capture.first);
            std::string why = reader.errorString().toStdString();
            return failed(count > 1 ? PageOf(page, why) : why);
        }
        if (page == 1 && keepFirst) out.first = image;
        ++out.pages;
        if (capture.count) return failed(count > 1 ? PageOf(page, capture.first) : capture.first);
    }
    out.status = kImageLoaded;
    return out;
}

}  // namespace

const std::string& LastImageLoadProblem() { return t_lastProblem; }

ImageLoad LoadDocumentImage(std::span<const std::uint8_t> data, bool keepFirst, const std::atomic<bool>* stop) {
    ImageLoad out;
    if (data.empty()) {
        out.why = "no data";
    } else {
        CaptureScope scope;
        out = image::IsTiff(data) ? LoadTiff(data, keepFirst, stop, scope.captured())
                                  : LoadWithQt(data, keepFirst, stop, scope.captured());
    }
    t_lastProblem = out.status == kImageNotLoaded ? out.why : std::string();
    return out;
}

std::optional<int> CoresOfCpuMax(std::string_view cpuMax) {
    const std::size_t space = cpuMax.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    long long quota = 0, period = 0;
    const std::string_view q = cpuMax.substr(0, space), rest = cpuMax.substr(space + 1);
    if (q == "max") return std::nullopt;
    const auto [qEnd, qError] = std::from_chars(q.data(), q.data() + q.size(), quota);
    const auto [pEnd, pError] = std::from_chars(rest.data(), rest.data() + rest.size(), period);
    if (qError != std::errc() || pError != std::errc() || qEnd != q.data() + q.size()) return std::nullopt;
    return CoresOfCfsQuota(quota, period);
}

std::optional<int> CoresOfCfsQuota(long long quotaMicroseconds, long long periodMicroseconds) {
    if (quotaMicroseconds <= 0 || periodMicroseconds <= 0) return std::nullopt;
    // A quota of 1.5 periods keeps two cores busy part of the time: two
    // workers use it, one would leave half a core unused.
    const long long cores = (quotaMicroseconds + periodMicroseconds - 1) / periodMicroseconds;
    return static_cast<int>(std::clamp<long long>(cores, 1, 1 << 16));
}

namespace {

std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The lowest quota on the way from the process's own group up to the root
// of the hierarchy mounted at `mount`.
std::optional<int> GroupQuota(const std::string& mount, std::string group, bool v2) {
    std::optional<int> lowest;
    for (;;) {
        const std::string dir = mount + (group == "/" ? "" : group);
        std::optional<int> here;
        if (v2) {
            here = CoresOfCpuMax(FirstLine(dir + "/cpu.max"));
        } else {
            const std::string quota = FirstLine(dir + "/cpu.cfs_quota_us"), period = FirstLine(dir + "/cpu.cfs_period_us");
            if (!quota.empty() && !period.empty()) here = CoresOfCfsQuota(std::atoll(quota.c_str()), std::atoll(period.c_str()));
        }
        if (here) lowest = std::min(lowest.value_or(*here), *here);
        if (group.empty() || group == "/") return lowest;
        const std::size_t slash = group.rfind('/');
        group = slash == 0 || slash == std::string::npos ? "/" : group.substr(0, slash);
    }
}

std::optional<int> ControlGroupCores() {
    std::ifstream in("/proc/self/cgroup");
    std::optional<int> lowest;
    const auto take = [&](std::optional<int> cores) {
        if (cores) lowest = std::min(lowest.value_or(*cores), *cores);
    };
    for (std::string line; std::getline(in, line);) {
        // "hierarchy:controllers:path"; v2 has no controllers named.
        const std::size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1), group = line.substr(b + 1);
        if (controllers.empty()) {
            take(GroupQuota("/sys/fs/cgroup", group, true));
            continue;
        }
        bool cpu = false;
        for (std::size_t at = 0; at <= controllers.size();) {
            const std::size_t end = std::min(controllers.find(',', at), controllers.size());
            cpu = cpu || controllers.compare(at, end - at, "cpu") == 0;
            at = end + 1;
        }
        if (!cpu) continue;
        // Inside a container the path named is the host's; the group's own
        // files are then at the root of the mount.
        for (const char* mount : {"/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpu,cpuacct", "/sys/fs/cgroup/cpuacct,cpu"}) {
            take(GroupQuota(mount, group, false));
            take(GroupQuota(mount, "/", false));
        }
    }
    return lowest;
}

}  // namespace

int AvailableCores() {
    int cores = static_cast<int>(std::thread::hardware_concurrency());
    cpu_set_t mask;
    CPU_ZERO(&mask);
    if (sched_getaffinity(0, sizeof mask, &mask) == 0 && CPU_COUNT(&mask) > 0) cores = CPU_COUNT(&mask);
    if (const std::optional<int> quota = ControlGroupCores()) cores = std::min(cores > 0 ? cores : *quota, *quota);
    return std::max(1, cores);
}

int DecodeWorkers() {
    if (const char* text = std::getenv("QUILLEX_DECODE_WORKERS")) {
        int n = 0;
        const std::string_view v(text);
        const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), n);
        if (error == std::errc() && end == v.data() + v.size() && n >= 1 && n <= 256) return n;
    }
    return AvailableCores();
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
    m_cancel = true;
    m_wake.notify_all();
    for (std::thread& t : m_threads) t.join();
}

std::future<ImageLoad> ImageDecodePool::submit(std::vector<std::uint8_t> data) {
    Job job{std::move(data), {}};
    std::future<ImageLoad> result = job.result.get_future();
    m_bytesHeld += job.data.size();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(job));
    }
    m_wake.notify_one();
    return result;
}

void ImageDecodePool::work() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop) return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        ImageLoad load = LoadDocumentImage(job.data, false, &m_cancel);
        const std::size_t size = job.data.size();
        job.data = {};
        m_bytesHeld -= size;
        job.result.set_value(std::move(load));
    }
}

}  // namespace qx
