#include "support/Variant.h"

#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qx {

std::int64_t Variant::toInt64() const {
    switch (m_v.index()) {
    case 1: return std::get<1>(m_v);
    case 2: return static_cast<std::int64_t>(std::llround(std::get<2>(m_v)));
    case 3: {
        const std::string& s = std::get<3>(m_v);
        std::int64_t r = 0;
        const char* b = s.data();
        while (b < s.data() + s.size() && (*b == ' ' || *b == '\t')) ++b;
        std::from_chars(b, s.data() + s.size(), r);
        return r;
    }
    default: return 0;
    }
}

double Variant::toDouble() const {
    switch (m_v.index()) {
    case 1: return static_cast<double>(std::get<1>(m_v));
    case 2: return std::get<2>(m_v);
    case 3: {
        // The point is the decimal sign whatever the C locale says: stored
        // text and log lines never follow the user's locale.
        const std::string& s = std::get<3>(m_v);
        const char* b = s.data();
        const char* e = s.data() + s.size();
        while (b < e && std::isspace(static_cast<unsigned char>(*b))) ++b;
        if (b < e && *b == '+') ++b;
        double r = 0;
        std::from_chars(b, e, r);
        return r;
    }
    default: return 0.0;
    }
}

std::string Variant::toString() const {
    switch (m_v.index()) {
    case 1: return std::to_string(std::get<1>(m_v));
    case 2: {
        double d = std::get<2>(m_v);
        if (std::floor(d) == d && std::fabs(d) < 1e15) return std::to_string(static_cast<std::int64_t>(d));
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
        return std::string(buf, r.ptr);
    }
    case 3: return std::get<3>(m_v);
    case 4: {
        const Bytes& b = std::get<4>(m_v);
        return std::string(b.begin(), b.end());
    }
    default: return {};
    }
}

Bytes Variant::toBytes() const {
    if (const Bytes* b = bytes()) return *b;
    if (isNull()) return {};
    std::string s = toString();
    return Bytes(s.begin(), s.end());
}

}  // namespace qx
