#pragma once
// The program's name and version, what it is for, and the maker's web
// address, which opens in the browser when clicked.
#include <QDialog>
#include <QLabel>

class QPushButton;

namespace qx {

// A label that behaves as a link: underlined while the pointer is over it,
// opened with its associated program when clicked on.
class CHyperlinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit CHyperlinkLabel(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void SetUnderline(bool on);
    bool m_pressed = false;
};

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);

    // "0.1.0" -> {"0", "1", "0"}; missing parts are "0".
    static QStringList VersionParts(const QString& version);

    QLabel* Image1 = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblProductInfo = nullptr;
    CHyperlinkLabel* lblHyperlink = nullptr;
    QPushButton* cmdOk = nullptr;
};

}  // namespace qx
