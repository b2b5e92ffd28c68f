// The HTML report of a check with a million findings, and its comparison
// with a previous report of the same size:
//   time to build the page from the check's JSON (goal: a few seconds),
//   size of the page (goal: under 5 MB whatever the findings: the list is cut),
//   time to compare two reports,
//   peak memory of the process (the JSON itself dominates).
// Usage: bench_html_report [--quick]
#include "database/HtmlReport.h"

#include <QJsonArray>
#include <QJsonObject>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>

using namespace qx;
using Clock = std::chrono::steady_clock;

namespace {

double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

QJsonObject Report(int findings, int shift) {
    QJsonArray list;
    for (int i = 1; i <= findings; ++i) {
        const qint64 code = (i + shift) % 7 == 0 ? 2056 : (i % 3 == 0 ? 128 : 8);
        list.append(QJsonObject{{"id", i + shift},
                                {"name", QStringLiteral("Document %1").arg(i)},
                                {"virtual_path", QStringLiteral("\\Klanten\\%1\\").arg(i % 500)},
                                {"sub_database", QStringLiteral("Archief_%1.pdb").arg(i % 12 + 1)},
                                {"code", code},
                                {"code_name", "ResultBadLink"},
                                {"repaired", code == 2056},
                                {"would_be_repaired", false},
                                {"state", code == 2056 ? "Gerepareerd" : "Beschadigd"}});
    }
    QJsonArray subs;
    for (int s = 1; s <= 12; ++s)
        subs.append(QJsonObject{{"id", s}, {"path", QStringLiteral("/a/Archief_%1.pdb").arg(s)},
                                {"size", qint64(s) * 60'000'000}, {"documents", findings / 12}});
    return QJsonObject{{"archive", "/a/Archief.dat"}, {"check", "normal"}, {"outcome", "damaged"},
                       {"dry_run", false}, {"started", "2026-12-07T10:00:00+01:00"},
                       {"finished", "2026-12-07T11:00:00+01:00"}, {"damaged", findings}, {"fixed", 0},
                       {"in_use", QJsonArray()}, {"warnings", QJsonArray()}, {"sub_databases", subs},
                       {"findings", list}};
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int findings = quick ? 100'000 : 1'000'000;
    auto t0 = Clock::now();
    const QJsonObject now = Report(findings, 0), before = Report(findings, findings / 10);
    std::printf("two reports of %d findings built as JSON in %.2f s\n", findings, SecondsSince(t0));

    t0 = Clock::now();
    const std::string page = HtmlReport(now);
    std::printf("page without comparison: %.2f s, %.2f MB\n", SecondsSince(t0), page.size() / 1048576.0);

    t0 = Clock::now();
    const ReportComparison c = CompareReports(now, before);
    std::printf("comparison: %.2f s (new %zu, repaired %zu, stayed %zu)\n", SecondsSince(t0), c.added.size(),
                c.repaired.size(), c.stayed.size());

    t0 = Clock::now();
    const std::string compared = HtmlReport(now, &before);
    std::printf("page with comparison: %.2f s, %.2f MB\n", SecondsSince(t0), compared.size() / 1048576.0);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory: %.0f MB\n", usage.ru_maxrss / 1024.0);
    return page.size() < (5u << 20) && compared.size() < (8u << 20) ? 0 : 1;
}
