#include "shell/frmMain.h"

#include "support/TextResources.h"

#include <QString>

namespace qx {

frmMain::frmMain(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QString::fromStdString(GetResString(1, "Resources not found")));
    resize(800, 560);
}

}  // namespace qx
