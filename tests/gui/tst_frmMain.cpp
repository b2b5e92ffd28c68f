// The main window: start-up, the last archive, opening and refusing archives,
// lists, selection and checks from the menu, with scripted boxes and dialogs.
#include "GuiTestSupport.h"
#include "database/access/Schema.h"
#include "support/engine/Connection.h"
#include "windows/frmProgress.h"
#include "shell/ReportList.h"
#include "shell/frmMain.h"
#include "support/FileOperations.h"
#include "support/HumanFormat.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/TestUtil.h"

#include <QtTest>
#include <QtWidgets>

#include <fstream>

#include <unistd.h>

using namespace qx;
using qx::test::BoxScript;
using qx::test::DialogScript;

namespace {

QString Res(long id) { return QString::fromStdString(GetResString(id, "")); }
QString Formatted(long id, std::initializer_list<Variant> args) {
    return QString::fromStdString(FormatMsg(GetResString(id, ""), args));
}
QString Box(const QString& text, const QString& title, MsgIcon icon) {
    return text + " | " + title + " | " + QString::number(int(icon));
}
QStringList Shown(const BoxScript& script) {
    QStringList out;
    for (const MessageBoxRequest& b : script.boxes)
        out << Box(QString::fromStdString(b.text), QString::fromStdString(b.title), b.icon);
    return out;
}

void SetLastDatabase(const QString& path) {
    QSettings product(QSettings::NativeFormat, QSettings::UserScope, "Tarnwick", "Vellumo 8");
    path.isEmpty() ? product.remove("Database") : product.setValue("Database", path);
    product.sync();
}

// How many of the menus that need an archive are enabled (all 3 or none).
int DatabaseMenus(const frmMain& w) {
    return w.miDocuments->menuAction()->isEnabled() + w.miAnalyse->menuAction()->isEnabled() +
           w.miReorganize->isEnabled();
}

ListRow Row(const std::string& key, bool red = false, std::int64_t tag = 0) {
    return ListRow{key, "doc", {"/Map", "Kantoor_1.pdb", "beschadigd"}, tag, red};
}

// An archive of `documents` documents none of which has its data row: the
// normal check lists every one of them.
SampleManifest ArchiveWithoutData(const QString& dir, long documents) {
    SampleManifest m;
    std::string error;
    if (!WriteSampleArchive({.directory = dir.toStdString(), .documents = documents, .documentSize = 64, .faults = {}},
                            m, error))
        qFatal("%s", error.c_str());
    for (const SampleSubDatabase& s : m.subDatabases) {
        engine::Connection cn(qx::RealEnv());
        if (!cn.open(CDatabase::ConnectString(s.path, PasswordForGeneration(8))) || !cn.database().exec("DELETE FROM PICTURES")) qFatal("could not empty %s", s.path.c_str());
    }
    return m;
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

    // Without a working engine the window refuses to load, unless told not to check.
    void dataAccessCheck_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("refused");
        QTest::newRow("no switch") << QStringList{} << true;
        QTest::newRow("switch given") << QStringList{"-no_comp_check"} << false;
        QTest::newRow("switch inside another word") << QStringList{"x-no_comp_checky"} << false;
        QTest::newRow("switch in other case") << QStringList{"-NO_COMP_CHECK"} << true;
    }
    void dataAccessCheck() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, refused);
        BoxScript boxes;
        const auto previous = frmMain::SetDataAccessProbe([] { return false; });
        frmMain w(arguments);
        frmMain::SetDataAccessProbe(previous);
        QCOMPARE(w.LoadRefused(), refused);
        QCOMPARE(Shown(boxes), refused ? QStringList{Box(Res(122), Res(123), MsgIcon::Exclamation)} : QStringList{});
    }

    // The first-activation notice comes once; then the last archive is offered
    // if it exists. Declined, only its folder is kept for the open dialog.
    void firstActivationAndLastDatabase_data() {
        QTest::addColumn<QString>("stored");  // "archive": a real one
        QTest::addColumn<MsgAnswer>("answer");
        QTest::newRow("declined") << "archive" << MsgAnswer::No;
        QTest::newRow("accepted") << "archive" << MsgAnswer::Yes;
        QTest::newRow("nothing stored") << "" << MsgAnswer::OK;
        QTest::newRow("file gone") << m_dir.filePath("Gone.dat") << MsgAnswer::OK;
    }
    void firstActivationAndLastDatabase() {
        QFETCH(QString, stored);
        QFETCH(MsgAnswer, answer);
        const bool real = stored == "archive";
        const std::string archive =
            real ? test::WriteArchive(m_dir.path(), QTest::currentDataTag(), 8).mainDatabase : "";
        SetLastDatabase(real ? QString::fromStdString(archive) : stored);
        BoxScript boxes;
        boxes.answers = {MsgAnswer::OK, answer};
        DialogScript dialog;  // cancelled
        frmMain w;
        w.show();
        QTRY_COMPARE(boxes.boxes.size(), std::size_t(real ? 2 : 1));
        w.showMinimized();
        w.showNormal();
        w.hide();
        w.show();
        QTest::qWait(50);
        QStringList expectedBoxes{Box(Formatted(19, {}), Res(1), MsgIcon::Information)};
        if (real) expectedBoxes << Box(Res(128), Res(1), MsgIcon::None);
        QCOMPARE(Shown(boxes), expectedBoxes);
        if (real) QCOMPARE(boxes.boxes[1].buttons, MsgButtons::YesNo);
        const bool opened = answer == MsgAnswer::Yes;
        QCOMPARE(w.State().m_sDatabaseName, opened ? archive : std::string());
        QCOMPARE(DatabaseMenus(w), opened ? 3 : 0);
        if (!opened) QCOMPARE(w.StatusBarPanel[0]->text(), Res(112) + "      ");
        QCOMPARE(w.StatusBarPanel[1]->text(), Formatted(113, {"--"}));
        QCOMPARE(w.StatusBarPanel[2]->text(), Formatted(114, {"--"}));
        w.miOpen->trigger();
        QCOMPARE(dialog.seen.size(), std::size_t(1));  // none before
        QCOMPARE(dialog.seen[0].initialDir, real ? m_dir.path() : QString());
    }

    // With an archive open, the open dialog gives it up whatever follows.
    void openThroughTheDialog_data() {
        QTest::addColumn<int>("generation");  // 0: not a database, -1: cancelled
        QTest::addColumn<int>("textId");      // of the refusal; 0: none
        QTest::addColumn<int>("titleId");
        QTest::newRow("generation 8") << 8 << 0 << 0;
        QTest::newRow("generation 6") << 6 << 70 << 108;
        QTest::newRow("not a database") << 0 << 109 << 110;
        QTest::newRow("cancelled") << -1 << 0 << 0;
    }
    void openThroughTheDialog() {
        QFETCH(int, generation);
        QFETCH(int, textId);
        QFETCH(int, titleId);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
        const std::string first = test::WriteArchive(m_dir.path(), "Eerst_" + tag, 8).mainDatabase;
        BoxScript boxes;
        frmMain w;
        w.OpenDatabaseFile(first);
        QCOMPARE(w.lvPicbases->RowCount(), 2);
        QVERIFY(!Settings::Get().LogFileName.empty());
        w.ListAdd(ListId::Documents, Row("ID7"));

        std::string file;
        if (generation > 0) file = test::WriteArchive(m_dir.path(), tag, generation).mainDatabase;
        if (generation == 0) std::ofstream(file = m_dir.filePath(tag + ".dat").toStdString()) << "geen database";
        DialogScript dialog(file.empty() ? std::nullopt : std::optional(QStringList{QString::fromStdString(file)}));
        w.miOpen->trigger();
        const DialogScript::Seen& seen = dialog.seen.at(0);
        QCOMPARE((QStringList{seen.caption, seen.initialDir, seen.defaultExt, seen.filter}),
                 (QStringList{Res(20), m_dir.path(), "dat", "Vellumo Databases (*.dat)|*.dat"}));
        QVERIFY(seen.filterIndex == 1 && seen.hasParent && !seen.save);

        const bool opens = generation == 8;
        const QStringList refusal{Box(Res(textId), Res(titleId), MsgIcon::Exclamation)};
        QCOMPARE(Shown(boxes), textId ? refusal : QStringList{});
        QCOMPARE(w.State().m_sDatabaseName, opens ? file : std::string());
        QCOMPARE(Settings::Get().LogFileName.empty(), !opens);
        if (!textId)  // a refusal leaves the title as it was
            QCOMPARE(w.windowTitle(), opens ? Res(1) + " - [" + QString::fromStdString(file) + "]" : Res(1));
        QCOMPARE(DatabaseMenus(w), opens ? 3 : 0);
        QCOMPARE(w.lvDocuments->RowCount(), 0);
        if (generation < 0) QCOMPARE(w.StatusBarPanel[0]->text(), Res(112) + "      ");
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    // Every reason an archive is not opened is one box that says what to do,
    // each time the user tries: a box met before in the session is shown
    // again (before, a second try did nothing at all).
    void openFailuresAreSaidEveryTime_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("textId");
        QTest::addColumn<int>("titleId");
        QTest::newRow("read-only folder") << "read-only" << 270 << 273;
        QTest::newRow("not an archive") << "no archive" << 109 << 110;
        QTest::newRow("held by another process") << "held" << 211 << 201;
    }
    void openFailuresAreSaidEveryTime() {
        QFETCH(QString, kind);
        QFETCH(int, textId);
        QFETCH(int, titleId);
        const QString folder = m_dir.filePath(kind);
        QDir().mkpath(folder);
        std::string file = test::WriteArchive(folder, "Archief", 8).mainDatabase;
        QVERIFY(!file.empty());
        const std::string quoted = "'" + folder.toStdString() + "'";
        bool frozen = false;
        sql::Database holder;
        const int busyWait = sql::BusyTimeout();
        if (kind == "read-only") {
            // Root writes wherever the permissions say no; only an immutable folder stops it.
            frozen = ::geteuid() == 0 ? std::system(("chattr +i " + quoted + "/* " + quoted + " 2>/dev/null").c_str()) == 0
                                      : std::system(("chmod a-w " + quoted + "/* " + quoted).c_str()) == 0;
            if (!frozen) QSKIP("the folder cannot be made read-only here");
        } else if (kind == "no archive") {
            std::ofstream(file, std::ios::trunc) << std::string(8192, 'x');
        } else {
            sql::SetBusyTimeout(200);
            sql::Error err;
            holder = sql::Database::open(RealEnv(), file, engine::PasswordBytes(PasswordForGeneration(8)),
                                         sql::OpenMode::ReadWrite, err);
            QVERIFY2(holder.exec("BEGIN EXCLUSIVE; UPDATE FOLDERS SET NAME = NAME;", &err), err.message.c_str());
        }
        BoxScript boxes;
        {
            frmMain w;
            w.OpenDatabaseFile(file);
            w.OpenDatabaseFile(file);
            QCOMPARE(w.State().m_sDatabaseName, std::string());
            QCOMPARE(DatabaseMenus(w), 0);
        }
        if (frozen && ::geteuid() == 0) (void)!std::system(("chattr -i " + quoted + " " + quoted + "/*").c_str());
        if (frozen && ::geteuid() != 0) (void)!std::system(("chmod u+w " + quoted + " " + quoted + "/*").c_str());
        if (holder.isOpen()) holder.exec("ROLLBACK");
        sql::SetBusyTimeout(busyWait);
        const QString text = textId == 270 ? Formatted(270, {file, GetResString(271, ""), folder.toStdString()})
                                           : textId == 211 ? Formatted(211, {file}) : Res(textId);
        const QString once = Box(text, Res(titleId), MsgIcon::Exclamation);
        QCOMPARE(Shown(boxes), (QStringList{once, once}));
    }

    // An archive with a damaged OCR database and a missing sub database
    // opens with one box that lists both, the engine's words in its
    // details, instead of a chain of boxes.
    void problemsWhileOpeningAreOneList() {
        const SampleManifest sample =
            test::WriteArchive(m_dir.filePath("Lijst"), "Lijst", 8, {"omd-damaged", "sub-database-file-missing"});
        QVERIFY(!sample.mainDatabase.empty());
        BoxScript boxes;
        frmMain w;
        w.OpenDatabaseFile(sample.mainDatabase);
        QCOMPARE(w.State().m_sDatabaseName, sample.mainDatabase);
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        const MessageBoxRequest& box = boxes.boxes[0];
        QCOMPARE(QString::fromStdString(box.title), Res(342));
        QCOMPARE(box.icon, MsgIcon::Exclamation);
        QCOMPARE(box.buttons, MsgButtons::OK);
        const QString text = QString::fromStdString(box.text);
        QVERIFY2(text.startsWith(Formatted(343, {sample.mainDatabase})), qPrintable(text));
        const std::string omd = sample.mainDatabase.substr(0, sample.mainDatabase.size() - 4) + ".omd";
        const QString ocr = Formatted(118, {omd}).replace("\r\n\r\n", " ");
        const QString missing = Res(80).left(Res(80).indexOf('%'));
        QCOMPARE(text.count(QString::fromUtf8("\n\u2022 ")), text.count(QString::fromUtf8("\u2022")));
        QVERIFY2(text.contains(QString::fromUtf8("\u2022 ") + ocr), qPrintable(text));
        QVERIFY2(text.contains(QString::fromUtf8("\u2022 ") + missing), qPrintable(text));
        QVERIFY2(!text.contains("(26)"), qPrintable(text));
        QVERIFY2(QString::fromStdString(box.details).contains("Unrecognized database format"),
                 box.details.c_str());
    }

    // While an open gathers its notices, a question is still asked when it
    // comes; the notices follow in one box when the open ends, and a single
    // notice is shown as it is.
    void gatheringAsksQuestionsAtOnce() {
        BoxScript boxes;
        boxes.answers = {MsgAnswer::Yes};
        {
            MessageBoxGathering gathering(nullptr, "/a/Archief.dat");
            QCOMPARE(ShowMessageBox(nullptr, "eerst", MsgButtons::OK, MsgIcon::Information, "t"), MsgAnswer::OK);
            QCOMPARE(ShowMessageBox(nullptr, "vraag?", MsgButtons::YesNo, MsgIcon::Question, "t"), MsgAnswer::Yes);
            QCOMPARE(Shown(boxes), QStringList{Box("vraag?", "t", MsgIcon::Question)});
        }
        QCOMPARE(Shown(boxes), (QStringList{Box("vraag?", "t", MsgIcon::Question), Box("eerst", "t", MsgIcon::Information)}));
    }

    // Keys are unique per list; removing needs a key; information is not
    // given on two rows at once.
    void listRowsAndTheDocumentMenu() {
        frmMain w;
        QVERIFY(w.ListAdd(ListId::Documents, Row("ID5", true, 2056)));
        QVERIFY(!w.ListAdd(ListId::Documents, Row("ID5")));
        QVERIFY(w.ListAdd(ListId::Documents, Row("")));
        QVERIFY(w.ListAdd(ListId::Documents, Row("")));
        QVERIFY(w.ListAdd(ListId::Picbases, Row("ID5")));
        QCOMPARE(w.ListCount(ListId::Documents), std::size_t(3));
        QTreeWidgetItem* red = w.lvDocuments->FindKey("ID5");
        QVERIFY(red && CReportList::Tag(red) == 2056);
        for (int c = 0; c < 4; ++c) QCOMPARE(red->foreground(c).color(), QColor(Qt::red));
        QVERIFY(w.lvDocuments->Row(1)->foreground(0).color() != QColor(Qt::red));
        auto menu = [&](QTreeWidgetItem* row) {
            row ? w.lvDocuments->setCurrentItem(row) : w.lvDocuments->clearSelection();
            return std::pair(w.miDocumentInfo->isEnabled(), w.miRemoveDocs->isEnabled());
        };
        QCOMPARE(menu(red), std::pair(true, true));
        QCOMPARE(menu(w.lvDocuments->Row(1)), std::pair(true, false));
        QCOMPARE(menu(nullptr), std::pair(false, false));
        w.lvDocuments->selectAll();
        emit w.miDocuments->aboutToShow();
        QVERIFY(!w.miDocumentInfo->isEnabled());
        w.ListClear(ListId::Documents);
        QVERIFY(w.ListAdd(ListId::Documents, Row("ID5")));  // the key is free again
    }

    void selectAllKey_data() {
        QTest::addColumn<bool>("onPicbases");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<int>("selected");
        QTest::newRow("Ctrl+A") << false << Qt::KeyboardModifiers(Qt::ControlModifier) << 3;
        QTest::newRow("Ctrl+A over the other list") << true << Qt::KeyboardModifiers(Qt::ControlModifier) << 3;
        QTest::newRow("Ctrl+Shift+A") << false << (Qt::ControlModifier | Qt::ShiftModifier) << 0;
    }
    void selectAllKey() {
        QFETCH(bool, onPicbases);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(int, selected);
        frmMain w;
        for (int i = 1; i <= 3; ++i) w.ListAdd(ListId::Documents, Row("ID" + std::to_string(i)));
        w.UpdateStatusBar();
        QTest::keyClick(onPicbases ? static_cast<QWidget*>(w.lvPicbases) : w.lvDocuments, Qt::Key_A, modifiers);
        QCOMPARE(w.lvDocuments->SelectedCount(), selected);
        QCOMPARE(w.StatusBarPanel[3]->text(), Formatted(115, {selected}));
    }

    // While a check runs the window is disabled, but Cancel must stay live,
    // and the window cannot be closed under the running check.
    void disabledWindowKeepsCancelLive() {
        BoxScript boxes;
        frmMain w;
        w.show();
        ProgressView view;
        view.cancelText = "Annuleren";
        w.ProgressShow(view);
        w.SetEnabled(false);
        QVERIFY(!w.menuBar()->isEnabled());
        auto* cancel = w.findChild<QPushButton*>();
        QVERIFY(cancel && cancel->isEnabled());
        QCOMPARE(cancel->text(), QString("Annuleren"));
        QVERIFY(!w.close());
        cancel->click();
        QVERIFY(!w.ProgressVisible());
        w.SetEnabled(true);
        QVERIFY(w.close());
    }

    // A check that finds thousands of damaged documents lists every one,
    // counts them in the status bar and ends with the last row in view.
    void manyRowsFillTheList() {
        const long documents = 3000;
        const SampleManifest sample = ArchiveWithoutData(m_dir.filePath("Veel"), documents);
        BoxScript boxes;
        frmMain w;
        w.show();
        w.OpenDatabaseFile(sample.mainDatabase);
        w.miCheckSub[1]->trigger();
        // Every document row, pages included, has lost its data.
        const int rows = int(sample.documentRows);
        QCOMPARE(w.lvDocuments->RowCount(), rows);
        // Counts and sizes grouped the Dutch way, whatever the system's locale.
        QCOMPARE(w.StatusBarPanel[1]->text(), Formatted(113, {FormatCount(rows)}));
        QVERIFY(w.StatusBarPanel[1]->text().contains(QRegularExpression("\\d\\.\\d{3}$")));
        QCOMPARE(w.StatusBarPanel[0]->text(),
                 Formatted(111, {GetFileNamePart(sample.mainDatabase), FormatCount(w.State().m_nDBSizeMB),
                                 FormatCount(w.State().m_nItemCount)}) + "      ");
        QVERIFY(w.State().m_nItemCount >= 1000 && !w.StatusBarPanel[0]->text().contains("items"));
        w.lvDocuments->selectAll();
        QCOMPARE(w.StatusBarPanel[3]->text(), Formatted(115, {FormatCount(rows)}));
        for (int r = 0; r < w.lvPicbases->RowCount(); ++r) {
            const QString size = w.lvPicbases->Row(r)->text(1);
            const qint64 bytes = QFileInfo(w.lvPicbases->Row(r)->text(0)).size();
            QCOMPARE(size, QString::fromStdString(FormatCount(bytes / 1024)) + "KB");
            QVERIFY2(bytes < 1024 * 1024 || size.contains('.'), qPrintable(size));
        }
        QVERIFY(!w.State().m_bListPartial);
        QCoreApplication::processEvents();
        const QRect last = w.lvDocuments->visualItemRect(w.lvDocuments->Row(rows - 1));
        QVERIFY(w.lvDocuments->viewport()->rect().intersects(last));
    }

    // Cancel pressed while the check walks the documents stops the walk:
    // the list holds only what was found until then, and says so.
    void cancelDuringTheCheckStopsIt() {
        const long documents = 5000;
        const SampleManifest sample = ArchiveWithoutData(m_dir.filePath("Afbreken"), documents);
        BoxScript boxes;
        frmMain w;
        w.show();
        w.OpenDatabaseFile(sample.mainDatabase);
        int rowsAtCancel = -1;
        QTimer press;
        press.setInterval(0);
        connect(&press, &QTimer::timeout, this, [&] {
            // The counters show findings as they come; the list gets them at the end of the walk.
            if (!w.ProgressVisible() || w.State().m_nDamaged <= 0) return;
            rowsAtCancel = static_cast<int>(w.State().m_nDamaged);
            press.stop();
            w.findChild<frmProgress*>()->cmdCancel->click();
        });
        press.start();
        w.miCheckSub[1]->trigger();
        press.stop();
        QVERIFY(rowsAtCancel > 0);
        QVERIFY(w.lvDocuments->RowCount() > 0);  // what was found before the cancel is listed
        QVERIFY2(w.lvDocuments->RowCount() < documents, qPrintable(QString::number(w.lvDocuments->RowCount())));
        QVERIFY(w.State().m_bListPartial);
        QVERIFY(!w.State().m_bAnalysed);
        QVERIFY(!w.ProgressVisible());
        QVERIFY(w.menuBar()->isEnabled());
    }

    // "Alleen rapporteren" chosen before the archive is opened: the open and
    // the check list what they would repair, the window says the mode is on
    // and never calls anything repaired, and the archive folder stays as it
    // was. Switched off, the archive is opened again for real and the next
    // check repairs.
    void reportOnlyHoldsForTheWholeRun() {
        const SampleManifest sample = test::WriteArchive(m_dir.path(), "Rapport", 8, {"data-in-other-sub-database"});
        BoxScript boxes;
        frmMain w;
        const auto folder = [&] {
            QStringList entries;
            const QDir dir(QFileInfo(QString::fromStdString(sample.mainDatabase)).path());
            entries << QString::number(QFileInfo(dir.path()).lastModified().toMSecsSinceEpoch());
            for (const QFileInfo& f : dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name)) {
                QFile file(f.filePath());
                file.open(QIODevice::ReadOnly);
                entries << f.fileName() + " " + QString::number(f.lastModified().toMSecsSinceEpoch()) + " " +
                               QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
            }
            return entries;
        };
        const QStringList before = folder();
        QVERIFY(w.miReportOnly->isEnabled());
        w.miReportOnly->setChecked(true);
        QVERIFY(w.windowTitle().contains(Res(219)));
        QVERIFY(w.StatusBarPanel[3]->text().contains(Res(275)));
        w.OpenDatabaseFile(sample.mainDatabase);
        QVERIFY(w.Database().DryRun());
        QVERIFY(!w.State().m_sDatabaseName.empty());
        QVERIFY(w.windowTitle().contains(Res(219)));
        w.miCheckSub[1]->trigger();
        const int moved = int(sample.faultIds.at("data-in-other-sub-database").size());
        QCOMPARE(w.lvDocuments->RowCount(), moved);
        QCOMPARE(w.StatusBarPanel[2]->text(), Formatted(274, {moved}));
        QVERIFY(!w.StatusBarPanel[2]->text().startsWith(Formatted(114, {moved})));
        QCOMPARE(folder(), before);

        w.miReportOnly->setChecked(false);
        QVERIFY(!w.Database().DryRun());
        QVERIFY(!w.windowTitle().contains(Res(219)));
        QVERIFY(!w.State().m_sDatabaseName.empty());
        w.miCheckSub[1]->trigger();
        QCOMPARE(w.lvDocuments->RowCount(), moved);
        QVERIFY(folder() != before);
        // The counters follow the list, and the window is free again.
        QCOMPARE(w.StatusBarPanel[1]->text(), Formatted(113, {0}));
        QCOMPARE(w.StatusBarPanel[2]->text(), Formatted(114, {moved}));
        QVERIFY(w.menuBar()->isEnabled());
        QVERIFY(!w.ProgressVisible());
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    // A notice met again and again is shown once in a run of the program:
    // once while opening, not again when a check meets it; each time it is
    // held back the log counts it.
    void repeatedNoticeOncePerRun() {
        const SampleManifest sample =
            test::WriteArchive(m_dir.path(), "Ontbrekend", 8, {"sub-database-file-missing"});
        BoxScript boxes;
        frmMain w;
        w.OpenDatabaseFile(sample.mainDatabase);
        const QStringList opening = Shown(boxes);
        QVERIFY(!opening.isEmpty());
        QCOMPARE(QStringList(opening).size(), int(QSet<QString>(opening.begin(), opening.end()).size()));
        w.miCheckSub[1]->trigger();
        w.miCheckSub[1]->trigger();
        const QStringList checking = Shown(boxes).mid(opening.size());
        QCOMPARE(checking.size(), int(QSet<QString>(checking.begin(), checking.end()).size()));
        const QString missing = Res(80).left(Res(80).indexOf('%'));
        QCOMPARE(opening.filter(missing).size(), 1);
        QCOMPARE(checking.filter(missing).size(), 0);
        const std::string log = test::Slurp(Settings::Get().LogFileName);
        QVERIFY2(log.find("Notice met again (") != std::string::npos, log.c_str());
        // Outside a command every box is shown.
        w.MsgBox("twee keer", MsgButtons::OK, MsgIcon::Information, "t");
        w.MsgBox("twee keer", MsgButtons::OK, MsgIcon::Information, "t");
        QCOMPARE(Shown(boxes).count(Box("twee keer", "t", MsgIcon::Information)), 2);
    }
};

int main(int argc, char** argv) {
    // The product's settings go into a private configuration folder.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    tst_frmMain test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frmMain.moc"
