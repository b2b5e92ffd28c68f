#include "shell/frmMain.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillex");
    QApplication::setApplicationVersion(QUILLEX_VERSION);
    qx::frmMain window;
    window.show();
    return app.exec();
}
