#pragma once
// Small conversions shared across the program.
#include "support/Variant.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace qx {

// "???" for a negative count, "mm:ss" below an hour, "h:mm:ss" from an hour on.
std::string FormatDuration(long seconds);

// Whole-number division truncating toward zero; 0 when b is 0.
std::int64_t IntDiv(std::int64_t a, std::int64_t b);

template <typename A, typename B>
constexpr std::common_type_t<A, B> MinOf(A a, B b) {
    using T = std::common_type_t<A, B>;
    return T(b) < T(a) ? T(b) : T(a);
}
template <typename A, typename B>
constexpr std::common_type_t<A, B> MaxOf(A a, B b) {
    using T = std::common_type_t<A, B>;
    return T(a) < T(b) ? T(b) : T(a);
}

// "" for Null, else the value as text.
std::string NullToStr(const Variant& value);

// One byte per character: the low byte of its code point ("©" gives 169).
// A byte that is not valid UTF-8 is taken as it stands.
Bytes StringToBytes(std::string_view utf8);

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
