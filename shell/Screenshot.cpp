#include "shell/Screenshot.h"

#include "shell/frmMain.h"
#include "windows/CFileDlg.h"
#include "windows/MessageBoxes.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPixmap>

#include <cstdio>
#include <optional>

namespace qx {

namespace {

void Settle(int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int RunScreenshot(const QString& outFile, const QString& archive, const QStringList& arguments) {
    SetMessageBoxAnswerer([](const MessageBoxRequest& box) {
        std::fprintf(stderr, "quillex: box \"%s\" answered\n", box.title.c_str());
        return NullWindow::SafeAnswer(box.buttons);
    });
    CFileDlg::SetRunner([](const CFileDlg&, bool) { return std::optional<QStringList>(); });

    frmMain window(arguments);
    if (window.LoadRefused()) return 1;
    window.show();
    Settle(300);  // the first activation: notice and the offer of the last archive

    int result = 0;
    if (!archive.isEmpty()) {
        window.OpenDatabaseFile(archive.toStdString());
        if (window.State().m_sDatabaseName.empty()) {
            std::fprintf(stderr, "quillex: could not open %s\n", qPrintable(archive));
            result = 1;
        }
    }
    Settle(500);

    if (!window.grab().save(outFile)) {
        std::fprintf(stderr, "quillex: could not write %s\n", qPrintable(outFile));
        return 1;
    }
    return result;
}

}  // namespace qx
