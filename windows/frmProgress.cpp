#include "windows/frmProgress.h"

#include "database/ProgressWindow.h"
#include "support/HumanFormat.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace qx {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The layout was drawn in twips (1/1440 inch); 15 twips a pixel at 96 dpi.
constexpr int TwipsToPixels(int twips) { return (twips + 7) / 15; }
constexpr int kNarrowWidth = TwipsToPixels(5970);
constexpr int kWideWidth = TwipsToPixels(8985);
constexpr int kPreviewWidth = TwipsToPixels(2575);
constexpr int kPreviewHeight = TwipsToPixels(2935);

}  // namespace

frmProgress::frmProgress(QWidget* parent) : QDialog(parent) {
    setModal(false);
    auto* texts = new QWidget(this);
    auto* column = new QVBoxLayout(texts);
    lblProgress1 = new QLabel(texts);
    ProgressBar1 = new QProgressBar(texts);
    lblProgress2 = new QLabel(texts);
    ProgressBar2 = new QProgressBar(texts);
    lblTimeLeft = new QLabel(texts);
    lblTimeElapsed = new QLabel(texts);
    cmdCancel = new QPushButton(texts);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(ProgressBar1->minimum());
    ProgressBar1->setTextVisible(false);
    for (QWidget* w : std::initializer_list<QWidget*>{lblProgress1, ProgressBar1, lblProgress2, ProgressBar2,
                                                      lblTimeLeft, lblTimeElapsed})
        column->addWidget(w);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdCancel);
    column->addStretch();
    column->addLayout(buttons);
    texts->setFixedWidth(kNarrowWidth);

    Sep1 = new QFrame(this);
    Sep1->setFrameShape(QFrame::VLine);
    Sep1->setFrameShadow(QFrame::Sunken);

    m_room = new QWidget(this);
    m_room->setMinimumHeight(kPreviewHeight);
    lProgress = new QLabel(m_room);
    lProgress->setFixedSize(kPreviewWidth, kPreviewHeight);
    lProgress->setAlignment(Qt::AlignCenter);
    lProgress->setFrameShape(QFrame::NoFrame);
    // Flat on the colour of a workspace, as the area behind documents is.
    lProgress->setAutoFillBackground(true);
    lProgress->setBackgroundRole(QPalette::Dark);
    auto* centred = new QGridLayout(m_room);
    centred->setContentsMargins(0, 0, 0, 0);
    centred->addWidget(lProgress, 0, 0, Qt::AlignCenter);

    auto* all = new QHBoxLayout(this);
    all->setContentsMargins(0, 0, 0, 0);
    all->setSpacing(0);
    all->addWidget(texts);
    all->addWidget(Sep1);
    all->addWidget(m_room, 1);
    lProgress->setVisible(false);
    SetWide(false);

    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::hide);
    TimedUpdate = new QTimer(this);
    TimedUpdate->setInterval(1000);
    connect(TimedUpdate, &QTimer::timeout, this, [] {
        if (ProgressWindow* active = ProgressWindow::Active()) active->Tick();
    });
}

void frmProgress::SetWide(bool wide) {
    m_wide = wide;
    Sep1->setVisible(wide);
    m_room->setVisible(wide);
    if (!wide) lProgress->setVisible(false);
    setFixedWidth(wide ? kWideWidth : kNarrowWidth);
}

void frmProgress::SetView(const ProgressView& view) {
    setWindowTitle(Q(view.caption));
    lblProgress1->setText(Q(view.currentItem));
    lblProgress2->setText(Q(view.countLine));
    lblTimeLeft->setText(Q(view.timeLeft));
    lblTimeElapsed->setText(view.rate > 0 ? Q(view.timeElapsed) + QStringLiteral("  (") + Q(FormatRate(view.rate)) + u')'
                                          : Q(view.timeElapsed));
    cmdCancel->setText(Q(view.cancelText));
    ProgressBar2->setMaximum(view.maximum);
    ProgressBar2->setValue(std::min(view.value, view.maximum));
    if (view.wide != m_wide) SetWide(view.wide);
}

void frmProgress::ShowView(const ProgressView& view) {
    SetView(view);
    ProgressBar1->setValue(100);
    ClearImage();
    show();
    raise();
    TimedUpdate->start();
}

void frmProgress::SetLoadProgress(int percent) {
    ProgressBar1->setValue(std::clamp(percent, ProgressBar1->minimum(), ProgressBar1->maximum()));
}

void frmProgress::hideEvent(QHideEvent* event) {
    TimedUpdate->stop();
    QDialog::hideEvent(event);
}

void frmProgress::ShowImage(const QImage& image) {
    if (!m_wide || image.isNull()) return;
    lProgress->setPixmap(QPixmap::fromImage(
        image.scaled(lProgress->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    lProgress->setVisible(true);
}

void frmProgress::ClearImage() {
    lProgress->clear();
    lProgress->setVisible(false);
}

}  // namespace qx
