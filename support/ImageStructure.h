#pragma once
// What an image file says about itself before it is decoded: how big its
// picture is, how many frames it holds, and whether the bytes reach as far
// as its structure says they must. Decoders forgive a file cut short (a GIF
// loses its last frames, a BMP its last rows) without a word; these walks
// are what tell.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qx::image {

using Bytes = std::span<const std::uint8_t>;

bool IsTiff(Bytes data);

// The frame header of a JPEG file.
struct JpegFrame {
    int width = 0, height = 0, components = 0;
    bool progressive = false;
};
std::optional<JpegFrame> ReadJpegFrame(Bytes data);

// Each walk returns "" when the structure is complete, else what is wrong
// in words. `frames` receives the number of images a GIF holds.
std::string CheckGif(Bytes data, int& frames);
std::string CheckBmp(Bytes data);
std::string CheckPng(Bytes data);

// The memory a decode of a `width` x `height` picture takes, in bytes, as
// kImageMemoryLimitMB counts it.
std::int64_t DecodeBytes(std::int64_t width, std::int64_t height, bool bilevel);

}  // namespace qx::image
