// The loader that tells whether a graphical document can be shown: every
// page decoded, and a decode that had to warn counts as failed.
#include "support/ImageLoader.h"
#include "tools/sample/SampleContent.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <thread>
#include <vector>

using namespace qx;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Encoded(const char* format) {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(qRgb(30, 120, 200));
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(QImageWriter(&buffer, format).write(image)) << format;
    return Bytes(out.begin(), out.end());
}

// A GIF of one transparent pixel (the plugin writes no GIF).
Bytes OnePixelGif() {
    static const unsigned char gif[] = {
        0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF, 0xFF,
        0x00, 0x00, 0x00, 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00,
        0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
    return Bytes(gif, gif + sizeof gif);
}

}  // namespace

TEST(ImageLoader, EveryPageMustDecodeWithoutWarnings) {
    const Bytes truncated = sample::TruncatedJpeg(320, 240, 60, 5);
    // What a plain decode makes of the cut photograph: a picture, grey below.
    ASSERT_TRUE(QImage().loadFromData(truncated.data(), static_cast<int>(truncated.size())));
    struct Case {
        const char* name;
        Bytes data;
        int status;
        int pages;
    } cases[] = {
        {"a scan of three pages", sample::MultipageTiff(3, 200, 280, 1), kImageLoaded, 3},
        {"a scan whose last page is lost", sample::MultipageTiff(3, 200, 280, 1, true), kImageNotLoaded, 2},
        {"a photograph cut short", truncated, kImageNotLoaded, 1},
        {"JPEG", Encoded("jpeg"), kImageLoaded, 1},
        {"PNG", Encoded("png"), kImageLoaded, 1},
        {"BMP", Encoded("bmp"), kImageLoaded, 1},
        {"GIF", OnePixelGif(), kImageLoaded, 1},
        {"bytes of no image format", Bytes(3000, 0x5A), kImageNotLoaded, 0},
        {"a PNG signature and nothing after", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2, 3}, kImageNotLoaded, 0},
        {"no bytes", {}, kImageNotLoaded, 0},
    };
    for (const Case& c : cases) {
        const ImageLoad load = LoadDocumentImage(c.data, true);
        EXPECT_EQ(load.status, c.status) << c.name << ": " << load.why;
        EXPECT_EQ(load.pages, c.pages) << c.name;
        EXPECT_EQ(load.first.isNull(), c.status != kImageLoaded) << c.name << ": the preview is the first page";
        EXPECT_EQ(load.why.empty(), c.status == kImageLoaded) << c.name;
    }
}

// A warning belongs to the decode on its own thread: a damaged document
// decoded beside sound ones does not make them fail, nor they it.
TEST(ImageLoader, WarningsStayWithTheirOwnDecode) {
    const Bytes bad = sample::TruncatedJpeg(320, 240, 60, 9), good = Encoded("jpeg");
    std::vector<int> badStatus(40), goodStatus(40);
    std::thread a([&] {
        for (int& s : badStatus) s = LoadImageStatus(bad);
    });
    std::thread b([&] {
        for (int& s : goodStatus) s = LoadImageStatus(good);
    });
    a.join(), b.join();
    EXPECT_EQ(std::count(badStatus.begin(), badStatus.end(), kImageNotLoaded), 40);
    EXPECT_EQ(std::count(goodStatus.begin(), goodStatus.end(), kImageLoaded), 40);
}
