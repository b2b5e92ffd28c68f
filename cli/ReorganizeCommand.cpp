// quillex-cli reorganize: the stored data of an archive packed into as few
// sub databases as possible, the emptied ones retired as ".obsolete".
#include "cli/Command.h"
#include "cli/TerminalWindow.h"
#include "database/CDatabase.h"
#include "database/CheckCommand.h"
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

class ReorganizeCommand : public Command {
public:
    const char* name() const override { return "reorganize"; }
    const char* summary() const override { return "pack the stored data into as few sub databases as possible"; }

    void printHelp(std::FILE* to) const override {
        std::fputs("Usage: quillex-cli reorganize ARCHIVE.dat [--dry-run] [--log FILE] [--yes|--no]\n"
                   "       quillex-cli reorganize ARCHIVE.dat --plan [--json]\n"
                   "\n"
                   "Opens the archive as 'open' does and moves the stored documents from the\n"
                   "highest-numbered sub database into the lowest one with room (640 MiB each),\n"
                   "until the two meet. Emptied sub databases are renamed to '.obsolete'; the\n"
                   "data files are compacted at the end. A document is copied and its copy is\n"
                   "on disk before its old place is given up: a run cut off loses nothing, and\n"
                   "the next run carries on.\n"
                   "\n"
                   "  --dry-run, -n     report only: reorganize in memory and tell what a run\n"
                   "                    would do; no file is changed and no log is written\n"
                   "                    unless --log asks for one\n"
                   "  --log FILE        write the log to FILE instead of beside the archive\n"
                   "  --plan            print what a run started now would do (moves, retired\n"
                   "                    files, sizes afterwards); asks nothing, changes nothing,\n"
                   "                    reads only the lengths of the stored documents (and\n"
                   "                    the bytes of two rows that share an ID)\n"
                   "  --json            with --plan: the plan as JSON (keys: docs/json.md)\n"
                   "\n"
                   "Exit codes: 0 reorganized, 8 not opened, refused (the message is printed:\n"
                   "a sub database not found or not under its standard name, too little free\n"
                   "space) or stopped on an error, a failed compaction included (see the log),\n"
                   "16 usage error, 32 not confirmed or cancelled (Ctrl-C: the documents\n"
                   "being moved are finished, the rest stay where they are).\n",
                   to);
    }

    int execute(const QStringList& args, Streams io) override {
        QStringList rest = args;
        Answering answering;
        if (!TakeAnswering(rest, answering, io)) return ExitUsage;
        RunOptions options;
        if (!TakeRunOptions(rest, options, io)) return ExitUsage;
        const bool planOnly = rest.removeAll("--plan") > 0;
        const bool json = rest.removeAll("--json") > 0;
        if (rest.size() != 1 || rest.front().startsWith("-") || (json && !planOnly)) {
            printHelp(io.err);
            return ExitUsage;
        }
        if (planOnly) {
            // The archive is opened report-only: whatever the opening would
            // repair stays in memory, and the plan itself writes nothing.
            options.dryRun = true;
            OpenedArchive archive(io, Answering::No, options);
            if (const int status = archive.open(rest.front()); status != ExitOk) return status;
            ReorganizePlan plan;
            if (!archive.database.PlanReorganize(plan)) {
                std::fprintf(io.err, "quillex-cli: the archive could not be read to the end; no plan\n");
                return ExitOperational;
            }
            if (json)
                std::fputs(QJsonDocument(PlanJson(archive.file(), plan)).toJson(QJsonDocument::Indented).constData(),
                           io.out);
            else
                std::fputs(DescribePlan(plan).c_str(), io.out);
            return ExitOk;
        }
        OpenedArchive archive(io, answering, options);
        if (const int status = archive.open(rest.front()); status != ExitOk) return status;
        CDatabase& database = archive.database;
        if (database.Window().MsgBox(FormatMsg(GetResString(26, "Resources not found"), {}), MsgButtons::YesNo,
                                     MsgIcon::Question, GetResString(27, "Resources not found")) != MsgAnswer::Yes) {
            std::fprintf(io.err, "quillex-cli: not reorganized\n");
            return ExitCancelled;
        }
        WriteLog("Reorganize started " + LogNow());
        const bool listed = database.Reorganize();
        database.Window().State().m_nFixed = -1;
        database.Window().State().m_nDamaged = -1;
        archive.window.EndRun();
        if (archive.window.cancelled()) {
            std::fprintf(io.err, "quillex-cli: cancelled; the documents moved so far stay moved\n");
            return ExitCancelled;
        }
        if (!database.m_sReorganizeStop.empty()) {
            std::fprintf(io.err, "quillex-cli: stopped while %s (see the log)\n",
                         database.m_sReorganizeStop.c_str());
            return ExitOperational;
        }
        if (!listed && CDatabase::Connected(database.m_AdoCnMain)) {
            engine::Recordset rs;
            if (rs.open("SELECT ID FROM DATABASES", *database.m_AdoCnMain, engine::CursorMode::Scan) && !rs.eof()) {
                std::fprintf(io.err, "quillex-cli: not reorganized (see the log)\n");
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
