#pragma once
#include <QMainWindow>

namespace qx {

// The main window; it grows its menus, lists and status bar with the
// archive-opening work.
class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);
};

}  // namespace qx
