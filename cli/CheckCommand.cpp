// quillex-cli check: the check commands of the window's check menu, run on
// an archive opened the way `open` does.
#include "cli/Command.h"
#include "cli/DatabaseCommand.h"
#include "cli/TerminalWindow.h"
#include "support/TextResources.h"
#include "database/ArchiveFiles.h"
#include "database/CheckCommand.h"
#include "database/HtmlReport.h"
#include "database/StatusBar.h"
#include "database/access/OpenArchive.h"
#include "database/checks/CheckResume.h"
#include "database/checks/ResultCodes.h"
#include "support/Env.h"
#include "support/HumanFormat.h"
#include "support/Settings.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdlib>
#include <optional>


namespace qx::cli {

namespace {

struct Kind {
    const char* option;
    int item;
    long menuText;  // the check menu's name for it
    const char* menuDefault;
};
constexpr Kind kKinds[] = {
    {"quick", CheckQuick, 29, "&Snel..."},
    {"normal", CheckNormal, 30, "&Normaal..."},
    {"thorough", CheckThorough, 31, "&Intensief..."},
    {"empty-folders", CheckEmptyFolders, 58, "&Op lege mappen..."},
    {"large-documents", CheckLargeDocuments, 288, "Grote documenten"},
};

// "&Snel..." as a word in a sentence: "Snel".
std::string MenuWord(long id, const char* def) {
    std::string text = GetResString(id, def);
    text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
    while (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

class CheckCommand : public DatabaseCommand {
public:
    CheckCommand() : DatabaseCommand({.json = true}) {}
    const char* name() const override { return "check"; }

protected:
    std::string description() const override {
        return FormatMsg(GetResString(
            397,
            "Controleert een archief en repareert wat te repareren is.%n%n"
            "Het archief wordt geopend zoals 'open' dat doet; de lijst geeft per bevinding de status, een tab, "
            "het pad van de map en de naam.%n%n"
            "--quick: de koppelingen tussen opgeslagen gegevens en documenten. --normal: elk document, zijn "
            "gegevens, koppeling en map. --thorough: de normale controle, daarna elk beeld geladen, het "
            "opslagformaat hersteld (na een back-up) en de koppelingen; subdatabases boven 660 MB worden eerst "
            "aangeboden om te comprimeren. --empty-folders: lege mappen. --large-documents: de grootte van de "
            "opgeslagen documenten.%n%n"
            "Een BESTAND van het archief zelf wordt geweigerd voordat de controle begint.%n%n"
            "Exitcodes: 0 niets gevonden, 1 alles gerepareerd, 4 er blijft schade, 8 niet geopend, in gebruik, "
            "schijf vol of reparaties niet opgeslagen, 16 gebruiksfout, 32 afgebroken."));
    }

    void declareOwn(Arguments& args) const override {
        for (const Kind& k : kKinds)
            args.option({QStringLiteral("--") + k.option},
                        FormatMsg(GetResString(309, "Controle: %s"), {MenuWord(k.menuText, k.menuDefault)}));
        args.option({"-showindicators"},
                    GetResString(407, "Met --thorough: schrijft ook de opslagindicator van goede bestanden in het "
                                      "logboek."));
        args.option({"--report"},
                    GetResString(406, "Bewaart de lijst in BESTAND, zoals 'Lijst opslaan' in het venster."),
                    QStringLiteral("BESTAND"));
        args.option({"--html"},
                    GetResString(431, "Schrijft het rapport als \xC3\xA9\xC3\xA9n HTML-pagina in BESTAND: tellers, "
                                      "grafieken per code, per map en van de subdatabases, de lijst met zoeken."),
                    QStringLiteral("BESTAND"));
        args.option({"--resume"}, GetResString(569, "Met --thorough: gaat verder waar een gestopte intensieve controle "
                                                   "bleef (afgebroken, --max-duration of een crash). Zonder bewaarde "
                                                   "voortgang begint de controle bij het begin."));
        args.option({"--max-duration"},
                    GetResString(570, "Met --thorough: stopt de controle netjes na DUUR (bijvoorbeeld 90m, 2h, 45s) en "
                                      "bewaart hoe ver ze kwam; verder gaan met --resume."),
                    QStringLiteral("DUUR"));
        args.option({"--compare"},
                    GetResString(432, "Met --html: wat nieuw is, wat gerepareerd is en wat bleef sinds het rapport "
                                      "BESTAND (geschreven met --json)."),
                    QStringLiteral("BESTAND"));
    }

    int runOn(const Arguments& args, const ArchiveRun& run, Streams io) override {
        int item = -1;
        QStringList kinds;
        for (const Kind& k : kKinds) {
            kinds << QStringLiteral("--") + k.option;
            if (!args.isSet(k.option)) continue;
            if (item != -1) item = -2;
            else item = k.item;
        }
        if (item < 0)
            return usage(io, FormatMsg(GetResString(405, "Kies \xC3\xA9\xC3\xA9n soort controle: %s"),
                                       {kinds.join(QStringLiteral(", ")).toStdString()}));
        const QString report = args.value("report"), jsonTarget = run.json;
        const QString html = args.value("html"), compare = args.value("compare");
        if (!compare.isEmpty() && html.isEmpty())
            return usage(io, GetResString(433, "--compare werkt alleen samen met --html"));
        CheckRun checkRun;
        const QString maxDuration = args.value("max-duration");
        if ((args.isSet("resume") || args.isSet("max-duration")) && item != CheckThorough)
            return usage(io, GetResString(567, "--resume en --max-duration werken alleen samen met --thorough"));
        if (args.isSet("max-duration") && !(checkRun.maxDurationMs = ParseDuration(maxDuration.toStdString())))
            return usage(io, FormatMsg(GetResString(566, "--max-duration: '%s' is geen duur; gebruik bijvoorbeeld 90m, "
                                                         "2h of 45s"),
                                       {maxDuration.toStdString()}));
        if (args.isSet("resume") && run.options.dryRun)
            return usage(io, GetResString(568, "--resume werkt niet met --dry-run: een run die alleen rapporteert, "
                                               "bewaart geen voortgang"));
        checkRun.resume = args.isSet("resume");
        // Tests stop a run at a chosen document: each document finished
        // advances this clock by the given milliseconds.
        if (const char* step = std::getenv("QUILLEX_CHECK_MS_PER_DOCUMENT"))
            checkRun.clock = [&checkRun, ms = std::atoll(step)] { return checkRun.documents * ms; };

        OpenedArchive archive(io, run.answering, run.options);
        if (const int status = archive.open(run.archive); status != ExitOk) return status;
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
            std::fprintf(io.err, "quillex-cli check: %s\n",
                         FormatMsg(GetResString(534, "%s %s: geweigerd, het hoort bij het archief: %s"),
                                   {option, target.toLocal8Bit().toStdString(), role})
                             .c_str());
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
        {
            const CheckRunScope scope(database, checkRun);
            RunCheckCommand(database, item);
        }
        facts.finished = IsoNow();
        if (item == CheckLargeDocuments && database.m_largeDocuments.measured)
            facts.largeDocuments = database.m_largeDocuments;

        std::FILE* human = jsonToOutput ? io.err : io.out;
        const auto& rows = window.rows(ListId::Documents);
        for (const ListRow& row : rows) std::fprintf(human, "%s\n", ListLine(row).c_str());
        const MainWindowState& state = window.State();
        const auto panels = StatusBarTexts(database.env(), state, rows.size(), 0, database.DryRun());
        std::fprintf(human, "%s%s  %s\n", panels[0].c_str(), panels[1].c_str(), panels[2].c_str());
        if (window.cancelled() || database.Findings().cancelled)
            std::fprintf(human, "%s\n", GetResString(386, "afgebroken").c_str());
        if (item == CheckThorough) tellProgress(checkRun, database, run.archive, maxDuration, io);
        if (database.DryRun()) {
            facts.fileChanges = database.env().Changes();
            PrintReportOnlyEnd(facts.fileChanges, human);
        }
        window.EndRun();

        facts.cancelled = window.cancelled();
        TakeCheckFindings(facts, database.Findings());
        int status = ExitOk;
        if (!database.Findings().stopped.empty()) {
            std::fprintf(io.err, "quillex-cli: %s\n",
                         FormatMsg(GetResString(536, "de controle is gestopt voordat er iets werd gelezen: %s"),
                                   {database.Findings().stopped})
                             .c_str());
            status = ExitOperational;
        }
        if (!state.m_sSaveError.empty()) {
            std::fprintf(io.err, "quillex-cli: %s\n",
                         FormatMsg(GetResString(537, "de reparaties konden niet allemaal worden opgeslagen: %s"),
                                   {state.m_sSaveError})
                             .c_str());
            status = ExitOperational;
        }
        if (!report.isEmpty()) {
            const SaveListOutcome saved = SaveList(database, rows, report.toStdString());
            if (saved == SaveListOutcome::ArchiveFile) {
                RefuseArchiveFile(io, "check", "--report", report);
                status = ExitUsage;
            } else if (saved != SaveListOutcome::Saved) {
                CouldNotWrite(io, report);
                status = ExitOperational;
            }
        }
        std::optional<QJsonDocument> document;
        const auto json = [&] {
            if (document) return document->toJson();
            facts.failed = status != ExitOk;
            if (std::string error; !CompleteCheckFacts(facts, database, window.notices(), error))
                std::fprintf(io.err, "quillex-cli: %s\n",
                             FormatMsg(GetResString(556, "het rapport is niet volledig: %s"), {error}).c_str());
            document = CheckJson(facts, database.Findings().all());
            return document->toJson();
        };
        if (jsonToOutput) {
            const QByteArray bytes = json();
            if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), io.out) !=
                    static_cast<size_t>(bytes.size()) ||
                std::fflush(io.out) != 0) {
                std::fprintf(io.err, "quillex-cli: %s\n",
                             GetResString(540, "de JSON kon niet naar de standaarduitvoer worden geschreven").c_str());
                status = ExitOperational;
            }
        } else if (!jsonTarget.isEmpty()) {
            QFile out(jsonTarget);
            // Judged again right before writing: the check may have renamed
            // or created files of the archive.
            if (IsArchiveOwnFile(database, jsonTarget.toStdString())) {
                RefuseArchiveFile(io, "check", "--json", jsonTarget);
                status = ExitUsage;
            } else if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                       out.write(json()) < 0) {
                CouldNotWrite(io, jsonTarget);
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
                RefuseArchiveFile(io, "check", "--html", html);
                status = ExitUsage;
            } else if (saved == SaveReportOutcome::NotWritten) {
                std::fprintf(io.err, "quillex-cli: %s\n",
                             FormatMsg(GetResString(539, "%s kon niet worden geschreven: %s"),
                                       {html.toLocal8Bit().toStdString(), why})
                                 .c_str());
                status = ExitOperational;
            }
        }
        if (status == ExitUsage) return status;
        facts.failed = status != ExitOk;
        return CheckExitCode(facts);
    }

private:
    // How the run stood to its progress record: on the error stream, so
    // that the list and the JSON are those of a run that never stopped.
    static void tellProgress(const CheckRun& r, const CDatabase& database, const QString& archive,
                             const QString& maxDuration, Streams io) {
        const auto say = [&](const std::string& line) { std::fprintf(io.err, "quillex-cli check: %s\n", line.c_str()); };
        const CheckFindings& f = database.Findings();
        switch (r.start) {
        case CheckRun::Start::NoRecord:
            say(GetResString(561, "er is geen gestopte intensieve controle van dit archief; de controle begint bij het "
                                  "begin"));
            break;
        case CheckRun::Start::Refused:
            say(FormatMsg(GetResString(562, "de bewaarde voortgang wordt niet gebruikt (%s); de controle begint bij "
                                            "het begin"),
                          {r.refusedWhy}));
            break;
        case CheckRun::Start::Resumed:
            say(FormatMsg(GetResString(563, "verder na %s van %s documenten"),
                          {FormatCount(r.resumedAfter), FormatCount(r.record.total)}));
            break;
        default: break;
        }
        if (!r.recordError.empty())
            say(FormatMsg(GetResString(572, "de voortgang kon niet worden bewaard: %s"), {r.recordError}));
        if (!f.cancelled && f.stopped.empty() && !r.timeUp) return;
        if (r.start == CheckRun::Start::NotKept) {
            say(GetResString(571, "een run die alleen rapporteert, bewaart geen voortgang: de volgende controle "
                                  "begint bij het begin"));
            return;
        }
        if (!r.recordKept) return;
        const std::string again = "quillex-cli check " + ShellWord(archive) + " --thorough --resume";
        const std::string done = FormatCount(r.record.checked), total = FormatCount(r.record.total);
        if (r.timeUp)
            say(FormatMsg(GetResString(564, "gestopt na %s van %s documenten (--max-duration %s); verder gaan met: %s"),
                          {done, total, maxDuration.toStdString(), again}));
        else
            say(FormatMsg(GetResString(565, "afgebroken na %s van %s documenten; verder gaan met: %s"),
                          {done, total, again}));
    }

    // The archive as one word for a shell, quoted only when it needs to be.
    static std::string ShellWord(const QString& path) {
        const std::string text = path.toLocal8Bit().toStdString();
        if (!text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                                    "/._-+,:=@") == std::string::npos)
            return text;
        std::string out = "'";
        for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    }
};

}  // namespace

std::unique_ptr<Command> MakeCheckCommand() { return std::make_unique<CheckCommand>(); }

}  // namespace qx::cli
