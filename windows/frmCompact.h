#pragma once
// Shown while data files are compacted. Cancel cannot stop the file being
// compacted, so it only raises a flag that the caller reads between files.
#include <QDialog>

class QLabel;
class QPushButton;

namespace qx {

class frmCompact : public QDialog {
    Q_OBJECT
public:
    explicit frmCompact(QWidget* parent = nullptr);

    void SetStatus(const QString& text);
    void Reset() { Canceled = false; }

    bool Canceled = false;
    QLabel* lblInfo = nullptr;
    QLabel* lblStatus = nullptr;
    QPushButton* cmdCancel = nullptr;
};

}  // namespace qx
