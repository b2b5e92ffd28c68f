#pragma once
// Information about one row of the damaged-document list: the document's
// name, keywords, date and zip code, and what its result code means. It
// only shows; nothing is changed.
#include <QDialog>

#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace qx {

class CDatabase;

class frmInformation : public QDialog {
    Q_OBJECT
public:
    explicit frmInformation(QWidget* parent = nullptr);

    // Fills the window for document nId with result code nErr; the caller shows it.
    void Initialise(CDatabase& database, long nId, long nErr, const std::string& sMainDatabase,
                    const std::string& sSubDatase);

    QLineEdit* txtName = nullptr;
    QLineEdit* txtWords = nullptr;
    QLineEdit* txtDate = nullptr;
    QLineEdit* txtZip = nullptr;
    QPlainTextEdit* txtErrorDescription = nullptr;
    QLabel* lblCode = nullptr;  // the result code, as the guide's table of codes lists it
    QLabel* lblName = nullptr;
    QLabel* lblDate = nullptr;
    QLabel* lblWords = nullptr;
    QLabel* lblZip = nullptr;
    QGroupBox* Frame[2] = {nullptr, nullptr};
};

}  // namespace qx
