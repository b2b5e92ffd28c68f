#include "windows/frmAbout.h"

#include "support/TextResources.h"
#include "windows/Associated.h"

#include <QApplication>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace qx {

namespace {
constexpr const char* kNoResource = "Resources not found";
QString Res(long id, const char* def = kNoResource) { return QString::fromStdString(GetResString(id, def)); }
}  // namespace

CHyperlinkLabel::CHyperlinkLabel(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::Link));
    setPalette(p);
}

void CHyperlinkLabel::SetUnderline(bool on) {
    QFont f = font();
    f.setUnderline(on);
    setFont(f);
}

void CHyperlinkLabel::enterEvent(QEnterEvent* event) {
    SetUnderline(true);
    QLabel::enterEvent(event);
}

void CHyperlinkLabel::leaveEvent(QEvent* event) {
    SetUnderline(false);
    m_pressed = false;
    QLabel::leaveEvent(event);
}

void CHyperlinkLabel::mousePressEvent(QMouseEvent* event) {
    m_pressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void CHyperlinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    // Only a press and release both on the label count, as a drop of the
    // label's own drag onto itself would.
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    QLabel::mouseReleaseEvent(event);
    if (!click) return;
    SetUnderline(false);
    emit clicked();
}

QStringList frmAbout::VersionParts(const QString& version) {
    QStringList parts = version.split(u'.');
    while (parts.size() < 3) parts << QStringLiteral("0");
    return parts.mid(0, 3);
}

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setModal(true);
    setWindowTitle(Res(56));

    Image1 = new QLabel(this);
    Image1->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(48, 48));
    Image1->setAlignment(Qt::AlignTop);

    const QStringList version = VersionParts(QStringLiteral(QUILLEX_VERSION));
    lblTitle = new QLabel(QString::fromStdString(FormatMsg(GetResString(53, kNoResource),
                                                           {version[0].toStdString(), version[1].toStdString(),
                                                            version[2].toStdString()})),
                          this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont big = lblTitle->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.2);
    lblTitle->setFont(big);

    lblProductInfo = new QLabel(Res(54) + QStringLiteral("\n\n") + Res(55), this);
    lblProductInfo->setObjectName(QStringLiteral("lblProductInfo"));
    lblProductInfo->setWordWrap(true);

    lblHyperlink = new CHyperlinkLabel(this);
    lblHyperlink->setObjectName(QStringLiteral("lblHyperlink"));
    lblHyperlink->setText(Res(126, "https://www.tarnwick.nl"));
    connect(lblHyperlink, &CHyperlinkLabel::clicked, this,
            [this] { OpenWithAssociatedProgram(this, lblHyperlink->text(), false); });

    cmdOk = new QPushButton(QStringLiteral("OK"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setDefault(true);
    connect(cmdOk, &QPushButton::clicked, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(lblTitle);
    texts->addWidget(lblProductInfo);
    texts->addWidget(lblHyperlink);
    texts->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(Image1);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOk);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(buttons);
    setMinimumWidth(380);
}

}  // namespace qx
