#include "database/checks/CheckProgressRecord.h"

#include "database/access/FileNames.h"
#include "support/RecordText.h"
#include "support/Log.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <cstdlib>
#include <limits>

namespace qx {

namespace {

using namespace recordtext;

constexpr std::string_view kHeader = "quillex-check-progress\t1";

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        out += digits[static_cast<unsigned char>(c) >> 4];
        out += digits[static_cast<unsigned char>(c) & 15];
    }
    return out;
}

bool Unhex(std::string_view text, std::string& out) {
    out.clear();
    if (text.size() % 2) return false;
    const auto value = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = value(text[i]), lo = value(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

template <typename T>
bool Signed(std::string_view text, T& value) {
    const bool negative = !text.empty() && text[0] == '-';
    std::uint64_t magnitude = 0;
    if (!Unsigned(negative ? text.substr(1) : text, magnitude) || magnitude > 0x7fffffffffffffffULL) return false;
    const std::int64_t v = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    if (v < static_cast<std::int64_t>(std::numeric_limits<T>::min()) ||
        v > static_cast<std::int64_t>(std::numeric_limits<T>::max()))
        return false;
    value = static_cast<T>(v);
    return true;
}

std::string Id(const FileId& f) { return std::to_string(f.device) + "\t" + std::to_string(f.inode); }

}  // namespace

bool RecordedFinding::operator==(const RecordedFinding& o) const {
    const Finding &a = finding, &b = o.finding;
    return a.id == b.id && a.code == b.code && a.subDatabase == b.subDatabase && a.name == b.name &&
           a.virtualPath == b.virtualPath && a.repaired == b.repaired && a.inMemory == b.inMemory &&
           a.state == b.state && row.key == o.row.key && row.text == o.row.text && row.subItems == o.row.subItems &&
           row.tag == o.row.tag && row.red == o.row.red && place == o.place;
}

bool CheckProgressRecord::passDone(std::string_view pass) const {
    return std::find(passes.begin(), passes.end(), pass) != passes.end();
}

std::string CheckProgressRecord::serialize() const {
    std::string t(kHeader);
    t += "\nsequence\t" + std::to_string(sequence) + "\n";
    t += "flags\t" + std::to_string(flags) + "\n";
    t += "main\t" + Id(main) + "\n";
    for (const auto& [path, id] : subDatabases) t += "sub\t" + Escape(path) + "\t" + Id(id) + "\n";
    t += "total\t" + std::to_string(total) + "\n";
    t += "checked\t" + std::to_string(checked) + "\n";
    for (const std::string& p : passes) t += "pass\t" + Escape(p) + "\n";
    t += "position\t" + Hex(position) + "\n";
    for (const std::int64_t row : changedRows) t += "changed\t" + std::to_string(row) + "\n";
    for (const RecordedFinding& r : findings) {
        const Finding& f = r.finding;
        t += "finding\t" + std::to_string(f.id) + "\t" + std::to_string(f.code) + "\t" + Escape(f.subDatabase) + "\t" +
             Escape(f.name) + "\t" + Escape(f.virtualPath) + "\t" + (f.repaired ? "1" : "0") + "\t" +
             (f.inMemory ? "1" : "0") + "\t" + Escape(f.state) + "\t" + Escape(r.row.key) + "\t" +
             Escape(r.row.text) + "\t" + std::to_string(r.row.tag) + "\t" + (r.row.red ? "1" : "0");
        for (const std::string& s : r.row.subItems) t += "\t" + Escape(s);
        t += "\n";
        if (r.place.placed)
            t += "place\t" + std::string(r.place.inFolder ? "1" : "0") + "\t" + std::to_string(r.place.parent) + "\t" +
                 std::to_string(r.place.id) + "\n";
    }
    for (const std::string& p : inUse) t += "in-use\t" + Escape(p) + "\n";
    t += "backup-mask\t" + Escape(backupMask) + "\n";
    for (const std::string& b : backupFiles) t += "backup\t" + Escape(b) + "\n";
    return Sealed(std::move(t));
}

std::optional<CheckProgressRecord> CheckProgressRecord::Parse(std::string_view text, std::string& why) {
    const std::optional<std::string_view> lines = Unsealed(text, why);
    if (!lines) return std::nullopt;
    CheckProgressRecord r;
    bool header = false, bad = false;
    int required = 0;  // sequence, flags, main, total, checked, position
    std::string_view body = *lines;
    const auto flag = [](std::string_view v, bool& out) {
        if (v != "0" && v != "1") return false;
        out = v == "1";
        return true;
    };
    while (!body.empty() && !bad) {
        const std::size_t nl = body.find('\n');
        const std::string_view line = body.substr(0, nl);
        body = nl == std::string_view::npos ? std::string_view() : body.substr(nl + 1);
        const auto f = Fields(line);
        const std::string_view key = f[0];
        std::string s;
        if (!header) {
            bad = line != kHeader;
            header = true;
        } else if (key == "sequence" && f.size() == 2) {
            bad = !Unsigned(f[1], r.sequence), ++required;
        } else if (key == "flags" && f.size() == 2) {
            bad = !Signed(f[1], r.flags), ++required;
        } else if (key == "main" && f.size() == 3) {
            bad = !Unsigned(f[1], r.main.device) || !Unsigned(f[2], r.main.inode), ++required;
        } else if (key == "sub" && f.size() == 4) {
            FileId id;
            bad = !Unescape(f[1], s) || !Unsigned(f[2], id.device) || !Unsigned(f[3], id.inode);
            r.subDatabases.emplace_back(s, id);
        } else if (key == "total" && f.size() == 2) {
            bad = !Signed(f[1], r.total), ++required;
        } else if (key == "checked" && f.size() == 2) {
            bad = !Signed(f[1], r.checked), ++required;
        } else if (key == "pass" && f.size() == 2) {
            bad = !Unescape(f[1], s);
            r.passes.push_back(s);
        } else if (key == "position" && f.size() == 2) {
            bad = !Unhex(f[1], r.position), ++required;
        } else if (key == "changed" && f.size() == 2) {
            std::int64_t row = 0;
            bad = !Signed(f[1], row);
            r.changedRows.push_back(row);
        } else if (key == "finding" && f.size() >= 13) {
            RecordedFinding e;
            Finding& x = e.finding;
            bad = !Signed(f[1], x.id) || !Signed(f[2], x.code) || !Unescape(f[3], x.subDatabase) ||
                  !Unescape(f[4], x.name) || !Unescape(f[5], x.virtualPath) || !flag(f[6], x.repaired) ||
                  !flag(f[7], x.inMemory) || !Unescape(f[8], x.state) || !Unescape(f[9], e.row.key) ||
                  !Unescape(f[10], e.row.text) || !Signed(f[11], e.row.tag) || !flag(f[12], e.row.red);
            for (std::size_t i = 13; i < f.size() && !bad; ++i) {
                bad = !Unescape(f[i], s);
                e.row.subItems.push_back(s);
            }
            r.findings.push_back(std::move(e));
        } else if (key == "place" && f.size() == 4 && !r.findings.empty() && !r.findings.back().place.placed) {
            WalkPlace& w = r.findings.back().place;
            std::int64_t parent = 0, id = 0;
            bad = !flag(f[1], w.inFolder) || !Signed(f[2], parent) || !Signed(f[3], id);
            w.placed = true;
            w.parent = static_cast<long>(parent);
            w.id = static_cast<long>(id);
        } else if (key == "in-use" && f.size() == 2) {
            bad = !Unescape(f[1], s);
            r.inUse.push_back(s);
        } else if (key == "backup-mask" && f.size() == 2) {
            bad = !Unescape(f[1], r.backupMask);
        } else if (key == "backup" && f.size() == 2) {
            bad = !Unescape(f[1], s);
            r.backupFiles.push_back(s);
        } else {
            bad = true;  // anything unknown makes the record unusable
        }
    }
    if (bad || !header || required != 6) {
        why = "the record is not one Quillex can read";
        return std::nullopt;
    }
    return r;
}

std::array<std::string, 2> CheckProgressNames(std::string_view mainPath) {
    std::string stem = IntentName(mainPath);
    stem.resize(stem.size() - std::string_view(".intent").size());
    return {stem + ".check-1", stem + ".check-2"};
}

CheckProgressStore::CheckProgressStore(Env& env, std::string_view mainPath)
    : m_env(env), m_names(CheckProgressNames(mainPath)) {}

bool CheckProgressStore::Present() {
    return m_env.KindOf(m_names[0]) != EntryKind::None || m_env.KindOf(m_names[1]) != EntryKind::None;
}

std::optional<CheckProgressRecord> CheckProgressStore::Load(std::string& why) {
    why.clear();
    std::optional<CheckProgressRecord> best;
    for (int i = 0; i < 2; ++i) {
        const EntryKind kind = m_env.KindOf(m_names[i]);
        if (kind == EntryKind::None) continue;
        std::string text, reason;
        if (kind != EntryKind::RegularFile) reason = "it is not a regular file";
        else if (const int rc = m_env.ReadFile(m_names[i], text)) reason = "it cannot be read: " + ErrorText(rc);
        std::optional<CheckProgressRecord> r;
        if (reason.empty()) r = CheckProgressRecord::Parse(text, reason);
        if (!r) {
            if (why.empty()) why = "'" + m_names[i] + "': " + reason;
            continue;
        }
        if (!best || r->sequence > best->sequence) {
            best = std::move(r);
            m_trusted = i;
        }
    }
    if (best) {
        why.clear();
        m_sequence = best->sequence;
    }
    return best;
}

int CheckProgressStore::Write(CheckProgressRecord& record) {
    // The name not holding the trusted state: a stale or torn record there
    // goes first, so the new one is created under a free name.
    const int target = m_trusted == 0 ? 1 : 0;
    const std::string& path = m_names[target];
    if (m_env.KindOf(path) != EntryKind::None)
        if (const int rc = m_env.RemoveDurably(path, "check-progress.remove-stale")) return rc;
    record.sequence = m_sequence + 1;
    if (const int rc = m_env.CreateDurableFile(path, record.serialize(), "check-progress.write")) return rc;
    m_sequence = record.sequence;
    const int older = m_trusted;
    m_trusted = target;
    // The new state is durable: the one before it may go. Should that fail,
    // the higher sequence still wins at the next read.
    if (older >= 0 && m_env.KindOf(m_names[older]) != EntryKind::None)
        if (const int rc = m_env.RemoveDurably(m_names[older], "check-progress.remove-old"))
            WriteLog("The older progress record '" + m_names[older] + "' stays (" + ErrorText(rc) +
                     "); the newer one is used");
    return 0;
}

int CheckProgressStore::RemoveAll() {
    int first = 0;
    for (const std::string& path : m_names)
        if (m_env.KindOf(path) != EntryKind::None)
            if (const int rc = m_env.RemoveDurably(path, "check-progress.remove"); rc && !first) first = rc;
    m_trusted = -1;
    return first;
}

}  // namespace qx
