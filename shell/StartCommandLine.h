#pragma once
// The window's command line: `quillex [--dry-run] [ARCHIVE.dat]`, and
// `--help` / `--version`, which answer on the terminal and end the program
// before any window is made. The two switches of the start-up and the
// storage-format check (-no_comp_check, -showindicators) are accepted and
// left where those read them.
#include <QString>
#include <QStringList>

#include <memory>

namespace qx {

class frmMain;

struct StartOptions {
    bool exit = false;  // print `output` (on stderr when `error`) and end with `exitCode`
    int exitCode = 0;
    bool error = false;
    QString output;
    QString archive;  // absolute path, "" for none
    bool dryRun = false;
};

// The usage-error exit code, the same as the command-line program's.
inline constexpr int kUsageExit = 16;

// `arguments` includes the program name, as QCoreApplication::arguments().
StartOptions ParseStartCommandLine(const QStringList& arguments);

// The main window as the options ask: report-only switched on before
// anything is opened, and the archive opened once the window is on screen
// (instead of the offer of the product's last archive). Null when the
// start-up refused (no data access); `rawArguments` are those the window
// reads itself (without the program name).
std::unique_ptr<frmMain> StartWindow(const StartOptions& options, const QStringList& rawArguments);

}  // namespace qx
