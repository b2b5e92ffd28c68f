#include "windows/frmProgress.h"

#include "database/ProgressWindow.h"

#include <QHBoxLayout>
#include <QHideEvent>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace qx {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
constexpr int kPreviewSide = 160;
}  // namespace

frmProgress::frmProgress(QWidget* parent) : QDialog(parent) {
    setModal(false);
    auto* texts = new QVBoxLayout;
    lblProgress1 = new QLabel(this);
    lblProgress2 = new QLabel(this);
    lblTimeLeft = new QLabel(this);
    lblTimeElapsed = new QLabel(this);
    ProgressBar2 = new QProgressBar(this);
    cmdCancel = new QPushButton(this);
    for (QLabel* l : {lblProgress1, lblProgress2, lblTimeLeft, lblTimeElapsed}) texts->addWidget(l);
    texts->addWidget(ProgressBar2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdCancel);
    texts->addLayout(buttons);

    lProgress = new QLabel(this);
    lProgress->setFixedSize(kPreviewSide, kPreviewSide);
    lProgress->setAlignment(Qt::AlignCenter);
    lProgress->setVisible(false);

    auto* all = new QHBoxLayout(this);
    all->addLayout(texts, 1);
    all->addWidget(lProgress);
    setMinimumWidth(420);

    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::hide);
    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, [] {
        if (ProgressWindow* active = ProgressWindow::Active()) active->Tick();
    });
}

void frmProgress::SetView(const ProgressView& view) {
    setWindowTitle(Q(view.caption));
    lblProgress1->setText(Q(view.currentItem));
    lblProgress2->setText(Q(view.countLine));
    lblTimeLeft->setText(Q(view.timeLeft));
    lblTimeElapsed->setText(view.rate > 0 ? Q(view.timeElapsed) + QStringLiteral("  (%1/s)").arg(view.rate, 0, 'f', 1)
                                          : Q(view.timeElapsed));
    cmdCancel->setText(Q(view.cancelText));
    ProgressBar2->setMaximum(view.maximum);
    ProgressBar2->setValue(view.value);
    if (!view.wide) lProgress->setVisible(false);
    m_wide = view.wide;
}

void frmProgress::ShowView(const ProgressView& view) {
    SetView(view);
    ClearImage();
    show();
    raise();
    m_timer->start();
}

void frmProgress::hideEvent(QHideEvent* event) {
    m_timer->stop();
    QDialog::hideEvent(event);
}

void frmProgress::ShowImage(const QImage& image) {
    if (!m_wide || image.isNull()) return;
    lProgress->setPixmap(QPixmap::fromImage(
        image.scaled(kPreviewSide - 2, kPreviewSide - 2, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    lProgress->setVisible(true);
}

void frmProgress::ClearImage() { lProgress->clear(); }

}  // namespace qx
