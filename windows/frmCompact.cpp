#include "windows/frmCompact.h"

#include "support/Log.h"
#include "support/TextResources.h"
#include "windows/FileMoveClip.h"
#include "windows/ProgressPanel.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace qx {

namespace {
QString Res(long id, const char* def) { return QString::fromStdString(GetResString(id, def)); }
}  // namespace

frmCompact::frmCompact(QWidget* parent) : QDialog(parent) {
    setModal(false);
    Frame = new QGroupBox(this);
    Animation = new QLabel(Frame);
    Animation->setAlignment(Qt::AlignCenter);
    m_clip = std::make_unique<FileMoveClip>(Animation);
    auto* inFrame = new QVBoxLayout(Frame);
    inFrame->addWidget(Animation, 0, Qt::AlignCenter);
    lblInfo = new QLabel(this);
    lblInfo->setWordWrap(true);
    lblCompact = new QLabel(this);
    // The blinking notice must not make the window jump.
    QSizePolicy keep = lblCompact->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    lblCompact->setSizePolicy(keep);
    Progress = new ProgressPanel(this);
    cmdCancel = new QPushButton(QStringLiteral("Annuleren"), this);
    timedBlink = new QTimer(this);
    timedBlink->setInterval(1000);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdCancel);
    auto* all = new QVBoxLayout(this);
    all->addWidget(Frame);
    all->addWidget(lblInfo);
    all->addWidget(lblCompact);
    all->addWidget(Progress);
    all->addLayout(buttons);
    setMinimumWidth(380);

    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(timedBlink, &QTimer::timeout, this, [this] { lblCompact->setVisible(!lblCompact->isVisible()); });
    Load();
}

frmCompact::~frmCompact() { Unload(); }

void frmCompact::Load() {
    timedBlink->stop();
    lblCompact->setMinimumSize(0, 0);
    lblCompact->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    lblCompact->setVisible(true);
    lblCompact->clear();
    setWindowTitle(Res(138, "Comprimeren databestanden..."));
    lblInfo->setText(QString::fromStdString(FormatMsg(
                         GetResString(139, "Dit proces kan enige tijd in beslag nemen.%nEen ogenblik geduld a.u.b....")))
                         .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    if (m_clip->Load()) m_clip->Start();
    Progress->Reset();
    m_bCanceled = false;
}

void frmCompact::Unload() {
    if (timedBlink) timedBlink->stop();
    m_clip->Stop();
}

void frmCompact::SetStatus(const QString& text) { lblCompact->setText(text); }

void frmCompact::cmdCancel_Click() {
    m_bCanceled = true;
    WriteLog("Canceling compact. Waiting for cleanup...");
    lblCompact->setText(Res(137, "Bezig met annuleren..."));
    // Sized for the notice once, then kept: the blinking must not reflow.
    lblCompact->setFixedSize(lblCompact->sizeHint());
    lblCompact->setVisible(true);
    timedBlink->start();
}

void frmCompact::PauseAvi() { m_clip->Pause(); }

}  // namespace qx
