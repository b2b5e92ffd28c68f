#pragma once
// The progress window of the long checks: the current document with the
// load of its image (ProgressBar1), the count with the whole walk's bar
// (ProgressBar2), the times, and Cancel, which only hides the window (the
// running loop sees that and stops). A thorough check widens the window for
// a preview of the document just decoded, right of the separator.
#include "database/MainWindow.h"

#include <QDialog>

class QFrame;
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

    // The start of a run: the view, the image bar full, no preview yet.
    void ShowView(const ProgressView& view);
    void SetView(const ProgressView& view);
    // How much of the current document's image is loaded, in percent.
    void SetLoadProgress(int percent);
    // The document just loaded, as a thumbnail (only in the wide layout).
    void ShowImage(const QImage& image);
    void ClearImage();
    bool IsWide() const { return m_wide; }

    // Once a second while the window is shown: the elapsed time and the
    // estimate move on while one long document is checked.
    QTimer* TimedUpdate = nullptr;
    QLabel* lblProgress1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* lblProgress2 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QLabel* lblTimeLeft = nullptr;
    QLabel* lblTimeElapsed = nullptr;
    QPushButton* cmdCancel = nullptr;
    QFrame* Sep1 = nullptr;
    QLabel* lProgress = nullptr;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void SetWide(bool wide);

    QWidget* m_room = nullptr;  // right of Sep1: where lProgress is centred
    bool m_wide = false;
};

}  // namespace qx
