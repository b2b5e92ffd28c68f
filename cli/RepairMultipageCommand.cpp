// quillex-cli repair-multipage: pages whose multipage document is gone become
// single pages, and the pages of every multipage document are numbered anew.
#include "cli/Command.h"
#include "cli/DatabaseCommand.h"
#include "cli/TerminalWindow.h"
#include "support/HumanFormat.h"
#include "support/TextResources.h"
#include "database/CDatabase.h"
#include "database/access/OpenArchive.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <cstdio>
#include <map>
#include <optional>
#include <string>

namespace qx::cli {
namespace {

struct PageState {
    std::optional<std::string> marker;  // TEMPLATE1; nullopt = Null
    long page = 0;
};

class RepairMultipageCommand : public DatabaseCommand {
public:
    const char* name() const override { return "repair-multipage"; }

protected:
    std::string description() const override {
        return FormatMsg(GetResString(
            398,
            "Maakt pagina's zonder multipage document tot losse pagina's en nummert de pagina's opnieuw.%n%n"
            "Het archief wordt geopend zoals 'open' dat doet. Elke pagina waarvan het multipage document niet meer "
            "bestaat, wordt een losse pagina; de pagina's van elk multipage document worden 2, 3, ... genummerd in "
            "hun huidige volgorde. Daarna volgt hoeveel rijen er veranderden.%n%n"
            "Exitcodes: 0 klaar, 8 niet geopend of de wijzigingen konden niet alle worden opgeslagen (wat is "
            "opgeslagen, wordt geteld; de rest is teruggedraaid), 16 gebruiksfout."));
    }

    int runOn(const Arguments&, const ArchiveRun& run, Streams io) override {
        const RunOptions options = run.options;
        OpenedArchive archive(io, run.answering, run.options);
        if (const int status = archive.open(run.archive); status != ExitOk) return status;
        CDatabase& database = archive.database;
        const std::string& file = archive.file();

        std::map<long, PageState> before;
        if (!snapshot(*database.m_AdoCnMain, before)) {
            std::fprintf(io.err, "quillex-cli: %s\n", FormatMsg(GetResString(551, "%s: de pagina's konden niet worden gelezen"), {file}).c_str());
            return ExitOperational;
        }
        database.Window().State().m_sSaveError.clear();
        database.CheckMultipageParentMissing();
        // A refused save ends the repair: what follows would be written to a
        // disk that just failed, and the report names the first failure.
        if (database.Window().State().m_sSaveError.empty()) database.MultipageRenumberPages();
        const std::string saveError = database.Window().State().m_sSaveError;

        // Counted from what the file holds now, so that rows whose batch was
        // undone are not counted as changed.
        long single = 0, renumbered = 0;
        if (!compare(*database.m_AdoCnMain, before, single, renumbered)) {
            std::fprintf(io.err, "quillex-cli: %s\n", FormatMsg(GetResString(552, "%s: de pagina's konden niet worden teruggelezen"), {file}).c_str());
            return ExitOperational;
        }
        std::fprintf(io.out, "%s\n",
                     FormatMsg(GetResString(530, "%s: %s paginaregels gewijzigd (%s losse pagina's tot enkele pagina "
                                                 "gemaakt, %s hernummerd)."),
                               {file, FormatCount(single + renumbered), FormatCount(single), FormatCount(renumbered)})
                         .c_str());
        if (options.dryRun) PrintReportOnlyEnd(database, io.out);
        archive.window.EndRun();
        if (!saveError.empty()) {
            std::fprintf(io.err, "quillex-cli: %s\n",
                         FormatMsg(GetResString(553, "%s: de pagina's konden niet allemaal worden gewijzigd: %s"),
                                   {file, saveError})
                             .c_str());
            return ExitOperational;
        }
        return ExitOk;
    }

private:
    // Every row that is, or claims to be, part of a multipage document.
    static bool snapshot(engine::Connection& cn, std::map<long, PageState>& rows) {
        engine::Recordset rs;
        bool ok = rs.open("SELECT ID, TEMPLATE1, PAGE FROM FOLDERS WHERE TEMPLATE1 LIKE 'MC%' OR TEMPLATE1 LIKE 'MP%'",
                          cn, engine::CursorMode::Scan);
        for (; ok && !rs.eof(); ok = rs.moveNext())
            rows[rs.value(0).toLong()] = {NullToStr(rs.value(1)), rs.value(2).toLong()};
        return ok;
    }

    // One pass over the rows instead of a lookup per row: a lookup outside a
    // transaction takes the file lock again each time.
    static bool compare(engine::Connection& cn, const std::map<long, PageState>& before, long& single,
                        long& renumbered) {
        engine::Recordset rs;
        bool ok = rs.open("SELECT ID, TEMPLATE1, PAGE FROM FOLDERS", cn, engine::CursorMode::Scan);
        for (; ok && !rs.eof(); ok = rs.moveNext()) {
            const auto was = before.find(rs.value(0).toLong());
            if (was == before.end()) continue;
            const Variant marker = rs.value(1);
            if (was->second.marker && marker.isNull()) ++single;
            else if (was->second.page != rs.value(2).toLong()) ++renumbered;
        }
        return ok;
    }
};

}  // namespace

std::unique_ptr<Command> MakeRepairMultipageCommand() { return std::make_unique<RepairMultipageCommand>(); }

}  // namespace qx::cli
