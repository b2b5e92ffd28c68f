#include "windows/ProgressPanel.h"

#include <QGridLayout>

#include <QLabel>
#include <QProgressBar>

#include <algorithm>

namespace qx {

ProgressPanel::ProgressPanel(QWidget* parent) : QWidget(parent) {
    ProgressBar = new QProgressBar(this);
    ProgressBar->setTextVisible(false);
    lblCount = new QLabel(this);
    lblBytes = new QLabel(this);
    lblTimeElapsed = new QLabel(this);
    lblTimeLeft = new QLabel(this);
    lblTimeLeft->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Count and bytes each on a line of their own: a long file name must not
    // run into the bytes in a narrow window.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(ProgressBar, 0, 0, 1, 2);
    grid->addWidget(lblCount, 1, 0, 1, 2);
    grid->addWidget(lblBytes, 2, 0, 1, 2);
    grid->addWidget(lblTimeElapsed, 3, 0);
    grid->addWidget(lblTimeLeft, 3, 1);
    Reset();
}

void ProgressPanel::SetView(const ProgressView& view) {
    ProgressBar->setMaximum(std::max(view.maximum, 0));
    ProgressBar->setValue(view.maximum > 0 ? std::clamp(view.value, 0, view.maximum) : 0);
    lblCount->setText(QString::fromStdString(view.countLine));
    lblBytes->setText(QString::fromStdString(view.currentItem));
    lblTimeElapsed->setText(QString::fromStdString(view.timeElapsed));
    lblTimeLeft->setText(QString::fromStdString(view.timeLeft));
    // A longer text than the window has room for widens the window.
    QWidget* top = window();
    if (top->isVisible() && top->width() < top->minimumSizeHint().width()) top->adjustSize();
}

void ProgressPanel::Reset() {
    ProgressBar->setRange(0, 0);
    ProgressBar->setValue(0);
    for (QLabel* label : {lblCount, lblBytes, lblTimeElapsed, lblTimeLeft}) label->clear();
}

}  // namespace qx
