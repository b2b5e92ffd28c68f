#include "database/HtmlReport.h"

#include "database/ArchiveFiles.h"
#include "database/checks/ResultCodes.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/HumanFormat.h"
#include "support/TextResources.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QString>

#include <algorithm>
#include <functional>
#include <cerrno>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

namespace qx {

namespace {

std::string Res(long id, std::string_view def) { return GetResString(id, def); }

// Fills the template's "%s" in order with already escaped values. Unlike
// FormatMsg, a "%s" inside a value stays as it is: names are archive data.
std::string Fill(const std::string& escapedTemplate, std::initializer_list<std::string> values) {
    std::string out;
    auto value = values.begin();
    for (std::size_t i = 0; i < escapedTemplate.size(); ++i) {
        if (escapedTemplate[i] == '%' && i + 1 < escapedTemplate.size() &&
            (escapedTemplate[i + 1] == 's' || escapedTemplate[i + 1] == 'S' || escapedTemplate[i + 1] == 'i') &&
            value != values.end()) {
            out += *value++;
            ++i;
            continue;
        }
        out += escapedTemplate[i];
    }
    return out;
}

std::string Esc(const std::string& utf8) { return HtmlEscape(QString::fromUtf8(utf8)); }
std::string Esc(const QJsonValue& v) { return HtmlEscape(v.toString()); }
// A text of the string table with its values (escaped here) filled in.
std::string Text(long id, std::string_view def, std::initializer_list<std::string> values = {}) {
    return Fill(Esc(Res(id, def)), values);
}
std::string Count(long long n) { return Esc(FormatCount(n)); }

// A menu caption as a name: without its accelerator and trailing dots.
std::string Caption(long id, std::string_view def) {
    QString text = QString::fromStdString(Res(id, def)).remove(u'&');
    while (text.endsWith(u'.')) text.chop(1);
    return text.trimmed().toStdString();
}

std::string CheckTitle(const QString& check) {
    if (check == u"quick") return Caption(29, "Snel");
    if (check == u"normal") return Caption(30, "Normaal");
    if (check == u"thorough") return Caption(31, "Intensief");
    if (check == u"empty-folders") return Caption(58, "Op lege mappen");
    if (check == u"large-documents") return Caption(288, "Grote documenten");
    return check.toStdString();
}

std::string WhenText(const QJsonValue& iso) {
    const QDateTime when = QDateTime::fromString(iso.toString(), Qt::ISODate);
    return when.isValid() ? FormatDateTime(when) : UnknownText();
}

std::string OutcomeText(const QJsonObject& report) {
    const QString outcome = report["outcome"].toString();
    if (outcome == u"clean") return Text(455, "geen fouten gevonden");
    if (outcome == u"repaired") return Text(456, "alles wat gevonden is, is gerepareerd");
    if (outcome == u"damaged") return Text(457, "er blijft schade over");
    if (outcome == u"in_use")
        return Text(458, "niet alles is gelezen: bestanden in gebruik door een ander programma");
    if (outcome == u"disk_full") return Text(459, "de schijf is vol: niet alle reparaties zijn opgeslagen");
    if (outcome == u"cancelled")
        return Text(461, "afgebroken na %s van %s documenten",
                    {Count(report["checked"].toInteger()), Count(report["total"].toInteger())});
    return Text(460, "niet alles is gelezen of opgeslagen; in het logboek staat waarom");
}

bool IsDamage(const QJsonObject& f) { return !f["repaired"].toBool(); }

// The damage a finding is about: a repaired code without its repair bit
// names what was repaired.
qint64 DamageCode(const QJsonObject& f) { return f["code"].toInteger() & ~qint64(ResultFixedFlag); }

// Findings about a document match by its number and the damage; those
// about a file (number 0) by the file, the part named and the damage.
struct DocumentKey {
    qint64 id, code;
    bool operator==(const DocumentKey&) const = default;
};
struct DocumentKeyHash {
    std::size_t operator()(const DocumentKey& k) const {
        return std::hash<qint64>()(k.id) ^ (std::hash<qint64>()(k.code) * 0x9E3779B97F4A7C15ull);
    }
};
QString FileKey(const QJsonObject& f) {
    return f["sub_database"].toString() + QChar(0) + f["virtual_path"].toString() + QChar(0) + f["name"].toString() +
           QChar(0) + QString::number(DamageCode(f));
}

// Where each finding of a report is, by what it is about.
class FindingIndex {
public:
    // -1 when new; otherwise the position of the finding with the same key.
    qsizetype Insert(const QJsonObject& f, qsizetype at) {
        const qint64 id = f["id"].toInteger();
        if (id != 0) return m_documents.emplace(DocumentKey{id, DamageCode(f)}, at).first->second;
        return m_files.emplace(FileKey(f), at).first->second;
    }
    qsizetype Find(const QJsonObject& f) const {
        const qint64 id = f["id"].toInteger();
        if (id != 0) {
            const auto it = m_documents.find(DocumentKey{id, DamageCode(f)});
            return it == m_documents.end() ? -1 : it->second;
        }
        const auto it = m_files.find(FileKey(f));
        return it == m_files.end() ? -1 : it->second;
    }
    void Reserve(qsizetype n) { m_documents.reserve(static_cast<std::size_t>(n)); }

private:
    std::unordered_map<DocumentKey, qsizetype, DocumentKeyHash> m_documents;
    std::map<QString, qsizetype> m_files;
};

// Whether a run of `now` looks at everything a run of `before` looked at.
bool Covers(const QString& now, const QString& before) {
    if (now == before) return true;
    return now == u"thorough" && (before == u"normal" || before == u"quick");
}

// Whether the run read everything it set out to read.
bool ReadEverything(const QJsonObject& report) {
    const QString outcome = report["outcome"].toString();
    return outcome == u"clean" || outcome == u"repaired" || outcome == u"damaged";
}

// -- the page's parts

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#222;max-width:70em}"
    "h1{font-size:1.5em;margin-bottom:.2em}h2{font-size:1.15em;margin-top:1.6em}"
    ".facts{margin:0;padding:0;list-style:none}.facts li{margin:.15em 0}"
    ".counters{display:flex;gap:1em;margin:1em 0}.counter{border:1px solid #bbb;border-radius:4px;padding:.5em 1em}"
    ".counter b{display:block;font-size:1.4em}.damaged b{color:#b00020}.fixed b{color:#1b7a2f}"
    ".outcome-damaged,.outcome-error,.outcome-in_use,.outcome-disk_full,.outcome-cancelled{color:#b00020}"
    ".outcome-clean,.outcome-repaired{color:#1b7a2f}"
    "svg{display:block;margin:.5em 0;font-size:12px}svg text{fill:#222}"
    ".bar{fill:#3b6ea5}.bar-full{fill:#b00020}.bar-track{fill:#e8e8e8}.cap{stroke:#b00020;stroke-dasharray:3 2}"
    "table{border-collapse:collapse;width:100%;font-size:.9em}th,td{border-bottom:1px solid #ddd;padding:.25em .5em;"
    "text-align:left;vertical-align:top;word-break:break-word}th{background:#f0f0f0}"
    "tr.repaired td:first-child{color:#1b7a2f}tr.damage td:first-child{color:#b00020}"
    ".note{background:#fff4d6;border:1px solid #e0c060;padding:.5em}"
    "input[type=search]{font-size:1em;padding:.3em;width:25em}";

// Hides the rows of every list that do not hold the search text.
constexpr const char* kScript =
    "(function(){var box=document.getElementById('search');var shown=document.getElementById('shown');"
    "function filter(){var q=box.value.toLowerCase();var n=0;"
    "document.querySelectorAll('table.list tbody tr').forEach(function(r){"
    "var hit=!q||r.textContent.toLowerCase().indexOf(q)>=0;r.hidden=!hit;if(hit)n++;});"
    "shown.textContent=q?n.toLocaleString('nl-NL'):'';}"
    "box.addEventListener('input',filter);})();";

std::string Sha256(const char* text) {
    return QCryptographicHash::hash(QByteArray(text), QCryptographicHash::Sha256).toBase64().toStdString();
}

struct Bar {
    std::string label;  // plain text (UTF-8), escaped when written
    long long value = 0;
};

// A label cut to `chars` characters (whole code points), the full text in its tooltip.
std::string ShortLabel(const std::string& label, int chars) {
    const QString text = QString::fromUtf8(label);
    if (text.size() <= chars) return HtmlEscape(text);
    int cut = chars - 1;
    if (cut > 0 && text[cut - 1].isHighSurrogate()) --cut;
    return HtmlEscape(text.left(cut)) + "\xE2\x80\xA6";
}

std::string BarChart(const std::vector<Bar>& bars, const std::string& title) {
    long long most = 1;
    for (const Bar& b : bars) most = std::max(most, b.value);
    const int labelWidth = 300, barWidth = 340, row = 22;
    const int height = static_cast<int>(bars.size()) * row + 4;
    std::string svg = "<svg role=\"img\" width=\"" + std::to_string(labelWidth + barWidth + 110) + "\" height=\"" +
                      std::to_string(height) + "\" aria-label=\"" + title + "\">";
    int y = 2;
    for (const Bar& b : bars) {
        const int w = std::max(1, static_cast<int>(static_cast<double>(b.value) / static_cast<double>(most) * barWidth));
        const std::string ty = std::to_string(y + 15);
        svg += "<g><title>" + Esc(b.label) + ": " + Count(b.value) + "</title>";
        svg += "<text x=\"0\" y=\"" + ty + "\">" + ShortLabel(b.label, 44) + "</text>";
        svg += "<rect class=\"bar\" x=\"" + std::to_string(labelWidth) + "\" y=\"" + std::to_string(y + 3) +
               "\" width=\"" + std::to_string(w) + "\" height=\"16\"></rect>";
        svg += "<text x=\"" + std::to_string(labelWidth + w + 6) + "\" y=\"" + ty + "\">" + Count(b.value) + "</text></g>";
        y += row;
    }
    return svg + "</svg>";
}

std::string CodeChart(const QJsonArray& findings) {
    std::map<qint64, std::pair<long long, std::string>> byCode;
    for (const QJsonValue& v : findings) {
        const QJsonObject f = v.toObject();
        auto& [n, label] = byCode[f["code"].toInteger()];
        if (n++ == 0)
            label = f["state"].toString().toStdString() + " (" + std::to_string(f["code"].toInteger()) + " " +
                    f["code_name"].toString().toStdString() + ")";
    }
    std::vector<Bar> bars;
    for (const auto& [code, entry] : byCode) bars.push_back({entry.second, entry.first});
    std::stable_sort(bars.begin(), bars.end(), [](const Bar& a, const Bar& b) { return a.value > b.value; });
    return BarChart(bars, Text(462, "Bevindingen per code"));
}

std::string FolderChart(const QJsonArray& findings, std::size_t maxFolders) {
    std::unordered_map<QString, long long> byFolder;
    for (const QJsonValue& v : findings) ++byFolder[v.toObject()["virtual_path"].toString()];
    std::vector<std::pair<QString, long long>> folders(byFolder.begin(), byFolder.end());
    std::sort(folders.begin(), folders.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    std::vector<Bar> bars;
    long long rest = 0, restFolders = 0;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (i < maxFolders) {
            const QString& name = folders[i].first;
            // No folder path: a finding about a file, or a document whose path is not known.
            bars.push_back({name.isEmpty() ? "(" + UnknownText() + ")" : name.toStdString(), folders[i].second});
        } else {
            rest += folders[i].second;
            ++restFolders;
        }
    }
    if (restFolders > 0)
        bars.push_back({FormatMsg(Res(474, "overige mappen (%s)"), {FormatCount(restFolders)}), rest});
    return BarChart(bars, Text(463, "Bevindingen per map"));
}

std::string CapacityChart(const QJsonValue& subs, std::int64_t capacity, std::size_t maxRows) {
    if (!subs.isArray()) return "<p>" + Esc(UnknownText()) + "</p>";
    const QJsonArray list = subs.toArray();
    const int labelWidth = 300, barWidth = 340, row = 22;
    const std::size_t shown = std::min<std::size_t>(static_cast<std::size_t>(list.size()), maxRows);
    // The scale reaches past the capacity when a file does: its overflow shows.
    std::int64_t scale = capacity;
    for (const QJsonValue& v : list) scale = std::max<std::int64_t>(scale, v.toObject()["size"].toInteger());
    const auto x = [&](std::int64_t bytes) {
        return static_cast<int>(static_cast<double>(bytes) / static_cast<double>(scale) * barWidth);
    };
    const int height = static_cast<int>(shown) * row + 4;
    std::string svg = "<svg role=\"img\" width=\"" + std::to_string(labelWidth + barWidth + 260) + "\" height=\"" +
                      std::to_string(height) + "\">";
    int y = 2;
    for (std::size_t i = 0; i < shown; ++i) {
        const QJsonObject s = list[static_cast<qsizetype>(i)].toObject();
        const std::string name = GetFileNamePart(s["path"].toString().toStdString());
        const bool missing = s["size"].isNull();
        const std::int64_t size = s["size"].toInteger();
        const std::string ty = std::to_string(y + 15);
        const std::string sizeText = missing ? Text(103, "Niet gevonden") : Esc(FormatBytes(size));
        const std::string docs = Text(476, "%s documenten", {Count(s["documents"].toInteger())});
        svg += "<g><title>" + Esc(s["path"]) + ": " + sizeText + ", " + docs + "</title>";
        svg += "<text x=\"0\" y=\"" + ty + "\">" + ShortLabel(name, 44) + "</text>";
        svg += "<rect class=\"bar-track\" x=\"" + std::to_string(labelWidth) + "\" y=\"" + std::to_string(y + 3) +
               "\" width=\"" + std::to_string(x(capacity)) + "\" height=\"16\"></rect>";
        if (!missing)
            svg += "<rect class=\"" + std::string(size > capacity ? "bar-full" : "bar") + "\" x=\"" +
                   std::to_string(labelWidth) + "\" y=\"" + std::to_string(y + 3) + "\" width=\"" +
                   std::to_string(std::max(1, x(size))) + "\" height=\"16\"></rect>";
        svg += "<line class=\"cap\" x1=\"" + std::to_string(labelWidth + x(capacity)) + "\" x2=\"" +
               std::to_string(labelWidth + x(capacity)) + "\" y1=\"" + std::to_string(y + 1) + "\" y2=\"" +
               std::to_string(y + 21) + "\"></line>";
        svg += "<text x=\"" + std::to_string(labelWidth + barWidth + 8) + "\" y=\"" + ty + "\">" + sizeText + ", " +
               docs + "</text></g>";
        y += row;
    }
    svg += "</svg>";
    if (shown < static_cast<std::size_t>(list.size()))
        svg += "<p class=\"note\">" +
               Text(467,
                    "Alleen de eerste %s van %s regels staan hier; de hele lijst staat in de opgeslagen lijst en in "
                    "de JSON (quillex-cli check --json).",
                    {Count(static_cast<long long>(shown)), Count(list.size())}) +
               "</p>";
    return svg;
}

// A list of findings as a table, its first `maxRows` rows and a note on the rest.
// The rows `at(0)` .. `at(total - 1)` of a list.
std::string FindingTable(std::size_t total, const std::function<QJsonObject(std::size_t)>& at, std::size_t maxRows) {
    std::string html = "<table class=\"list\"><thead><tr><th>" + Text(18, "Status") + "</th><th>" +
                       Text(15, "Naam") + "</th><th>" + Text(16, "Locatie") + "</th><th>" +
                       Text(17, "Subdatabase") + "</th><th>" + Text(313, "Code") + "</th></tr></thead><tbody>\n";
    const std::size_t shown = std::min(total, maxRows);
    for (std::size_t i = 0; i < shown; ++i) {
        const QJsonObject f = at(i);
        html += std::string("<tr class=\"") + (IsDamage(f) ? "damage" : "repaired") + "\"><td>" + Esc(f["state"]) +
                "</td><td>" + Esc(f["name"]) + "</td><td>" + Esc(f["virtual_path"]) + "</td><td>" +
                Esc(f["sub_database"]) + "</td><td>" + std::to_string(f["code"].toInteger()) + "</td></tr>\n";
    }
    html += "</tbody></table>\n";
    if (shown < total)
        html += "<p class=\"note\">" +
                Text(467,
                     "Alleen de eerste %s van %s regels staan hier; de hele lijst staat in de opgeslagen lijst en in "
                     "de JSON (quillex-cli check --json).",
                     {Count(static_cast<long long>(shown)), Count(static_cast<long long>(total))}) +
                "</p>\n";
    return html;
}

std::string ComparisonSection(const QJsonObject& current, const QJsonObject& previous, std::size_t maxRows) {
    const ReportComparison c = CompareReports(current, previous);
    std::string html = "<section id=\"comparison\"><h2>" +
                       Text(468, "Vergelijking met de controle van %s", {Esc(WhenText(previous["started"]))}) +
                       " (" + Esc(CheckTitle(previous["check"].toString())) + ")</h2>\n";
    if (!c.sameArchive)
        html += "<p class=\"note\">" +
                Text(473, "Het vorige rapport hoort bij een ander archief: %s", {Esc(previous["archive"])}) + "</p>\n";
    const std::pair<const std::vector<QJsonObject>*, std::string> parts[] = {
        {&c.added, Text(469, "Nieuw")},
        {&c.repaired, Text(470, "Gerepareerd")},
        {&c.stayed, Text(471, "Gebleven")},
        {&c.unchecked, Text(472, "Niet opnieuw gecontroleerd")},
    };
    const char* ids[] = {"added", "repaired", "stayed", "unchecked"};
    html += "<div class=\"counters\">";
    for (std::size_t i = 0; i < std::size(parts); ++i)
        html += "<div class=\"counter\" id=\"count-" + std::string(ids[i]) + "\">" + parts[i].second + "<b>" +
                Count(static_cast<long long>(parts[i].first->size())) + "</b></div>";
    html += "</div>\n";
    for (std::size_t i = 0; i < std::size(parts); ++i) {
        if (parts[i].first->empty()) continue;
        html += "<h3 id=\"" + std::string(ids[i]) + "\">" + parts[i].second + "</h3>\n" +
                FindingTable(
                    parts[i].first->size(), [&](std::size_t r) { return (*parts[i].first)[r]; }, maxRows);
    }
    return html + "</section>\n";
}

}  // namespace

std::string HtmlEscape(const QString& text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    const auto visible = [&](char32_t c) {
        out += "[U+" + QString::number(static_cast<uint>(c), 16).toUpper().rightJustified(4, u'0').toStdString() + "]";
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        } else if (QChar::isSurrogate(c)) {
            out += "\xEF\xBF\xBD";  // half a character: no text at all
            continue;
        }
        switch (c) {
        case '&': out += "&amp;"; continue;
        case '<': out += "&lt;"; continue;
        case '>': out += "&gt;"; continue;
        case '"': out += "&quot;"; continue;
        case '\'': out += "&#39;"; continue;
        default: break;
        }
        if (c < 0x20) {
            // The control pictures: a tab or line break inside a name is shown, not obeyed.
            out += QString(QChar(static_cast<char16_t>(0x2400 + c))).toStdString();
        } else if (c == 0x7F) {
            out += "\xE2\x90\xA1";
        } else if ((c >= 0x80 && c < 0xA0) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
                   c == 0x200E || c == 0x200F || c == 0x061C || (c & 0xFFFE) == 0xFFFE ||
                   (c >= 0xFDD0 && c <= 0xFDEF)) {
            // Direction overrides would reorder the text around them on screen.
            visible(c);
        } else {
            out += QString::fromUcs4(&c, 1).toStdString();
        }
    }
    return out;
}

ReportComparison CompareReports(const QJsonObject& current, const QJsonObject& previous) {
    ReportComparison c;
    c.sameArchive = current["archive"].toString() == previous["archive"].toString();
    const QJsonArray before = previous["findings"].toArray(), now = current["findings"].toArray();
    FindingIndex damage;
    damage.Reserve(before.size());
    std::vector<qsizetype> order;  // the damage before, each once, in its order
    for (qsizetype i = 0; i < before.size(); ++i) {
        const QJsonObject f = before[i].toObject();
        if (IsDamage(f) && damage.Insert(f, i) == i) order.push_back(i);
    }
    std::vector<bool> met(static_cast<std::size_t>(before.size()), false);
    for (const QJsonValue& v : now) {
        const QJsonObject f = v.toObject();
        const qsizetype at = damage.Find(f);
        if (at < 0) {
            c.added.push_back(f);
            continue;
        }
        met[static_cast<std::size_t>(at)] = true;
        (IsDamage(f) ? c.stayed : c.repaired).push_back(f);
    }
    // Damage no longer found counts as gone only when this run looked
    // everywhere the previous one did and read it all.
    const bool looked = ReadEverything(current) && Covers(current["check"].toString(), previous["check"].toString());
    for (const qsizetype i : order)
        if (!met[static_cast<std::size_t>(i)]) (looked ? c.repaired : c.unchecked).push_back(before[i].toObject());
    return c;
}

std::string HtmlReport(const QJsonObject& current, const QJsonObject* previous, const HtmlReportOptions& options) {
    const QJsonArray findings = current["findings"].toArray();
    const bool dryRun = current["dry_run"].toBool();
    std::string html;
    html.reserve(64 * 1024 + std::min<std::size_t>(static_cast<std::size_t>(findings.size()), options.maxRows) * 300);
    const std::string title = Esc(Res(1, "Vellumo Quillex")) + " - " + Text(451, "Controlerapport");
    html += "<!DOCTYPE html>\n<html lang=\"nl\"><head><meta charset=\"utf-8\">\n";
    // Only this page's own style sheet and script run; nothing is fetched.
    html += "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'sha256-" +
            Sha256(kStyle) + "'; script-src 'sha256-" + Sha256(kScript) +
            "'; img-src data:; base-uri 'none'; form-action 'none'\">\n";
    html += "<meta name=\"viewport\" content=\"width=device-width\">\n<title>" + title + "</title>\n<style>" + kStyle +
            "</style></head>\n<body>\n";
    html += "<h1>" + title + "</h1>\n<ul class=\"facts\">";
    html += "<li>" + Text(308, "Archief: %s", {Esc(current["archive"])}) + "</li>";
    html += "<li>" + Text(309, "Controle: %s", {Esc(CheckTitle(current["check"].toString()))}) + "</li>";
    html += "<li>" + Text(452, "Begonnen: %s", {Esc(WhenText(current["started"]))}) + "</li>";
    html += "<li>" + Text(453, "Klaar: %s", {Esc(WhenText(current["finished"]))}) + "</li>";
    html += "<li id=\"outcome\" class=\"outcome-" + Esc(current["outcome"]) + "\">" +
            Text(454, "Uitkomst: %s", {OutcomeText(current)}) + "</li>";
    if (dryRun) html += "<li><b>" + Text(275, "Alleen rapporteren: er wordt niets gewijzigd") + "</b></li>";
    html += "</ul>\n<div class=\"counters\">";
    html += "<div class=\"counter damaged\" id=\"count-damaged\">" + Text(113, "beschadigd: %s", {""}) + "<b>" +
            Count(current["damaged"].toInteger()) + "</b></div>";
    html += "<div class=\"counter fixed\" id=\"count-fixed\">" +
            (dryRun ? Text(274, "zou worden gerepareerd: %s", {""}) : Text(114, "gerepareerd: %s", {""})) + "<b>" +
            Count(current["fixed"].toInteger()) + "</b></div>";
    html += "<div class=\"counter\" id=\"count-rows\">" + Text(314, "regels: %s", {""}) + "<b>" +
            Count(findings.size()) + "</b></div></div>\n";

    const QJsonArray inUse = current["in_use"].toArray();
    const QJsonArray warnings = current["warnings"].toArray();
    if (!inUse.isEmpty() || !warnings.isEmpty()) {
        html += "<h2>" + Text(477, "Meldingen") + "</h2>\n<ul>";
        if (!inUse.isEmpty()) {
            html += "<li>" + Text(458, "niet alles is gelezen: bestanden in gebruik door een ander programma") + ":";
            for (const QJsonValue& v : inUse) html += "<br>" + Esc(v);
            html += "</li>";
        }
        for (const QJsonValue& v : warnings) {
            const QJsonObject w = v.toObject();
            // The notice's own line breaks, and no other markup.
            QString text = w["text"].toString();
            text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            std::string lines;
            for (const QString& line : text.split(u'\n')) lines += (lines.empty() ? "" : "<br>") + HtmlEscape(line);
            const std::string title = Esc(w["title"]);
            html += "<li>" + (title.empty() ? std::string() : "<b>" + title + "</b>: ") + lines +
                    (w["count"].toInt() > 1 ? " (" + Count(w["count"].toInt()) + "&times;)" : std::string()) + "</li>";
        }
        html += "</ul>\n";
    }

    if (!findings.isEmpty()) {
        html += "<h2>" + Text(462, "Bevindingen per code") + "</h2>\n" + CodeChart(findings) + "\n";
        html += "<h2>" + Text(463, "Bevindingen per map") + "</h2>\n" + FolderChart(findings, options.maxFolders) + "\n";
    }
    html += "<h2>" + Text(464, "Subdatabases tegen de capaciteit van %s", {Esc(FormatBytes(options.capacity))}) +
            "</h2>\n" + CapacityChart(current["sub_databases"], options.capacity, options.maxRows) + "\n";

    // One search box for every list below it, the comparison's included.
    html += "<p><label>" + Text(466, "Zoeken") + " <input type=\"search\" id=\"search\" autocomplete=\"off\"></label> "
            "<span id=\"shown\"></span></p>\n";
    if (previous) html += ComparisonSection(current, *previous, options.maxComparisonRows);

    html += "<h2>" + Text(465, "Lijst: %s regels", {Count(findings.size())}) + "</h2>\n";
    html += FindingTable(
        static_cast<std::size_t>(findings.size()),
        [&](std::size_t r) { return findings[static_cast<qsizetype>(r)].toObject(); }, options.maxRows);
    html += "<script>" + std::string(kScript) + "</script>\n</body></html>\n";
    return html;
}

bool ReadReportJson(Env& files, const std::string& path, QJsonObject& out, std::string& error) {
    std::error_code ec;
    // A link is read as the file it names.
    const std::string real = files.Canonical(path, ec);
    if (ec) return error = ErrorText(ENOENT), false;
    std::string bytes;
    if (const int rc = files.ReadFile(real, bytes)) return error = ErrorText(rc), false;
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(bytes), &parse);
    if (parse.error != QJsonParseError::NoError) return error = parse.errorString().toStdString(), false;
    if (!doc.isObject() || !doc.object()["findings"].isArray() || !doc.object()["check"].isString())
        return error = Res(555, "het is geen rapport van quillex-cli check --json"), false;
    out = doc.object();
    return true;
}

Env& UserFileLayer(const EnvStack& stack) {
    for (auto it = stack.layers.rbegin(); it != stack.layers.rend(); ++it)
        if (!(*it)->ReportOnly()) return **it;
    return RealEnv();
}

SaveReportOutcome SaveReportFile(const CDatabase& database, Env& files, const std::string& path,
                                 std::string_view bytes, std::string& error) {
    if (IsArchiveOwnFile(database, path)) return SaveReportOutcome::ArchiveFile;
    std::string target = path;
    if (files.KindOf(path) == EntryKind::Link) {
        std::error_code ec;
        target = files.Canonical(path, ec);
        if (ec) return error = ErrorText(ENOENT), SaveReportOutcome::NotWritten;
        if (IsArchiveOwnFile(database, target)) return SaveReportOutcome::ArchiveFile;
    }
    const EntryKind kind = files.KindOf(target);
    if (kind != EntryKind::None && kind != EntryKind::RegularFile)
        return error = ErrorText(kind == EntryKind::Folder ? EISDIR : EINVAL), SaveReportOutcome::NotWritten;
    const std::string temp = files.UniqueFileName(target + ".tmp");
    const std::string aside = kind == EntryKind::RegularFile ? files.UniqueFileName(target + ".old") : std::string();
    if (IsArchiveOwnFile(database, temp) || (!aside.empty() && IsArchiveOwnFile(database, aside)))
        return SaveReportOutcome::ArchiveFile;
    if (const int rc = files.CreateDurableFile(temp, bytes, "report.write"))
        return error = ErrorText(rc), SaveReportOutcome::NotWritten;
    if (!aside.empty()) {
        if (const int rc = files.RenameNoReplace(target, aside, "report.set-aside")) {
            files.RemoveDurably(temp, "report.remove-temp");
            return error = ErrorText(rc), SaveReportOutcome::NotWritten;
        }
    }
    if (const int rc = files.RenameNoReplace(temp, target, "report.place")) {
        // The old file goes back under its name; the new one is not wanted.
        if (!aside.empty()) files.RenameNoReplace(aside, target, "report.restore");
        files.RemoveDurably(temp, "report.remove-temp");
        return error = ErrorText(rc), SaveReportOutcome::NotWritten;
    }
    // The report is in place; an old copy that will not go is only clutter.
    if (!aside.empty()) files.RemoveDurably(aside, "report.remove-old");
    return SaveReportOutcome::Saved;
}

}  // namespace qx
