// The check report as an HTML page: every finding in it, archive text
// escaped, nothing loaded from elsewhere, the comparison with a previous
// report, the cap on long lists, and the file written without ever leaving
// half a page or touching an archive file.
#include "database/CDatabase.h"
#include "database/HtmlReport.h"
#include "database/MainWindow.h"
#include "database/access/FileNames.h"
#include "support/Env.h"
#include "support/Failpoint.h"
#include "tests/core/CliRunner.h"
#include "tests/core/SampleFixture.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>

#include <filesystem>

using namespace qx;
using qx::test::CliRun;
using qx::test::RunCli;
using qx::test::TempDir;
namespace fs = std::filesystem;

namespace {

QJsonObject Row(qint64 id, const QString& name, qint64 code, const QString& folder = "\\Map\\",
                    const QString& sub = "Archief_1.pdb") {
    const bool repaired = (code & 2048) != 0 || code == 256;
    return QJsonObject{{"id", id},           {"name", name},         {"virtual_path", folder},
                       {"sub_database", sub}, {"code", code},         {"code_name", "ResultX"},
                       {"repaired", repaired}, {"would_be_repaired", false},
                       {"state", repaired ? "Gerepareerd" : "Beschadigd"}};
}

QJsonObject Report(const std::vector<QJsonObject>& findings, const QString& check = "normal",
                   const QString& outcome = "damaged") {
    QJsonArray list;
    for (const QJsonObject& f : findings) list.append(f);
    QJsonArray subs{QJsonObject{{"id", 1}, {"path", "/a/Archief_1.pdb"}, {"size", 700'000'000}, {"documents", 12}},
                    QJsonObject{{"id", 2}, {"path", "/a/Archief_2.pdb"}, {"size", QJsonValue()}, {"documents", 0}}};
    return QJsonObject{{"archive", "/a/Archief.dat"}, {"check", check},   {"outcome", outcome},
                       {"dry_run", false},            {"started", "2026-12-07T10:00:00+01:00"},
                       {"finished", "2026-12-07T10:05:00+01:00"},
                       {"damaged", 1},                {"fixed", 1},       {"in_use", QJsonArray()},
                       {"warnings", QJsonArray()},    {"sub_databases", subs}, {"findings", list}};
}

int Occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string Between(const std::string& text, const std::string& open, const std::string& close) {
    const std::size_t a = text.find(open);
    if (a == std::string::npos) return {};
    const std::size_t b = text.find(close, a + open.size());
    return text.substr(a + open.size(), b - a - open.size());
}

std::vector<qint64> Ids(const std::vector<QJsonObject>& findings) {
    std::vector<qint64> ids;
    for (const QJsonObject& f : findings) ids.push_back(f["id"].toInteger());
    return ids;
}

}  // namespace

TEST(HtmlReport, ListsEveryFindingWithTheCountersAndCharts) {
    const std::string html = HtmlReport(Report({Row(11, "Factuur 1", 8), Row(12, "Offerte", 2056, "\\Klanten\\"),
                                                Row(0, "tabel PICTURES", 16384, "", "Archief_2.pdb")}));
    for (const char* name : {"<td>Factuur 1</td>", "<td>Offerte</td>", "<td>tabel PICTURES</td>", "<td>\\Klanten\\</td>"})
        EXPECT_NE(html.find(name), std::string::npos) << name;
    EXPECT_EQ(Occurrences(Between(html, "<table class=\"list\">", "</table>"), "<tr class="), 3);
    EXPECT_NE(html.find("7-12-2026 10:00:00"), std::string::npos) << "Dutch date and time";
    EXPECT_NE(html.find("Archief_1.pdb"), std::string::npos);
    EXPECT_EQ(Occurrences(html, "<svg"), 3) << "by code, by folder, sub databases";
    EXPECT_NE(html.find("class=\"bar-full\""), std::string::npos) << "a sub database over the capacity";
    EXPECT_NE(html.find("Niet gevonden"), std::string::npos) << "a sub database without its file";
}

TEST(HtmlReport, EscapesWhateverTheArchiveHolds) {
    struct Case {
        const char* name;
        QString text;
        std::string expected;  // in the page
        std::string absent;    // never in the page
    } cases[] = {
        {"script tag", "<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;", "<script>alert"},
        {"quotes and ampersand", "a\"b'c&d", "a&quot;b&#39;c&amp;d", "a\"b"},
        {"control characters", QString("x\x01y\tz\nw"), "x\xE2\x90\x81y\xE2\x90\x89z\xE2\x90\x8Aw", "y\tz"},
        {"invalid UTF-8", QString::fromUtf8("bad\xFF\xFEname"), "bad\xEF\xBF\xBD", "\xFF"},
        {"lone surrogate", QString("half") + QChar(0xD800) + "name", "half\xEF\xBF\xBDname", "\xED\xA0\x80"},
        {"direction override", QString("gpj") + QChar(0x202E) + "exe.doc", "gpj[U+202E]exe.doc", "\xE2\x80\xAE"},
        {"placeholder in a name", "%s%s%n", "%s%s%n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QJsonObject report = Report({Row(5, c.text, 8, c.text, c.text)});
        report["archive"] = c.text;
        const std::string html = HtmlReport(report);
        EXPECT_NE(html.find("<td>" + c.expected), std::string::npos);
        if (!c.absent.empty()) {
            EXPECT_EQ(html.find(c.absent), std::string::npos);
        }
        QStringDecoder utf8(QStringDecoder::Utf8);
        (void)QString(utf8(QByteArray::fromStdString(html)));
        EXPECT_FALSE(utf8.hasError()) << "the page is valid UTF-8";
        EXPECT_EQ(Occurrences(html, "<script>"), 1);
    }
}

TEST(HtmlReport, LoadsNothingAndRunsOnlyItsOwnScript) {
    const std::string html = HtmlReport(Report({Row(1, "A", 8)}), nullptr);
    const QString text = QString::fromStdString(html);
    // (The policy itself is an http-equiv meta element: no address.)
    for (const char* outside : {"http:", "https:", "://", "src=", "url(", "@import", "href="})
        EXPECT_FALSE(text.contains(outside, Qt::CaseInsensitive)) << outside;
    // The policy names the hashes of exactly the script and style the page holds.
    const auto hash = [](const std::string& s) {
        return QCryptographicHash::hash(QByteArray::fromStdString(s), QCryptographicHash::Sha256).toBase64().toStdString();
    };
    const std::string policy = Between(html, "Content-Security-Policy\" content=\"", "\"");
    EXPECT_NE(policy.find("default-src 'none'"), std::string::npos) << policy;
    EXPECT_NE(policy.find("script-src 'sha256-" + hash(Between(html, "<script>", "</script>")) + "'"),
              std::string::npos) << policy;
    EXPECT_NE(policy.find("style-src 'sha256-" + hash(Between(html, "<style>", "</style>")) + "'"), std::string::npos)
        << policy;
    EXPECT_EQ(policy.find("unsafe"), std::string::npos) << policy;
}

TEST(HtmlReport, ComparisonSortsFindingsIntoNewRepairedAndStayed) {
    const QJsonObject previous = Report({Row(1, "A", 8), Row(2, "B", 128), Row(3, "C", 1024),
                                         Row(4, "D", 2056), Row(0, "tabel X", 16384, "", "Archief_2.pdb")});
    const std::vector<QJsonObject> now = {Row(1, "A", 8), Row(2, "B", 2176), Row(4, "D", 2056),
                                          Row(6, "F", 8), Row(1, "A", 128)};
    struct Case {
        const char* name;
        QString check, outcome;
        std::vector<qint64> added, repaired, stayed, unchecked;
    } cases[] = {
        // 3 and the file are no longer found by a run that read everything.
        {"same check, read everything", "normal", "damaged", {4, 6, 1}, {2, 3, 0}, {1}, {}},
        {"cancelled run", "normal", "cancelled", {4, 6, 1}, {2}, {1}, {3, 0}},
        {"files in use", "normal", "in_use", {4, 6, 1}, {2}, {1}, {3, 0}},
        {"a check that looks elsewhere", "quick", "damaged", {4, 6, 1}, {2}, {1}, {3, 0}},
        {"a deeper check", "thorough", "damaged", {4, 6, 1}, {2, 3, 0}, {1}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReportComparison r = CompareReports(Report(now, c.check, c.outcome), previous);
        EXPECT_EQ(Ids(r.added), c.added);
        EXPECT_EQ(Ids(r.repaired), c.repaired);
        EXPECT_EQ(Ids(r.stayed), c.stayed);
        EXPECT_EQ(Ids(r.unchecked), c.unchecked);
        EXPECT_TRUE(r.sameArchive);
    }
    QJsonObject other = previous;
    other["archive"] = "/b/Ander.dat";
    EXPECT_FALSE(CompareReports(Report(now), other).sameArchive);
    const std::string html = HtmlReport(Report(now), &other);
    EXPECT_NE(html.find("id=\"comparison\""), std::string::npos);
    EXPECT_NE(html.find("/b/Ander.dat"), std::string::npos) << "says the previous report is of another archive";
}

TEST(HtmlReport, CapsLongListsAndSaysSo) {
    std::vector<QJsonObject> many;
    for (int i = 1; i <= 25'000; ++i) many.push_back(Row(i, QString("Document %1").arg(i), 8, QString("\\M%1\\").arg(i % 40)));
    const std::string html = HtmlReport(Report(many));
    EXPECT_EQ(Occurrences(html, "<tr class="), 10'000);
    EXPECT_NE(html.find("Alleen de eerste 10.000 van 25.000 regels"), std::string::npos);
    EXPECT_NE(html.find("overige mappen (20)"), std::string::npos) << "20 folders with a bar, the rest in one";
    EXPECT_LT(html.size(), 4u << 20);
}

TEST(HtmlReport, SavesThroughANewFileAndNeverHalfway) {
    TempDir dir;
    NullWindow window;
    EnvStack files = MakeEnvStack(false);
    CDatabase database(window, files.top());
    const std::string target = dir.file("rapport.html"), link = dir.file("link.html");
    std::string error;
    const auto leftovers = [&] {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir.path()))
            n += e.path().string().find(".tmp") != std::string::npos || e.path().string().find(".old") != std::string::npos;
        return n;
    };
    EXPECT_EQ(SaveReportFile(database, files.top(), target, "one", error), SaveReportOutcome::Saved) << error;
    EXPECT_EQ(SaveReportFile(database, files.top(), target, "two", error), SaveReportOutcome::Saved) << error;
    EXPECT_EQ(qx::test::Slurp(target), "two");
    fs::create_symlink(target, link);
    EXPECT_EQ(SaveReportFile(database, files.top(), link, "three", error), SaveReportOutcome::Saved) << error;
    EXPECT_TRUE(fs::is_symlink(link)) << "the link stays, the file it names is written";
    EXPECT_EQ(qx::test::Slurp(target), "three");
    EXPECT_EQ(SaveReportFile(database, files.top(), dir.path(), "x", error), SaveReportOutcome::NotWritten);
    for (const char* point : {"report.write", "report.set-aside", "report.place"}) {
        SCOPED_TRACE(point);
        failpoints::Arm(point, 1, FailAction::IoError);
        EXPECT_EQ(SaveReportFile(database, files.top(), target, "four", error), SaveReportOutcome::NotWritten);
        failpoints::Reset();
        EXPECT_EQ(qx::test::Slurp(target), "three") << "the old report stays whole";
        EXPECT_EQ(leftovers(), 0);
    }
}

TEST(CliCheck, HtmlReportAndComparisonWithTheRunBefore) {
    TempDir dir;
    const SampleManifest m = qx::test::WriteSample(dir, {"no-data-row"});
    const std::string json = dir.file("eerst.json"), first = dir.file("eerst.html"), second = dir.file("daarna.html");
    const std::string archive = " '" + m.mainDatabase + "' ";
    CliRun r = RunCli("check --normal" + archive + "--json '" + json + "' --html '" + first + "'", dir);
    EXPECT_EQ(r.exit, 4) << r.err;
    const std::string page = qx::test::Slurp(first);
    EXPECT_EQ(Occurrences(page, "<tr class=\"damage\">"), 3) << page.substr(0, 2000);
    r = RunCli("check --normal" + archive + "--html '" + second + "' --compare '" + json + "'", dir);
    EXPECT_EQ(r.exit, 4) << r.err;
    EXPECT_NE(qx::test::Slurp(second).find("id=\"count-stayed\">Gebleven<b>3</b>"), std::string::npos);

    const std::string bad = dir.file("kapot.json"), sub1 = SubDatabaseName(m.mainDatabase, 1);
    std::FILE* f = std::fopen(bad.c_str(), "w");
    std::fputs("{ niet af", f);
    std::fclose(f);
    const std::string other = dir.file("ander.json");
    f = std::fopen(other.c_str(), "w");
    std::fputs("{\"findings\": 3}", f);
    std::fclose(f);
    const std::string subBefore = qx::test::Slurp(sub1);
    struct Case { const char* name; std::string args, says; } cases[] = {
        {"compare without html", "--compare '" + json + "'", "--compare werkt alleen samen met --html"},
        {"unreadable previous report", "--html '" + second + "' --compare '" + bad + "'", "--compare"},
        {"JSON that is no report", "--html '" + second + "' --compare '" + other + "'",
         "--compare " + other + ": het is geen rapport van quillex-cli check --json"},
        {"html onto a sub database", "--html '" + sub1 + "'", "geweigerd, het hoort bij het archief"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(LogName(m.mainDatabase));
        r = RunCli("check --normal" + archive + c.args, dir);
        EXPECT_EQ(r.exit, 16) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(qx::test::Slurp(LogName(m.mainDatabase)).find("check started"), std::string::npos) << "refused first";
    }
    EXPECT_TRUE(qx::test::Slurp(sub1) == subBefore);
}
