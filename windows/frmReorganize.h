#pragma once
// Shown while the archive is reorganized: the current phase as the frame's
// caption, an information text and Cancel, which only hides the window.
#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;

namespace qx {

class frmReorganize : public QDialog {
    Q_OBJECT
public:
    explicit frmReorganize(QWidget* parent = nullptr);

    QGroupBox* Frame = nullptr;
    QLabel* lblInfo = nullptr;
    QPushButton* cmdCancel = nullptr;
};

}  // namespace qx
