// quillex-cli open ARCHIVE.dat: what the window does when an archive is
// opened, reported on the terminal.
#include "cli/Command.h"
#include "cli/TerminalWindow.h"
#include "database/StatusBar.h"
#include "database/access/OpenArchive.h"
#include "support/Env.h"
#include "support/Settings.h"


namespace qx::cli {

namespace {

class OpenCommand : public Command {
public:
    const char* name() const override { return "open"; }
    const char* summary() const override { return "open an archive and bring its sub databases in order"; }
    void printHelp(std::FILE* to) const override {
        std::fputs("Usage: quillex-cli open ARCHIVE.dat [--yes|--no] [--dry-run] [--log FILE]\n"
                   "\n"
                   "Finds the archive's generation, connects, writes the log beside it and brings\n"
                   "the list of sub databases in order (renumbering them and setting unused ones\n"
                   "aside), then prints the generation, the sub databases and the status line.\n"
                   "\n"
                   "  --yes   agree to every question     --no   refuse every question (default\n"
                   "          without a terminal)\n"
                   "  --dry-run, -n   report only: say what opening would change, change nothing\n"
                   "  --log FILE      write the log to FILE instead of beside the archive\n"
                   "\n"
                   "A change that an earlier run left unfinished (after a crash) is finished or\n"
                   "undone first. Only one Quillex at a time may have an archive open.\n"
                   "\n"
                   "Exit codes: 0 opened, 4 opened with problems (sub databases missing,\n"
                   "warnings), 8 not opened (also: in use by another Quillex) or a sub database\n"
                   "held by another program (named; nothing was renumbered), 16 usage error,\n"
                   "32 cancelled.\n",
                   to);
    }

    int execute(const QStringList& argsIn, Streams io) override {
        QStringList args = argsIn;
        Answering answering;
        if (!TakeAnswering(args, answering, io)) return ExitUsage;
        RunOptions options;
        if (!TakeRunOptions(args, options, io)) return ExitUsage;
        if (args.size() != 1 || args.front().startsWith("-")) {
            printHelp(io.err);
            return ExitUsage;
        }
        OpenedArchive archive(io, answering, options);
        if (const int status = archive.open(args.front()); status != ExitOk) return status;
        TerminalWindow& window = archive.window;
        const MainWindowState& state = window.State();
        std::fprintf(io.out, "archive     %s\ngeneration  %d\nsub databases:\n", state.m_sDatabaseName.c_str(),
                     Settings::Get().DatabaseVersion);
        bool red = false;
        for (const ListRow& row : window.rows(ListId::Picbases)) {
            red = red || row.red;
            std::fprintf(io.out, "  %s%s\t%s\n", row.red ? "! " : "", row.text.c_str(),
                         row.subItems.empty() ? "" : row.subItems.front().c_str());
        }
        if (window.rows(ListId::Picbases).empty()) std::fputs("  (none)\n", io.out);
        const auto panels = StatusBarTexts(archive.database.env(), state, window.ListCount(ListId::Documents), 0, archive.database.DryRun());
        std::fprintf(io.out, "%s%s  %s\n", panels[0].c_str(), panels[1].c_str(), panels[2].c_str());
        if (archive.database.DryRun()) {
            for (const std::string& c : archive.database.env().Changes()) std::fprintf(io.out, "would %s\n", c.c_str());
            std::fputs("report only: nothing was changed on disk\n", io.out);
        }
        window.EndRun();
        if (window.cancelled()) return ExitCancelled;
        // A file another program holds was not read: no damage, and no clean open either.
        const std::vector<std::string>& inUse = archive.database.Findings().inUse;
        for (const std::string& path : inUse)
            std::fprintf(io.err, "quillex-cli: in use by another program: %s\n", path.c_str());
        if (!inUse.empty()) return ExitOperational;
        return (red || window.warnings() > 0) ? ExitProblemsLeft : ExitOk;
    }
};

}  // namespace

std::unique_ptr<Command> MakeOpenCommand() { return std::make_unique<OpenCommand>(); }

}  // namespace qx::cli
