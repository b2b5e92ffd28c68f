// quillex-cli check: the check commands of the window's check menu, run on
// an archive opened the way `open` does.
#include "cli/Command.h"
#include "cli/TerminalWindow.h"
#include "database/ArchiveFiles.h"
#include "database/CheckCommand.h"
#include "database/HtmlReport.h"
#include "database/StatusBar.h"
#include "database/access/OpenArchive.h"
#include "database/checks/ResultCodes.h"
#include "support/Env.h"
#include "support/Settings.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>


namespace qx::cli {

namespace {

struct Kind {
    const char* option;
    int item;
};
constexpr Kind kKinds[] = {
    {"--quick", CheckQuick},
    {"--normal", CheckNormal},
    {"--thorough", CheckThorough},
    {"--empty-folders", CheckEmptyFolders},
    {"--large-documents", CheckLargeDocuments},
};

class CheckCommand : public Command {
public:
    const char* name() const override { return "check"; }
    const char* summary() const override { return "check an archive and repair what can be repaired"; }
    void printHelp(std::FILE* to) const override {
        std::fputs("Usage: quillex-cli check (--quick|--normal|--thorough|--empty-folders|--large-documents)\n"
                   "                        ARCHIVE.dat [--yes|--no] [--dry-run] [--log FILE] [--report FILE]\n"
                   "                        [--json FILE] [--html FILE [--compare PREVIOUS.json]]\n"
                   "\n"
                   "Opens the archive as `open` does, runs the check, repairs what it can and lists\n"
                   "what it found: state, TAB, folder path and name, one finding per line.\n"
                   "\n"
                   "  --quick            links between stored data and documents\n"
                   "  --normal           every document: its data, its links, its folder path\n"
                   "  --thorough         the normal check, then: trash support added where it lacks,\n"
                   "                     every image document loaded (every page), the storage format\n"
                   "                     of imported files repaired after a backup (NAMEyyyymmddhhnnSS.bak\n"
                   "                     beside the archive), and the links; sub databases over 660 MB\n"
                   "                     are offered for compaction first (--yes compacts, --no stops)\n"
                   "  -showindicators    with --thorough: log the storage indicator of sound files too\n"
                   "  --empty-folders    folders without anything in them\n"
                   "  --large-documents  size statistics of the stored documents (shown, logged and\n"
                   "                     in the JSON)\n"
                   "  --report FILE      save the list as the window's \"save list\" does\n"
                   "  --json FILE        the findings, counts, notices and sub databases as JSON\n"
                   "                     (keys: docs/json.md); \"-\" writes them to standard output\n"
                   "                     and the list to standard error\n"
                   "  --html FILE        the report as one self-contained HTML page: counters,\n"
                   "                     charts by code, by folder and of the sub databases, the\n"
                   "                     list with a search box\n"
                   "  --compare FILE     with --html: what is new, repaired or stayed since the\n"
                   "                     report FILE (written by --json)\n"
                   "  --yes / --no       answer questions (default without a terminal: no)\n"
                   "  --dry-run, -n      report only: find and list everything, repairs marked\n"
                   "                     \"would be repaired\"; no archive file is changed and no\n"
                   "                     log is written unless --log asks for one\n"
                   "  --log FILE         write the log to FILE instead of beside the archive\n"
                   "\n"
                   "A FILE that is one of the archive's own files (its databases, log, lock, a\n"
                   "sub database under any name or link) is refused before the check runs.\n"
                   "\n"
                   "Exit codes: 0 nothing found, 1 everything found was repaired (documents moved\n"
                   "to the root included), 4 damage remains, 8 not opened, a sub database in use\n"
                   "by another program (not read), the disk full or repairs not saved, a side\n"
                   "file of a sub database (-journal, -wal, -shm) a link or no regular file,\n"
                   "16 usage error (also a refused FILE), 32 cancelled (Ctrl-C, or a compaction\n"
                   "declined): never \"nothing found\" for what was not read.\n",
                   to);
    }

    int execute(const QStringList& argsIn, Streams io) override {
        QStringList args = argsIn;
        Answering answering;
        if (!TakeAnswering(args, answering, io)) return ExitUsage;
        RunOptions options;
        if (!TakeRunOptions(args, options, io)) return ExitUsage;
        int item = -1;
        QString report, jsonTarget, html, compare;
        QStringList rest;
        for (int i = 0; i < args.size(); ++i) {
            const QString& a = args[i];
            bool known = false;
            for (const Kind& k : kKinds)
                if (a == k.option) {
                    if (item != -1) return usage(io, "choose one kind of check");
                    item = k.item;
                    known = true;
                }
            if (known) continue;
            // Read by the storage-format check from the command line itself.
            if (a.compare("-showindicators", Qt::CaseInsensitive) == 0) continue;
            if (a == "--report" || a == "--json" || a == "--html" || a == "--compare") {
                if (i + 1 >= args.size()) return usage(io, a.toStdString() + " needs a file name");
                (a == "--report" ? report : a == "--json" ? jsonTarget : a == "--html" ? html : compare) = args[++i];
            } else if (a.startsWith("-")) {
                return usage(io, "unknown option " + a.toStdString());
            } else {
                rest << a;
            }
        }
        if (item == -1) return usage(io, "choose the kind of check");
        if (rest.size() != 1) return usage(io, "name one archive");
        if (!compare.isEmpty() && html.isEmpty()) return usage(io, "--compare needs --html");

        OpenedArchive archive(io, answering, options);
        if (const int status = archive.open(rest.front()); status != ExitOk) return status;
        TerminalWindow& window = archive.window;
        CDatabase& database = archive.database;
        // Judged once the archive is open (its sub-database table names
        // files too) and before the check can change anything.
        const bool jsonToOutput = jsonTarget == "-";
        const QString jsonFile = jsonToOutput ? QString() : jsonTarget;
        for (const auto& [option, target] : {std::pair{"--report", report}, std::pair{"--json", jsonFile},
                                          std::pair{"--html", html}}) {
            if (target.isEmpty()) continue;
            const std::string role = ArchiveFileRole(database, target.toStdString());
            if (role.empty()) continue;
            std::fprintf(io.err, "quillex-cli check: %s %s: refused, it belongs to the archive: %s\n", option,
                         target.toLocal8Bit().constData(), role.c_str());
            return ExitUsage;
        }
        QJsonObject previous;
        if (std::string why; !compare.isEmpty() &&
                             !ReadReportJson(UserFileLayer(archive.files), compare.toStdString(), previous, why)) {
            std::fprintf(io.err, "quillex-cli check: --compare %s: %s\n", compare.toLocal8Bit().constData(), why.c_str());
            return ExitUsage;
        }
        CheckRunFacts facts;
        BeginCheckFacts(facts, database, archive.file(), item);
        RunCheckCommand(database, item);
        facts.finished = IsoNow();
        if (item == CheckLargeDocuments && database.m_largeDocuments.measured)
            facts.largeDocuments = database.m_largeDocuments;

        std::FILE* human = jsonToOutput ? io.err : io.out;
        const auto& rows = window.rows(ListId::Documents);
        for (const ListRow& row : rows) std::fprintf(human, "%s\n", ListLine(row).c_str());
        const MainWindowState& state = window.State();
        const auto panels = StatusBarTexts(database.env(), state, rows.size(), 0, database.DryRun());
        std::fprintf(human, "%s%s  %s\n", panels[0].c_str(), panels[1].c_str(), panels[2].c_str());
        if (window.cancelled() || database.Findings().cancelled) std::fputs("cancelled\n", human);
        if (database.DryRun()) {
            facts.fileChanges = database.env().Changes();
            for (const std::string& c : facts.fileChanges) std::fprintf(human, "would %s\n", c.c_str());
            std::fputs("report only: nothing was changed on disk\n", human);
        }
        window.EndRun();

        facts.cancelled = window.cancelled();
        TakeCheckFindings(facts, database.Findings());
        int status = ExitOk;
        if (!database.Findings().stopped.empty()) {
            std::fprintf(io.err, "quillex-cli: the check stopped before reading: %s\n",
                         database.Findings().stopped.c_str());
            status = ExitOperational;
        }
        if (!state.m_sSaveError.empty()) {
            std::fprintf(io.err, "quillex-cli: repairs could not all be saved: %s\n", state.m_sSaveError.c_str());
            status = ExitOperational;
        }
        if (!report.isEmpty()) {
            const SaveListOutcome saved = SaveList(database, rows, report.toStdString());
            if (saved == SaveListOutcome::ArchiveFile) {
                std::fprintf(io.err, "quillex-cli check: --report %s: refused, it belongs to the archive\n",
                             report.toLocal8Bit().constData());
                status = ExitUsage;
            } else if (saved != SaveListOutcome::Saved) {
                std::fprintf(io.err, "quillex-cli: could not write %s\n", report.toLocal8Bit().constData());
                status = ExitOperational;
            }
        }
        std::optional<QJsonDocument> document;
        const auto json = [&] {
            if (document) return document->toJson();
            facts.failed = status != ExitOk;
            if (std::string error; !CompleteCheckFacts(facts, database, window.notices(), error))
                std::fprintf(io.err, "quillex-cli: %s\n", error.c_str());
            document = CheckJson(facts, database.Findings().all());
            return document->toJson();
        };
        if (jsonToOutput) {
            const QByteArray bytes = json();
            if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), io.out) !=
                    static_cast<size_t>(bytes.size()) ||
                std::fflush(io.out) != 0) {
                std::fputs("quillex-cli: could not write the JSON to standard output\n", io.err);
                status = ExitOperational;
            }
        } else if (!jsonTarget.isEmpty()) {
            QFile out(jsonTarget);
            // Judged again right before writing: the check may have renamed
            // or created files of the archive.
            if (IsArchiveOwnFile(database, jsonTarget.toStdString())) {
                std::fprintf(io.err, "quillex-cli check: --json %s: refused, it belongs to the archive\n",
                             jsonTarget.toLocal8Bit().constData());
                status = ExitUsage;
            } else if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                       out.write(json()) < 0) {
                std::fprintf(io.err, "quillex-cli: could not write %s\n", jsonTarget.toLocal8Bit().constData());
                status = ExitOperational;
            }
        }
        if (!html.isEmpty()) {
            if (!document) json();
            std::string why;
            const SaveReportOutcome saved =
                SaveReportFile(database, UserFileLayer(archive.files), html.toStdString(),
                               HtmlReport(document->object(), compare.isEmpty() ? nullptr : &previous), why);
            if (saved == SaveReportOutcome::ArchiveFile) {
                std::fprintf(io.err, "quillex-cli check: --html %s: refused, it belongs to the archive\n",
                             html.toLocal8Bit().constData());
                status = ExitUsage;
            } else if (saved == SaveReportOutcome::NotWritten) {
                std::fprintf(io.err, "quillex-cli: could not write %s: %s\n", html.toLocal8Bit().constData(), why.c_str());
                status = ExitOperational;
            }
        }
        if (status == ExitUsage) return status;
        facts.failed = status != ExitOk;
        return CheckExitCode(facts);
    }

private:
    int usage(Streams io, const std::string& why) {
        std::fprintf(io.err, "quillex-cli check: %s\n\n", why.c_str());
        printHelp(io.err);
        return ExitUsage;
    }
};

}  // namespace

std::unique_ptr<Command> MakeCheckCommand() { return std::make_unique<CheckCommand>(); }

}  // namespace qx::cli
