// quillex-cli: the command-line front end over the same core as the window.
#include "cli/Command.h"
#include "support/engine/Sql.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void printUsage(std::FILE* to) {
    std::fputs("Usage: quillex-cli COMMAND [OPTIONS]\n"
               "\n"
               "Maintenance of document archives: check, repair, pack and compact.\n"
               "\n"
               "Commands:\n",
               to);
    for (const auto& c : qx::cli::AllCommands()) std::fprintf(to, "  %-18s %s\n", c->name(), c->summary());
    std::fputs("\n"
               "Options:\n"
               "  --help             show this text (COMMAND --help: the command's own)\n"
               "  --version          show the program version\n"
               "\n"
               "Exit codes: 0 fine, 1 everything found was repaired, 4 problems left,\n"
               "8 operational error, 16 usage error, 32 cancelled by the user.\n",
               to);
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
    if (words.isEmpty()) {
        printUsage(stderr);
        return qx::cli::ExitUsage;
    }
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
        if (rest.contains("--help") || rest.contains("-h")) {
            command->printHelp(stdout);
            return qx::cli::ExitOk;
        }
        return command->execute(rest, {});
    }
    std::fprintf(stderr, "quillex-cli: unknown command '%s'\n\n", first.toLocal8Bit().constData());
    printUsage(stderr);
    return qx::cli::ExitUsage;
}
