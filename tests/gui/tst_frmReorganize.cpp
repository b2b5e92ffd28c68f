// Reorganizing through the main window's menu on generated archives, the
// plan shown on request, and the reorganize window with its clip.
#include "GuiTestSupport.h"
#include "shell/frmMain.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/ArchiveSnapshot.h"
#include "windows/FileMoveClip.h"
#include "windows/frmReorganize.h"

#include <QtTest>
#include <QtWidgets>

#include <map>

using namespace qx;
using qx::test::BoxScript;

namespace {

// Every file of the folder with its bytes.
std::map<QString, QByteArray> FolderBytes(const QString& dir) {
    std::map<QString, QByteArray> files;
    for (const QFileInfo& f : QDir(dir).entryInfoList(QDir::Files)) {
        QFile in(f.filePath());
        files[f.fileName()] = in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("unreadable");
    }
    return files;
}

// Closes the next modal window once it is up, keeping the text of its plan.
void CloseNextPlan(QString& seen) {
    QTimer::singleShot(50, [&seen] {
        auto* plan = qobject_cast<frmReorganizePlan*>(QApplication::activeModalWidget());
        if (!plan) return CloseNextPlan(seen);
        seen = plan->txtPlan->toPlainText();
        QVERIFY(plan->txtPlan->isReadOnly());
        plan->reject();
    });
}

}  // namespace

class tst_frmReorganize : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_archive = 0;

    struct Opened {
        SampleManifest sample;
        std::unique_ptr<frmMain> w;
    };
    Opened Open() {
        Opened o;
        const QString dir = m_dir.filePath(QStringLiteral("a%1").arg(++m_archive));
        o.sample = test::WriteArchive(dir, QStringLiteral("Kantoor"), 8);
        o.w = std::make_unique<frmMain>();
        o.w->OpenDatabaseFile(o.sample.mainDatabase);
        o.w->State().m_nDamaged = 3;  // as after a check
        o.w->State().m_nFixed = 1;
        return o;
    }

private slots:
    void init() { Settings::Reset(); }

    void noChangesNothing() {
        BoxScript boxes;
        Opened o = Open();
        QVERIFY(!o.w->State().m_sDatabaseName.empty());
        const auto before = FolderBytes(QString::fromStdString(o.sample.directory));
        boxes.answers = {MsgAnswer::No};
        o.w->miReorganize->trigger();
        QCOMPARE(boxes.boxes.size(), size_t(1));
        const MessageBoxRequest& asked = boxes.boxes.front();
        QCOMPARE(asked.text, FormatMsg(GetResString(26, "")));
        QCOMPARE(asked.title, GetResString(27, ""));
        QCOMPARE(asked.buttons, MsgButtons::YesNo);
        QCOMPARE(asked.icon, MsgIcon::Question);
        QCOMPARE(asked.extraButton, std::string("Voorbeeld"));
        QVERIFY(FolderBytes(QString::fromStdString(o.sample.directory)) == before);
        QVERIFY(o.w->StatusBarPanel[1]->text().contains('3'));
    }

    void yesPacksTheArchiveAndKeepsEveryDocument() {
        BoxScript boxes;
        Opened o = Open();
        const test::ArchiveSnapshot before = test::TakeSnapshot(o.sample.mainDatabase);
        QVERIFY(before.documents.size() >= 4);
        boxes.answers = {MsgAnswer::Yes};
        o.w->miReorganize->trigger();

        const test::ArchiveSnapshot after = test::TakeSnapshot(o.sample.mainDatabase);
        QVERIFY(after.documents == before.documents);
        QVERIFY(QFileInfo::exists(QString::fromStdString(o.sample.subDatabases.back().path) + ".obsolete"));
        QVERIFY(!QFileInfo::exists(QString::fromStdString(o.sample.subDatabases.back().path)));
        for (int panel : {1, 2}) QVERIFY2(o.w->StatusBarPanel[panel]->text().contains("--"), qPrintable(o.w->StatusBarPanel[panel]->text()));
        auto* shown = o.w->findChild<frmReorganize*>();
        QVERIFY(shown && !shown->isVisible());
        QVERIFY(o.w->menuBar()->isEnabled() && o.w->centralWidget()->isEnabled());
        QFile log(QString::fromStdString(Settings::Get().LogFileName));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("Reorganize started "));
    }

    void previewShowsThePlanThenAsksAgain() {
        BoxScript boxes;
        Opened o = Open();
        const auto before = FolderBytes(QString::fromStdString(o.sample.directory));
        boxes.answers = {kMsgAnswerExtra, MsgAnswer::No};
        QString plan;
        CloseNextPlan(plan);
        o.w->miReorganize->trigger();
        QCOMPARE(boxes.boxes.size(), size_t(2));
        QCOMPARE(boxes.boxes[1].text, boxes.boxes[0].text);
        QVERIFY(!plan.trimmed().isEmpty());
        QVERIFY(FolderBytes(QString::fromStdString(o.sample.directory)) == before);
    }

    // One clip file per window, written once, gone with the window.
    void theClipIsWrittenOnceAndGoesWithTheWindow() {
        QString file;
        {
            frmReorganize w;
            for (int show = 0; show < 2; ++show) {
                w.show();
                QVERIFY(w.Animation->isVisible());
                QCOMPARE(w.Clip().Movie()->state(), QMovie::Running);
                w.cmdCancel->click();
                QVERIFY(!w.isVisible());
            }
            QCOMPARE(w.Clip().Writes(), 1);
            file = w.Clip().FileName();
            QVERIFY(QFileInfo::exists(file));
            w.show();
            const QRect frame = w.Frame->contentsRect(), clip = w.Animation->geometry();
            QVERIFY(std::abs(clip.center().x() - frame.center().x()) <= 1);
        }
        QVERIFY(!QFileInfo::exists(file));
    }

    void withoutAClipTheWindowWorksWithoutIt() {
        QLabel screen;
        FileMoveClip clip(&screen, QStringLiteral(":/animation/none.gif"));
        QVERIFY(!clip.Load());
        clip.Start();
        clip.Pause();
        QVERIFY(screen.isHidden());
        QVERIFY(clip.FileName().isEmpty());
    }
};

QTEST_MAIN(tst_frmReorganize)
#include "tst_frmReorganize.moc"
