#include "windows/frmReorganize.h"

#include "support/TextResources.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
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
    auto* inFrame = new QVBoxLayout(Frame);
    inFrame->addSpacing(60);
    lblInfo = new QLabel(Res(69), this);
    lblInfo->setWordWrap(true);
    cmdCancel = new QPushButton(QStringLiteral("Annuleren"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdCancel);
    auto* all = new QVBoxLayout(this);
    all->addWidget(Frame);
    all->addWidget(lblInfo);
    all->addLayout(buttons);
    setMinimumWidth(420);

    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::hide);
}

}  // namespace qx
