#include "windows/frmInformation.h"

#include "database/CDatabase.h"
#include "database/DocumentActions.h"
#include "database/checks/ResultCodes.h"
#include "support/TextResources.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qx {

namespace {
QString Res(long id) { return QString::fromStdString(GetResString(id, "Resources not found")); }
QString Q(const std::string& s) { return QString::fromStdString(s).replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }
// Fields that only show: the window's background, not the white of a
// field that takes typing.
void LooksReadOnly(QWidget* field) {
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    field->setPalette(palette);
}
}  // namespace

frmInformation::frmInformation(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmInformation"));
    setModal(false);
    setWindowTitle(Res(32));

    Frame[0] = new QGroupBox(Res(33), this);
    Frame[1] = new QGroupBox(Res(34), this);
    auto field = [this](QLineEdit*& edit, QLabel*& label, long textId, const char* name) {
        edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setReadOnly(true);
        LooksReadOnly(edit);
        label = new QLabel(Res(textId), this);
        label->setBuddy(edit);
    };
    field(txtName, lblName, 35, "txtName");
    field(txtDate, lblDate, 36, "txtDate");
    field(txtWords, lblWords, 37, "txtWords");
    field(txtZip, lblZip, 38, "txtZip");
    auto* fields = new QFormLayout(Frame[0]);
    fields->addRow(lblName, txtName);
    fields->addRow(lblDate, txtDate);
    fields->addRow(lblWords, txtWords);
    fields->addRow(lblZip, txtZip);

    txtErrorDescription = new QPlainTextEdit(this);
    txtErrorDescription->setObjectName(QStringLiteral("txtErrorDescription"));
    txtErrorDescription->setReadOnly(true);
    LooksReadOnly(txtErrorDescription);
    txtErrorDescription->setMinimumHeight(90);
    lblCode = new QLabel(this);
    lblCode->setObjectName(QStringLiteral("lblCode"));
    lblCode->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* explanation = new QVBoxLayout(Frame[1]);
    explanation->addWidget(lblCode);
    explanation->addWidget(txtErrorDescription);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto* all = new QVBoxLayout(this);
    all->addWidget(Frame[0]);
    all->addWidget(Frame[1], 1);
    all->addWidget(buttons);
    resize(460, 360);
}

void frmInformation::Initialise(CDatabase& database, long nId, long nErr, const std::string& sMainDatabase,
                                const std::string& sSubDatase) {
    std::string name, keywords, notes, date, zip;
    database.DocumentInfo(nId, name, keywords, notes, date, zip);
    txtName->setText(Q(name));
    txtWords->setText(Q(keywords));
    txtDate->setText(Q(date));
    txtZip->setText(Q(zip));
    txtErrorDescription->setPlainText(Q(ExplainResult(nErr, sSubDatase, sMainDatabase)));
    lblCode->setText(Q(FormatMsg(GetResString(441, "Foutcode: %s (%s)"), {std::to_string(nErr), FindingStateText(static_cast<int>(nErr))})));
}

}  // namespace qx
