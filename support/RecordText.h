#pragma once
// The line format our small record files share (the intent record, the
// check's progress record): TAB-separated fields, text with "%", TAB, CR
// and LF escaped, a checksum line that tells a torn or altered record from
// a whole one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx::recordtext {

// Text is stored with "%", TAB, CR and LF escaped: a line always splits at
// the right places, whatever a name or a state text holds.
inline std::string Escape(std::string_view s) {
    std::string out;
    for (const char c : s) {
        if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

inline bool Unescape(std::string_view s, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size()) return false;
        const std::string hex(s.substr(i + 1, 2));
        char* end = nullptr;
        const long v = std::strtol(hex.c_str(), &end, 16);
        if (end != hex.c_str() + 2) return false;
        out += static_cast<char>(v);
        i += 2;
    }
    return true;
}

// FNV-1a: enough to tell a torn or altered record from a whole one.
inline std::uint64_t Checksum(std::string_view text) {
    std::uint64_t h = 1469598103934665603ULL;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

inline std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> out;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) return out;
        start = tab + 1;
    }
}

inline bool Unsigned(std::string_view text, std::uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const std::uint64_t next = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (next / 10 != value) return false;
        value = next;
    }
    return true;
}

// The record's lines followed by the checksum line over them.
inline std::string Sealed(std::string lines) {
    char sum[32];
    std::snprintf(sum, sizeof sum, "%016llx", static_cast<unsigned long long>(Checksum(lines)));
    return lines + "checksum\t" + sum + "\n";
}

// The lines of a sealed record; nullopt for one that is torn or altered,
// `why` says which.
inline std::optional<std::string_view> Unsealed(std::string_view text, std::string& why) {
    const std::size_t sumAt = text.rfind("checksum\t");
    if (sumAt == std::string_view::npos || (sumAt > 0 && text[sumAt - 1] != '\n')) {
        why = "the record is incomplete";
        return std::nullopt;
    }
    if (text.substr(sumAt) != Sealed(std::string(text.substr(0, sumAt))).substr(sumAt)) {
        why = "the record's checksum does not match";
        return std::nullopt;
    }
    return text.substr(0, sumAt);
}

}  // namespace qx::recordtext
