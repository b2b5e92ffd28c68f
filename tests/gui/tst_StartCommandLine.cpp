// The window's command line: an archive named there is opened on start,
// --dry-run starts in report-only mode before anything is opened, and
// --help, --version and usage errors answer on the terminal and end the
// program without a window.
#include "GuiTestSupport.h"
#include "shell/ReportList.h"
#include "shell/StartCommandLine.h"
#include "shell/frmMain.h"
#include "support/Settings.h"
#include "support/TextResources.h"

#include <QtTest>
#include <QtWidgets>

using namespace qx;
using qx::test::BoxScript;

class tst_StartCommandLine : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_archive = 0;
    QString NextName() { return QStringLiteral("Archief%1").arg(++m_archive); }

    // Name and contents of every file in the folder.
    static QStringList Files(const QString& folder) {
        QStringList entries;
        for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)) {
            QFile file(f.filePath());
            file.open(QIODevice::ReadOnly);
            entries << f.fileName() + " " + QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
        }
        return entries;
    }

    // The window as the program starts it, on screen and past its first activation.
    static std::unique_ptr<frmMain> Started(const QStringList& arguments) {
        const StartOptions options = ParseStartCommandLine(QStringList{"quillex"} + arguments);
        if (options.exit) return nullptr;
        std::unique_ptr<frmMain> w = StartWindow(options, arguments);
        if (!w) return nullptr;
        w->show();
        QTest::qWait(50);
        return w;
    }

private slots:
    void init() { Settings::Reset(); }

    // The archive given is opened at start, relative paths included; with
    // --dry-run report-only mode is on before the open, which then changes
    // nothing in the archive folder.
    void opensTheArchive_data() {
        QTest::addColumn<bool>("dryRun");
        QTest::addColumn<bool>("relative");
        QTest::newRow("absolute path") << false << false;
        QTest::newRow("relative path") << false << true;
        QTest::newRow("--dry-run") << true << false;
    }
    void opensTheArchive() {
        QFETCH(bool, dryRun);
        QFETCH(bool, relative);
        BoxScript boxes;
        const QString folder = m_dir.filePath(NextName());
        // Gaps in the sub-database numbers: an open that may write renumbers them.
        const SampleManifest sample = test::WriteArchive(folder, NextName(), 8, {"sub-database-number-gaps"});
        QVERIFY(!sample.mainDatabase.empty());
        const QStringList before = Files(folder);
        QString path = QString::fromStdString(sample.mainDatabase);
        const QString cwd = QDir::currentPath();
        if (relative) {
            QDir::setCurrent(folder);
            path = QFileInfo(path).fileName();
        }
        QStringList arguments{path};
        if (dryRun) arguments.prepend("--dry-run");
        std::unique_ptr<frmMain> w = Started(arguments);
        QDir::setCurrent(cwd);
        QVERIFY(w);
        QTRY_COMPARE(QString::fromStdString(w->State().m_sDatabaseName), QString::fromStdString(sample.mainDatabase));
        QVERIFY(w->lvPicbases->RowCount() > 0);
        QCOMPARE(w->miReportOnly->isChecked(), dryRun);
        QCOMPARE(w->Database().DryRun(), dryRun);
        QCOMPARE(w->windowTitle().contains(QString::fromStdString(GetResString(219, ""))), dryRun);
        if (dryRun) QCOMPARE(Files(folder), before);
        else QVERIFY(Files(folder) != before);  // the open step renumbered
    }

    // No archive: the window starts empty, as before.
    void noArchiveStartsEmpty() {
        BoxScript boxes;
        std::unique_ptr<frmMain> w = Started({});
        QVERIFY(w);
        QVERIFY(w->State().m_sDatabaseName.empty());
        QVERIFY(!w->miReportOnly->isChecked());
    }

    // The real program: help, version and usage errors never make a window
    // (it would wait for a user and the run would time out).
    void answersOnTheTerminal_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("stdoutHas");
        QTest::addColumn<QString>("stderrIs");
        QTest::newRow("--help") << QStringList{"--help"} << 0
                                << QStringList{"--dry-run", "--version", "ARCHIEF.dat",
                                               QString::fromStdString(GetResString(319, ""))}
                                << "";
        QTest::newRow("-h") << QStringList{"-h"} << 0 << QStringList{"--dry-run"} << "";
        QTest::newRow("--version") << QStringList{"--version"} << 0
                                   << QStringList{QString::fromStdString(GetResString(1, "")) + " " QUILLEX_VERSION}
                                   << "";
        QTest::newRow("unknown option") << QStringList{"--geen-optie"} << kUsageExit << QStringList{}
                                        << "Onbekende optie: --geen-optie (probeer 'quillex --help')\n";
        QTest::newRow("unknown one-dash option") << QStringList{"-x"} << kUsageExit << QStringList{}
                                                 << "Onbekende optie: -x (probeer 'quillex --help')\n";
        QTest::newRow("two archives") << QStringList{"a.dat", "b.dat"} << kUsageExit << QStringList{}
                                      << QString::fromUtf8("Geef hoogstens één archief op. (probeer 'quillex --help')\n");
    }
    void answersOnTheTerminal() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, stdoutHas);
        QFETCH(QString, stderrIs);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.start(QX_WINDOW_PATH, arguments);
        QVERIFY(program.waitForStarted());
        if (!program.waitForFinished(15000)) {
            program.kill();
            program.waitForFinished();
            QFAIL("the program did not end: it made a window");
        }
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), exitCode);
        const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        for (const QString& part : stdoutHas) QVERIFY2(out.contains(part), qPrintable(out));
        if (!stdoutHas.isEmpty()) QVERIFY2(!out.contains("no_comp_check"), qPrintable(out));
        QStringList errLines = err.split('\n');
        errLines.removeIf([](const QString& l) { return l.startsWith("QStandardPaths:"); });
        QCOMPARE(errLines.join('\n'), stderrIs.isEmpty() ? QString() : stderrIs);
    }

    // The start-up switches keep working beside the new options.
    void startSwitchesAccepted() {
        for (const QStringList& a : {QStringList{"-no_comp_check"}, QStringList{"-showindicators", "x.dat"},
                                     QStringList{"--dry-run", "-no_comp_check", "x.dat"}}) {
            const StartOptions o = ParseStartCommandLine(QStringList{"quillex"} + a);
            QVERIFY2(!o.exit, qPrintable(a.join(' ') + ": " + o.output));
        }
    }
};

int main(int argc, char** argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    tst_StartCommandLine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_StartCommandLine.moc"
