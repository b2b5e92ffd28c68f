// The loader that tells whether a graphical document can be shown: every
// page decoded, a decode that had to warn counts as failed, a file cut
// short is caught even where the decoder forgives it, an image that would
// take more memory than allowed is refused before it is decoded, and no
// decoder writes to the terminal.
#include "support/ImageLoader.h"
#include "tools/sample/SampleContent.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <tiffio.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace qx;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Encoded(const char* format, int width = 64, int height = 48, bool progressive = false) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x * 4, y * 5, (x * y) & 255));
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    EXPECT_TRUE(writer.write(image)) << format;
    return Bytes(out.begin(), out.end());
}

Bytes Cut(Bytes b, int percent) {
    b.resize(b.size() * static_cast<std::size_t>(percent) / 100);
    return b;
}

void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}

// GIF frames whose data gives one pixel each (Qt writes no GIF); `width`
// more than 1 declares pixels the data does not give.
Bytes Gif(int frames, std::uint8_t width = 1) {
    Bytes b = {'G', 'I', 'F', '8', '9', 'a', width, 0, 1, 0, 0x80, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0};
    for (int f = 0; f < frames; ++f) {
        const Bytes frame = {0x21, 0xF9, 0x04, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x2C, 0, 0, 0, 0, width, 0, 1, 0, 0,
                             0x02, 0x02, 0x44, 0x01, 0x00};
        b.insert(b.end(), frame.begin(), frame.end());
    }
    b.push_back(0x3B);
    return b;
}

// A BMP of run-length coded rows whose end mark is missing.
Bytes RleBmpWithoutEnd() {
    Bytes b(54 + 8 + 6, 0);
    b[0] = 'B', b[1] = 'M';
    PutLe32(b, 2, static_cast<std::uint32_t>(b.size()));
    PutLe32(b, 10, 54 + 8);
    PutLe32(b, 14, 40);
    PutLe32(b, 18, 4), PutLe32(b, 22, 2);
    b[26] = 1, b[28] = 8;
    PutLe32(b, 30, 1);  // RLE8
    PutLe32(b, 46, 2);  // two palette entries
    b[54 + 4] = 0xFF, b[54 + 5] = 0xFF, b[54 + 6] = 0xFF;
    const std::uint8_t rows[] = {4, 1, 0, 0, 4, 0};  // row 1, end of line, row 2 ... and no end of bitmap
    std::copy(std::begin(rows), std::end(rows), b.begin() + 62);
    return b;
}

Bytes Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// TIFF files written through the library, one strip per page. `raw`: the
// strip bytes as given, already compressed.
struct TiffPage {
    std::uint32_t width = 64, height = 32;
    std::uint16_t bits = 8, samples = 1, compression = COMPRESSION_NONE;
    Bytes raw;  // empty: the library encodes a pattern
};

Bytes Tiff(const std::vector<TiffPage>& pages) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("t.tif").toStdString();
    TIFF* t = TIFFOpen(path.c_str(), "w");
    for (const TiffPage& p : pages) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, p.bits);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, p.samples);
        TIFFSetField(t, TIFFTAG_COMPRESSION, p.compression);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, p.bits == 1 ? PHOTOMETRIC_MINISWHITE
                                             : p.samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, p.height);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        if (!p.raw.empty()) {
            TIFFWriteRawStrip(t, 0, const_cast<std::uint8_t*>(p.raw.data()), static_cast<tmsize_t>(p.raw.size()));
        } else {
            const std::size_t row = (p.width * p.bits * p.samples + 7) / 8;
            Bytes pixels(row * p.height);
            for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = std::uint8_t((i * 7) ^ (i / row * 13));
            TIFFWriteEncodedStrip(t, 0, pixels.data(), static_cast<tmsize_t>(pixels.size()));
        }
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return Slurp(path);
}

// Where page `page`'s strip lies in a TIFF file, and where its directory
// says which directory follows.
struct TiffPlaces {
    std::uint64_t strip = 0, stripBytes = 0, nextPointer = 0;
};
TiffPlaces Places(const Bytes& file, int page) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("t.tif").toStdString();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    TIFF* t = TIFFOpen(path.c_str(), "r");
    TIFFSetDirectory(t, static_cast<tdir_t>(page));
    TiffPlaces p;
    const std::uint64_t* offsets = nullptr;
    const std::uint64_t* counts = nullptr;
    TIFFGetField(t, TIFFTAG_STRIPOFFSETS, &offsets);
    TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts);
    p.strip = offsets[0], p.stripBytes = counts[0];
    const std::uint64_t directory = TIFFCurrentDirOffset(t);
    p.nextPointer = directory + 2 + 12 * (file[directory] | file[directory + 1] << 8);
    TIFFClose(t);
    return p;
}

Bytes Overwrite(Bytes b, std::uint64_t at, const Bytes& with) {
    std::copy(with.begin(), with.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
}

// Everything written to standard error while it lives is kept, not shown.
class StandardErrorCatch {
public:
    StandardErrorCatch() : m_file(std::tmpfile()) {
        std::fflush(stderr);
        m_saved = dup(2);
        dup2(fileno(m_file), 2);
    }
    ~StandardErrorCatch() { restore(); }
    std::string restore() {
        if (m_saved < 0) return m_text;
        std::fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        m_saved = -1;
        std::rewind(m_file);
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0;) m_text.append(buffer, n);
        std::fclose(m_file);
        return m_text;
    }

private:
    std::FILE* m_file;
    int m_saved = -1;
    std::string m_text;
};

struct Case {
    const char* name;
    Bytes data;
    int status;
    int pages;
    const char* words;  // in the reason a load failed
};

std::vector<Case> DamagedTiffs() {
    const Bytes g4 = Tiff({{.width = 256, .height = 64, .bits = 1, .compression = COMPRESSION_CCITTFAX4, .raw = {}}});
    const TiffPlaces g4Strip = Places(g4, 0);
    const Bytes jpeg = Tiff({{.width = 128, .height = 64, .compression = COMPRESSION_JPEG, .raw = {}}});
    const TiffPlaces jpegStrip = Places(jpeg, 0);
    const Bytes threePages = Tiff({{}, {}, {}});
    return {
        {"TIFF G4", g4, kImageLoaded, 1, ""},
        {"TIFF G4 with a bad code word", Overwrite(g4, g4Strip.strip + 2, Bytes(8, 0x00)), kImageNotLoaded, 0,
         "Fax4Decode"},
        {"TIFF PackBits whose run overruns its strip",
         Tiff({{.width = 16, .height = 4, .compression = COMPRESSION_PACKBITS, .raw = {0x81, 0x00}}}), kImageNotLoaded, 0,
         "PackBitsDecode"},
        {"TIFF JPEG", jpeg, kImageLoaded, 1, ""},
        {"TIFF JPEG cut off inside its strip",
         Overwrite(jpeg, jpegStrip.strip + jpegStrip.stripBytes / 2, Bytes(jpegStrip.stripBytes / 2, 0xFF)),
         kImageNotLoaded, 0, "JPEG"},
        {"TIFF of three pages", threePages, kImageLoaded, 3, ""},
        {"TIFF whose third page's directory lies past the end",
         Overwrite(threePages, Places(threePages, 1).nextPointer, {0x00, 0xFF, 0xFF, 0x00}), kImageNotLoaded, 2,
         "page 3: "},
        {"TIFF whose last scan page is lost", sample::MultipageTiff(3, 200, 280, 1, true), kImageNotLoaded, 2,
         "page 3: "},
        {"TIFF declaring 30000x30000 colour pixels",
         Tiff({{.width = 30000, .height = 30000, .samples = 3, .compression = COMPRESSION_PACKBITS, .raw = {0x81, 0}}}),
         kImageNotLoaded, 0, "more than the 256 MB"},
    };
}

}  // namespace

TEST(ImageLoader, EveryPageMustDecodeWholeAndNothingReachesTheTerminal) {
    const Bytes truncated = sample::TruncatedJpeg(320, 240, 60, 5);
    // What a plain decode makes of the cut photograph: a picture, grey below.
    ASSERT_TRUE(QImage().loadFromData(truncated.data(), static_cast<int>(truncated.size())));
    // What a plain decode makes of a GIF cut short: a picture, no word.
    const Bytes gifCut = Cut(Gif(3), 70);
    ASSERT_TRUE(QImage().loadFromData(gifCut.data(), static_cast<int>(gifCut.size())));
    std::vector<Case> cases = {
        {"JPEG", Encoded("jpeg"), kImageLoaded, 1, ""},
        {"PNG", Encoded("png"), kImageLoaded, 1, ""},
        {"BMP", Encoded("bmp"), kImageLoaded, 1, ""},
        {"GIF of one frame", Gif(1), kImageLoaded, 1, ""},
        {"GIF of three frames", Gif(3), kImageLoaded, 3, ""},
        {"a photograph cut short", truncated, kImageNotLoaded, 1, "premature end of data segment"},
        {"PNG cut short", Cut(Encoded("png"), 60), kImageNotLoaded, 0, "IDAT chunk"},
        {"PNG with a damaged pixel chunk", Overwrite(Encoded("png"), 70, {0x55, 0xAA}), kImageNotLoaded, 0,
         "the checksum of the IDAT chunk"},
        {"BMP cut short", Cut(Encoded("bmp"), 80), kImageNotLoaded, 0, "the pixel rows end at byte"},
        {"BMP of runs without an end mark", RleBmpWithoutEnd(), kImageNotLoaded, 0, "before its end mark"},
        {"GIF cut inside a frame", gifCut, kImageNotLoaded, 0, "inside the pixel data of frame 2"},
        {"GIF cut before its trailer", Cut(Gif(3), 99), kImageNotLoaded, 0, "before its trailer, after 3 frames"},
        {"GIF whose frame data ends early", Gif(1, 2), kImageNotLoaded, 0, "frame 1: its data gives 1 of its 2 pixels"},
        {"GIF with a code out of order", Overwrite(Gif(1), 39, {0xFF}), kImageNotLoaded, 0, "an LZW code out of order"},
        {"JPEG declaring 30000x30000", sample::OversizedImage(0, 30000), kImageNotLoaded, 0, "more than the 256 MB"},
        {"progressive JPEG declaring 30000x30000", sample::OversizedImage(1, 30000), kImageNotLoaded, 0,
         "more than the 256 MB"},
        {"progressive JPEG whose coefficients pass the limit", sample::OversizedImage(1, 7000), kImageNotLoaded, 0,
         "more than the 256 MB"},
        {"PNG declaring 30000x30000", sample::OversizedImage(2, 30000), kImageNotLoaded, 0, "30000x30000 pixels"},
        {"bytes of no image format", Bytes(3000, 0x5A), kImageNotLoaded, 0, ""},
        {"a PNG signature and nothing after", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2, 3},
         kImageNotLoaded, 0, "before its IEND chunk"},
        {"no bytes", {}, kImageNotLoaded, 0, "no data"},
    };
    for (Case& c : DamagedTiffs()) cases.push_back(std::move(c));

    for (const Case& c : cases) {
        StandardErrorCatch terminal;
        const ImageLoad load = LoadDocumentImage(c.data, true);
        EXPECT_EQ(terminal.restore(), "") << c.name;
        EXPECT_EQ(load.status, c.status) << c.name << ": " << load.why;
        EXPECT_EQ(load.pages, c.pages) << c.name << ": " << load.why;
        EXPECT_EQ(load.first.isNull(), c.status != kImageLoaded) << c.name << ": the preview is the first page";
        EXPECT_EQ(load.why.empty(), c.status == kImageLoaded) << c.name;
        EXPECT_NE(load.why.find(c.words), std::string::npos) << c.name << ": " << load.why;
        EXPECT_EQ(LastImageLoadProblem(), load.why) << c.name;
    }
}

// A decode asked to stop ends between pages, with no verdict.
TEST(ImageLoader, StopsBetweenPages) {
    const std::atomic<bool> stop{true};
    const std::vector<Bytes> files = {Tiff(std::vector<TiffPage>(20)), Gif(5)};
    for (const Bytes& file : files) {
        const ImageLoad load = LoadDocumentImage(file, false, &stop);
        EXPECT_EQ(load.status, kImageCancelled);
        EXPECT_EQ(load.pages, 0);
    }
}

// A warning belongs to the decode on its own thread: a damaged document
// decoded beside sound ones does not make them fail, nor they it.
TEST(ImageLoader, WarningsStayWithTheirOwnDecode) {
    const Bytes badJpeg = sample::TruncatedJpeg(320, 240, 60, 9), good = Encoded("jpeg");
    const Bytes badTiff = DamagedTiffs()[1].data, goodTiff = DamagedTiffs()[0].data;
    std::vector<int> badStatus(40), goodStatus(40);
    std::thread a([&] {
        for (std::size_t i = 0; i < badStatus.size(); ++i) badStatus[i] = LoadImageStatus(i % 2 ? badJpeg : badTiff);
    });
    std::thread b([&] {
        for (std::size_t i = 0; i < goodStatus.size(); ++i) goodStatus[i] = LoadImageStatus(i % 2 ? good : goodTiff);
    });
    a.join(), b.join();
    EXPECT_EQ(std::count(badStatus.begin(), badStatus.end(), kImageNotLoaded), 40);
    EXPECT_EQ(std::count(goodStatus.begin(), goodStatus.end(), kImageLoaded), 40);
}
