#pragma once
// Shown while data files are compacted. Cancel cannot stop the file being
// compacted, so it only raises a flag that the caller reads between files;
// meanwhile the window says it is cancelling, blinking once a second.
#include <QDialog>

#include <memory>

class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;

namespace qx {

class FileMoveClip;
class ProgressPanel;

class frmCompact : public QDialog {
    Q_OBJECT
public:
    explicit frmCompact(QWidget* parent = nullptr);
    ~frmCompact() override;

    // What a fresh load does: empty status line, clip playing, no cancel.
    void Load();
    // What an unload does: blinking and clip stopped.
    void Unload();
    void SetStatus(const QString& text);
    bool Canceled() const { return m_bCanceled; }
    // Stops the clip where it is, when it is shown.
    void PauseAvi();

    QGroupBox* Frame = nullptr;
    QLabel* Animation = nullptr;
    QLabel* lblInfo = nullptr;
    QLabel* lblCompact = nullptr;
    QPushButton* cmdCancel = nullptr;
    QTimer* timedBlink = nullptr;
    // The copy's progress: bytes copied of the files' size, file k of n.
    ProgressPanel* Progress = nullptr;
    FileMoveClip& Clip() { return *m_clip; }

private:
    void cmdCancel_Click();

    bool m_bCanceled = false;
    std::unique_ptr<FileMoveClip> m_clip;
};

}  // namespace qx
