#pragma once
// Column and table names compare without regard to ASCII letter case, as the
// engine itself compares them.
#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace qx::engine {

inline std::string upper(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

inline bool iequals(std::string_view a, std::string_view b) { return a.size() == b.size() && upper(a) == upper(b); }

}  // namespace qx::engine
