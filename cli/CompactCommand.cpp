// quillex-cli compact: the data files of an archive compacted, each into a
// fresh copy that takes its place.
#include "cli/Command.h"
#include "cli/DatabaseCommand.h"
#include "cli/TerminalWindow.h"
#include "support/TextResources.h"
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "support/FileOperations.h"
#include "support/HumanFormat.h"
#include "support/Settings.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <cstdio>
#include <string>
#include <vector>

namespace qx::cli {
namespace {

class CompactCommand : public DatabaseCommand {
public:
    const char* name() const override { return "compact"; }

protected:
    std::string description() const override {
        return FormatMsg(GetResString(
            399,
            "Comprimeert de databestanden van een archief.%n%n"
            "Het archief wordt geopend zoals 'open' dat doet. Elk bestand wordt gekopieerd naar een nieuw, compact "
            "bestand dat daarna zijn plaats inneemt; het oude verdwijnt pas als de kopie veilig op schijf staat. "
            "Een afgebroken run wordt bij het volgende openen afgemaakt of teruggedraaid. Zonder keuze worden alle "
            "bestanden gecomprimeerd.%n%n"
            "Exitcodes: 0 alles gecomprimeerd, 8 niet geopend of een bestand kon niet worden gecomprimeerd (zie het "
            "logboek), 16 gebruiksfout, 32 afgebroken (Ctrl-C: het bestand dat bezig was wordt afgemaakt)."));
    }

    void declareOwn(Arguments& args) const override {
        args.option({"--sub-databases"}, GetResString(408, "Comprimeert elke subdatabase in de lijst."));
        args.option({"--main"}, GetResString(409, "Comprimeert de hoofddatabase."));
        args.option({"--omd"}, GetResString(410, "Comprimeert de OCR-database."));
        args.option({"--all"}, GetResString(411, "Comprimeert alle bestanden (standaard)."));
    }

    int runOn(const Arguments& args, const ArchiveRun& run, Streams io) override {
        const bool dryRun = run.options.dryRun;
        const bool subs = args.isSet("sub-databases");
        const bool main = args.isSet("main");
        const bool omd = args.isSet("omd");
        const bool all = args.isSet("all") || (!subs && !main && !omd);
        // Report-only from the first step: the open itself must not write.
        OpenedArchive archive(io, run.answering, run.options);
        if (const int status = archive.open(run.archive); status != ExitOk) return status;
        CDatabase& database = archive.database;
        const std::string mainPath = archive.file();
        const std::string password = Settings::Get().DatabasePassword;

        std::vector<std::string> files;
        if (all || subs) {
            engine::Recordset rs;
            bool ok = rs.open("SELECT * FROM DATABASES", *database.m_AdoCnMain, engine::CursorMode::Scan);
            for (; ok && !rs.eof(); ok = rs.moveNext()) files.push_back(NullToStr(rs.value("DATABASE")));
            if (!ok) {
                std::fprintf(io.err, "quillex-cli: %s\n",
                             FormatMsg(GetResString(541, "%s: de lijst met subdatabases kon niet worden gelezen"),
                                       {mainPath})
                                 .c_str());
                return ExitOperational;
            }
        }
        const std::size_t total = files.size() + (all || main ? 1 : 0) + (all || omd ? 1 : 0);
        std::size_t done = 0, failed = 0;
        auto compact = [&](const std::string& file, const std::string& pwd) {
            if (!io.quiet)
                archive.window.Say(FormatMsg(GetResString(131, "Bezig met comprimeren databestand %s / %s..."),
                                             {FormatCount(static_cast<long long>(done + 1)),
                                              FormatCount(static_cast<long long>(total))}) +
                                   " " + file + (dryRun ? " (" + GetResString(219, "Alleen rapporteren") + ")" : ""));
            const std::int64_t before = database.env().FileLength(file);
            const bool ok = database.CompactSingle(file, pwd);
            ++done;
            if (!ok) ++failed;
            if (ok && database.m_compactSkipped)
                std::fprintf(io.out, "%s\n",
                             FormatMsg(dryRun ? GetResString(446, "%s: al compact, zou niet worden gekopieerd (%s)")
                                              : GetResString(445, "%s: al compact, niet gekopieerd (%s)"),
                                       {file, FormatBytes(before)})
                                 .c_str());
            else if (ok && !dryRun)
                std::fprintf(io.out, "%s: %s -> %s\n", file.c_str(), FormatBytes(before).c_str(),
                             FormatBytes(database.env().FileLength(file)).c_str());
            else if (!ok)
                std::fprintf(io.err, "quillex-cli: %s\n",
                             FormatMsg(GetResString(542, "%s kon niet worden gecomprimeerd (zie het logboek)"), {file})
                                 .c_str());
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
                std::fprintf(io.err, "quillex-cli: %s\n",
                             FormatMsg(GetResString(543, "%s kon niet opnieuw worden geopend"), {mainPath}).c_str());
                ++failed;
            }
        }
        if ((all || omd) && !database.Window().CompactCanceled()) compact(OmdName(mainPath), "");
        database.Window().CompactClose();
        if (dryRun) PrintReportOnlyEnd(database, io.out);
        archive.window.EndRun();
        if (database.Window().CompactCanceled()) {
            std::fprintf(io.err, "quillex-cli: %s\n",
                         FormatMsg(GetResString(544, "afgebroken na %s van %s bestanden"),
                                   {FormatCount(static_cast<long long>(done)), FormatCount(static_cast<long long>(total))})
                             .c_str());
            return ExitCancelled;
        }
        return failed == 0 ? ExitOk : ExitOperational;
    }
};

}  // namespace

std::unique_ptr<Command> MakeCompactCommand() { return std::make_unique<CompactCommand>(); }

}  // namespace qx::cli
