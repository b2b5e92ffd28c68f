#pragma once
// Shown while the archive is reorganized: the current phase as the frame's
// caption, the moving-files clip, the progress (bar, documents and bytes
// moved, times), an information text and Cancel, which only hides the window. Also the window that shows what a reorganize would
// do, before the user decides.
#include <QDialog>

#include <memory>

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace qx {

class FileMoveClip;
class ProgressPanel;

class frmReorganize : public QDialog {
    Q_OBJECT
public:
    explicit frmReorganize(QWidget* parent = nullptr);
    ~frmReorganize() override;

    QGroupBox* Frame = nullptr;
    QLabel* Animation = nullptr;
    QLabel* lblInfo = nullptr;
    QPushButton* cmdCancel = nullptr;
    ProgressPanel* Progress = nullptr;
    FileMoveClip& Clip() { return *m_clip; }

protected:
    // The clip plays while the window is shown.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::unique_ptr<FileMoveClip> m_clip;
};

// A reorganize plan as read-only text, shown modally until closed.
class frmReorganizePlan : public QDialog {
    Q_OBJECT
public:
    // An empty `plan` says that there is nothing to show.
    frmReorganizePlan(const QString& plan, QWidget* parent = nullptr);

    QPlainTextEdit* txtPlan = nullptr;
    QPushButton* cmdClose = nullptr;
};

}  // namespace qx
