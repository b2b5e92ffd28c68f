#pragma once
// The bar, count, bytes and times of a maintenance run, as the reorganize
// and compacting windows show them. The texts come composed from the core;
// a maximum of 0 shows a busy bar while the total is not known.
#include "database/MainWindow.h"

#include <QWidget>

class QLabel;
class QProgressBar;

namespace qx {

class ProgressPanel : public QWidget {
    Q_OBJECT
public:
    explicit ProgressPanel(QWidget* parent = nullptr);

    void SetView(const ProgressView& view);
    // As at the start of a run: a busy bar, no texts.
    void Reset();

    QProgressBar* ProgressBar = nullptr;
    QLabel* lblCount = nullptr;
    QLabel* lblBytes = nullptr;
    QLabel* lblTimeElapsed = nullptr;
    QLabel* lblTimeLeft = nullptr;
};

}  // namespace qx
