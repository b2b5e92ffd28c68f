// Qt's own texts in the dialogs and boxes the window shows: every string Qt
// asks a translation for is Dutch, also where Qt's translation is missing.
#include "shell/DutchQtTexts.h"

#include <QtTest>
#include <QtWidgets>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <set>

namespace {

// Asked first: notes what Qt wants translated and lets the others answer.
class Recorder : public QTranslator {
public:
    mutable std::set<std::tuple<QString, QString, QString>> asked;
    QString translate(const char* context, const char* source, const char* disambiguation, int) const override {
        asked.emplace(QString::fromUtf8(context), QString::fromUtf8(source), QString::fromUtf8(disambiguation));
        return {};
    }
    bool isEmpty() const override { return false; }
};

// The contexts of the dialogs' own words; key names and paper names are
// names, not words to translate.
const QStringList kContexts{"QFileDialog",   "QFileSystemModel", "QAbstractFileIconProvider", "QPlatformTheme",
                            "QMessageBox",   "QPrintDialog",     "QPrintWidget",              "QPrintSettingsOutput",
                            "QPageSetupWidget", "QPrintPreviewDialog", "QLineEdit"};

// Texts that read the same in Dutch, and shortcuts.
const QStringList kSameInDutch{"OK", "Help", "Type", "Type:", "Printer", "Computer", "...", "Form", "%1%", "mm",
                               "Alt+Left", "Alt+Right", "Alt+Up", "Inches (in)", "Millimeters (mm)", "Didot (DD)",
                               "Cicero (CC)", "Pica (P̸)", "1 (1x1)", "2 (2x1)", "4 (2x2)", "6 (2x3)", "9 (3x3)",
                               "16 (4x4)"};

}  // namespace

class tst_DutchQtTexts : public QObject {
    Q_OBJECT
private slots:
    void everyDialogWordIsDutch_data() {
        QTest::addColumn<bool>("withQtTranslation");
        QTest::newRow("our texts only") << false;
        QTest::newRow("with Qt's translation") << true;
    }
    void everyDialogWordIsDutch() {
        QFETCH(bool, withQtTranslation);
        const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        if (withQtTranslation && !QFile::exists(qtFolder + "/qtbase_nl.qm"))
            QSKIP("Qt's Dutch translation is not installed");
        QTemporaryDir empty;
        qx::InstallDutchQtTexts(*QCoreApplication::instance(), withQtTranslation ? qtFolder : empty.path());
        Recorder recorder;
        QCoreApplication::installTranslator(&recorder);
        {
            QTemporaryDir folder;
            QDir(folder.path()).mkdir("Oud");
            for (QFileDialog::AcceptMode mode : {QFileDialog::AcceptOpen, QFileDialog::AcceptSave}) {
                QFileDialog dialog(nullptr, "t", folder.path());
                dialog.setOption(QFileDialog::DontUseNativeDialog);
                dialog.setAcceptMode(mode);
                dialog.show();
                QTest::qWait(50);
            }
            QPrinter printer;
            QPrintDialog print(&printer);
            print.show();
            QPageSetupDialog setup(&printer);
            setup.show();
            QPrintPreviewDialog preview(&printer);
            preview.show();
            QMessageBox box(QMessageBox::Question, "t", "x",
                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel |
                                QMessageBox::Close | QMessageBox::Save | QMessageBox::Open);
            box.setDetailedText("d");
            box.show();
            QLineEdit edit("x");
            delete edit.createStandardContextMenu();
            QCoreApplication::processEvents();
        }
        QCoreApplication::removeTranslator(&recorder);
        QStringList english;
        for (const auto& [context, source, disambiguation] : recorder.asked) {
            if (!kContexts.contains(context) || kSameInDutch.contains(source)) continue;
            const QString shown = QCoreApplication::translate(context.toUtf8().constData(), source.toUtf8().constData(),
                                                              disambiguation.isEmpty() ? nullptr
                                                                                       : disambiguation.toUtf8().constData());
            if (shown == source) english << context + " | " + source;
        }
        if (!english.isEmpty()) qWarning("%s", qPrintable(english.join("\n")));
        QCOMPARE(english, QStringList{});
        QVERIFY(recorder.asked.size() > 50);
    }
};

QTEST_MAIN(tst_DutchQtTexts)
#include "tst_DutchQtTexts.moc"
