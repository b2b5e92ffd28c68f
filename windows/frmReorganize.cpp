#include "windows/frmReorganize.h"

#include "support/TextResources.h"
#include "windows/FileMoveClip.h"
#include "windows/ProgressPanel.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qx {

namespace {
QString Res(long id) { return QString::fromStdString(GetResString(id, "Resources not found")); }
}  // namespace

frmReorganize::frmReorganize(QWidget* parent) : QDialog(parent) {
    setModal(false);
    setWindowTitle(Res(67));
    Frame = new QGroupBox(Res(68), this);
    Animation = new QLabel(Frame);
    Animation->setAlignment(Qt::AlignCenter);
    auto* inFrame = new QVBoxLayout(Frame);
    inFrame->addWidget(Animation, 0, Qt::AlignCenter);
    // The frame keeps its height without the clip: the texts stay put.
    Frame->setMinimumHeight(80);
    m_clip = std::make_unique<FileMoveClip>(Animation);
    Progress = new ProgressPanel(this);
    lblInfo = new QLabel(Res(69), this);
    lblInfo->setWordWrap(true);
    cmdCancel = new QPushButton(QStringLiteral("Annuleren"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdCancel);
    auto* all = new QVBoxLayout(this);
    all->addWidget(Frame);
    all->addWidget(Progress);
    all->addWidget(lblInfo);
    all->addLayout(buttons);
    setMinimumWidth(420);

    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::hide);
}

frmReorganize::~frmReorganize() = default;

void frmReorganize::showEvent(QShowEvent* event) {
    if (m_clip->Load()) m_clip->Start();
    QDialog::showEvent(event);
}

void frmReorganize::hideEvent(QHideEvent* event) {
    m_clip->Stop();
    QDialog::hideEvent(event);
}

frmReorganizePlan::frmReorganizePlan(const QString& plan, QWidget* parent) : QDialog(parent) {
    setModal(true);
    setWindowTitle(QStringLiteral("Voorbeeld: ") + Res(67));
    txtPlan = new QPlainTextEdit(this);
    txtPlan->setReadOnly(true);
    txtPlan->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    txtPlan->setPlainText(plan.isEmpty() ? QStringLiteral("Er is geen voorbeeld van het reorganiseren beschikbaar.")
                                         : plan);
    cmdClose = new QPushButton(QStringLiteral("Sluiten"), this);
    cmdClose->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    auto* all = new QVBoxLayout(this);
    all->addWidget(txtPlan);
    all->addLayout(buttons);
    resize(560, 420);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace qx
