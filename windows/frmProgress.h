#pragma once
// The progress window of the long checks: four text lines, a bar, Cancel.
// Cancel only hides the window; the running loop sees that and stops.
#include "database/MainWindow.h"

#include <QDialog>

class QImage;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace qx {

class frmProgress : public QDialog {
    Q_OBJECT
public:
    explicit frmProgress(QWidget* parent = nullptr);

    void ShowView(const ProgressView& view);
    void SetView(const ProgressView& view);
    // The document just loaded, beside the texts (only in the wide layout).
    void ShowImage(const QImage& image);
    void ClearImage();

    QPushButton* cmdCancel = nullptr;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    // Once a second while shown: the progress protocol's timer, so that the
    // clock moves on while one long item runs.
    QTimer* m_timer = nullptr;
    QLabel* lblProgress1 = nullptr;
    QLabel* lblProgress2 = nullptr;
    QLabel* lblTimeLeft = nullptr;
    QLabel* lblTimeElapsed = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QLabel* lProgress = nullptr;
    bool m_wide = false;
};

}  // namespace qx
