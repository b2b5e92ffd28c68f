// quillex-cli salvage: what the damaged files of an archive still hold,
// copied into fresh files that take their places; the damaged files are
// kept aside. Report per file and per lost document, as lines and as JSON.
#include "cli/Command.h"
#include "cli/TerminalWindow.h"
#include "database/ArchiveFiles.h"
#include "database/CDatabase.h"
#include "database/maintenance/Salvage.h"
#include "support/TextResources.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <string>

namespace qx::cli {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QJsonObject FileJson(const SalvageFileReport& f) {
    QJsonObject o;
    o["file"] = Q(f.file);
    o["kind"] = SalvageKindWord(f.kind);
    if (f.kind == SalvageFileReport::Kind::Sub) o["database_id"] = static_cast<qint64>(f.databaseId);
    o["outcome"] = SalvageOutcomeWord(f.outcome);
    o["rows_read"] = static_cast<qint64>(f.rowsRead);
    o["rows_salvaged"] = static_cast<qint64>(f.rowsSalvaged);
    o["rows_lost"] = static_cast<qint64>(f.rowsLost);
    o["unreadable_ranges"] = static_cast<qint64>(f.unreadableRanges);
    o["set_aside_as"] = f.setAsideAs.empty() ? QJsonValue() : QJsonValue(Q(f.setAsideAs));
    o["error"] = f.error.empty() ? QJsonValue() : QJsonValue(Q(f.error));
    QJsonArray lost;
    for (const SalvageLostDocument& d : f.lost)
        lost.append(QJsonObject{{"id", static_cast<qint64>(d.id)}, {"name", Q(d.name)}, {"path", Q(d.path)}});
    o["lost_documents"] = lost;
    return o;
}

class SalvageCommand : public Command {
public:
    const char* name() const override { return "salvage"; }
    const char* summary() const override { return "recover what the damaged files of an archive still hold"; }

    void printHelp(std::FILE* to) const override {
        std::fputs("Usage: quillex-cli salvage ARCHIVE.dat [--dry-run] [--json FILE|-] [--yes|--no]\n"
                   "\n"
                   "Opens the archive as 'open' does and reads every page of its files. A sub\n"
                   "database whose pages do not all read is salvaged: every row that still reads\n"
                   "is copied into a fresh file, proved equal to what was read, and the copy\n"
                   "takes the file's place; the damaged file is kept beside it as '.damaged'.\n"
                   "A damaged OCR database is set aside and made anew, empty. Documents whose\n"
                   "data did not read keep their record and are listed by name and folder.\n"
                   "\n"
                   "  --dry-run, -n     report only: read everything and tell what would come\n"
                   "                    back; no file is changed\n"
                   "  --json FILE       the report as JSON (keys: docs/json.md); \"-\" writes it\n"
                   "                    to standard output\n"
                   "\n"
                   "Exit codes: 0 no damage, 1 damaged files salvaged and no document lost,\n"
                   "4 documents lost (or, report only, damage found), 8 not opened or a damaged\n"
                   "file could not be salvaged, 16 usage error.\n",
                   to);
    }

    int execute(const QStringList& argsIn, Streams io) override {
        QStringList args = argsIn;
        Answering answering;
        if (!TakeAnswering(args, answering, io)) return ExitUsage;
        RunOptions options;
        if (!TakeRunOptions(args, options, io)) return ExitUsage;
        QString jsonTarget;
        QStringList rest;
        for (int i = 0; i < args.size(); ++i) {
            if (args[i] == "--json") {
                if (i + 1 >= args.size()) return usage(io, "--json needs a file name");
                jsonTarget = args[++i];
            } else if (args[i].startsWith("-")) {
                return usage(io, "unknown option " + args[i].toStdString());
            } else {
                rest << args[i];
            }
        }
        if (rest.size() != 1) return usage(io, "name one archive");

        OpenedArchive archive(io, answering, options);
        if (const int status = archive.open(rest.front()); status != ExitOk) return status;
        CDatabase& database = archive.database;
        const bool jsonToOutput = jsonTarget == "-";
        if (!jsonTarget.isEmpty() && !jsonToOutput && IsArchiveOwnFile(database, jsonTarget.toStdString())) {
            std::fprintf(io.err, "quillex-cli salvage: --json %s: refused, it belongs to the archive\n",
                         jsonTarget.toLocal8Bit().constData());
            return ExitUsage;
        }

        SalvageReport report;
        (void)database.SalvageArchive(report);

        std::FILE* human = jsonToOutput ? io.err : io.out;
        bool damage = false;
        for (const SalvageFileReport& f : report.files) {
            const bool read = f.outcome == SalvageFileReport::Outcome::Salvaged ||
                              f.outcome == SalvageFileReport::Outcome::WouldSalvage;
            damage = damage || f.outcome != SalvageFileReport::Outcome::Clean;
            std::fprintf(human, "%s %s: %s", SalvageKindWord(f.kind), f.file.c_str(), SalvageOutcomeWord(f.outcome));
            if (read)
                std::fprintf(human, "; rows read %lld, %s %lld, lost %lld", static_cast<long long>(f.rowsRead),
                             f.outcome == SalvageFileReport::Outcome::Salvaged ? "salvaged" : "would be salvaged",
                             static_cast<long long>(f.rowsSalvaged), static_cast<long long>(f.rowsLost));
            if (!f.setAsideAs.empty())
                std::fprintf(human, "; %s '%s'",
                             f.outcome == SalvageFileReport::Outcome::Salvaged ||
                                     f.outcome == SalvageFileReport::Outcome::Recreated
                                 ? "damaged file kept as"
                                 : "damaged file would be kept as",
                             f.setAsideAs.c_str());
            if (!f.error.empty()) std::fprintf(human, " (%s)", f.error.c_str());
            std::fputc('\n', human);
            for (const SalvageLostDocument& d : f.lost)
                std::fprintf(human, "  lost: document %ld '%s' in %s\n", d.id, d.name.c_str(), d.path.c_str());
            if (f.outcome == SalvageFileReport::Outcome::Recreated ||
                f.outcome == SalvageFileReport::Outcome::WouldRecreate)
                std::fprintf(human, "  %s\n",
                             GetResString(485, "De OCR-gegevens moeten opnieuw worden opgebouwd met het scanprogramma.")
                                 .c_str());
        }
        std::fprintf(human, "%lld documents lost\n", static_cast<long long>(report.LostDocuments()));
        if (report.reportOnly) PrintReportOnlyEnd(database, human);
        archive.window.EndRun();

        int status = report.Failed() ? ExitOperational
                     : report.LostDocuments() > 0 || (report.reportOnly && damage) ? ExitProblemsLeft
                     : damage ? ExitRepaired
                              : ExitOk;
        if (!jsonTarget.isEmpty()) {
            QJsonArray files;
            for (const SalvageFileReport& f : report.files) files.append(FileJson(f));
            const QJsonObject root{{"archive", Q(archive.file())},
                                   {"dry_run", report.reportOnly},
                                   {"files", files},
                                   {"documents_lost", static_cast<qint64>(report.LostDocuments())},
                                   {"exit_code", status}};
            const QByteArray bytes = QJsonDocument(root).toJson();
            if (jsonToOutput) {
                if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), io.out) !=
                        static_cast<size_t>(bytes.size()) ||
                    std::fflush(io.out) != 0) {
                    std::fputs("quillex-cli: could not write the JSON to standard output\n", io.err);
                    status = ExitOperational;
                }
            } else {
                QFile out(jsonTarget);
                if (IsArchiveOwnFile(database, jsonTarget.toStdString())) {
                    std::fprintf(io.err, "quillex-cli salvage: --json %s: refused, it belongs to the archive\n",
                                 jsonTarget.toLocal8Bit().constData());
                    return ExitUsage;
                }
                if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) < 0) {
                    std::fprintf(io.err, "quillex-cli: could not write %s\n", jsonTarget.toLocal8Bit().constData());
                    status = ExitOperational;
                }
            }
        }
        return status;
    }

private:
    int usage(Streams io, const std::string& why) {
        std::fprintf(io.err, "quillex-cli salvage: %s\n\n", why.c_str());
        printHelp(io.err);
        return ExitUsage;
    }
};

}  // namespace

std::unique_ptr<Command> MakeSalvageCommand() { return std::make_unique<SalvageCommand>(); }

}  // namespace qx::cli
