#include "database/maintenance/IntentRecord.h"

#include "support/RecordText.h"

#include <cstdio>
#include <utility>
#include <cstdlib>

namespace qx {

namespace {

using namespace recordtext;

constexpr std::string_view kHeader = "quillex-intent\t1";

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
    return Sealed(std::move(text));
}

std::optional<IntentRecord> IntentRecord::Parse(std::string_view text, std::string& why) {
    const std::optional<std::string_view> lines = Unsealed(text, why);
    if (!lines) return std::nullopt;
    IntentRecord r;
    bool header = false, marker = false, bad = false;
    std::string_view body = *lines;
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
            else if (Unsigned(f[1], v) && v <= 0xFFFFFFFFULL) r.marker = static_cast<std::uint32_t>(v);
            else { bad = true; break; }
            marker = true;
        } else if (f[0] == "rename" && f.size() == 5) {
            IntentRename step;
            if (!Unescape(f[1], step.from) || !Unescape(f[2], step.to) || !IsPlainFileName(step.from) ||
                !IsPlainFileName(step.to) || !Unsigned(f[3], step.file.device) ||
                !Unsigned(f[4], step.file.inode))
                { bad = true; break; }
            r.renames.push_back(std::move(step));
        } else if ((f[0] == "remove" || f[0] == "discard") && f.size() == 4) {
            IntentFile file;
            if (!Unescape(f[1], file.name) || !IsPlainFileName(file.name) || !Unsigned(f[2], file.file.device) ||
                !Unsigned(f[3], file.file.inode))
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
