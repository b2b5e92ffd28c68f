// quillex-cli: the command-line front end over the same core as the window.
#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void printUsage(std::FILE* to) {
    std::fputs(
        "Usage: quillex-cli COMMAND [OPTIONS]\n"
        "\n"
        "Maintenance of document archives: check, repair, pack and compact.\n"
        "\n"
        "Options:\n"
        "  --help       show this text\n"
        "  --version    show the program version\n"
        "\n"
        "Exit codes: 0 fine, 4 problems left, 8 operational error, 16 usage error,\n"
        "32 cancelled by the user.\n",
        to);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("quillex-cli");
    QCoreApplication::setApplicationVersion(QUILLEX_VERSION);
    if (argc < 2) {
        printUsage(stderr);
        return 16;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        printUsage(stdout);
        return 0;
    }
    if (first == "--version") {
        std::printf("quillex-cli %s\n", QUILLEX_VERSION);
        return 0;
    }
    std::fprintf(stderr, "quillex-cli: unknown command '%s'\n\n", first.c_str());
    printUsage(stderr);
    return 16;
}
