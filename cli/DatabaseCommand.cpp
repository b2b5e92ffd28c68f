#include "cli/DatabaseCommand.h"

#include "support/Settings.h"
#include "support/TextResources.h"

#include <filesystem>

namespace qx::cli {

DatabaseCommand::DatabaseCommand() = default;
DatabaseCommand::DatabaseCommand(Shared shared) : m_shared(std::move(shared)) {}

void DatabaseCommand::declare(Arguments& args) const {
    args.argument(QStringLiteral("ARCHIEF.dat"), GetResString(377, "Het archief: de hoofddatabase (.dat)."));
    if (!m_shared.more.isEmpty()) args.argument(m_shared.more, m_shared.moreDescription);
    declareOwn(args);
    args.option({"-n", "--dry-run"},
                GetResString(318, "Alleen rapporteren: er wordt niets gewijzigd, ook niet bij het openen."));
    args.option({"--log"},
                GetResString(378, "Schrijft het logboek naar BESTAND in plaats van naast het archief."),
                QStringLiteral("BESTAND"));
    args.option({"--yes"}, GetResString(379, "Stemt in met elke vraag."));
    args.option({"--no"}, GetResString(380, "Weigert elke vraag; zonder terminal is dat het antwoord."));
    if (m_shared.json)
        args.option({"--json"},
                    GetResString(383, "Schrijft de uitkomst als JSON naar BESTAND (sleutels: docs/json.md); \"-\" "
                                      "schrijft naar de standaarduitvoer."),
                    QStringLiteral("BESTAND"));
}

int DatabaseCommand::run(const Arguments& args, Streams io) {
    ArchiveRun run;
    const bool yes = args.isSet("yes"), no = args.isSet("no");
    if (yes && no) return usage(io, FormatMsg(GetResString(381, "%s en %s sluiten elkaar uit"), {"--yes", "--no"}));
    run.answering = yes ? Answering::Yes : no ? Answering::No : Answering::Ask;
    run.options.dryRun = args.isSet("dry-run");
    if (args.isSet("log")) {
        std::error_code ec;
        // Judged by identity once the archive is open: a file of the archive is refused.
        Settings::Get().LogFileChosen =
            std::filesystem::absolute(args.value("log").toStdString(), ec).lexically_normal().string();
    }
    if (m_shared.json && args.isSet("json")) run.json = args.value("json");
    const QStringList positional = args.positional();
    if (positional.isEmpty() || (m_shared.more.isEmpty() && positional.size() > 1))
        return usage(io, GetResString(382, "Geef \xC3\xA9\xC3\xA9n archief (.dat) op"));
    run.archive = positional.front();
    run.more = positional.mid(1);
    return runOn(args, run, io);
}

}  // namespace qx::cli
