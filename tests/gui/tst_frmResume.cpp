// The check menu's thorough check when a stopped one exists for the open
// archive: the window offers to go on from it (Ja), to start anew (Nee) or
// to do nothing (Annuleren), and a record it cannot use is said, not used.
#include "GuiTestSupport.h"
#include "database/CheckCommand.h"
#include "database/checks/CheckResume.h"
#include "shell/frmMain.h"
#include "support/TextResources.h"
#include "tests/core/TestUtil.h"

#include <QtTest>
#include <QtWidgets>

#include <filesystem>

using namespace qx;
using qx::test::BoxScript;

namespace {

QString Res(long id) { return QString::fromStdString(GetResString(id, "")); }

bool RecordLeft(const std::string& main) {
    for (const std::string& name : CheckProgressNames(main))
        if (QFileInfo::exists(QString::fromStdString(name))) return true;
    return false;
}

}  // namespace

class tst_frmResume : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_archive = 0;

private slots:
    void offersToGoOn_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("checkRuns");
        QTest::addColumn<bool>("recordAfter");
        QTest::newRow("Ja: goes on and ends complete") << int(MsgAnswer::Yes) << true << false;
        QTest::newRow("Nee: starts anew and ends complete") << int(MsgAnswer::No) << true << false;
        QTest::newRow("Annuleren: nothing runs, the record stays") << int(MsgAnswer::Cancel) << false << true;
    }
    void offersToGoOn() {
        QFETCH(int, answer);
        QFETCH(bool, checkRuns);
        QFETCH(bool, recordAfter);
        const SampleManifest sample = test::WriteArchive(m_dir.path(), QString("Archief%1").arg(++m_archive), 8);
        QVERIFY(!sample.mainDatabase.empty());
        frmMain w;
        w.OpenDatabaseFile(sample.mainDatabase);
        BoxScript boxes;
        {
            // A thorough check stopped by its time limit after one document.
            CheckRun stop;
            stop.maxDurationMs = 1000;
            stop.clock = [&stop] { return stop.documents * 1000; };
            const CheckRunScope scope(w.Database(), stop);
            RunCheckCommand(w.Database(), CheckThorough);
            QVERIFY(stop.timeUp);
        }
        QVERIFY(RecordLeft(sample.mainDatabase));
        boxes.boxes.clear();
        boxes.answers = {MsgAnswer(answer)};
        w.miCheckSub[CheckThorough]->trigger();
        QVERIFY(!boxes.boxes.empty());
        const MessageBoxRequest& offer = boxes.boxes.front();
        QCOMPARE(QString::fromStdString(offer.title), Res(574));
        QCOMPARE(int(offer.buttons), int(MsgButtons::YesNoCancel));
        QVERIFY2(QString::fromStdString(offer.text).contains("1 van 4"), offer.text.c_str());
        QCOMPARE(boxes.boxes.size() > 1, checkRuns);
        QCOMPARE(RecordLeft(sample.mainDatabase), recordAfter);
        QCOMPARE(w.State().m_bAnalysed, checkRuns);
    }

    void saysARecordItCannotUse() {
        const SampleManifest sample = test::WriteArchive(m_dir.path(), QString("Archief%1").arg(++m_archive), 8);
        frmMain w;
        w.OpenDatabaseFile(sample.mainDatabase);
        test::WriteFile(CheckProgressNames(sample.mainDatabase)[1], "quillex-check-progress\t1\nsequence\t");
        BoxScript boxes;
        w.miCheckSub[CheckThorough]->trigger();
        QVERIFY(!boxes.boxes.empty());
        QCOMPARE(QString::fromStdString(boxes.boxes.front().title), Res(574));
        QVERIFY(QString::fromStdString(boxes.boxes.front().text).startsWith(Res(575).section("%s", 0, 0)));
        QVERIFY(!RecordLeft(sample.mainDatabase));
        QVERIFY(w.State().m_bAnalysed);
    }
};

QTEST_MAIN(tst_frmResume)
#include "tst_frmResume.moc"
