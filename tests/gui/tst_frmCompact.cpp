// The compacting window: Cancel only raises the flag and makes the
// cancelling notice blink until the window is loaded again; a compaction
// shows its files and bytes and ends with a summary.
#include "GuiTestSupport.h"
#include "shell/frmMain.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/TestUtil.h"
#include "windows/ProgressPanel.h"
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

    // The compaction before a thorough check, through the window the core
    // drives: file k of n, bytes copied, the times, the bar full at the end,
    // and the summary box.
    void aCompactionShowsFilesBytesAndTimesAndEndsWithASummary() {
        using namespace qx;
        Settings::Reset();
        QTemporaryDir dir;
        test::BoxScript boxes;
        const SampleManifest sample = test::WriteArchive(dir.filePath("a"), QStringLiteral("Kantoor"), 8);
        frmMain w;
        w.OpenDatabaseFile(sample.mainDatabase);
        QVERIFY(!w.State().m_sDatabaseName.empty());
        w.Database().m_nCompactAboveBytes = 1;  // every sub database is "large"
        boxes.answers = {MsgAnswer::OK};
        std::vector<int> values;
        w.CompactShow();  // the window the run uses, made before it starts
        w.CompactClose();
        auto* window = w.findChild<frmCompact*>();
        QVERIFY(window);
        QProgressBar* bar = window->Progress->ProgressBar;
        connect(bar, &QProgressBar::valueChanged, this, [&](int v) { values.push_back(v); });

        QVERIFY(CDatabaseTestAccess::OfferPreCheckCompaction(w.Database()));

        QVERIFY(!values.empty());
        QVERIFY(std::is_sorted(values.begin(), values.end()));
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(window->Progress->lblCount->text(), QStringLiteral("Bestand 2 van 2: Kantoor_2.pdb"));
        QVERIFY2(QRegularExpression("^Gecomprimeerd: [0-9,]+ kB van [0-9,]+ kB$")
                     .match(window->Progress->lblBytes->text()).hasMatch(),
                 qPrintable(window->Progress->lblBytes->text()));
        QVERIFY(window->Progress->lblTimeElapsed->text().startsWith("Verstreken tijd: 0:0"));
        QCOMPARE(window->Progress->lblTimeLeft->text(), QStringLiteral("Geschatte resterende tijd: 0:00"));
        QCOMPARE(boxes.boxes.size(), size_t(2));  // the question, then the summary
        const MessageBoxRequest& summary = boxes.boxes.back();
        QCOMPARE(summary.title, std::string("Comprimeren klaar..."));
        QVERIFY(summary.icon == MsgIcon::Information);
        // A fresh sample's sub databases cannot shrink: left as they are, and counted apart.
        QVERIFY2(summary.text.rfind("Gecomprimeerde bestanden: 0 van 2.", 0) == 0, summary.text.c_str());
        QVERIFY2(summary.text.find("Al compact en daarom overgeslagen: 2.") != std::string::npos, summary.text.c_str());
        // Shown again, the window starts from nothing.
        w.CompactShow();
        QCOMPARE(bar->maximum(), 0);
        QVERIFY(window->Progress->lblCount->text().isEmpty());
        w.CompactClose();
        Settings::Reset();
    }
};

QTEST_MAIN(tst_frmCompact)
#include "tst_frmCompact.moc"
