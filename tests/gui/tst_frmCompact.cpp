// The compacting window: Cancel only raises the flag and makes the
// cancelling notice blink until the window is loaded again.
#include "support/Log.h"
#include "support/Settings.h"
#include "tests/core/TestUtil.h"
#include "windows/frmCompact.h"

#include <QtTest>
#include <QtWidgets>

using qx::frmCompact;

class tst_frmCompact : public QObject {
    Q_OBJECT
private slots:
    void cancelBlinksTheNoticeAndLogsUntilTheNextLoad() {
        QTemporaryDir dir;
        qx::Settings::Get().LogFileName = dir.filePath("Kantoor.log").toStdString();
        frmCompact w;
        w.show();
        QVERIFY(w.lblInfo->text().contains('\n'));  // "%n" became a line break
        QVERIFY(w.Animation->movie() && w.Animation->movie()->state() == QMovie::Running);
        QVERIFY(!w.Canceled());
        w.SetStatus("Bezig met comprimeren databestand 1 / 2...");
        w.cmdCancel->click();
        QVERIFY(w.Canceled());
        QVERIFY(w.isVisible());  // the window stays: the file being compacted is finished
        const QSize size = w.lblCompact->size();
        QTRY_VERIFY_WITH_TIMEOUT(!w.lblCompact->isVisible(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(w.lblCompact->isVisible(), 10000);
        QCOMPARE(w.lblCompact->size(), size);
        QVERIFY(QString::fromStdString(qx::test::Slurp(dir.filePath("Kantoor.log").toStdString()))
                    .contains("Canceling compact. Waiting for cleanup..."));
        w.Load();
        QVERIFY(!w.Canceled() && !w.timedBlink->isActive());
        w.PauseAvi();
        QCOMPARE(w.Animation->movie()->state(), QMovie::Paused);
        qx::Settings::Reset();
    }
};

QTEST_MAIN(tst_frmCompact)
#include "tst_frmCompact.moc"
