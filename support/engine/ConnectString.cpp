#include "support/engine/ConnectString.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace qx::engine {

namespace {

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// Keywords after which a ";" is taken as a separator. Anything else after a
// ";" is part of the value (a folder named "a;b=c" must not break the path).
constexpr std::array kKeywords = {
    "provider", "data source", "dbq", "database", "pwd", "uid", "user id", "password", "mode",
    "persist security info", "extended properties", "jet oledb:database password", "jet oledb:system database",
    "jet oledb:engine type", "jet oledb:database locking mode", "jet oledb:registry path", "locale identifier",
};

bool isKeyword(std::string_view k) {
    k = trim(k);
    return std::any_of(kKeywords.begin(), kKeywords.end(), [&](const char* kw) { return iequals(k, kw); });
}

// At position p (just after a ";"), does "keyword=" or the end follow?
bool separatorAt(std::string_view text, size_t p) {
    std::string_view rest = text.substr(p);
    if (trim(rest).empty()) return true;
    size_t eq = rest.find('=');
    if (eq == std::string_view::npos) return false;
    return isKeyword(rest.substr(0, eq));
}

}  // namespace

ConnectString ConnectString::Parse(std::string_view text) {
    ConnectString cs;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == ';' || std::isspace(static_cast<unsigned char>(text[pos])))) ++pos;
        if (pos >= text.size()) break;
        size_t eq = text.find('=', pos);
        if (eq == std::string_view::npos) break;
        std::string key(trim(text.substr(pos, eq - pos)));
        size_t v = eq + 1;
        std::string value;
        size_t lead = v;
        while (lead < text.size() && text[lead] == ' ') ++lead;
        if (lead < text.size() && (text[lead] == '"' || text[lead] == '\'')) {
            const char q = text[lead];
            size_t i = lead + 1;
            bool closed = false;
            for (; i < text.size(); ++i) {
                if (text[i] == q) {
                    if (i + 1 < text.size() && text[i + 1] == q) {
                        value += q;
                        ++i;
                    } else {
                        closed = true;
                        ++i;
                        break;
                    }
                } else {
                    value += text[i];
                }
            }
            if (closed) {
                while (i < text.size() && text[i] != ';') ++i;
                pos = i;
                cs.items.emplace_back(std::move(key), std::move(value));
                continue;
            }
            value.clear();  // an unclosed quote is part of a verbatim value
        }
        size_t end = v;
        for (;;) {
            size_t semi = text.find(';', end);
            if (semi == std::string_view::npos) {
                end = text.size();
                break;
            }
            if (separatorAt(text, semi + 1)) {
                end = semi;
                break;
            }
            end = semi + 1;
        }
        cs.items.emplace_back(std::move(key), std::string(text.substr(v, end - v)));
        pos = end;
    }
    return cs;
}

std::string ConnectString::Value(std::string_view value) {
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    const bool quote = value.find_first_of(";=") != std::string_view::npos ||
                       (!value.empty() && (space(value.front()) || space(value.back()) || value.front() == '"' ||
                                           value.front() == '\''));
    if (!quote) return std::string(value);
    std::string out = "\"";
    for (char c : value) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string ConnectString::Fill(std::string_view pattern,
                                const std::vector<std::pair<std::string_view, std::string_view>>& values) {
    std::string out;
    for (size_t pos = 0; pos < pattern.size();) {
        bool filled = false;
        for (const auto& [placeholder, value] : values)
            if (!placeholder.empty() && pattern.substr(pos, placeholder.size()) == placeholder) {
                out += Value(value);
                pos += placeholder.size();
                filled = true;
                break;
            }
        if (!filled) out += pattern[pos++];
    }
    return out;
}

std::optional<std::string> ConnectString::get(std::string_view keyword) const {
    for (const auto& [k, v] : items)
        if (iequals(k, keyword)) return v;
    return std::nullopt;
}

std::string ConnectString::dataSource() const {
    for (const char* k : {"Data Source", "DBQ", "Database"})
        if (auto v = get(k)) return *v;
    return {};
}

std::string ConnectString::password() const {
    for (const char* k : {"Jet OLEDB:Database Password", "PWD", "Password"})
        if (auto v = get(k)) return *v;
    return {};
}

bool ConnectString::readOnly() const {
    const std::optional<std::string> mode = get("Mode");
    if (!mode) return false;
    bool read = false;
    std::string_view rest = *mode;
    for (;;) {
        const size_t bar = rest.find('|');
        const std::string_view part = trim(rest.substr(0, bar));
        // A mode that also writes asks for writing, whatever else it says.
        if (iequals(part, "Write") || iequals(part, "ReadWrite")) return false;
        read = read || iequals(part, "Read");
        if (bar == std::string_view::npos) return read;
        rest.remove_prefix(bar + 1);
    }
}

}  // namespace qx::engine
