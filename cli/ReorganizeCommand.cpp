// quillex-cli reorganize: the stored data of an archive packed into as few
// sub databases as possible, the emptied ones retired as ".obsolete".
#include "cli/Command.h"
#include "cli/DatabaseCommand.h"
#include "cli/TerminalWindow.h"
#include "database/CDatabase.h"
#include "database/CheckCommand.h"
#include "database/maintenance/RunOutcome.h"
#include "support/Log.h"
#include "support/TextResources.h"
#include "support/engine/Recordset.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <string>

namespace qx::cli {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The plan for scripts (keys: docs/json.md).
QJsonObject PlanJson(const std::string& archive, const ReorganizePlan& plan) {
    QJsonArray moves, retired, files, renumbered, setAside, readOnly;
    for (const ReorganizePlan::Move& m : plan.moves)
        moves.append(QJsonObject{{"source_id", static_cast<qint64>(m.sourceId)},
                                 {"source", Q(m.source)},
                                 {"destination_id", static_cast<qint64>(m.destinationId)},
                                 {"destination", Q(m.destination)},
                                 {"documents", static_cast<qint64>(m.documents)},
                                 {"bytes", static_cast<qint64>(m.bytes)}});
    for (const std::string& path : plan.retired) retired.append(Q(path));
    for (const ReorganizePlan::FileAfter& f : plan.files)
        files.append(QJsonObject{{"path", Q(f.path)},
                                 {"bytes_before", static_cast<qint64>(f.before)},
                                 {"bytes_after", static_cast<qint64>(f.after)}});
    for (const ReorganizePlan::Renumbered& r : plan.renumbered)
        renumbered.append(QJsonObject{{"old_id", static_cast<qint64>(r.oldId)},
                                      {"from", Q(r.from)},
                                      {"new_id", static_cast<qint64>(r.newId)},
                                      {"to", Q(r.to)}});
    for (const auto& [path, aside] : plan.setAside) setAside.append(QJsonObject{{"path", Q(path)}, {"as", Q(aside)}});
    QJsonArray renumberedAtEnd, setAsideAtEnd;
    for (const ReorganizePlan::Renumbered& r : plan.renumberedAtEnd)
        renumberedAtEnd.append(QJsonObject{{"old_id", static_cast<qint64>(r.oldId)},
                                           {"from", Q(r.from)},
                                           {"new_id", static_cast<qint64>(r.newId)},
                                           {"to", Q(r.to)}});
    for (const auto& [path, aside] : plan.setAsideAtEnd)
        setAsideAtEnd.append(QJsonObject{{"path", Q(path)}, {"as", Q(aside)}});
    for (const std::string& path : plan.readOnly) readOnly.append(Q(path));
    return QJsonObject{{"archive", Q(archive)},
                       {"refusal", plan.refusal.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(Q(plan.refusal))},
                       {"renumbered", renumbered},
                       {"set_aside", setAside},
                       {"read_only", readOnly},
                       {"moves", moves},
                       {"documents_moved", static_cast<qint64>(plan.documentsMoved)},
                       {"bytes_moved", static_cast<qint64>(plan.bytesMoved)},
                       {"duplicates_overwritten", static_cast<qint64>(plan.duplicatesOverwritten)},
                       {"duplicates_fixed", static_cast<qint64>(plan.duplicatesFixed)},
                       {"unreferenced_skipped", static_cast<qint64>(plan.unreferencedSkipped)},
                       {"unreferenced_repaired", static_cast<qint64>(plan.unreferencedRepaired)},
                       {"retired", retired},
                       {"renumbered_at_end", renumberedAtEnd},
                       {"set_aside_at_end", setAsideAtEnd},
                       {"files", files},
                       {"page_tolerance", plan.pageTolerance}};
}

class ReorganizeCommand : public DatabaseCommand {
public:
    const char* name() const override { return "reorganize"; }

protected:
    std::string description() const override {
        return FormatMsg(GetResString(
            400,
            "Verplaatst de opgeslagen gegevens naar zo weinig mogelijk subdatabases.%n%n"
            "Het archief wordt geopend zoals 'open' dat doet. De documenten gaan van de subdatabase met het "
            "hoogste nummer naar de laagste met ruimte (640 MiB elk), tot die twee elkaar raken. Lege "
            "subdatabases krijgen de naam '.obsolete'; aan het eind worden de databestanden gecomprimeerd. Een "
            "document is pas weg van zijn oude plaats als zijn kopie op schijf staat: een afgebroken run verliest "
            "niets en de volgende gaat verder.%n%n"
            "Exitcodes: 0 gereorganiseerd, 8 niet geopend, geweigerd of gestopt door een fout (zie het logboek), "
            "16 gebruiksfout, 32 niet bevestigd of afgebroken (Ctrl-C)."));
    }

    void declareOwn(Arguments& args) const override {
        args.option({"--plan"},
                    GetResString(412, "Toont wat een run die nu begint zou doen (verplaatsingen, opzijgezette "
                                      "bestanden, grootten daarna); vraagt niets en wijzigt niets."));
        args.option({"--json"}, GetResString(413, "Geeft de uitkomst als JSON (sleutels: docs/json.md)."));
    }

    int runOn(const Arguments& args, const ArchiveRun& run, Streams io) override {
        RunOptions options = run.options;
        const bool planOnly = args.isSet("plan");
        const bool json = args.isSet("json");
        if (json && !planOnly)
            return usage(io, FormatMsg(GetResString(414, "%s alleen samen met %s"), {"--json", "--plan"}));
        if (planOnly) {
            // The archive is opened report-only: whatever the opening would
            // repair stays in memory, and the plan itself writes nothing.
            options.dryRun = true;
            OpenedArchive archive(io, Answering::No, options);
            if (const int status = archive.open(run.archive); status != ExitOk) return status;
            ReorganizePlan plan;
            if (!archive.database.PlanReorganize(plan)) {
                std::fprintf(io.err, "quillex-cli: %s\n", GetResString(545, "het archief kon niet tot het einde worden gelezen; geen plan").c_str());
                return ExitOperational;
            }
            if (json)
                std::fputs(QJsonDocument(PlanJson(archive.file(), plan)).toJson(QJsonDocument::Indented).constData(),
                           io.out);
            else
                std::fputs(DescribePlan(plan).c_str(), io.out);
            return ExitOk;
        }
        OpenedArchive archive(io, run.answering, options);
        if (const int status = archive.open(run.archive); status != ExitOk) return status;
        CDatabase& database = archive.database;
        if (database.Window().MsgBox(FormatMsg(GetResString(26, "Resources not found"), {}), MsgButtons::YesNo,
                                     MsgIcon::Question, GetResString(27, "Resources not found")) != MsgAnswer::Yes) {
            std::fprintf(io.err, "quillex-cli: %s\n", GetResString(546, "niet gereorganiseerd").c_str());
            return ExitCancelled;
        }
        WriteLog("Reorganize started " + LogNow());
        const bool listed = database.Reorganize();
        database.Window().State().m_nFixed = -1;
        database.Window().State().m_nDamaged = -1;
        archive.window.EndRun();
        if (archive.window.cancelled()) {
            std::fprintf(io.err, "quillex-cli: %s\n",
                         GetResString(547, "afgebroken; de documenten die al zijn verplaatst, blijven verplaatst").c_str());
            return ExitCancelled;
        }
        if (!database.m_sReorganizeStop.empty()) {
            // What stopped it in Dutch; the log's own words below it, indented
            // as the engine's words are under every message on the terminal.
            const CompactTrouble& trouble = database.m_reorganizeOutcome.trouble;
            const bool known = trouble.trouble == Trouble::DiskFull || trouble.trouble == Trouble::InUse ||
                               trouble.trouble == Trouble::Damaged;
            const std::string why =
                known ? TroubleAdvice(trouble)
                      : GetResString(587, "het archief kon niet verder worden gereorganiseerd; wat al was verplaatst, "
                                          "blijft verplaatst");
            std::fprintf(io.err, "quillex-cli: %s\n    %s\n",
                         FormatMsg(GetResString(548, "gestopt: %s (zie het logboek)"), {why}).c_str(),
                         database.m_sReorganizeStop.c_str());
            return ExitOperational;
        }
        if (!listed && CDatabase::Connected(database.m_AdoCnMain)) {
            engine::Recordset rs;
            if (rs.open("SELECT ID FROM DATABASES", *database.m_AdoCnMain, engine::CursorMode::Scan) && !rs.eof()) {
                std::fprintf(io.err, "quillex-cli: %s\n", GetResString(549, "niet gereorganiseerd (zie het logboek)").c_str());
                return ExitOperational;
            }
        }
        for (const ListRow& row : archive.window.rows(ListId::Picbases))
            std::fprintf(io.out, "%s\n", row.text.c_str());
        if (options.dryRun) PrintReportOnlyEnd(database, io.out);
        return ExitOk;
    }
};

}  // namespace

std::unique_ptr<Command> MakeReorganizeCommand() { return std::make_unique<ReorganizeCommand>(); }

}  // namespace qx::cli
