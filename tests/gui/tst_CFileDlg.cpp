// The file dialog wrapper: filters in Qt's form, the chosen files read back
// through FilePath / FileName / FullName, cancelling, and the real dialog
// set up as asked.
#include "GuiTestSupport.h"
#include "windows/CFileDlg.h"

#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtTest>

using qx::CFileDlg;
using qx::test::DialogScript;

class tst_CFileDlg : public QObject {
    Q_OBJECT
private slots:
    void filtersInQtForm_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("pattern repeated in the description")
            << "Vellumo Databases (*.dat)|*.dat" << QStringList{"Vellumo Databases (*.dat)"};
        QTest::newRow("two pairs, all files")
            << "Textfiles (*.txt)|*.txt|Alle bestanden|*.*" << QStringList{"Textfiles (*.txt)", "Alle bestanden (*)"};
        QTest::newRow("several patterns, final bar") << "Tekst|*.txt;*.log|" << QStringList{"Tekst (*.txt *.log)"};
        QTest::newRow("description without pattern is dropped") << "Tekst|*.txt|Rest" << QStringList{"Tekst (*.txt)"};
        QTest::newRow("empty") << "" << QStringList{};
    }
    void filtersInQtForm() {
        QFETCH(QString, filter);
        QFETCH(QStringList, expected);
        CFileDlg d;
        d.Filter = filter;
        QCOMPARE(d.QtNameFilters(), expected);
    }

    void chosenFilesReadBack_data() {
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QString>("filePath");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("full1");
        QTest::addColumn<QString>("full2");
        QTest::newRow("one file") << QStringList{"/data/archief/Kantoor.dat"} << "/data/archief" << 1
                                  << "/data/archief/Kantoor.dat" << "";
        QTest::newRow("file in the root") << QStringList{"/Kantoor.dat"} << "" << 1 << "/Kantoor.dat" << "";
        QTest::newRow("short name kept") << QStringList{"/d/a.b"} << "/d" << 1 << "/d/a.b" << "";
        QTest::newRow("two files") << QStringList{"/d/een.txt", "/d/twee.txt"} << "/d" << 2 << "/d/een.txt"
                                   << "/d/twee.txt";
    }
    void chosenFilesReadBack() {
        QFETCH(QStringList, chosen);
        QFETCH(QString, filePath);
        QFETCH(int, count);
        QFETCH(QString, full1);
        QFETCH(QString, full2);
        DialogScript script(chosen);
        CFileDlg d;
        d.MultiSelect = chosen.size() > 1;
        QVERIFY(d.ShowOpen());
        QCOMPARE(d.FilePath(), QDir::toNativeSeparators(filePath));
        QCOMPARE(d.FileCount(), count);
        QCOMPARE(d.FullName("1"), QDir::toNativeSeparators(full1));
        QCOMPARE(d.FullName("2"), QDir::toNativeSeparators(full2));
        QCOMPARE(d.FileName(0), QString());
        QCOMPARE(d.FileName(d.FileCount() + 1), QString());
        QCOMPARE(d.FullName("x"), QString());
    }

    void cancelClearsTheLastChoice() {
        CFileDlg d;
        {
            DialogScript chosen(QStringList{"/d/Kantoor.dat"});
            QVERIFY(d.ShowOpen());
        }
        DialogScript cancelled;
        QVERIFY(!d.ShowOpen());
        QCOMPARE(d.FileCount(), 0);
        QCOMPARE(d.FilePath(), QString());
        QCOMPARE(d.FullName("1"), QString());
    }

    void startupPositionNeedsAnOwner_data() {
        QTest::addColumn<long>("asked");
        QTest::addColumn<bool>("withParent");
        QTest::addColumn<long>("kept");
        QTest::newRow("centre on owner, no owner") << 1L << false << 3L;
        QTest::newRow("centre on owner, owner") << 1L << true << 1L;
        QTest::newRow("other value") << 2L << false << 2L;
    }
    void startupPositionNeedsAnOwner() {
        QFETCH(long, asked);
        QFETCH(bool, withParent);
        QFETCH(long, kept);
        QWidget owner;
        DialogScript script;
        CFileDlg d;
        d.DialogStartupPostition = asked;
        d.ParentForm = withParent ? &owner : nullptr;
        d.ShowSave();
        QCOMPARE(d.DialogStartupPostition, kept);
        QVERIFY(script.seen.at(0).save);
    }

    // The real dialog, closed by a timer: it must start where and as asked.
    void realDialogIsSetUpAsAsked() {
        QTemporaryDir dir;
        const QString file = dir.filePath("Kantoor.dat");
        QFile(file).open(QIODevice::WriteOnly);
        CFileDlg d;
        d.Caption = "Openen";
        d.InitialDir = dir.path();
        d.Filter = "Tekst|*.txt|Vellumo Databases (*.dat)|*.dat";
        d.FilterIndex = 2;
        d.DefaultExt = "dat";
        QString title, filter, suffix, directory;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            title = dialog->windowTitle();
            filter = dialog->selectedNameFilter();
            suffix = dialog->defaultSuffix();
            directory = dialog->directory().absolutePath();
            dialog->selectFile(file);
            static_cast<QDialog*>(dialog)->accept();
        });
        QVERIFY(d.ShowOpen());
        QCOMPARE(title, QString("Openen"));
        QCOMPARE(filter, QString("Vellumo Databases (*.dat)"));
        QCOMPARE(suffix, QString("dat"));
        QCOMPARE(directory, QDir(dir.path()).absolutePath());
        QCOMPARE(d.FullName("1"), QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()));
    }
};

QTEST_MAIN(tst_CFileDlg)
#include "tst_CFileDlg.moc"
