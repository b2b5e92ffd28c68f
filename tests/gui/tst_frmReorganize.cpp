// Database > Reorganiseren on generated archives, the plan on request, the
// progress and summary, and the reorganize window's clip.
#include "GuiTestSupport.h"
#include "shell/ReportList.h"
#include "shell/frmMain.h"
#include "support/Failpoint.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/ArchiveSnapshot.h"
#include "windows/FileMoveClip.h"
#include "windows/ProgressPanel.h"
#include "windows/frmReorganize.h"

#include <QtTest>
#include <QtWidgets>

#include <map>

using namespace qx;

namespace {

std::map<QString, QByteArray> FolderBytes(const std::string& dir) {
    std::map<QString, QByteArray> files;
    for (const QFileInfo& f : QDir(QString::fromStdString(dir)).entryInfoList(QDir::Files)) {
        QFile in(f.filePath());
        files[f.fileName()] = in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("unreadable");
    }
    return files;
}

}  // namespace

class tst_frmReorganize : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_archive = 0;
    test::BoxScript* m_boxes = nullptr;
    SampleManifest m_sample;
    std::unique_ptr<frmMain> m_w;

    // A fresh two-sub-database archive open, as after a check.
    void Open() {
        m_sample = test::WriteArchive(m_dir.filePath(QString::number(++m_archive)), QStringLiteral("Kantoor"), 8);
        m_w = std::make_unique<frmMain>();
        m_w->OpenDatabaseFile(m_sample.mainDatabase);
        m_w->State().m_nDamaged = 3;
        m_w->State().m_nFixed = 1;
    }
    void Reorganize(std::deque<MsgAnswer> answers) {
        m_boxes->answers = std::move(answers);
        m_w->miReorganize->trigger();
    }

private slots:
    void init() {
        Settings::Reset();
        m_boxes = new test::BoxScript;
    }
    void cleanup() {
        m_w.reset();
        delete m_boxes;
    }

    // Voorbeeld shows the plan and asks again; No then changes nothing.
    void voorbeeldShowsThePlanThenNoChangesNothing() {
        QString plan;
        std::function<void()> closePlan = [&] {
            auto* shown = qobject_cast<frmReorganizePlan*>(QApplication::activeModalWidget());
            if (!shown) return QTimer::singleShot(20, closePlan);
            plan = shown->txtPlan->isReadOnly() ? shown->txtPlan->toPlainText() : "writable";
            shown->reject();
        };
        Open();
        const auto before = FolderBytes(m_sample.directory);
        QTimer::singleShot(20, closePlan);
        Reorganize({kMsgAnswerExtra, MsgAnswer::No});
        QVERIFY(!plan.trimmed().isEmpty() && plan != "writable");
        QCOMPARE(m_boxes->boxes.size(), size_t(2));
        for (const MessageBoxRequest& asked : m_boxes->boxes) {
            QVERIFY(asked.text == FormatMsg(GetResString(26, "")) && asked.title == GetResString(27, ""));
            QVERIFY(asked.buttons == MsgButtons::YesNo && asked.icon == MsgIcon::Question);
            QCOMPARE(asked.extraButton, std::string("Voorbeeld"));
        }
        QVERIFY(FolderBytes(m_sample.directory) == before);
        QVERIFY(m_w->StatusBarPanel[1]->text().contains('3'));
    }

    // A run that stops in the middle of the move says what happened and
    // what to do in a box after the run; the list of the last check and its
    // counters stay; every document still leads to its bytes.
    void aStopInTheMiddleOfTheMoveKeepsTheListAndSaysWhatToDo() {
        Open();
        m_w->ListAdd(ListId::Documents, ListRow{"ID77", "Rapport 77", {"\\Klanten", "Kantoor_1.pdb", "Leeg"}, 1, true});
        const test::ArchiveSnapshot before = test::TakeSnapshot(m_sample.mainDatabase);
        failpoints::Arm("reorganize.copied", 1, FailAction::NoSpace);
        Reorganize({MsgAnswer::Yes});
        failpoints::Reset();
        QVERIFY(!m_w->Database().m_sReorganizeStop.empty());
        QCOMPARE(m_boxes->boxes.size(), size_t(2));  // the question, then the stop
        const MessageBoxRequest& said = m_boxes->boxes.back();
        QVERIFY2(said.text.find("de schijf is vol. Maak ten minste") != std::string::npos, said.text.c_str());
        QVERIFY(said.text.find("De lijst met resultaten is niet gewijzigd.") != std::string::npos);
        QCOMPARE(said.title, std::string("Reorganiseren gestopt..."));
        QVERIFY(said.icon == MsgIcon::Exclamation && said.buttons == MsgButtons::OK);
        QCOMPARE(m_w->lvDocuments->RowCount(), 1);
        QCOMPARE(m_w->lvDocuments->Row(0)->text(0), QStringLiteral("Rapport 77"));
        QCOMPARE(m_w->State().m_nDamaged, 3L);
        QVERIFY(test::TakeSnapshot(m_sample.mainDatabase).documents == before.documents);
    }

    // The bar only moves forward and ends full; the labels speak Dutch; the
    // run ends with its summary.
    void theBarMovesToItsEndAndTheSummaryFollows() {
        Open();
        std::vector<int> values;
        m_w->ReorganizeShow();  // makes the window the run uses
        m_w->ReorganizeHide();
        ProgressPanel* panel = m_w->findChild<frmReorganize*>()->Progress;
        connect(panel->ProgressBar, &QProgressBar::valueChanged, this, [&](int v) { values.push_back(v); });
        Reorganize({MsgAnswer::Yes});
        QVERIFY(!values.empty());
        QVERIFY(std::is_sorted(values.begin(), values.end()));
        QCOMPARE(panel->ProgressBar->value(), panel->ProgressBar->maximum());
        QVERIFY(panel->ProgressBar->maximum() > 0);
        QVERIFY2(panel->lblCount->text().startsWith("Documenten: "), qPrintable(panel->lblCount->text()));
        const QStringList count = panel->lblCount->text().mid(12).split(" van ");
        QCOMPARE(count.size(), 2);
        QCOMPARE(count[0], count[1]);  // all of them
        QVERIFY2(QRegularExpression("^Verplaatst: [0-9.,]+ (bytes|kB|MB) van [0-9.,]+ (bytes|kB|MB)$")
                     .match(panel->lblBytes->text()).hasMatch(),
                 qPrintable(panel->lblBytes->text()));
        QVERIFY2(QRegularExpression("^Verstreken tijd: [0-9]+:[0-9]{2}$").match(panel->lblTimeElapsed->text()).hasMatch(),
                 qPrintable(panel->lblTimeElapsed->text()));
        QCOMPARE(panel->lblTimeLeft->text(), QStringLiteral("Geschatte resterende tijd: 0:00"));
        QCOMPARE(m_boxes->boxes.size(), size_t(2));  // the question, then the summary
        const MessageBoxRequest& summary = m_boxes->boxes.back();
        QCOMPARE(summary.title, std::string("Reorganiseren klaar..."));
        QVERIFY(summary.icon == MsgIcon::Information);
        QVERIFY2(summary.text.find("Verplaatste documenten: ") != std::string::npos, summary.text.c_str());
        QVERIFY(summary.text.find("Opzijgezette bestanden: 1 (") != std::string::npos);
        QVERIFY(summary.text.find("\xE2\x86\x92") != std::string::npos);
    }

    void yesPacksTheArchiveAndEveryDocumentKeepsItsBytes() {
        Open();
        const test::ArchiveSnapshot before = test::TakeSnapshot(m_sample.mainDatabase);
        QVERIFY(before.documents.size() >= 4);
        Reorganize({MsgAnswer::Yes});
        QVERIFY(test::TakeSnapshot(m_sample.mainDatabase).documents == before.documents);
        const QString last = QString::fromStdString(m_sample.subDatabases.back().path);
        QVERIFY(QFileInfo::exists(last + ".obsolete") && !QFileInfo::exists(last));
        for (int panel : {1, 2}) QVERIFY(m_w->StatusBarPanel[panel]->text().contains("--"));
        QVERIFY(!m_w->findChild<frmReorganize*>()->isVisible());
        QVERIFY(m_w->menuBar()->isEnabled() && m_w->centralWidget()->isEnabled());
        QFile log(QString::fromStdString(Settings::Get().LogFileName));
        QVERIFY(log.open(QIODevice::ReadOnly) && log.readAll().contains("Reorganize started "));
    }

    void theClipIsWrittenOnceAndGoesWithTheWindow() {
        QString file;
        {
            frmReorganize w;
            for (int show = 0; show < 2; ++show) {
                w.show();
                QCOMPARE(w.Clip().Movie()->state(), QMovie::Running);
                w.cmdCancel->click();
            }
            QVERIFY(!w.isVisible());
            QCOMPARE(w.Clip().Writes(), 1);
            file = w.Clip().FileName();
            QVERIFY(QFileInfo::exists(file));
            w.show();
            QVERIFY(std::abs(w.Animation->geometry().center().x() - w.Frame->contentsRect().center().x()) <= 1);
        }
        QVERIFY(!QFileInfo::exists(file));
        QLabel screen;
        FileMoveClip none(&screen, QStringLiteral(":/animation/none.gif"));
        QVERIFY(!none.Load() && screen.isHidden());
    }
};

QTEST_MAIN(tst_frmReorganize)
#include "tst_frmReorganize.moc"
