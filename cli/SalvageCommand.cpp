// quillex-cli salvage: what the damaged files of an archive still hold,
// copied into fresh files that take their places; the damaged files are
// kept aside. Report per file and per lost document, as lines and as JSON.
#include "cli/DatabaseCommand.h"
#include "cli/TerminalWindow.h"
#include "database/ArchiveFiles.h"
#include "database/CDatabase.h"
#include "database/maintenance/Salvage.h"
#include "support/HumanFormat.h"
#include "support/TextResources.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
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

class SalvageCommand : public DatabaseCommand {
public:
    SalvageCommand() : DatabaseCommand({.json = true}) {}
    const char* name() const override { return "salvage"; }

protected:
    std::string description() const override {
        return FormatMsg(GetResString(
            325,
            "Haalt terug wat de beschadigde bestanden van een archief nog bevatten.%n%n"
            "Het archief wordt geopend zoals 'open' dat doet en elke pagina van zijn bestanden wordt gelezen. "
            "Van een subdatabase waarvan niet alle pagina's te lezen zijn, wordt elke rij die nog leest "
            "gekopieerd naar een nieuw bestand, gelijk bewezen aan wat gelezen is; de kopie neemt de plaats van "
            "het bestand in en het beschadigde bestand blijft ernaast bewaard als '.damaged'. Een beschadigde "
            "OCR-database wordt opzij gezet en leeg opnieuw gemaakt. Documenten waarvan de gegevens niet te "
            "lezen waren, houden hun record en worden met naam en map genoemd.%n%n"
            "Exitcodes: 0 geen schade, 1 beschadigde bestanden geborgen zonder verlies, 4 documenten verloren, 8 "
            "niet geopend of een beschadigd bestand niet te bergen, 16 gebruiksfout; alleen rapporteren eindigt "
            "met de code die een echte run zou geven."));
    }

    int runOn(const Arguments&, const ArchiveRun& run, Streams io) override {
        const QString jsonTarget = run.json;
        OpenedArchive archive(io, run.answering, run.options);
        if (const int status = archive.open(run.archive); status != ExitOk) return status;
        CDatabase& database = archive.database;
        const bool jsonToOutput = jsonTarget == "-";
        if (!jsonTarget.isEmpty() && !jsonToOutput && IsArchiveOwnFile(database, jsonTarget.toStdString())) {
            RefuseArchiveFile(io, "salvage", "--json", jsonTarget);
            return ExitUsage;
        }

        SalvageReport report;
        (void)database.SalvageArchive(report);

        std::FILE* human = jsonToOutput ? io.err : io.out;
        bool damage = false;
        for (const SalvageFileReport& f : report.files) {
            damage = damage || f.outcome != SalvageFileReport::Outcome::Clean;
            // The window's summary line; the terminal names the whole path.
            std::string line = SalvageSummaryLine(f, f.file);
            if (!f.setAsideAs.empty()) {
                const bool done = f.outcome == SalvageFileReport::Outcome::Salvaged ||
                                  f.outcome == SalvageFileReport::Outcome::Recreated;
                // Where the damaged file is kept belongs to the file's own line,
                // before any advice the summary adds below it.
                const std::size_t firstLineEnd = std::min(line.find("\r\n"), line.size());
                line.insert(firstLineEnd,
                            "; " + FormatMsg(done ? GetResString(326, "beschadigd bestand bewaard als '%s'")
                                                  : GetResString(327, "beschadigd bestand zou worden bewaard als '%s'"),
                                             {f.setAsideAs}));
            }
            line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
            std::fprintf(human, "%s\n", line.c_str());
            // Name and path are filled in after the text: a "%s" inside a
            // stored name must stay as it is, not take the next value.
            for (const SalvageLostDocument& d : f.lost)
                std::fprintf(human, "  %s '%s' in %s\n",
                             FormatMsg(GetResString(328, "verloren: document %s"), {std::to_string(d.id)}).c_str(),
                             d.name.c_str(), d.path.c_str());
        }
        std::fprintf(human, "%s\n",
                     FormatMsg(GetResString(329, "%s documenten verloren"), {FormatCount(report.LostDocuments())})
                         .c_str());
        if (report.reportOnly) PrintReportOnlyEnd(database, human);
        archive.window.EndRun();

        // A report-only run exits as the real run would: what it found is
        // what a salvage would bring back or lose.
        int status = report.Failed() ? ExitOperational
                     : report.LostDocuments() > 0 ? ExitProblemsLeft
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
                    std::fprintf(io.err, "quillex-cli: %s\n",
                                 GetResString(540, "de JSON kon niet naar de standaarduitvoer worden geschreven").c_str());
                    status = ExitOperational;
                }
            } else {
                QFile out(jsonTarget);
                if (IsArchiveOwnFile(database, jsonTarget.toStdString())) {
                    RefuseArchiveFile(io, "salvage", "--json", jsonTarget);
                    return ExitUsage;
                }
                if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) < 0) {
                    CouldNotWrite(io, jsonTarget);
                    status = ExitOperational;
                }
            }
        }
        return status;
    }

};

}  // namespace

std::unique_ptr<Command> MakeSalvageCommand() { return std::make_unique<SalvageCommand>(); }

}  // namespace qx::cli
