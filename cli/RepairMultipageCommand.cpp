// quillex-cli repair-multipage: pages whose multipage document is gone become
// single pages, and the pages of every multipage document are numbered anew.
#include "cli/Command.h"
#include "cli/TerminalWindow.h"
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

class RepairMultipageCommand : public Command {
public:
    const char* name() const override { return "repair-multipage"; }
    const char* summary() const override { return "make orphaned pages single pages, renumber pages"; }

    void printHelp(std::FILE* to) const override {
        std::fputs("Usage: quillex-cli repair-multipage ARCHIVE.dat [--yes|--no]\n"
                   "\n"
                   "Opens the archive as 'open' does, turns every page whose multipage document\n"
                   "no longer exists into a single page, and numbers the pages of every\n"
                   "multipage document 2, 3, ... in their present order. Prints how many rows\n"
                   "changed.\n"
                   "\n"
                   "  --yes   agree to every question     --no   refuse every question (default\n"
                   "          without a terminal)\n"
                   "\n"
                   "Exit codes: 0 done, 8 not opened, 16 usage error.\n",
                   to);
    }

    int execute(const QStringList& args, Streams io) override {
        QStringList rest = args;
        Answering answering;
        if (!TakeAnswering(rest, answering, io)) return ExitUsage;
        if (rest.size() != 1 || rest.front().startsWith("-")) {
            printHelp(io.err);
            return ExitUsage;
        }
        OpenedArchive archive(io, answering);
        if (const int status = archive.open(rest.front()); status != ExitOk) return status;
        CDatabase& database = archive.database;
        const std::string& file = archive.file();

        std::map<long, PageState> before;
        if (!snapshot(*database.m_AdoCnMain, before)) {
            std::fprintf(io.err, "quillex-cli: %s: the pages could not be read\n", file.c_str());
            return ExitOperational;
        }
        database.Window().State().m_sSaveError.clear();
        database.CheckMultipageParentMissing();
        database.MultipageRenumberPages();
        const std::string saveError = database.Window().State().m_sSaveError;

        sql::Statement* now = database.m_AdoCnMain->prepared("SELECT TEMPLATE1, PAGE FROM FOLDERS WHERE ID = ?");
        if (!now) {
            std::fprintf(io.err, "quillex-cli: %s: the pages could not be read back\n", file.c_str());
            return ExitOperational;
        }
        long single = 0, renumbered = 0;
        for (const auto& [id, was] : before) {
            now->bind(1, static_cast<std::int64_t>(id));
            if (now->step() != sql::Step::Row) {
                now->reset();
                continue;
            }
            const PageState is{now->isNull(0) ? std::nullopt : std::optional<std::string>(now->getText(0)),
                               static_cast<long>(now->getInt64(1))};
            now->reset();
            if (was.marker && !is.marker) ++single;
            else if (was.page != is.page) ++renumbered;
        }
        std::fprintf(io.out, "%s: %ld page rows changed (%ld orphaned pages made single pages, %ld renumbered).\n",
                     file.c_str(), single + renumbered, single, renumbered);
        if (!saveError.empty()) {
            std::fprintf(io.err, "quillex-cli: %s: the pages could not all be changed: %s\n", file.c_str(),
                         saveError.c_str());
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
};

}  // namespace

std::unique_ptr<Command> MakeRepairMultipageCommand() { return std::make_unique<RepairMultipageCommand>(); }

}  // namespace qx::cli
