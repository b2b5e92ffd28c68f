#pragma once
// Small conversions shared across the program.
#include "support/Variant.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qx {

// "???" for a negative count, "mm:ss" below an hour, "h:mm:ss" from an hour on.
std::string FormatDuration(long seconds);

// "" for Null, else the value as text.
std::string NullToStr(const Variant& value);

// The code point starting at `pos`, advancing `pos` past it. An invalid or
// truncated sequence (overlong forms and surrogates included) yields
// kInvalidCodePoint and advances by one byte.
inline constexpr char32_t kInvalidCodePoint = 0xFFFFFFFF;
char32_t NextCodePoint(std::string_view utf8, std::size_t& pos);
// The first `count` characters (code points) of a UTF-8 text.
std::string Utf8Left(std::string_view utf8, std::size_t count);
// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace qx
