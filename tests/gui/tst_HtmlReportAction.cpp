// Documenten > Rapport opslaan als HTML: usable once a check ran on the open
// archive, it writes the page the command line writes, and never onto a
// file of the archive.
#include "GuiTestSupport.h"
#include "database/access/FileNames.h"
#include "shell/ReportList.h"
#include "shell/frmMain.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/TestUtil.h"

#include <QtTest>
#include <QtWidgets>

using namespace qx;
using qx::test::BoxScript;
using qx::test::DialogScript;

namespace {
QString Res(long id) { return QString::fromStdString(GetResString(id, "")); }
}  // namespace

class tst_HtmlReportAction : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void init() { Settings::Reset(); }

    void enabledAfterACheckAndWritesThePage() {
        BoxScript boxes;
        const SampleManifest m = test::WriteArchive(m_dir.filePath("a"), "Archief", 8, {"no-data-row"});
        QVERIFY(!m.mainDatabase.empty());
        frmMain w;
        w.OpenDatabaseFile(m.mainDatabase);
        auto* action = w.findChild<QAction*>(QStringLiteral("actionSaveHtmlReport"));
        QVERIFY(action);
        QCOMPARE(action, w.miSaveHtmlReport);
        QCOMPARE(action->text(), Res(478));
        QVERIFY2(!action->isEnabled(), "nothing to report before a check");

        w.miCheckSub[1]->trigger();
        QVERIFY(action->isEnabled());
        QVERIFY(w.lvDocuments->RowCount() > 0);

        const QString file = m_dir.filePath("rapport.html");
        {
            DialogScript dialog(QStringList{file});
            action->trigger();
            QCOMPARE(dialog.seen.size(), size_t(1));
            QVERIFY(dialog.seen[0].save && dialog.seen[0].hasParent);
            QCOMPARE(dialog.seen[0].filter, Res(479));
            QCOMPARE(dialog.seen[0].defaultExt, QStringLiteral("html"));
        }
        const QString page = QString::fromStdString(test::Slurp(file.toStdString()));
        QVERIFY(page.startsWith(QStringLiteral("<!DOCTYPE html>")));
        for (int i = 0; i < w.lvDocuments->RowCount(); ++i)
            QVERIFY2(page.contains(QStringLiteral("<td>%1</td>").arg(w.lvDocuments->Row(i)->text(0))),
                     qPrintable(w.lvDocuments->Row(i)->text(0)));
        QVERIFY(page.contains(QString::fromStdString(m.mainDatabase)));

        // A file of the archive is refused and said so; the file stays as it was.
        const std::string sub1 = SubDatabaseName(m.mainDatabase, 1);
        const std::string before = test::Slurp(sub1);
        const std::size_t shown = boxes.boxes.size();
        {
            DialogScript dialog(QStringList{QString::fromStdString(sub1)});
            action->trigger();
        }
        QCOMPARE(boxes.boxes.size(), shown + 1);
        QVERIFY(QString::fromStdString(boxes.boxes.back().text).contains(Res(475)));
        QVERIFY(test::Slurp(sub1) == before);

        // Another archive opened: its list holds no check yet.
        w.OpenDatabaseFile(m.mainDatabase);
        QVERIFY(!action->isEnabled());
    }
};

QTEST_MAIN(tst_HtmlReportAction)
#include "tst_HtmlReportAction.moc"
