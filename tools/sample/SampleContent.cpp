#include "tools/sample/SampleContent.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace qx::sample {

std::uint64_t Rng::below(std::uint64_t n) {
    if (n <= 1) return 0;
    if (n <= 0xFFFFFFFFull) {
        // Rejection keeps every value equally likely.
        const std::uint64_t span = 0x100000000ull;
        const std::uint64_t limit = span - span % n;
        std::uint64_t r;
        do r = next();
        while (r >= limit);
        return r % n;
    }
    const std::uint64_t r = (static_cast<std::uint64_t>(next()) << 32) | next();
    return r % n;
}

namespace {

constexpr int kDigits = 12;
const char kFiller[] = "Voorbeelddocument voor onderhoud en controle van het archief. ";

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void PutBE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}
void PutLE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
std::uint32_t GetLE32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Readable text of exactly n bytes, so that padding never looks like the
// zero-filled or widened data the storage check hunts for.
std::string Filler(std::size_t n) {
    std::string s;
    s.reserve(n);
    while (s.size() < n) s.append(kFiller, std::min(n - s.size(), sizeof kFiller - 1));
    return s;
}

std::string IdField() { return "Document " + std::string(kDigits, '0'); }

// --- Drawing ---------------------------------------------------------------

void MonoBar(QImage& img, int x0, int y0, int x1, int y1) {
    x0 = std::max(0, x0), y0 = std::max(0, y0);
    x1 = std::min(img.width(), x1), y1 = std::min(img.height(), y1);
    for (int y = y0; y < y1; ++y) {
        uchar* line = img.scanLine(y);
        for (int x = x0; x < x1; ++x) line[x >> 3] |= static_cast<uchar>(0x80 >> (x & 7));
    }
}

// A typed page: a heading, paragraphs of word-shaped bars, a signature line.
QImage DrawScan(int w, int h, Rng& rng) {
    QImage img(w, h, QImage::Format_Mono);
    img.setColorCount(2);
    img.setColor(0, qRgb(255, 255, 255));
    img.setColor(1, qRgb(0, 0, 0));
    // fill() leaves the padding at the end of each line as it found it.
    std::memset(img.bits(), 0, static_cast<std::size_t>(img.sizeInBytes()));
    const int margin = std::max(2, w / 12);
    const int lineHeight = std::max(3, h / 48);
    const int bar = std::max(1, lineHeight * 3 / 5);
    int y = margin;
    MonoBar(img, margin, y, margin + (w - 2 * margin) / 2, y + bar + bar / 2);
    y += 3 * lineHeight;
    while (y + lineHeight < h - margin) {
        if (rng.percent(12)) {  // paragraph break
            y += lineHeight;
            continue;
        }
        int x = margin;
        const int end = w - margin - static_cast<int>(rng.below(static_cast<std::uint64_t>(std::max(1, w / 4))));
        while (x < end) {
            const int word = std::max(2, static_cast<int>(rng.below(static_cast<std::uint64_t>(std::max(2, w / 10)))));
            MonoBar(img, x, y, std::min(end, x + word), y + bar);
            x += word + std::max(1, lineHeight / 2);
        }
        y += lineHeight;
    }
    return img;
}

QImage DrawPhoto(int w, int h, Rng& rng) {
    QImage img(w, h, QImage::Format_RGB32);
    const int horizon = h * (40 + static_cast<int>(rng.below(30))) / 100;
    const int hue = static_cast<int>(rng.below(60));
    for (int y = 0; y < h; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int n = static_cast<int>(rng.below(24)) - 12;
            int r, g, b;
            if (y < horizon) {
                r = 90 + 100 * y / std::max(1, horizon) + n;
                g = 140 + 80 * y / std::max(1, horizon) + n;
                b = 230 - hue + n;
            } else {
                r = 60 + hue + 40 * x / std::max(1, w) + n;
                g = 120 + 60 * (y - horizon) / std::max(1, h - horizon) + n;
                b = 50 + n;
            }
            line[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    return img;
}

void FillRect(QImage& img, int x0, int y0, int x1, int y1, QRgb c) {
    x0 = std::max(0, x0), y0 = std::max(0, y0);
    x1 = std::min(img.width(), x1), y1 = std::min(img.height(), y1);
    for (int y = y0; y < y1; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        std::fill(line + x0, line + std::max(x0, x1), c);
    }
}

QImage DrawDiagram(int w, int h, Rng& rng, QImage::Format format) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(qRgb(255, 255, 255));
    static const QRgb colours[] = {qRgb(52, 101, 164), qRgb(204, 0, 0), qRgb(78, 154, 6), qRgb(237, 212, 0),
                                   qRgb(117, 80, 123)};
    const int boxes = 3 + static_cast<int>(rng.below(5));
    for (int i = 0; i < boxes; ++i) {
        const int x = static_cast<int>(rng.below(static_cast<std::uint64_t>(std::max(1, w * 3 / 4))));
        const int y = static_cast<int>(rng.below(static_cast<std::uint64_t>(std::max(1, h * 3 / 4))));
        const int bw = std::max(2, w / 6 + static_cast<int>(rng.below(static_cast<std::uint64_t>(std::max(1, w / 5)))));
        const int bh = std::max(2, h / 8 + static_cast<int>(rng.below(static_cast<std::uint64_t>(std::max(1, h / 6)))));
        FillRect(img, x, y, x + bw, y + bh, colours[rng.below(5)]);
        FillRect(img, x + bw / 2, y + bh, x + bw / 2 + std::max(1, w / 100), h - 1, qRgb(40, 40, 40));
    }
    return format == QImage::Format_RGB32 ? img : img.convertToFormat(format);
}

// --- Encoding --------------------------------------------------------------

void PackBitsRow(const uchar* row, int n, QByteArray& out) {
    int i = 0;
    while (i < n) {
        int j = i;
        while (j + 1 < n && row[j + 1] == row[i] && j - i < 127) ++j;
        if (j > i) {
            out.append(static_cast<char>(-(j - i)));
            out.append(static_cast<char>(row[i]));
            i = j + 1;
            continue;
        }
        const int start = i;
        while (i < n && i - start < 128 && !(i + 1 < n && row[i] == row[i + 1])) ++i;
        out.append(static_cast<char>(i - start - 1));
        out.append(reinterpret_cast<const char*>(row + start), i - start);
    }
}

// A bilevel TIFF written here rather than by the image plugin: the plugin
// offers no fax compression, and its LZW output varies from run to run for
// the same picture, which would make archives of one seed differ.
// Pages chained through their directories; with loseLastPage the last
// page's strip lies beyond the end of the file.
QByteArray EncodeBilevelTiffPages(const std::vector<QImage>& images, bool loseLastPage) {
    struct Entry { quint16 tag, type; quint32 count, value; };
    constexpr quint32 kEntries = 12, kIfdSize = 2 + 12 * kEntries + 4;
    QByteArray out("II*\0", 4);
    auto u16 = [&](quint32 v) { out.append(static_cast<char>(v & 0xFF)).append(static_cast<char>((v >> 8) & 0xFF)); };
    auto u32 = [&](quint32 v) { u16(v & 0xFFFF), u16(v >> 16); };
    u32(8);
    for (std::size_t p = 0; p < images.size(); ++p) {
        const QImage& img = images[p];
        QByteArray strip;
        const int rowBytes = (img.width() + 7) / 8;
        for (int y = 0; y < img.height(); ++y) PackBitsRow(img.constScanLine(y), rowBytes, strip);
        const quint32 ifdAt = static_cast<quint32>(out.size());
        const quint32 resAt = ifdAt + kIfdSize, stripAt = resAt + 16;
        const bool last = p + 1 == images.size();
        const quint32 next = last ? 0 : stripAt + static_cast<quint32>(strip.size());
        const quint32 stripOffset = last && loseLastPage ? stripAt + static_cast<quint32>(strip.size()) * 4 + 4096 : stripAt;
        const Entry entries[kEntries] = {
            {256, 4, 1, static_cast<quint32>(img.width())}, {257, 4, 1, static_cast<quint32>(img.height())},
            {258, 3, 1, 1}, {259, 3, 1, 32773}, {262, 3, 1, 0}, {273, 4, 1, stripOffset}, {277, 3, 1, 1},
            {278, 4, 1, static_cast<quint32>(img.height())}, {279, 4, 1, static_cast<quint32>(strip.size())},
            {282, 5, 1, resAt}, {283, 5, 1, resAt + 8}, {296, 3, 1, 2},
        };
        u16(kEntries);
        for (const Entry& e : entries) {
            u16(e.tag), u16(e.type), u32(e.count);
            if (e.type == 3) u16(e.value), u16(0);
            else u32(e.value);
        }
        u32(next);
        u32(300), u32(1), u32(300), u32(1);  // 300 dpi, as scanners write
        out += strip;
    }
    return out;
}

// A bilevel TIFF written here rather than by the image plugin: the plugin
// offers no fax compression, and its LZW output varies from run to run for
// the same picture, which would make archives of one seed differ.
QByteArray EncodeBilevelTiff(const QImage& img) { return EncodeBilevelTiffPages({img}, false); }

QByteArray Encode(const QImage& img, const char* format, std::string& error) {
    if (std::strcmp(format, "tiff") == 0) return EncodeBilevelTiff(img);
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (std::strcmp(format, "jpeg") == 0) writer.setQuality(80);
    if (!writer.write(img)) {
        error = "Could not write a " + std::string(format) + " image: " + writer.errorString().toStdString();
        return {};
    }
    return out;
}

struct KindInfo {
    const char* format;
    double bytesPerPixel;  // first guess of the encoded size
    double aspect;         // height / width
    int maxWidth;
};

KindInfo Info(ContentKind kind) {
    switch (kind) {
    case ContentKind::Scan: return {"tiff", 0.04, 1.414, 2480};
    case ContentKind::Photo: return {"jpeg", 0.45, 0.75, 4000};
    case ContentKind::Diagram: return {"png", 0.02, 0.75, 3000};
    case ContentKind::Bitmap: return {"bmp", 3.0, 0.75, 2000};
    case ContentKind::Pdf: break;
    }
    return {"", 1, 1, 1};
}

QImage Draw(ContentKind kind, int w, int h, std::uint32_t seed) {
    Rng rng(seed);
    switch (kind) {
    case ContentKind::Scan: return DrawScan(w, h, rng);
    case ContentKind::Photo: return DrawPhoto(w, h, rng);
    case ContentKind::Diagram: return DrawDiagram(w, h, rng, QImage::Format_RGB32);
    case ContentKind::Bitmap: return DrawDiagram(w, h, rng, QImage::Format_RGB888);
    case ContentKind::Pdf: break;
    }
    return {};
}

// --- Padding per format ------------------------------------------------------

void Assign(Template& t, const QByteArray& data) { t.m_bytes.assign(data.begin(), data.end()); }

// JPEG: comment segments right after the JFIF header; the first one carries
// the document number.
void PadJpeg(Template& t, std::size_t pad) {
    std::size_t at = 2;
    const auto& b = t.m_bytes;
    if (b.size() > 6 && b[2] == 0xFF && b[3] == 0xE0) at = 4 + ((b[4] << 8) | b[5]);
    std::string text = IdField() + " " + Filler(pad > 40 ? pad - 40 : 0);
    std::vector<std::uint8_t> segs;
    std::size_t pos = 0;
    bool first = true;
    while (first || pos < text.size()) {
        const std::size_t n = std::min<std::size_t>(65533, text.size() - pos);
        if (first) t.m_idAt = at + 4 + 9;
        segs.push_back(0xFF);
        segs.push_back(0xFE);
        segs.push_back(static_cast<std::uint8_t>((n + 2) >> 8));
        segs.push_back(static_cast<std::uint8_t>(n + 2));
        segs.insert(segs.end(), text.begin() + static_cast<long>(pos), text.begin() + static_cast<long>(pos + n));
        pos += n;
        first = false;
    }
    t.m_bytes.insert(t.m_bytes.begin() + static_cast<long>(at), segs.begin(), segs.end());
}

std::vector<std::uint8_t> PngChunk(const char type[4], const std::string& data) {
    std::vector<std::uint8_t> c(12 + data.size());
    PutBE32(c.data(), static_cast<std::uint32_t>(data.size()));
    std::memcpy(c.data() + 4, type, 4);
    std::memcpy(c.data() + 8, data.data(), data.size());
    PutBE32(c.data() + 8 + data.size(), Crc32(c.data() + 4, 4 + data.size()));
    return c;
}

// PNG: two text chunks behind the header, one with the number (its CRC is
// redone per stamp), one with the padding.
void PadPng(Template& t, std::size_t pad) {
    const std::size_t at = 8 + 25;  // signature + IHDR
    std::vector<std::uint8_t> add = PngChunk("tEXt", std::string("Document") + '\0' + std::string(kDigits, '0'));
    t.m_pngChunk = true;
    t.m_crcFrom = at + 4;
    t.m_crcLength = 4 + 9 + kDigits;
    t.m_idAt = at + 8 + 9;
    if (pad > 12 + 8 + 33) {
        auto more = PngChunk("tEXt", std::string("Comment") + '\0' + Filler(pad - 12 - 8 - 33));
        add.insert(add.end(), more.begin(), more.end());
    }
    t.m_bytes.insert(t.m_bytes.begin() + static_cast<long>(at), add.begin(), add.end());
}

// BMP: a gap between the headers and the pixels, which the file header's
// pixel offset steps over.
void PadBmp(Template& t, std::size_t pad) {
    auto& b = t.m_bytes;
    const std::uint32_t offBits = GetLE32(b.data() + 10);
    const std::string gap = IdField() + " " + Filler(pad > 22 ? pad - 22 : 0);
    t.m_idAt = offBits + 9;
    b.insert(b.begin() + offBits, gap.begin(), gap.end());
    PutLE32(b.data() + 2, static_cast<std::uint32_t>(b.size()));
    PutLE32(b.data() + 10, offBits + static_cast<std::uint32_t>(gap.size()));
}

// TIFF: a file is read through its offsets only, so bytes behind the last
// structure are never seen by a reader.
void PadTiff(Template& t, std::size_t pad) {
    const std::string tail = IdField() + " " + Filler(pad > 22 ? pad - 22 : 0);
    t.m_idAt = t.m_bytes.size() + 9;
    t.m_bytes.insert(t.m_bytes.end(), tail.begin(), tail.end());
}

// A one-page PDF written by hand: header, comment block (number and
// padding), five objects, cross-reference table.
void BuildPdf(Template& t, long target, std::uint32_t seed) {
    Rng rng(seed);
    std::string content = "BT /F1 18 Tf 72 770 Td (Voorbeelddocument) Tj ET\n";
    const int lines = 8 + static_cast<int>(rng.below(10));
    for (int i = 0; i < lines; ++i)
        content += "72 " + std::to_string(720 - 16 * i) + " " + std::to_string(200 + rng.below(250)) + " 6 re f\n";

    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 4 0 R >> >> "
        "/Contents 5 0 R >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
    };
    const std::string head = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    const std::string idLine = "%" + IdField() + "\n";
    std::string body;
    for (std::size_t i = 0; i < objects.size(); ++i)
        body += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    // Cross-reference size without the padding, to know how much padding fits.
    const std::size_t xrefSize = 5 + 4 + 20 * (objects.size() + 1) + 40 + 30;
    const std::size_t fixed = head.size() + idLine.size() + body.size() + xrefSize;
    std::string padding;
    if (target > 0 && static_cast<std::size_t>(target) > fixed + 4) {
        std::size_t room = static_cast<std::size_t>(target) - fixed;
        while (room > 4) {
            const std::size_t n = std::min<std::size_t>(room - 2, 78);
            padding += "%" + Filler(n) + "\n";
            room -= n + 2;
        }
    }
    std::string pdf = head + idLine + padding;
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t off : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    t.m_bytes.assign(pdf.begin(), pdf.end());
    t.m_idAt = head.size() + 1 + 9;
}

}  // namespace

const std::vector<std::uint8_t>& Template::stamp(long id) {
    char digits[kDigits + 1];
    std::snprintf(digits, sizeof digits, "%012ld", id < 0 ? 0L : id);
    std::memcpy(m_bytes.data() + m_idAt, digits, kDigits);
    if (m_pngChunk) PutBE32(m_bytes.data() + m_crcFrom + m_crcLength, Crc32(m_bytes.data() + m_crcFrom, m_crcLength));
    return m_bytes;
}

bool RenderTemplate(ContentKind kind, long target, int variant, Template& out, std::string& error) {
    out = Template();
    out.kind = kind;
    const std::uint32_t seed = 7919u * static_cast<std::uint32_t>(variant + 1) + static_cast<std::uint32_t>(kind);
    if (kind == ContentKind::Pdf) {
        BuildPdf(out, target, seed);
        return true;
    }
    const KindInfo info = Info(kind);
    // Room for the number and the padding headers.
    const double budget = std::max(64.0, static_cast<double>(target) - 64);
    int w = static_cast<int>(std::sqrt(budget / info.bytesPerPixel / info.aspect));
    QByteArray best, smallest;
    int bestW = 0, smallestW = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        w = std::clamp(w, 8, info.maxWidth);
        const int h = std::max(8, static_cast<int>(w * info.aspect));
        const QByteArray enc = Encode(Draw(kind, w, h, seed), info.format, error);
        if (enc.isEmpty()) return false;
        if (smallest.isEmpty() || enc.size() < smallest.size()) smallest = enc, smallestW = w;
        if (enc.size() <= budget && enc.size() > best.size()) best = enc, bestW = w;
        if (enc.size() <= budget && enc.size() >= 0.7 * budget) break;
        const double f = std::clamp(std::sqrt(0.85 * budget / enc.size()), 0.25, 4.0);
        const int next = std::clamp(static_cast<int>(w * f), 8, info.maxWidth);
        if (next == w) break;
        w = next;
    }
    if (best.isEmpty()) best = smallest, bestW = smallestW;
    out.width = bestW;
    out.height = std::max(8, static_cast<int>(bestW * info.aspect));
    Assign(out, best);
    const std::size_t have = static_cast<std::size_t>(best.size());
    const std::size_t pad = target > 0 && static_cast<std::size_t>(target) > have ? target - have : 0;
    switch (kind) {
    case ContentKind::Scan: PadTiff(out, pad); break;
    case ContentKind::Photo: PadJpeg(out, pad); break;
    case ContentKind::Diagram: PadPng(out, pad); break;
    case ContentKind::Bitmap: PadBmp(out, pad); break;
    case ContentKind::Pdf: break;
    }
    return true;
}

std::vector<std::uint8_t> UndecodableImage(long size, Rng& rng) {
    static const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> out(signature, signature + sizeof signature);
    while (static_cast<long>(out.size()) < std::max<long>(size, 64)) out.push_back(static_cast<std::uint8_t>(rng.next()));
    return out;
}

std::vector<std::uint8_t> OversizedImage(int variant, int side) {
    const QImage small = Draw(ContentKind::Photo, 32, 32, 7);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, variant == 2 ? "png" : "jpeg");
    writer.setProgressiveScanWrite(variant == 1);
    writer.write(small);
    std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
    const auto be = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * (n - 1 - i)));
    };
    const auto side32 = static_cast<std::uint32_t>(side);
    if (variant == 2) {
        be(16, side32, 4), be(20, side32, 4);
        std::uint32_t crc = 0xFFFFFFFFu;
        for (std::size_t i = 12; i < 29; ++i) {
            crc ^= out[i];
            for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
        be(29, ~crc, 4);
        return out;
    }
    for (std::size_t at = 2; at + 9 < out.size(); ++at) {
        if (out[at] == 0xFF && (out[at + 1] == 0xC0 || out[at + 1] == 0xC2)) {
            be(at + 5, side32, 2), be(at + 7, side32, 2);
            break;
        }
    }
    return out;
}

std::vector<std::uint8_t> MultipageTiff(int pages, int width, int height, std::uint32_t seed, bool loseLastPage) {
    std::vector<QImage> images;
    for (int p = 0; p < std::max(1, pages); ++p) {
        Rng rng(seed + static_cast<std::uint32_t>(p));
        images.push_back(DrawScan(width, height, rng));
    }
    const QByteArray bytes = EncodeBilevelTiffPages(images, loseLastPage);
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> TruncatedJpeg(int width, int height, int keepPercent, std::uint32_t seed) {
    std::string error;
    const QByteArray whole = Encode(Draw(ContentKind::Photo, width, height, seed), "jpeg", error);
    std::vector<std::uint8_t> out(whole.begin(), whole.end());
    out.resize(std::max<std::size_t>(64, out.size() * static_cast<std::size_t>(std::clamp(keepPercent, 1, 99)) / 100));
    return out;
}

std::vector<std::uint8_t> WidenedPdfExample() {
    return {0x25, 0x00, 0x50, 0x00, 0x44, 0x00, 0x46, 0x00, 0x2D, 0x00, 0x31, 0x00};
}

std::vector<std::uint8_t> Widened(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) out.push_back(b), out.push_back(0);
    return out;
}

std::vector<std::uint8_t> ZeroUpperHalf(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> out(bytes);
    out.resize(bytes.size() * 2, 0);
    return out;
}

}  // namespace qx::sample
