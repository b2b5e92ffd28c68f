#include "support/ImageStructure.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace qx::image {

namespace {

std::uint32_t Le16(Bytes d, std::size_t at) { return d[at] | d[at + 1] << 8; }
std::uint32_t Le32(Bytes d, std::size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<std::uint32_t>(d[at + 3]) << 24;
}
std::uint32_t Be16(Bytes d, std::size_t at) { return d[at] << 8 | d[at + 1]; }
std::uint32_t Be32(Bytes d, std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) << 24 | d[at + 1] << 16 | d[at + 2] << 8 | d[at + 3];
}

// The checksum of PNG chunks (the one of zlib and Ethernet).
std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}

std::string CutAt(std::size_t at, const std::string& what) {
    return "the file ends at byte " + std::to_string(at) + ", inside " + what;
}

}  // namespace

bool IsTiff(Bytes d) {
    return d.size() >= 4 && ((d[0] == 'I' && d[1] == 'I' && (d[2] == 42 || d[2] == 43) && d[3] == 0) ||
                             (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && (d[3] == 42 || d[3] == 43)));
}

std::optional<JpegFrame> ReadJpegFrame(Bytes d) {
    if (d.size() < 4 || d[0] != 0xFF || d[1] != 0xD8) return std::nullopt;
    std::size_t at = 2;
    while (at + 4 <= d.size()) {
        if (d[at] != 0xFF) return std::nullopt;
        const std::uint8_t marker = d[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
            at += 2;
            continue;
        }
        const std::uint32_t length = Be16(d, at + 2);
        const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof) {
            if (at + 10 > d.size()) return std::nullopt;
            JpegFrame f;
            f.height = static_cast<int>(Be16(d, at + 5));
            f.width = static_cast<int>(Be16(d, at + 7));
            f.components = d[at + 9];
            f.progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            return f;
        }
        if (marker == 0xDA || marker == 0xD9 || length < 2) return std::nullopt;
        at += 2 + length;
    }
    return std::nullopt;
}

// Runs the LZW codes of one frame (its code size at `from`, its sub-blocks
// up to `to`) and counts the pixels they give: a frame whose codes end
// early leaves the rest of its picture to whatever the decoder had.
std::string GifFramePixels(Bytes d, std::size_t from, std::size_t to, std::int64_t need) {
    const int minimum = d[from];
    if (minimum < 1 || minimum > 11) return "an LZW code size of " + std::to_string(minimum);
    std::vector<std::uint8_t> codes;
    for (std::size_t at = from + 1; at < to;) {
        const std::size_t n = d[at++];
        if (n == 0) break;
        codes.insert(codes.end(), d.begin() + static_cast<std::ptrdiff_t>(at),
                     d.begin() + static_cast<std::ptrdiff_t>(std::min(at + n, to)));
        at += n;
    }
    const int clear = 1 << minimum, end = clear + 1;
    std::array<std::uint32_t, 4096> length{};  // pixels each code stands for
    int size = minimum + 1, next = clear + 2, previous = -1;
    std::int64_t have = 0;
    std::uint64_t bits = 0;
    int held = 0;
    std::size_t at = 0;
    while (have < need) {
        while (held < size && at < codes.size()) bits |= static_cast<std::uint64_t>(codes[at++]) << held, held += 8;
        if (held < size) break;
        const int code = static_cast<int>(bits & ((1u << size) - 1));
        bits >>= size, held -= size;
        if (code == clear) {
            size = minimum + 1, next = clear + 2, previous = -1;
            continue;
        }
        if (code == end) break;
        std::uint32_t count = 0;
        if (code < clear) count = 1;
        else if (code < next && previous >= 0) count = length[static_cast<std::size_t>(code)];
        else if (code == next && previous >= 0) count = length[static_cast<std::size_t>(previous)] + 1;
        else return "an LZW code out of order at pixel " + std::to_string(have);
        if (previous >= 0 && next < 4096) {
            length[static_cast<std::size_t>(next)] = length[static_cast<std::size_t>(previous)] + 1;
            if (++next == (1 << size) && size < 12) ++size;
        }
        if (code < clear) length[static_cast<std::size_t>(code)] = 1;
        have += count;
        previous = code;
    }
    if (have < need) return "its data gives " + std::to_string(have) + " of its " + std::to_string(need) + " pixels";
    return "";
}

std::string CheckGif(Bytes d, int& frames) {
    frames = 0;
    if (d.size() < 13) return CutAt(d.size(), "the GIF header");
    std::size_t at = 13;
    if (d[10] & 0x80) at += 3u * (2u << (d[10] & 7));
    // The data of a block comes in sub-blocks, each led by its length; a
    // length of 0 ends the block.
    const auto skipSubBlocks = [&](const char* what) -> std::string {
        for (;;) {
            if (at >= d.size()) return CutAt(d.size(), what);
            const std::size_t n = d[at++];
            if (n == 0) return "";
            at += n;
            if (at > d.size()) return CutAt(d.size(), what);
        }
    };
    for (;;) {
        if (at >= d.size()) {
            return "the file ends at byte " + std::to_string(d.size()) + " before its trailer, after " +
                   std::to_string(frames) + " frame" + (frames == 1 ? "" : "s");
        }
        const std::uint8_t block = d[at++];
        if (block == 0x3B) return "";
        if (block == 0x21) {
            ++at;  // the extension's label
            if (std::string cut = skipSubBlocks("an extension block"); !cut.empty()) return cut;
        } else if (block == 0x2C) {
            if (at + 10 > d.size()) return CutAt(d.size(), "the descriptor of frame " + std::to_string(frames + 1));
            const std::int64_t pixels = static_cast<std::int64_t>(Le16(d, at + 4)) * Le16(d, at + 6);
            const std::uint8_t flags = d[at + 8];
            at += 9;
            if (flags & 0x80) at += 3u * (2u << (flags & 7));
            const std::size_t codeSizeAt = at++;
            const std::string frame = "the pixel data of frame " + std::to_string(frames + 1);
            if (std::string cut = skipSubBlocks(frame.c_str()); !cut.empty()) return cut;
            ++frames;
            if (std::string short_ = GifFramePixels(d, codeSizeAt, at, pixels); !short_.empty())
                return "frame " + std::to_string(frames) + ": " + short_;
        } else {
            return "unknown block 0x" + std::string(1, "0123456789ABCDEF"[block >> 4]) +
                   std::string(1, "0123456789ABCDEF"[block & 15]) + " at byte " + std::to_string(at - 1);
        }
    }
}

std::string CheckBmp(Bytes d) {
    if (d.size() < 30) return CutAt(d.size(), "the BMP header");
    const std::uint32_t offset = Le32(d, 10), header = Le32(d, 14);
    std::int64_t width = 0, height = 0;
    std::uint32_t bits = 0, compression = 0;
    if (header == 12) {
        width = Le16(d, 18), height = static_cast<std::int16_t>(Le16(d, 20)), bits = Le16(d, 24);
    } else {
        if (d.size() < 54) return CutAt(d.size(), "the BMP header");
        width = static_cast<std::int32_t>(Le32(d, 18)), height = static_cast<std::int32_t>(Le32(d, 22));
        bits = Le16(d, 28), compression = Le32(d, 30);
    }
    width = std::llabs(width), height = std::llabs(height);
    if (compression == 0 || compression == 3 || compression == 6) {
        const std::int64_t row = (width * bits + 31) / 32 * 4;
        const std::int64_t need = static_cast<std::int64_t>(offset) + row * height;
        if (need > static_cast<std::int64_t>(d.size())) {
            return "the pixel rows end at byte " + std::to_string(d.size()) + ", " + std::to_string(need) +
                   " bytes are declared (" + std::to_string(width) + "x" + std::to_string(height) + ", " +
                   std::to_string(bits) + " bits)";
        }
        return "";
    }
    if (compression == 1 || compression == 2) {
        // Run-length data: the runs must reach the end-of-bitmap mark.
        std::size_t at = offset;
        for (;;) {
            if (at + 2 > d.size()) return CutAt(d.size(), "the run-length pixel data, before its end mark");
            const std::uint8_t count = d[at], value = d[at + 1];
            at += 2;
            if (count != 0) continue;
            if (value == 1) return "";
            if (value == 0) continue;
            if (value == 2) {
                at += 2;
                continue;
            }
            const std::size_t bytes = compression == 1 ? value : (value + 1u) / 2;
            at += bytes + (bytes & 1);
        }
    }
    return "";
}

std::string CheckPng(Bytes d) {
    std::size_t at = 8;
    while (at + 12 <= d.size()) {
        const std::uint32_t length = Be32(d, at);
        std::string type(reinterpret_cast<const char*>(d.data() + at + 4), 4);
        for (char& c : type)
            if (!std::isalpha(static_cast<unsigned char>(c))) c = '?';
        const std::uint64_t end = static_cast<std::uint64_t>(at) + 12 + length;
        if (end > d.size()) return CutAt(d.size(), "its " + type + " chunk");
        // The PNG library would say so on the terminal, past any handler.
        if (Crc32(d.data() + at + 4, 4 + length) != Be32(d, at + 8 + length))
            return "the checksum of the " + type + " chunk at byte " + std::to_string(at) + " is wrong";
        if (type == "IEND") return "";
        at = static_cast<std::size_t>(end);
    }
    return "the file ends at byte " + std::to_string(d.size()) + " before its IEND chunk";
}

std::int64_t DecodeBytes(std::int64_t width, std::int64_t height, bool bilevel) {
    if (width <= 0 || height <= 0) return 0;
    return bilevel ? (width + 7) / 8 * height : width * height * 4;
}

}  // namespace qx::image
