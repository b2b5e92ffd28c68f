// The progress window as the checks drive it: narrow or wide with the
// preview of the document just decoded, the image bar, and the
// once-a-second clock.
#include "database/ProgressWindow.h"
#include "shell/frmMain.h"
#include "support/Settings.h"
#include "windows/frmProgress.h"

#include <QtTest>
#include <QtWidgets>

using namespace qx;

namespace {

std::vector<std::uint8_t> Png(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return {bytes.begin(), bytes.end()};
}

}  // namespace

class tst_frmProgress : public QObject {
    Q_OBJECT

private slots:
    void init() { Settings::Reset(); }

    void aThoroughRunIsWideUntilItsEndWithTheDocumentCentredRightOfTheSeparator() {
        frmMain w;
        double now = 0;
        {
            ProgressWindow run(w, [&] { return now; });
            run.SetInitial(10, 100, true, 0);
            run.Show();
            auto* f = w.findChild<frmProgress*>();
            QVERIFY(f && f->isVisible() && f->Sep1->isVisible());
            QCOMPARE(f->width(), 599);
            QVERIFY(!f->lProgress->isVisible());  // nothing decoded yet

            QCOMPARE(w.LoadImage(Png(850, 1100)), 0);
            QCOMPARE(f->ProgressBar1->value(), 100);
            QVERIFY(f->lProgress->isVisible() && !f->lProgress->pixmap().isNull());
            QCOMPARE(f->lProgress->size(), QSize(172, 196));
            const QRect preview(f->lProgress->mapTo(f, QPoint(0, 0)), f->lProgress->size());
            const int left = f->Sep1->geometry().right() + 1;
            QVERIFY(std::abs(preview.center().x() - (left + f->width() - 1) / 2) <= 1);
            QVERIFY(std::abs(preview.center().y() - (f->height() - 1) / 2) <= 1);

            QVERIFY(w.LoadImage({'x', 'y'}) != 0);
            QVERIFY(!f->lProgress->isVisible());  // no stale picture beside a broken document

            run.SetInitial(10, 100, false, 0);  // a later phase of the same run
            QCOMPARE(f->width(), 599);
            run.Hide();
        }
        ProgressWindow next(w, [&] { return now; });
        next.Start(5, 96, 97);
        auto* f = w.findChild<frmProgress*>();
        QCOMPARE(f->width(), 398);
        QCOMPARE(w.LoadImage(Png(40, 40)), 0);
        QVERIFY(!f->lProgress->isVisible() && !f->Sep1->isVisible());
        next.Hide();
    }

    void theClockMovesOnWhileShownAndStopsWithCancel() {
        frmMain w;
        double now = 0;
        ProgressWindow run(w, [&] { return now; });
        run.Start(10, 96, 97);
        run.SetProgress(10, 1, "groot");
        auto* f = w.findChild<frmProgress*>();
        QVERIFY(f->TimedUpdate->isActive());
        now = 65;
        QTRY_VERIFY_WITH_TIMEOUT(f->lblTimeElapsed->text().contains("1:05"), 5000);
        f->cmdCancel->click();
        QVERIFY(!run.Visible() && !f->TimedUpdate->isActive());
    }

    // Counts and the rate the Dutch way ("1.088.210", "382,2/s"), whatever
    // the system's locale.
    void countsAndRateInDutch() {
        QLocale::setDefault(QLocale::c());
        frmMain w;
        double now = 0;
        ProgressWindow run(w, [&] { return now; });
        run.m_sLblProgress1 = "doc %s";
        run.m_sLblProgress2 = "%s van %s";
        run.SetInitial(1088210, 100, false, 0);
        run.Show();
        now = 10;
        run.SetProgress(1, 3823, "x");
        auto* f = w.findChild<frmProgress*>();
        QCOMPARE(f->lblProgress2->text(), QString("3.823 van 1.088.210"));
        QVERIFY2(f->lblTimeElapsed->text().endsWith("(382,2/s)"), qPrintable(f->lblTimeElapsed->text()));
        run.Hide();
    }
};

QTEST_MAIN(tst_frmProgress)
#include "tst_frmProgress.moc"
