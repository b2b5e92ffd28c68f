#include "database/maintenance/IntentRecord.h"

#include <cstdio>
#include <cstdlib>

namespace qx {

namespace {

constexpr std::string_view kHeader = "quillex-intent\t1";

// Names are stored with "%", TAB, CR and LF escaped, so a record line is
// always split at the right places whatever a file name holds.
std::string Escape(std::string_view s) {
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

bool Unescape(std::string_view s, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size()) return false;
        char* end = nullptr;
        const std::string hex(s.substr(i + 1, 2));
        const long v = std::strtol(hex.c_str(), &end, 16);
        if (end != hex.c_str() + 2) return false;
        out += static_cast<char>(v);
        i += 2;
    }
    return true;
}

// FNV-1a: enough to tell a torn or altered record from a whole one.
std::uint64_t Checksum(std::string_view text) {
    std::uint64_t h = 1469598103934665603ULL;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> out;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) return out;
        start = tab + 1;
    }
}

bool ParseNumber(std::string_view text, std::uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

}  // namespace

bool IsPlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find('/') == std::string_view::npos && name.find('\\') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::string IntentRecord::serialize() const {
    std::string text(kHeader);
    text += "\noperation\t" + Escape(operation) + "\n";
    text += "marker\t" + (marker ? std::to_string(*marker) : std::string("none")) + "\n";
    for (const IntentRename& r : renames)
        text += "rename\t" + Escape(r.from) + "\t" + Escape(r.to) + "\t" + std::to_string(r.file.device) + "\t" +
                std::to_string(r.file.inode) + "\n";
    for (const IntentFile& f : removes)
        text += "remove\t" + Escape(f.name) + "\t" + std::to_string(f.file.device) + "\t" +
                std::to_string(f.file.inode) + "\n";
    for (const IntentFile& f : discards)
        text += "discard\t" + Escape(f.name) + "\t" + std::to_string(f.file.device) + "\t" +
                std::to_string(f.file.inode) + "\n";
    char sum[32];
    std::snprintf(sum, sizeof sum, "%016llx", static_cast<unsigned long long>(Checksum(text)));
    return text + "checksum\t" + sum + "\n";
}

std::optional<IntentRecord> IntentRecord::Parse(std::string_view text, std::string& why) {
    const std::size_t sumAt = text.rfind("checksum\t");
    if (sumAt == std::string_view::npos || (sumAt > 0 && text[sumAt - 1] != '\n')) {
        why = "the record is incomplete";
        return std::nullopt;
    }
    char sum[32];
    std::snprintf(sum, sizeof sum, "%016llx", static_cast<unsigned long long>(Checksum(text.substr(0, sumAt))));
    if (text.substr(sumAt) != "checksum\t" + std::string(sum) + "\n") {
        why = "the record's checksum does not match";
        return std::nullopt;
    }
    IntentRecord r;
    bool header = false, marker = false, bad = false;
    std::string_view body = text.substr(0, sumAt);
    while (!body.empty()) {
        const std::size_t nl = body.find('\n');
        const std::string_view line = body.substr(0, nl);
        body = nl == std::string_view::npos ? std::string_view() : body.substr(nl + 1);
        const auto f = Fields(line);
        if (!header) {
            if (line != kHeader) { bad = true; break; }
            header = true;
        } else if (f[0] == "operation" && f.size() == 2) {
            if (!Unescape(f[1], r.operation)) { bad = true; break; }
        } else if (f[0] == "marker" && f.size() == 2) {
            std::uint64_t v = 0;
            if (f[1] == "none") r.marker.reset();
            else if (ParseNumber(f[1], v) && v <= 0xFFFFFFFFULL) r.marker = static_cast<std::uint32_t>(v);
            else { bad = true; break; }
            marker = true;
        } else if (f[0] == "rename" && f.size() == 5) {
            IntentRename step;
            if (!Unescape(f[1], step.from) || !Unescape(f[2], step.to) || !IsPlainFileName(step.from) ||
                !IsPlainFileName(step.to) || !ParseNumber(f[3], step.file.device) ||
                !ParseNumber(f[4], step.file.inode))
                { bad = true; break; }
            r.renames.push_back(std::move(step));
        } else if ((f[0] == "remove" || f[0] == "discard") && f.size() == 4) {
            IntentFile file;
            if (!Unescape(f[1], file.name) || !IsPlainFileName(file.name) || !ParseNumber(f[2], file.file.device) ||
                !ParseNumber(f[3], file.file.inode))
                { bad = true; break; }
            (f[0] == "remove" ? r.removes : r.discards).push_back(std::move(file));
        } else {
            bad = true;  // anything unknown makes the record unusable
            break;
        }
    }
    if (bad || !header || !marker || (r.marker && !r.discards.empty())) {
        why = "the record is not one Quillex can read";
        return std::nullopt;
    }
    return r;
}

}  // namespace qx
