#pragma once
// A value as the database layer and the message formatter pass it around:
// Null, a whole number, a floating-point number, text (UTF-8) or bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qx {

using Bytes = std::vector<std::uint8_t>;

class Variant {
public:
    Variant() = default;  // Null
    Variant(std::nullptr_t) {}
    Variant(bool b) : m_v(std::int64_t(b ? -1 : 0)) {}  // stored booleans are -1 / 0
    Variant(int i) : m_v(std::int64_t(i)) {}
    Variant(long i) : m_v(std::int64_t(i)) {}
    Variant(long long i) : m_v(std::int64_t(i)) {}
    Variant(unsigned u) : m_v(std::int64_t(u)) {}
    Variant(double d) : m_v(d) {}
    Variant(const char* s) : m_v(std::string(s)) {}
    Variant(std::string s) : m_v(std::move(s)) {}
    Variant(std::string_view s) : m_v(std::string(s)) {}
    Variant(Bytes b) : m_v(std::move(b)) {}

    bool isNull() const { return m_v.index() == 0; }
    bool isInteger() const { return m_v.index() == 1; }
    bool isDouble() const { return m_v.index() == 2; }
    bool isText() const { return m_v.index() == 3; }
    bool isBytes() const { return m_v.index() == 4; }

    // Conversions never fail: Null gives 0 / "" / empty, text is parsed leniently.
    std::int64_t toInt64() const;
    long toLong() const { return static_cast<long>(toInt64()); }
    double toDouble() const;
    bool toBool() const { return toInt64() != 0; }
    std::string toString() const;  // numbers in plain decimal
    Bytes toBytes() const;

    const std::string* text() const { return std::get_if<std::string>(&m_v); }
    const Bytes* bytes() const { return std::get_if<Bytes>(&m_v); }

    friend bool operator==(const Variant&, const Variant&) = default;

private:
    std::variant<std::monostate, std::int64_t, double, std::string, Bytes> m_v;
};

}  // namespace qx
