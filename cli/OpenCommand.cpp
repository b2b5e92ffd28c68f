// quillex-cli open ARCHIVE.dat: what the window does when an archive is
// opened, reported on the terminal.
#include "cli/Command.h"
#include "cli/DatabaseCommand.h"
#include "cli/TerminalWindow.h"
#include "support/TextResources.h"
#include "database/StatusBar.h"
#include "database/access/OpenArchive.h"
#include "support/Env.h"
#include "support/Settings.h"


namespace qx::cli {

namespace {

class OpenCommand : public DatabaseCommand {
public:
    const char* name() const override { return "open"; }

protected:
    std::string description() const override {
        return FormatMsg(GetResString(
            396,
            "Opent een archief en brengt de subdatabases op orde.%n%n"
            "Bepaalt de generatie van het archief, maakt verbinding, schrijft het logboek ernaast en brengt de "
            "lijst met subdatabases op orde (hernummeren, ongebruikte opzijzetten); daarna volgen de generatie, de "
            "subdatabases en de statusregel. Een bewerking die een eerdere run onafgemaakt liet, wordt eerst "
            "afgemaakt of teruggedraaid. Een archief is in maar \xC3\xA9\xC3\xA9n Quillex tegelijk open.%n%n"
            "Exitcodes: 0 geopend, 4 geopend met problemen (subdatabases ontbreken, waarschuwingen), 8 niet "
            "geopend (ook: in gebruik) of een subdatabase in gebruik bij een ander programma, 16 gebruiksfout, "
            "32 afgebroken."));
    }

    int runOn(const Arguments&, const ArchiveRun& run, Streams io) override {
        OpenedArchive archive(io, run.answering, run.options);
        if (const int status = archive.open(run.archive); status != ExitOk) return status;
        TerminalWindow& window = archive.window;
        const MainWindowState& state = window.State();
        std::fputs(LabelledLines({{GetResString(511, "archief"), state.m_sDatabaseName},
                                  {GetResString(512, "generatie"), std::to_string(Settings::Get().DatabaseVersion)}})
                       .c_str(),
                   io.out);
        std::fprintf(io.out, "%s\n", GetResString(513, "subdatabases:").c_str());
        bool red = false;
        for (const ListRow& row : window.rows(ListId::Picbases)) {
            red = red || row.red;
            std::fprintf(io.out, "  %s%s\t%s\n", row.red ? "! " : "", row.text.c_str(),
                         row.subItems.empty() ? "" : row.subItems.front().c_str());
        }
        if (window.rows(ListId::Picbases).empty()) std::fprintf(io.out, "  %s\n", GetResString(514, "(geen)").c_str());
        const auto panels = StatusBarTexts(archive.database.env(), state, window.ListCount(ListId::Documents), 0, archive.database.DryRun());
        std::fprintf(io.out, "%s%s  %s\n", panels[0].c_str(), panels[1].c_str(), panels[2].c_str());
        if (archive.database.DryRun()) PrintReportOnlyEnd(archive.database, io.out);
        window.EndRun();
        if (window.cancelled()) return ExitCancelled;
        // A file another program holds was not read: no damage, and no clean open either.
        const std::vector<std::string>& inUse = archive.database.Findings().inUse;
        for (const std::string& path : inUse)
            std::fprintf(io.err, "quillex-cli: %s\n",
                         FormatMsg(GetResString(550, "in gebruik bij een ander programma: %s"), {path}).c_str());
        if (!inUse.empty()) return ExitOperational;
        return (red || window.warnings() > 0) ? ExitProblemsLeft : ExitOk;
    }
};

}  // namespace

std::unique_ptr<Command> MakeOpenCommand() { return std::make_unique<OpenCommand>(); }

}  // namespace qx::cli
