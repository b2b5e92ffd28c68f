#include "windows/frmCompact.h"

#include "support/TextResources.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qx {

namespace {
QString Res(long id) { return QString::fromStdString(GetResString(id, "Resources not found")); }
}  // namespace

frmCompact::frmCompact(QWidget* parent) : QDialog(parent) {
    setModal(false);
    setWindowTitle(Res(138));
    lblInfo = new QLabel(QString::fromStdString(FormatMsg(GetResString(139, "Resources not found")))
                             .replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                         this);
    lblInfo->setWordWrap(true);
    lblStatus = new QLabel(this);
    cmdCancel = new QPushButton(QStringLiteral("Annuleren"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdCancel);
    auto* all = new QVBoxLayout(this);
    all->addWidget(lblInfo);
    all->addWidget(lblStatus);
    all->addLayout(buttons);
    setMinimumWidth(380);

    connect(cmdCancel, &QPushButton::clicked, this, [this] {
        Canceled = true;
        lblStatus->setText(Res(137));
    });
}

void frmCompact::SetStatus(const QString& text) { lblStatus->setText(text); }

}  // namespace qx
