#include "support/Tools.h"

#include <cstdio>

namespace qx {

std::string FormatDuration(long seconds) {
    if (seconds < 0) return "???";
    long hours = seconds / 3600;
    long minutes = (seconds % 3600) / 60;
    long secs = seconds % 60;
    char buf[48];
    if (hours < 1)
        std::snprintf(buf, sizeof buf, "%02ld:%02ld", minutes, secs);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", hours, minutes, secs);
    return buf;
}

std::string NullToStr(const Variant& value) { return value.isNull() ? std::string() : value.toString(); }

char32_t NextCodePoint(std::string_view s, std::size_t& pos) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t length;
    char32_t cp;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) { length = 2; cp = lead & 0x1F; minimum = 0x80; }
    else if ((lead & 0xF0) == 0xE0) { length = 3; cp = lead & 0x0F; minimum = 0x800; }
    else if ((lead & 0xF8) == 0xF0) { length = 4; cp = lead & 0x07; minimum = 0x10000; }
    else { ++pos; return kInvalidCodePoint; }

    if (pos + length > s.size()) { ++pos; return kInvalidCodePoint; }
    for (std::size_t i = 1; i < length; ++i) {
        unsigned char b = byte(pos + i);
        if ((b & 0xC0) != 0x80) { ++pos; return kInvalidCodePoint; }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { ++pos; return kInvalidCodePoint; }
    pos += length;
    return cp;
}

std::string Utf8Left(std::string_view utf8, std::size_t count) {
    std::size_t pos = 0;
    for (std::size_t n = 0; n < count && pos < utf8.size(); ++n) NextCodePoint(utf8, pos);
    return std::string(utf8.substr(0, pos));
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace qx
