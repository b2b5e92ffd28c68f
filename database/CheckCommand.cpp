#include "database/CheckCommand.h"
#include "support/TextResources.h"

#include "database/ArchiveFiles.h"
#include "database/access/FileNames.h"
#include "database/checks/ResultCodes.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>
#include <QTime>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include <cstdio>

namespace qx {

namespace {

struct Command {
    int index;
    short flags;
    const char* header;
};

constexpr Command kCommands[] = {
    {CheckQuick, 32, "Quick database check started "},
    {CheckNormal, 23, "Normal database check started "},
    {CheckThorough, 319, "Thorough database check started "},
    {CheckEmptyFolders, 64, "Normal database check started "},
    {CheckLargeDocuments, 128, "Normal database check started "},
};

}  // namespace

void RunCheckCommand(CDatabase& database, int index, const std::string& caption) {
    MainWindow& window = database.Window();
    const std::string rule(70, '-');
    const Command* command = nullptr;
    for (const Command& c : kCommands)
        if (c.index == index) command = &c;
    if (!command) {
        WriteLog("");
        WriteLog(rule);
        WriteLog("Database Check: unknown command [" + caption + "] !");
        return;
    }
    window.State().m_nFixed = 0;
    window.State().m_nDamaged = 0;
    window.State().m_sSaveError.clear();
    window.UpdateStatusBar();
    WriteLog("");
    if (index == CheckEmptyFolders || index == CheckLargeDocuments) WriteLog("");
    WriteLog(rule);
    WriteLog(command->header + LogNow());

    window.SetBusy(true);
    window.SetEnabled(false);
    window.DoEvents();
    short flags = command->flags;
    database.Analyse(flags);
    // Repairs that the disk refused must not pass for repairs made.
    if (!window.State().m_sSaveError.empty())
        window.MsgBox(FormatMsg(GetResString(209, "Resources not found"), {window.State().m_sSaveError}),
                      MsgButtons::OK, MsgIcon::Critical, GetResString(210, "Resources not found"));
    // The list shows what the check left behind; a failure here is logged
    // by the list itself and must not end the program.
    database.ManagePdbList(ListId::Picbases);
    window.SetEnabled(true);
    window.UpdateStatusBar();
    window.SetBusy(false);
}

std::string ListLine(const ListRow& row) {
    const auto sub = [&](size_t i) { return i < row.subItems.size() ? row.subItems[i] : std::string(); };
    return sub(2) + "\t" + sub(0) + row.text;
}

SaveListOutcome SaveList(const CDatabase& database, const std::vector<ListRow>& rows, const std::string& path) {
    if (IsArchiveOwnFile(database, path)) return SaveListOutcome::ArchiveFile;
    std::string text;
    for (const ListRow& row : rows) text += Utf8ToCp1252(ListLine(row)) + "\r\n";
    return database.env().WriteNewFile(path, text) == 0 ? SaveListOutcome::Saved : SaveListOutcome::NotWritten;
}

namespace {

// Whether `text` is `tmpl` with its placeholders filled by any text.
bool FitsTemplate(std::string_view text, const std::string& tmpl) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < tmpl.size(); ++i) {
        if (tmpl[i] == '%' && i + 1 < tmpl.size()) {
            const char c = tmpl[i + 1];
            if (c == 's' || c == 'S' || c == 'i') {
                parts.emplace_back();
                ++i;
                continue;
            }
            if (c == 'n') {
                parts.back() += "\r\n";
                ++i;
                continue;
            }
        }
        parts.back() += tmpl[i];
    }
    if (parts.size() == 1) return text == parts.front();
    if (!text.starts_with(parts.front()) || !text.ends_with(parts.back()) ||
        text.size() < parts.front().size() + parts.back().size())
        return false;
    size_t at = parts.front().size();
    const size_t end = text.size() - parts.back().size();
    for (size_t i = 1; i + 1 < parts.size(); ++i) {
        const size_t found = text.substr(0, end).find(parts[i], at);
        if (found == std::string_view::npos) return false;
        at = found + parts[i].size();
    }
    return at <= end;
}

// The string table's numbers in use stay below this.
constexpr long kTextIdsScanned = 400;

const char* CheckName(int item) {
    switch (item) {
    case CheckQuick: return "quick";
    case CheckNormal: return "normal";
    case CheckThorough: return "thorough";
    case CheckEmptyFolders: return "empty-folders";
    case CheckLargeDocuments: return "large-documents";
    default: return "";
    }
}

}  // namespace

std::string CheckItemName(int item) { return CheckName(item); }

long TextIdOf(const std::string& text) {
    long best = 0;
    size_t bestFixed = 0;
    // The text with the most fixed characters wins: "%s" alone fits anything.
    for (long id = 1; id < kTextIdsScanned; ++id) {
        std::string tmpl = GetResString(id, "");
        if (tmpl.empty()) continue;
        const size_t percents = static_cast<size_t>(std::count(tmpl.begin(), tmpl.end(), '%'));
        const size_t fixed = tmpl.size() - std::min(tmpl.size(), 2 * percents);
        if (fixed > bestFixed && FitsTemplate(text, tmpl)) {
            best = id;
            bestFixed = fixed;
        }
    }
    return best;
}

bool SubDatabaseUses(CDatabase& database, std::vector<SubDatabaseUse>& out, std::string& error) {
    out.clear();
    if (!CDatabase::Connected(database.m_AdoCnMain)) return error = "the archive is not open", false;
    engine::Connection& cn = *database.m_AdoCnMain;
    std::map<long, long> documents;
    {
        engine::Recordset counts;
        if (!counts.open("SELECT DATABASEID, COUNT(*) AS CNT FROM FOLDERS WHERE NOT ISFOLDER GROUP BY DATABASEID", cn,
                         engine::CursorMode::Lookup))
            return error = "counting the documents per sub database: " + counts.lastError().message, false;
        for (; !counts.eof(); counts.moveNext())
            documents[counts.value("DATABASEID").toLong()] = counts.value("CNT").toLong();
    }
    engine::Recordset rows;
    if (!rows.open("SELECT ID, DATABASE FROM DATABASES ORDER BY ID", cn, engine::CursorMode::Lookup))
        return error = "reading the sub databases: " + rows.lastError().message, false;
    const std::string mainPath = database.MainDatabaseName();
    for (; !rows.eof(); rows.moveNext()) {
        SubDatabaseUse use;
        use.id = rows.value("ID").toLong();
        // The list shows the file under its standard name when it is there,
        // else the path the row stores.
        use.path = SubDatabaseName(mainPath, use.id);
        if (!database.env().FileExists(use.path)) {
            const std::string stored = NullToStr(rows.value("DATABASE"));
            if (!stored.empty()) use.path = stored;
        }
        use.size = database.env().FileExists(use.path) ? database.env().FileLength(use.path) : -1;
        if (auto it = documents.find(use.id); it != documents.end()) use.documents = it->second;
        out.push_back(use);
    }
    return true;
}

void TakeCheckFindings(CheckRunFacts& facts, const CheckFindings& findings) {
    facts.damaged = findings.damaged();
    facts.fixed = findings.fixed();
    facts.cancelled = facts.cancelled || findings.cancelled;
    facts.checked = findings.checked;
    facts.total = findings.total;
    facts.inUse = findings.inUse;
    facts.diskFull = findings.diskFull;
}

void BeginCheckFacts(CheckRunFacts& facts, const CDatabase& database, const std::string& archive, int item) {
    facts.archive = archive;
    facts.generation = Settings::Get().DatabaseVersion;
    facts.check = CheckItemName(item);
    facts.started = IsoNow();
    facts.dryRun = database.DryRun();
}

void EndCheckFacts(CheckRunFacts& facts, CDatabase& database, int item, bool cancelled) {
    facts.finished = IsoNow();
    if (item == CheckLargeDocuments && database.m_largeDocuments.measured) facts.largeDocuments = database.m_largeDocuments;
    if (database.DryRun()) facts.fileChanges = database.env().Changes();
    facts.cancelled = cancelled;
    TakeCheckFindings(facts, database.Findings());
    if (!database.Findings().stopped.empty() || !database.Window().State().m_sSaveError.empty()) facts.failed = true;
}

bool CompleteCheckFacts(CheckRunFacts& facts, CDatabase& database, std::vector<ShownNotice> notices,
                        std::string& error) {
    facts.warnings = std::move(notices);
    for (ShownNotice& n : facts.warnings) n.textId = TextIdOf(n.text);
    facts.subDatabasesKnown = SubDatabaseUses(database, facts.subDatabases, error);
    return facts.subDatabasesKnown;
}

std::string CheckOutcome(const CheckRunFacts& facts) {
    if (facts.cancelled) return "cancelled";
    if (!facts.inUse.empty()) return "in_use";
    if (facts.diskFull) return "disk_full";
    if (facts.failed) return "error";
    if (facts.damaged > 0) return "damaged";
    return facts.fixed > 0 ? "repaired" : "clean";
}

int CheckExitCode(const CheckRunFacts& facts) {
    static const std::pair<const char*, int> kExits[] = {
        {"clean", 0}, {"repaired", 1}, {"damaged", 4}, {"in_use", 8}, {"disk_full", 8}, {"error", 8}, {"cancelled", 32},
    };
    const std::string outcome = CheckOutcome(facts);
    for (const auto& [name, code] : kExits)
        if (outcome == name) return code;
    return 8;
}

std::string LogNow() {
    const QLocale locale = QLocale::system();
    return locale.toString(QDate::currentDate(), QLocale::ShortFormat).toStdString() + " " +
           QTime::currentTime().toString("HH:mm:ss").toStdString();
}

std::string IsoNow() {
    const QDateTime now = QDateTime::currentDateTime();
    const int offset = now.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return now.toString("yyyy-MM-ddTHH:mm:ss").toStdString() + zone;
}

QJsonDocument CheckJson(const CheckRunFacts& facts, const std::vector<Finding>& found) {
    const auto text = [](const std::string& s) { return QString::fromStdString(s); };
    QJsonArray findings;
    std::set<long> listed;
    for (const Finding& finding : found) {
        // The list's lines: a document's first finding, every one about a file.
        if (finding.id != 0 && !listed.insert(finding.id).second) continue;
        QJsonObject f;
        f["id"] = static_cast<qint64>(finding.id);
        f["code"] = static_cast<qint64>(finding.code);
        f["code_name"] = ResultCodeName(finding.code);
        f["repaired"] = finding.repaired && !finding.inMemory;
        f["would_be_repaired"] = finding.repaired && finding.inMemory;
        f["name"] = text(finding.name);
        f["virtual_path"] = text(finding.virtualPath);
        f["sub_database"] = text(GetFileNamePart(finding.subDatabase));
        f["state"] = text(finding.state);
        findings.append(f);
    }
    QJsonArray warnings;
    for (const ShownNotice& n : facts.warnings) {
        QJsonObject w;
        w["text"] = text(n.text);
        w["title"] = text(n.title);
        w["kind"] = n.icon == MsgIcon::Critical ? "error" : n.icon == MsgIcon::Exclamation ? "warning" : "note";
        w["text_id"] = n.textId > 0 ? QJsonValue(static_cast<qint64>(n.textId)) : QJsonValue();
        w["count"] = n.count;
        warnings.append(w);
    }
    QJsonValue subs;
    if (facts.subDatabasesKnown) {
        QJsonArray list;
        for (const SubDatabaseUse& u : facts.subDatabases) {
            QJsonObject o;
            o["id"] = static_cast<qint64>(u.id);
            o["path"] = text(u.path);
            o["size"] = u.size >= 0 ? QJsonValue(static_cast<qint64>(u.size)) : QJsonValue();
            o["documents"] = static_cast<qint64>(u.documents);
            list.append(o);
        }
        subs = list;
    }
    QJsonObject root;
    root["version"] = QUILLEX_VERSION;
    root["archive"] = text(facts.archive);
    root["generation"] = facts.generation;
    root["check"] = text(facts.check);
    root["dry_run"] = facts.dryRun;
    root["outcome"] = text(CheckOutcome(facts));
    root["cancelled"] = facts.cancelled;
    root["checked"] = facts.cancelled ? QJsonValue(static_cast<qint64>(facts.checked)) : QJsonValue();
    root["total"] = facts.cancelled ? QJsonValue(static_cast<qint64>(facts.total)) : QJsonValue();
    QJsonArray inUse;
    for (const std::string& path : facts.inUse) inUse.append(text(path));
    root["in_use"] = inUse;
    root["started"] = text(facts.started);
    root["finished"] = text(facts.finished);
    root["damaged"] = static_cast<qint64>(facts.damaged);
    root["fixed"] = static_cast<qint64>(facts.fixed);
    root["warnings"] = warnings;
    root["sub_databases"] = subs;
    root["findings"] = findings;
    QJsonArray changes;
    for (const std::string& c : facts.fileChanges) changes.append(text(c));
    root["file_changes"] = facts.dryRun ? QJsonValue(changes) : QJsonValue();
    root["large_documents"] = QJsonValue();
    if (facts.largeDocuments) {
        QJsonObject large;
        large["pages"] = static_cast<qint64>(facts.largeDocuments->pages);
        large["average"] = static_cast<qint64>(facts.largeDocuments->average);
        large["exceeded"] = static_cast<qint64>(facts.largeDocuments->exceeded);
        QJsonArray ids;
        for (long id : facts.largeDocuments->exceededIds) ids.append(static_cast<qint64>(id));
        large["exceeded_ids"] = ids;
        root["large_documents"] = large;
    }
    return QJsonDocument(root);
}

}  // namespace qx
