// quillex-cli: the command-line front end over the same core as the window.
#include "cli/Command.h"
#include "support/TextResources.h"
#include "support/engine/Sql.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void printUsage(std::FILE* to) {
    using qx::FormatMsg;
    using qx::GetResString;
    std::string text = FormatMsg(GetResString(374, "Gebruik: %s [opties] %s"), {"quillex-cli", "OPDRACHT"}) + "\n\n" +
                       GetResString(316, "Vellumo Quillex: controleert, herstelt en onderhoudt een Vellumo archief.") +
                       "\n\n";
    for (const auto& c : qx::cli::AllCommands()) {
        std::string name = c->name();
        name.resize(std::max<std::size_t>(name.size(), 18), ' ');
        // Continuation lines start under the summary.
        std::string summary = qx::cli::Wrap(c->summary(), 79 - 21);
        for (std::size_t at = 0; (at = summary.find('\n', at)) != std::string::npos; at += 22)
            summary.insert(at + 1, 21, ' ');
        text += "  " + name + " " + summary + "\n";
    }
    text += "\n" + GetResString(375, "Opties:") + "\n" + "  -h, --help           " +
            GetResString(319, "Toont deze hulp en stopt.") + "\n" + "  --version            " +
            GetResString(320, "Toont het versienummer en stopt.") + "\n\n" +
            qx::cli::Wrap(FormatMsg(GetResString(404, "OPDRACHT --help toont de hulp bij een opdracht.%nExitcodes: 0 "
                                                      "in orde, 1 alles wat gevonden is, is gerepareerd, 4 er blijven "
                                                      "problemen, 8 fout bij het uitvoeren (niet geopend, kan niet "
                                                      "schrijven), 16 gebruiksfout, 32 afgebroken door de gebruiker.")),
                          79) +
            "\n";
    std::fputs(text.c_str(), to);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("quillex-cli");
    QCoreApplication::setApplicationVersion(QUILLEX_VERSION);
    // Tests that hold a file of the archive on purpose need not wait the
    // full five seconds for it each time.
    if (const char* wait = std::getenv("QUILLEX_BUSY_TIMEOUT_MS")) qx::sql::SetBusyTimeout(std::atoi(wait));
    const QStringList words = app.arguments().mid(1);
    const qx::cli::Streams io;
    if (words.isEmpty())
        return qx::cli::UsageError("quillex-cli", qx::FormatMsg(qx::GetResString(416, "Geef %s op"), {"OPDRACHT"}), io);
    const QString first = words.front();
    if (first == "--help" || first == "-h" || first == "help") {
        printUsage(stdout);
        return qx::cli::ExitOk;
    }
    if (first == "--version") {
        std::printf("quillex-cli %s\n", QUILLEX_VERSION);
        return qx::cli::ExitOk;
    }
    for (auto& command : qx::cli::AllCommands()) {
        if (first != command->name()) continue;
        const QStringList rest = words.mid(1);
        // Help is given whatever else the line holds.
        if (rest.contains("--help") || rest.contains("-h")) {
            command->printHelp(stdout);
            return qx::cli::ExitOk;
        }
        return command->execute(rest, io);
    }
    return qx::cli::UsageError(
        "quillex-cli", qx::FormatMsg(qx::GetResString(419, "Onbekende opdracht: %s"), {first.toStdString()}), io);
}
