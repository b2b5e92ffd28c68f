// The main window: start-up (texts, data-access check, first activation,
// offer of the last archive), opening and refusing archives, the lists,
// selection and the status bar. Boxes and file dialogs are scripted.
#include "GuiTestSupport.h"
#include "shell/ReportList.h"
#include "shell/frmMain.h"
#include "support/Settings.h"
#include "support/TextResources.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

using namespace qx;
using qx::test::BoxScript;
using qx::test::DialogScript;

Q_DECLARE_METATYPE(qx::MsgIcon)

namespace {

QString Res(long id) { return QString::fromStdString(GetResString(id, "")); }
QString Formatted(long id, std::initializer_list<Variant> args) {
    return QString::fromStdString(FormatMsg(GetResString(id, ""), args));
}

void SetLastDatabase(const QString& path) {
    QSettings product(QSettings::NativeFormat, QSettings::UserScope, "Tarnwick", "Vellumo 8");
    if (path.isEmpty())
        product.remove("Database");
    else
        product.setValue("Database", path);
    product.sync();
}

bool DatabaseMenusEnabled(const frmMain& w) {
    return w.miDocuments->menuAction()->isEnabled() && w.miAnalyse->menuAction()->isEnabled() &&
           w.miReorganize->isEnabled();
}
bool DatabaseMenusDisabled(const frmMain& w) {
    return !w.miDocuments->menuAction()->isEnabled() && !w.miAnalyse->menuAction()->isEnabled() &&
           !w.miReorganize->isEnabled();
}

ListRow Row(const std::string& key, const std::string& name, bool red = false, std::int64_t tag = 0) {
    return ListRow{key, name, {"/Map", "Kantoor_1.pdb", "beschadigd"}, tag, red};
}

}  // namespace

class tst_frmMain : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void init() {
        SetLastDatabase({});
        Settings::Reset();
    }

    // -- texts

    void titleComesFromTheStringLibrary() {
        frmMain w;
        QVERIFY(Res(1) != "");
        QCOMPARE(w.windowTitle(), Res(1));
    }

    void menuCaptions_data() {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("withoutLibrary");
        const QString none = "Resources not found";
        QTest::newRow("miOptions") << "miOptions" << 2 << none;
        QTest::newRow("miExit") << "miExit" << 3 << none;
        QTest::newRow("miOpen") << "miOpen" << 5 << none;
        QTest::newRow("miCheckSub 0") << "miCheckSub0" << 29 << none;
        QTest::newRow("miCheckSub 4") << "miCheckSub4" << 58 << none;
        QTest::newRow("miCheckSub 5 keeps its caption") << "miCheckSub5" << 0 << "Op &grote documenten";
        QTest::newRow("miRemoveDocs") << "miRemoveDocs" << 10 << "Geselecteerde, beschadigde items verwijderen";
        QTest::newRow("miPrintList") << "miPrintList" << 124 << "Lijst afdrukken...";
        QTest::newRow("miSaveList") << "miSaveList" << 125 << "Lijst opslaan...";
        QTest::newRow("miDisplayHelp") << "miDisplayHelp" << 129 << "Inhoud...";
        QTest::newRow("miAbout") << "miAbout" << 12 << none;
    }
    void menuCaptions() {
        QFETCH(QString, menu);
        QFETCH(int, id);
        QFETCH(QString, withoutLibrary);
        auto caption = [&](const frmMain& w) {
            if (menu == "miOptions") return w.miOptions->title();
            if (menu.startsWith("miCheckSub")) return w.miCheckSub[menu.right(1).toInt()]->text();
            const std::map<QString, QAction*> actions{{"miExit", w.miExit},           {"miOpen", w.miOpen},
                                                      {"miRemoveDocs", w.miRemoveDocs}, {"miPrintList", w.miPrintList},
                                                      {"miSaveList", w.miSaveList},   {"miDisplayHelp", w.miDisplayHelp},
                                                      {"miAbout", w.miAbout}};
            return actions.at(menu)->text();
        };
        {
            frmMain w;
            QCOMPARE(caption(w), id ? Res(id) : withoutLibrary);
        }
        SetStringLibraryFolder(m_dir.path().toStdString() + "/no-such-folder");
        frmMain w;
        SetStringLibraryFolder("");
        QCOMPARE(caption(w), withoutLibrary);
        QCOMPARE(w.windowTitle(), QString("Resources not found"));
    }

    // -- start-up

    void startsWithoutDatabase() {
        frmMain w;
        QVERIFY(DatabaseMenusDisabled(w));
        QVERIFY(w.miOpen->isEnabled());
        QCOMPARE(w.State().m_nDamaged, -1L);
        QCOMPARE(w.State().m_nFixed, -1L);
        QCOMPARE(w.StatusBarPanel[0]->text(), Res(112) + "      ");
        QCOMPARE(w.StatusBarPanel[1]->text(), Formatted(113, {"--"}));
        QCOMPARE(w.StatusBarPanel[2]->text(), Formatted(114, {"--"}));
        QCOMPARE(w.StatusBarPanel[3]->text(), QString());
        QCOMPARE(w.lvDocuments->columnCount(), 4);
        QCOMPARE(w.lvDocuments->headerItem()->text(3), Res(18));
        QCOMPARE(w.lvPicbases->columnCount(), 2);
        QVERIFY(w.lvPicbases->headerItem()->textAlignment(1) & Qt::AlignRight);
    }

    void dataAccessCheck_data() {
        QTest::addColumn<bool>("engineWorks");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("refused");
        QTest::newRow("engine present") << true << QStringList{} << false;
        QTest::newRow("engine missing") << false << QStringList{} << true;
        QTest::newRow("missing, switch given") << false << QStringList{"-no_comp_check"} << false;
        QTest::newRow("switch inside another word") << false << QStringList{"x-no_comp_checky"} << false;
        QTest::newRow("switch in other case") << false << QStringList{"-NO_COMP_CHECK"} << true;
    }
    void dataAccessCheck() {
        QFETCH(bool, engineWorks);
        QFETCH(QStringList, arguments);
        QFETCH(bool, refused);
        BoxScript boxes;
        const auto previous = frmMain::SetDataAccessProbe([engineWorks] { return engineWorks; });
        frmMain w(arguments);
        frmMain::SetDataAccessProbe(previous);
        QCOMPARE(w.LoadRefused(), refused);
        QCOMPARE(boxes.boxes.size(), std::size_t(refused ? 1 : 0));
        if (refused) {
            QCOMPARE(QString::fromStdString(boxes.boxes[0].text), Res(122));
            QCOMPARE(QString::fromStdString(boxes.boxes[0].title), Res(123));
            QCOMPARE(boxes.boxes[0].icon, MsgIcon::Exclamation);
        }
    }

    void realEngineIsFound() { QVERIFY(!frmMain().LoadRefused()); }

    void firstActivationNoticeOnce() {
        BoxScript boxes;
        frmMain w;
        w.show();
        QTRY_COMPARE(boxes.boxes.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(boxes.boxes[0].text), Formatted(19, {}));
        QCOMPARE(QString::fromStdString(boxes.boxes[0].title), Res(1));
        QCOMPARE(boxes.boxes[0].icon, MsgIcon::Information);
        w.showMinimized();
        w.showNormal();
        w.hide();
        w.show();
        QTest::qWait(50);
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
    }

    void lastDatabaseOfferedAndDeclined() {
        const std::string archive = test::WriteArchive(m_dir.path(), "Declined.dat", 8);
        SetLastDatabase(QString::fromStdString(archive));
        BoxScript boxes;
        boxes.answers = {MsgAnswer::OK, MsgAnswer::No};
        frmMain w;
        w.show();
        QTRY_COMPARE(boxes.boxes.size(), std::size_t(2));
        QCOMPARE(QString::fromStdString(boxes.boxes[1].text), Res(128));
        QCOMPARE(boxes.boxes[1].buttons, MsgButtons::YesNo);
        QVERIFY(w.State().m_sDatabaseName.empty());
        QVERIFY(DatabaseMenusDisabled(w));

        DialogScript dialog;  // cancelled
        w.miOpen->trigger();
        QCOMPARE(dialog.seen.size(), std::size_t(1));
        QCOMPARE(dialog.seen[0].initialDir, m_dir.path());
    }

    void lastDatabaseOfferedAndAccepted() {
        const std::string archive = test::WriteArchive(m_dir.path(), "Accepted.dat", 8);
        SetLastDatabase(QString::fromStdString(archive));
        BoxScript boxes;
        boxes.answers = {MsgAnswer::OK, MsgAnswer::Yes};
        DialogScript dialog;
        frmMain w;
        w.show();
        QTRY_COMPARE(w.State().m_sDatabaseName, archive);
        QVERIFY(dialog.seen.empty());
        QVERIFY(DatabaseMenusEnabled(w));
    }

    void noOfferWithoutAnExistingFile_data() {
        QTest::addColumn<QString>("stored");
        QTest::newRow("no value") << QString();
        QTest::newRow("file gone") << m_dir.filePath("Gone.dat");
    }
    void noOfferWithoutAnExistingFile() {
        QFETCH(QString, stored);
        SetLastDatabase(stored);
        BoxScript boxes;
        frmMain w;
        w.show();
        QTRY_COMPARE(boxes.boxes.size(), std::size_t(1));
        QTest::qWait(50);
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
    }

    // -- opening

    void opensCurrentArchive() {
        const std::string archive = test::WriteArchive(m_dir.path(), "Kantoor.dat", 8, 2);
        BoxScript boxes;
        frmMain w;
        w.OpenDatabaseFile(archive);
        QCOMPARE(boxes.boxes.size(), std::size_t(0));
        QCOMPARE(w.State().m_sDatabaseName, archive);
        QCOMPARE(w.windowTitle(), Res(1) + " - [" + QString::fromStdString(archive) + "]");
        QCOMPARE(w.lvPicbases->RowCount(), 2);
        QVERIFY(DatabaseMenusEnabled(w));
        QVERIFY(!w.miDocumentInfo->isEnabled());
        QVERIFY(w.StatusBarPanel[0]->text().startsWith("Kantoor.dat"));
        QCOMPARE(w.StatusBarPanel[1]->text(), Formatted(113, {"--"}));
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    void opensThroughTheDialog() {
        const std::string archive = test::WriteArchive(m_dir.path(), "Dialoog.dat", 8, 1);
        BoxScript boxes;
        DialogScript dialog(QStringList{QString::fromStdString(archive)});
        frmMain w;
        w.miOpen->trigger();
        QCOMPARE(dialog.seen.size(), std::size_t(1));
        const DialogScript::Seen& seen = dialog.seen[0];
        QCOMPARE(seen.caption, Res(20));
        QCOMPARE(seen.initialDir, QString());
        QCOMPARE(seen.defaultExt, QString("dat"));
        QCOMPARE(seen.filter, QString("Vellumo Databases (*.dat)|*.dat"));
        QCOMPARE(seen.filterIndex, 1);
        QVERIFY(seen.hasParent);
        QCOMPARE(w.State().m_sDatabaseName, archive);

        // The next dialog starts in the folder of the archive just opened.
        dialog.choice.reset();
        w.miOpen->trigger();
        QCOMPARE(dialog.seen[1].initialDir, m_dir.path());
    }

    void cancelledDialogLeavesNoDatabase() {
        const std::string archive = test::WriteArchive(m_dir.path(), "Eerst.dat", 8, 1);
        BoxScript boxes;
        frmMain w;
        w.OpenDatabaseFile(archive);
        QCOMPARE(w.State().m_sDatabaseName, archive);
        QVERIFY(!Settings::Get().LogFileName.empty());
        w.ListAdd(ListId::Documents, Row("ID7", "doc"));

        DialogScript cancelled;
        w.miOpen->trigger();
        QVERIFY(w.State().m_sDatabaseName.empty());
        QVERIFY(Settings::Get().LogFileName.empty());
        QCOMPARE(w.windowTitle(), Res(1));
        QVERIFY(DatabaseMenusDisabled(w));
        QCOMPARE(w.lvDocuments->RowCount(), 0);
        QCOMPARE(w.StatusBarPanel[0]->text(), Res(112) + "      ");
        QCOMPARE(boxes.boxes.size(), std::size_t(0));
    }

    void refusesArchivesItCannotHandle_data() {
        QTest::addColumn<int>("generation");  // 0: not a database at all
        QTest::addColumn<int>("textId");
        QTest::addColumn<int>("titleId");
        QTest::newRow("generation 6") << 6 << 70 << 108;
        QTest::newRow("generation 5") << 5 << 70 << 108;
        QTest::newRow("generation 4") << 4 << 70 << 108;
        QTest::newRow("not a database") << 0 << 109 << 110;
    }
    void refusesArchivesItCannotHandle() {
        QFETCH(int, generation);
        QFETCH(int, textId);
        QFETCH(int, titleId);
        const QString name = QStringLiteral("Oud%1.dat").arg(generation);
        const std::string file = generation ? test::WriteArchive(m_dir.path(), name, generation)
                                            : test::WriteFile(m_dir.filePath(name), "geen database");
        QVERIFY(!file.empty());
        BoxScript boxes;
        DialogScript dialog(QStringList{QString::fromStdString(file)});
        frmMain w;
        w.miOpen->trigger();
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(boxes.boxes[0].text), Res(textId));
        QCOMPARE(QString::fromStdString(boxes.boxes[0].title), Res(titleId));
        QCOMPARE(boxes.boxes[0].icon, MsgIcon::Exclamation);
        QVERIFY(w.State().m_sDatabaseName.empty());
        QVERIFY(DatabaseMenusDisabled(w));
        QCOMPARE(w.windowTitle(), Res(1));
    }

    // -- lists

    void listRowsKeysTagsAndColour() {
        frmMain w;
        QVERIFY(w.ListAdd(ListId::Documents, Row("ID5", "vijf", true, 2048 + 8)));
        QVERIFY(!w.ListAdd(ListId::Documents, Row("ID5", "nogmaals")));
        QVERIFY(w.ListAdd(ListId::Documents, Row("", "zonder sleutel")));
        QVERIFY(w.ListAdd(ListId::Documents, Row("", "ook zonder")));
        QVERIFY(w.ListAdd(ListId::Picbases, Row("ID5", "zelfde sleutel, andere lijst")));
        QCOMPARE(w.ListCount(ListId::Documents), std::size_t(3));
        QCOMPARE(w.ListCount(ListId::Picbases), std::size_t(1));

        QTreeWidgetItem* red = w.lvDocuments->FindKey("ID5");
        QVERIFY(red);
        QCOMPARE(red->text(0), QString("vijf"));
        QCOMPARE(red->text(3), QString("beschadigd"));
        QCOMPARE(CReportList::Tag(red), std::int64_t(2056));
        for (int c = 0; c < 4; ++c) QCOMPARE(red->foreground(c).color(), QColor(Qt::red));
        QVERIFY(w.lvDocuments->Row(1)->foreground(0).color() != QColor(Qt::red));

        w.ListClear(ListId::Documents);
        QCOMPARE(w.ListCount(ListId::Documents), std::size_t(0));
        QVERIFY(w.ListAdd(ListId::Documents, Row("ID5", "weer")));  // the key is free again
    }

    void selectAllKey_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("selected");
        QTest::newRow("Ctrl+A") << "lvDocuments" << int(Qt::ControlModifier) << 3 << 3;
        QTest::newRow("Ctrl+A over the other list") << "lvPicbases" << int(Qt::ControlModifier) << 3 << 3;
        QTest::newRow("Ctrl+Shift+A") << "lvDocuments" << int(Qt::ControlModifier | Qt::ShiftModifier) << 3 << 0;
        QTest::newRow("Ctrl+Alt+A") << "lvDocuments" << int(Qt::ControlModifier | Qt::AltModifier) << 3 << 0;
        QTest::newRow("empty list") << "lvDocuments" << int(Qt::ControlModifier) << 0 << 0;
    }
    void selectAllKey() {
        QFETCH(QString, focus);
        QFETCH(int, modifiers);
        QFETCH(int, rows);
        QFETCH(int, selected);
        frmMain w;
        for (int i = 0; i < rows; ++i) w.ListAdd(ListId::Documents, Row("ID" + std::to_string(i + 1), "doc"));
        w.UpdateStatusBar();
        QWidget* target = focus == "lvDocuments" ? static_cast<QWidget*>(w.lvDocuments) : w.lvPicbases;
        QTest::keyClick(target, Qt::Key_A, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(w.lvDocuments->SelectedCount(), selected);
        QCOMPARE(w.StatusBarPanel[3]->text(), rows ? Formatted(115, {selected}) : QString());
    }

    void selectionDrivesTheDocumentMenu() {
        frmMain w;
        w.ListAdd(ListId::Documents, Row("ID3", "met sleutel"));
        w.ListAdd(ListId::Documents, Row("", "zonder sleutel"));

        w.lvDocuments->setCurrentItem(w.lvDocuments->Row(0));
        QVERIFY(w.miDocumentInfo->isEnabled());
        QVERIFY(w.miRemoveDocs->isEnabled());

        w.lvDocuments->setCurrentItem(w.lvDocuments->Row(1));
        QVERIFY(w.miDocumentInfo->isEnabled());
        QVERIFY(!w.miRemoveDocs->isEnabled());

        w.lvDocuments->clearSelection();
        QVERIFY(!w.miDocumentInfo->isEnabled());
        QVERIFY(!w.miRemoveDocs->isEnabled());

        // Opening the menu with two rows selected: no information on "both".
        w.lvDocuments->selectAll();
        QVERIFY(w.miDocumentInfo->isEnabled());
        emit w.miDocuments->aboutToShow();
        QVERIFY(!w.miDocumentInfo->isEnabled());
    }

    // -- the windows the database logic drives

    void progressCancelHides() {
        frmMain w;
        ProgressView view;
        view.caption = "voortgang";
        view.cancelText = "Annuleren";
        w.ProgressShow(view);
        QVERIFY(w.ProgressVisible());
        auto* cancel = w.findChild<QPushButton*>();
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QString("Annuleren"));
        cancel->click();
        QVERIFY(!w.ProgressVisible());
    }

    // The lists stay at least 175 twips high, however far the splitter goes.
    void splitterKeepsBothListsVisible() {
        BoxScript boxes;
        frmMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QList<int> initial = w.imgSplitter->sizes();
        QVERIFY(qAbs(initial[0] - w.height() * 3 / 10) <= 20);
        const int minimum = 175 / 15;
        w.imgSplitter->setSizes({0, initial[0] + initial[1]});
        QVERIFY(w.imgSplitter->sizes()[0] >= minimum);
        w.imgSplitter->setSizes({initial[0] + initial[1], 0});
        QVERIFY(w.imgSplitter->sizes()[1] >= minimum);
    }

    // While a check runs the window is disabled, but Cancel must stay live,
    // and the window cannot be closed under the running check.
    void disabledWindowKeepsCancelLive() {
        BoxScript boxes;
        frmMain w;
        w.show();
        ProgressView view;
        w.ProgressShow(view);
        w.SetEnabled(false);
        QVERIFY(!w.menuBar()->isEnabled());
        auto* cancel = w.findChild<QPushButton*>();
        QVERIFY(cancel->isEnabled());
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        cancel->click();
        QVERIFY(!w.ProgressVisible());
        w.SetEnabled(true);
        QVERIFY(w.close());
    }

    // A check from the menu: its findings fill the list and the counters,
    // and the window is usable again afterwards.
    void normalCheckFromTheMenu() {
        const std::string archive = test::WriteArchive(m_dir.path(), "Controle.dat", 8, 2);
        {
            sql::Error err;
            sql::Database pdb = sql::Database::open(SubDatabaseName(archive, 1),
                                                    engine::PasswordBytes(PasswordForGeneration(8)),
                                                    sql::OpenMode::ReadWrite, err);
            QVERIFY(pdb.exec("DELETE FROM PICTURES"));
        }
        BoxScript boxes;
        frmMain w;
        w.OpenDatabaseFile(archive);
        w.miCheckSub[1]->trigger();
        QCOMPARE(w.lvDocuments->RowCount(), 1);
        QCOMPARE(w.StatusBarPanel[1]->text(), Formatted(113, {1}));
        QCOMPARE(w.StatusBarPanel[2]->text(), Formatted(114, {0}));
        QVERIFY(w.menuBar()->isEnabled());
        QVERIFY(!w.ProgressVisible());
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QCOMPARE(w.lvPicbases->RowCount(), 2);
    }
};

int main(int argc, char** argv) {
    // The product's settings are read from the user's configuration folder;
    // the tests write their own into a private one before anything reads it.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    tst_frmMain test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frmMain.moc"
