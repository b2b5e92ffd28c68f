// The file dialog wrapper: filters in Qt's form, the chosen files read back,
// cancelling, and the real dialog set up as asked.
#include "GuiTestSupport.h"
#include "shell/DutchQtTexts.h"
#include "support/HumanFormat.h"

#include <QtTest>
#include <QtWidgets>

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
    }
    void filtersInQtForm() {
        QFETCH(QString, filter);
        CFileDlg d;
        d.Filter = filter;
        QTEST(d.QtNameFilters(), "expected");
    }

    // The position "centre on the owner" needs an owner; then a cancelled
    // dialog clears the last choice.
    void chosenFilesReadBack_data() {
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QString>("filePath");
        QTest::addColumn<bool>("withOwner");
        QTest::addColumn<long>("position");
        QTest::newRow("one file") << QStringList{"/data/archief/Kantoor.dat"} << "/data/archief" << false << 3L;
        QTest::newRow("file in the root") << QStringList{"/Kantoor.dat"} << "" << true << 1L;
        QTest::newRow("two files") << QStringList{"/d/een.txt", "/d/twee.txt"} << "/d" << false << 3L;
    }
    void chosenFilesReadBack() {
        QFETCH(QStringList, chosen);
        QFETCH(bool, withOwner);
        QWidget owner;
        CFileDlg d;
        d.MultiSelect = chosen.size() > 1;
        d.DialogStartupPostition = 1;
        d.ParentForm = withOwner ? &owner : nullptr;
        DialogScript script(chosen);
        QVERIFY(d.ShowOpen());
        QTEST(d.DialogStartupPostition, "position");
        QTEST(d.FilePath(), "filePath");
        QCOMPARE(d.FileCount(), chosen.size());
        // Numbered from 1; out of range or not a number gives nothing.
        QCOMPARE((QStringList{d.FullName("1"), d.FullName("2"), d.FileName(0), d.FileName(d.FileCount() + 1),
                              d.FullName("x")}),
                 (QStringList{chosen[0], chosen.value(1), QString(), QString(), QString()}));

        script.choice.reset();
        QVERIFY(!d.ShowSave());
        QVERIFY(script.seen.at(1).save);
        QCOMPARE(d.FileCount(), 0);
        QCOMPARE((QStringList{d.FilePath(), d.FullName("1")}), (QStringList{QString(), QString()}));
    }

    // The real dialog, closed by a timer: it must start where and as asked.
    void realDialogIsSetUpAsAsked() {
        CFileDlg d;
        d.Caption = "Openen";
        d.InitialDir = QDir::tempPath();
        d.Filter = "Tekst|*.txt|Vellumo Databases (*.dat)|*.dat";
        d.FilterIndex = 2;
        d.DefaultExt = "dat";
        QStringList seen;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            seen = {dialog->windowTitle(), dialog->selectedNameFilter(), dialog->defaultSuffix(),
                    dialog->directory().absolutePath()};
            dialog->reject();
        });
        QVERIFY(!d.ShowOpen());
        QCOMPARE(seen,
                 (QStringList{"Openen", "Vellumo Databases (*.dat)", "dat", QDir(QDir::tempPath()).absolutePath()}));
    }

    // Labels, buttons, column titles and the list itself in Dutch, also
    // where Qt's own translation is not installed (the first row) or leaves
    // a word English ("Folder"): sizes and dates the Dutch way.
    void realDialogSpeaksDutch_data() {
        QTest::addColumn<bool>("withQtTranslation");
        QTest::newRow("our texts only") << false;
        QTest::newRow("with Qt's translation") << true;
    }
    void realDialogSpeaksDutch() {
        QFETCH(bool, withQtTranslation);
        const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        if (withQtTranslation && !QFile::exists(qtFolder + "/qtbase_nl.qm"))
            QSKIP("Qt's Dutch translation is not installed");
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir("Oud"));
        QFile file(folder.filePath("Kantoor.dat"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(5000, 'x')) == 5000);
        file.close();
        const QDateTime written = QFileInfo(file).lastModified();
        qx::InstallDutchQtTexts(*QCoreApplication::instance(), withQtTranslation ? qtFolder : folder.path());

        CFileDlg d;
        d.InitialDir = folder.path();
        d.Filter = "Vellumo Databases (*.dat)|*.dat";
        QStringList texts, rows;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            auto* list = dialog->findChild<QTreeView*>("treeView");
            QDeadlineTimer deadline(5000);
            while (list->model()->rowCount(list->rootIndex()) < 2 && !deadline.hasExpired()) {
                QCoreApplication::processEvents();
                QThread::msleep(10);
            }
            for (const char* name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
                texts << dialog->findChild<QLabel*>(name)->text();
            for (QAbstractButton* b : dialog->findChild<QDialogButtonBox*>("buttonBox")->buttons()) texts << b->text();
            texts << dialog->findChild<QToolButton*>("toParentButton")->toolTip();
            for (int c = 0; c < 4; ++c) texts << list->model()->headerData(c, Qt::Horizontal).toString();
            const QAbstractItemModel* m = list->model();
            for (int r = 0; r < m->rowCount(list->rootIndex()); ++r) {
                QStringList cells;
                for (int c : {0, 1, 3}) cells << m->index(r, c, list->rootIndex()).data().toString();
                if (m->index(r, 0, list->rootIndex()).data().toString() == "Oud")
                    cells << m->index(r, 2, list->rootIndex()).data().toString();
                rows << cells.join(" | ");
            }
            dialog->reject();
        });
        QVERIFY(!d.ShowOpen());
        QCOMPARE(texts, (QStringList{"Zoeken in:", "Bestands&naam:", "Bestanden van type:", "&Openen", "Annuleren",
                                     "Hogere map", "Naam", "Grootte", "Type", "Datum gewijzigd"}));
        rows.sort();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0), "Kantoor.dat | 4,88 kB | " + QString::fromStdString(qx::FormatDateTime(written)));
        QVERIFY2(rows.at(1).startsWith("Oud | ") && rows.at(1).endsWith(" | Map"), qPrintable(rows.at(1)));
    }
};

QTEST_MAIN(tst_CFileDlg)
#include "tst_CFileDlg.moc"
