// The main window starts headless and takes its texts from the string library.
#include "shell/frmMain.h"
#include "support/TextResources.h"

#include <QtTest>

class tst_frmMain : public QObject {
    Q_OBJECT
private slots:
    void titleComesFromTheStringLibrary() {
        qx::frmMain w;
        const QString fromLibrary = QString::fromStdString(qx::GetResString(1, "Resources not found"));
        QVERIFY(fromLibrary != "Resources not found");
        QCOMPARE(w.windowTitle(), fromLibrary);
    }
    void showsDefaultsWithoutTheLibrary() {
        qx::SetStringLibraryFolder(QDir::tempPath().toStdString() + "/no-such-folder");
        qx::frmMain w;
        QCOMPARE(w.windowTitle(), QString("Resources not found"));
        qx::SetStringLibraryFolder("");
    }
};

QTEST_MAIN(tst_frmMain)
#include "tst_frmMain.moc"
