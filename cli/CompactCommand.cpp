// quillex-cli compact: the data files of an archive compacted, each into a
// fresh copy that takes its place.
#include "cli/Command.h"
#include "cli/TerminalWindow.h"
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "support/FileOperations.h"
#include "support/Settings.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <cstdio>
#include <string>
#include <vector>

namespace qx::cli {
namespace {

class CompactCommand : public Command {
public:
    const char* name() const override { return "compact"; }
    const char* summary() const override { return "compact the data files of an archive"; }

    void printHelp(std::FILE* to) const override {
        std::fputs("Usage: quillex-cli compact ARCHIVE.dat [--sub-databases|--main|--omd|--all]\n"
                   "                          [--dry-run] [--log FILE] [--yes|--no]\n"
                   "\n"
                   "Opens the archive as 'open' does and compacts its files: each is copied into\n"
                   "a fresh, compact file that then takes its place. The old file is removed\n"
                   "only after the copy is safely on disk; a run cut off is completed or undone\n"
                   "by the next open.\n"
                   "\n"
                   "  --sub-databases   every listed sub database\n"
                   "  --main            the main database\n"
                   "  --omd             the OCR database\n"
                   "  --all             all of them (default)\n"
                   "  --dry-run, -n     report only: compact in memory, tell what would change;\n"
                   "                    no file is changed and no log is written unless --log\n"
                   "                    asks for one\n"
                   "  --log FILE        write the log to FILE instead of beside the archive\n"
                   "\n"
                   "Exit codes: 0 every file compacted, 8 not opened or a file could not be\n"
                   "compacted (see the log), 16 usage error, 32 cancelled (Ctrl-C: the file\n"
                   "being compacted is finished, the rest are left).\n",
                   to);
    }

    int execute(const QStringList& args, Streams io) override {
        QStringList rest = args;
        Answering answering;
        if (!TakeAnswering(rest, answering, io)) return ExitUsage;
        RunOptions options;
        if (!TakeRunOptions(rest, options, io)) return ExitUsage;
        const bool dryRun = options.dryRun;
        const bool subs = rest.removeAll("--sub-databases") > 0;
        const bool main = rest.removeAll("--main") > 0;
        const bool omd = rest.removeAll("--omd") > 0;
        const bool all = rest.removeAll("--all") > 0 || (!subs && !main && !omd);
        if (rest.size() != 1 || rest.front().startsWith("-")) {
            printHelp(io.err);
            return ExitUsage;
        }
        // Report-only from the first step: the open itself must not write.
        OpenedArchive archive(io, answering, options);
        if (const int status = archive.open(rest.front()); status != ExitOk) return status;
        CDatabase& database = archive.database;
        const std::string mainPath = archive.file();
        const std::string password = Settings::Get().DatabasePassword;

        std::vector<std::string> files;
        if (all || subs) {
            engine::Recordset rs;
            bool ok = rs.open("SELECT * FROM DATABASES", *database.m_AdoCnMain, engine::CursorMode::Scan);
            for (; ok && !rs.eof(); ok = rs.moveNext()) files.push_back(NullToStr(rs.value("DATABASE")));
            if (!ok) {
                std::fprintf(io.err, "quillex-cli: %s: the list of sub databases could not be read\n",
                             mainPath.c_str());
                return ExitOperational;
            }
        }
        const std::size_t total = files.size() + (all || main ? 1 : 0) + (all || omd ? 1 : 0);
        std::size_t done = 0, failed = 0;
        auto compact = [&](const std::string& file, const std::string& pwd) {
            std::fprintf(io.err, "[%zu/%zu] %s %s...\n", done + 1, total, dryRun ? "would compact" : "compacting",
                         file.c_str());
            const std::int64_t before = database.env().FileLength(file);
            const bool ok = database.CompactSingle(file, pwd);
            ++done;
            if (!ok) ++failed;
            if (ok && !dryRun)
                std::fprintf(io.out, "%s: %lld -> %lld bytes\n", file.c_str(), static_cast<long long>(before),
                             static_cast<long long>(database.env().FileLength(file)));
            else if (!ok)
                std::fprintf(io.err, "quillex-cli: %s could not be compacted (see the log)\n", file.c_str());
        };
        database.Window().CompactShow();
        for (const std::string& file : files) {
            if (database.Window().CompactCanceled()) break;
            compact(file, password);
        }
        if ((all || main) && !database.Window().CompactCanceled()) {
            // The main database's connection is closed while its copy takes its place.
            const std::string connect = database.m_AdoCnMain->connectionString();
            CDatabase::Disconnect(database.m_AdoCnMain);
            compact(mainPath, password);
            auto reopened = std::make_unique<engine::Connection>(database.env());
            if (reopened->open(connect)) {
                database.SetDatabase(std::move(reopened));
            } else {
                std::fprintf(io.err, "quillex-cli: %s could not be opened again\n", mainPath.c_str());
                ++failed;
            }
        }
        if ((all || omd) && !database.Window().CompactCanceled()) compact(OmdName(mainPath), "");
        database.Window().CompactClose();
        if (dryRun) PrintReportOnlyEnd(database, io.out);
        archive.window.EndRun();
        if (database.Window().CompactCanceled()) {
            std::fprintf(io.err, "quillex-cli: cancelled after %zu of %zu files\n", done, total);
            return ExitCancelled;
        }
        return failed == 0 ? ExitOk : ExitOperational;
    }
};

}  // namespace

std::unique_ptr<Command> MakeCompactCommand() { return std::make_unique<CompactCommand>(); }

}  // namespace qx::cli
