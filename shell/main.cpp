#include "shell/DutchQtTexts.h"
#include "shell/Screenshot.h"
#include "shell/StartCommandLine.h"
#include "shell/frmMain.h"

#include <QApplication>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillex");
    QApplication::setApplicationVersion(QUILLEX_VERSION);
    // Qt's buttons and dialogs speak Dutch, with or without Qt's own translation.
    qx::InstallDutchQtTexts(app);
    qx::UseDutchFormats();
    QStringList arguments = QApplication::arguments().mid(1);

    // Developer option: pictures of the windows for the documentation.
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--screenshots")); at >= 0) {
        if (at + 1 >= arguments.size()) {
            std::fputs("Usage: quillex --screenshots DIR [ARCHIVE.dat]\n", stderr);
            return 2;
        }
        const QString out = arguments.at(at + 1);
        const QString archive = at + 2 < arguments.size() ? arguments.at(at + 2) : QString();
        arguments.remove(at, archive.isEmpty() ? 2 : 3);
        return qx::RunScreenshots(out, archive, arguments);
    }
    // Developer option: a picture of the window for the documentation.
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--screenshot")); at >= 0) {
        if (at + 1 >= arguments.size()) {
            std::fputs("Usage: quillex --screenshot OUT.png [ARCHIVE.dat]\n", stderr);
            return 2;
        }
        const QString out = arguments.at(at + 1);
        const QString archive = at + 2 < arguments.size() ? arguments.at(at + 2) : QString();
        arguments.remove(at, archive.isEmpty() ? 2 : 3);
        return qx::RunScreenshot(out, archive, arguments);
    }

    const qx::StartOptions options = qx::ParseStartCommandLine(QApplication::arguments());
    if (options.exit) {
        std::fputs(options.output.toLocal8Bit().constData(), options.error ? stderr : stdout);
        return options.exitCode;
    }
    const std::unique_ptr<qx::frmMain> window = qx::StartWindow(options, arguments);
    if (!window) return 1;
    window->show();
    return app.exec();
}
