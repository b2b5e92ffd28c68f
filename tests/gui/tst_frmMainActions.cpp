// The actions on the damaged-document list and the Help menu, each through
// its menu item and its shortcut, on generated archives read back after.
#include "GuiTestSupport.h"
#include "database/DocumentActions.h"
#include "shell/DutchQtTexts.h"
#include "shell/ReportList.h"
#include "shell/Screenshot.h"
#include "shell/frmMain.h"
#include "support/Failpoint.h"
#include "support/FileOperations.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/TestUtil.h"
#include "windows/Associated.h"
#include "windows/frmAbout.h"
#include "windows/frmInformation.h"

#include <QtTest>
#include <QtWidgets>
#include <QPrinter>

#include <set>

using namespace qx;
using qx::test::BoxScript;
using qx::test::DialogScript;

namespace {

QString Res(long id) { return QString::fromStdString(GetResString(id, "")); }

using qx::test::Occurrences;

// Every box shown, as "text | title | icon | buttons", to compare at once.
QStringList Shown(const BoxScript& script) {
    QStringList out;
    for (const MessageBoxRequest& b : script.boxes)
        out << QString("%1 | %2 | %3 | %4").arg(QString::fromStdString(b.text), QString::fromStdString(b.title))
                   .arg(int(b.icon)).arg(int(b.buttons));
    return out;
}
// The default button of every box shown.
QList<int> Defaults(const BoxScript& script) {
    QList<int> out;
    for (const MessageBoxRequest& b : script.boxes) out << int(b.defaultAnswer);
    return out;
}
QString Box(const std::string& text, long title, MsgIcon icon, MsgButtons buttons = MsgButtons::OK) {
    return QString("%1 | %2 | %3 | %4").arg(QString::fromStdString(text), Res(title)).arg(int(icon)).arg(int(buttons));
}

// How an action is started: its menu item, or its key on the list.
enum class Via { Menu, Key };

// A window with a six-document archive open and one list row per document
// (row i is the i-th document by number).
struct OpenWindow {
    SampleManifest sample;
    frmMain w;
    std::vector<long> ids;

    explicit OpenWindow(const QString& dir, const QString& name) {
        std::string error;
        WriteSampleArchive({.directory = dir.toStdString(), .name = name.toStdString(), .documents = 6, .folders = 1,
                            .subDatabases = 2, .documentSize = 512, .faults = {}},
                           sample, error);
        w.OpenDatabaseFile(sample.mainDatabase);
        for (const auto& [id, data] : test::TakeSnapshot(sample.mainDatabase).documents) ids.push_back(id);
        if (ids.size() > 6) ids.resize(6);
        // The first activation (its notice) is over before a test begins.
        w.show();
        QApplication::setActiveWindow(&w);
        if (!QTest::qWaitForWindowActive(&w)) qWarning("the window did not become active");
        QTest::qWait(20);
    }
    void AddRows(const std::vector<std::int64_t>& tags = {}) {
        for (size_t i = 0; i < ids.size(); ++i) {
            const std::string id = std::to_string(ids[i]);
            w.ListAdd(ListId::Documents, ListRow{"ID" + id, "Doc" + id, {"\\Map\\", "Kantoor_1.pdb", "Beschadigd"},
                                                 i < tags.size() ? tags[i] : 0, true});
        }
    }
    void Select(const std::vector<int>& rows) {
        w.lvDocuments->clearSelection();
        for (int r : rows) w.lvDocuments->Row(r)->setSelected(true);
        if (!rows.empty()) w.lvDocuments->setCurrentItem(w.lvDocuments->Row(rows.front()), 0,
                                                         QItemSelectionModel::NoUpdate);
    }
    QStringList Keys() const {
        QStringList keys;
        for (int i = 0; i < w.lvDocuments->RowCount(); ++i) keys << CReportList::Key(w.lvDocuments->Row(i));
        return keys;
    }
    void Trigger(QAction* action, Via via, QKeySequence key) {
        if (via == Via::Menu && action) {
            action->trigger();
            return;
        }
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.lvDocuments->setFocus();
        QTest::keySequence(w.lvDocuments, key);
    }
};

}  // namespace

Q_DECLARE_METATYPE(Via)

class tst_frmMainActions : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_archive = 0;
    QString NextName() { return QStringLiteral("Archief%1").arg(++m_archive); }

private slots:
    void init() { Settings::Reset(); }

    // Removal: the rows selected at the start go (with their records and
    // data rows), nothing else; repaired rows ask their own question.
    void remove_data() {
        QTest::addColumn<Via>("via");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QList<int>>("repaired");  // rows tagged repairedTag
        QTest::addColumn<int>("repairedTag");
        QTest::addColumn<QList<int>>("answers");   // MsgAnswer per box
        QTest::addColumn<QList<int>>("removed");   // rows expected to go
        QTest::addColumn<QList<int>>("boxIds");    // text of each box
        QTest::addColumn<int>("selectedAfter");    // row selected after; -1 none
        const int Y = int(MsgAnswer::Yes), N = int(MsgAnswer::No);
        QTest::newRow("one row") << Via::Menu << QList<int>{1} << QList<int>{} << 2056 << QList<int>{Y} << QList<int>{1}
                                 << QList<int>{24} << 1;
        QTest::newRow("three of six") << Via::Menu << QList<int>{0, 2, 4} << QList<int>{} << 2056 << QList<int>{Y}
                                      << QList<int>{0, 2, 4} << QList<int>{315} << -1;
        QTest::newRow("the last row") << Via::Menu << QList<int>{5} << QList<int>{} << 2056 << QList<int>{Y} << QList<int>{5}
                                      << QList<int>{24} << -1;
        QTest::newRow("one repaired row") << Via::Menu << QList<int>{2} << QList<int>{2} << 2056 << QList<int>{Y}
                                          << QList<int>{2} << QList<int>{117} << 2;
        QTest::newRow("one row, refused") << Via::Menu << QList<int>{2} << QList<int>{} << 2056 << QList<int>{N}
                                          << QList<int>{} << QList<int>{24} << 2;
        QTest::newRow("a repaired row kept among three")
            << Via::Key << QList<int>{0, 1, 3} << QList<int>{1} << 2056 << QList<int>{Y, N} << QList<int>{0, 3}
            << QList<int>{315, 116} << 0;  // the row kept stays selected
        // Moved to the root, where it is reachable again: repaired, as the counters say.
        QTest::newRow("one row moved to the root") << Via::Menu << QList<int>{2} << QList<int>{2} << 256
                                                   << QList<int>{Y} << QList<int>{2} << QList<int>{117} << 2;
    }
    void remove() {
        QFETCH(Via, via);
        QFETCH(QList<int>, selected);
        QFETCH(QList<int>, repaired);
        QFETCH(int, repairedTag);
        QFETCH(QList<int>, answers);
        QFETCH(QList<int>, removed);
        QFETCH(QList<int>, boxIds);
        QFETCH(int, selectedAfter);
        BoxScript boxes;
        OpenWindow o(m_dir.path(), NextName());
        QCOMPARE(o.ids.size(), size_t(6));
        std::vector<std::int64_t> tags(6, 8);
        for (int r : repaired) tags[r] = repairedTag;
        o.AddRows(tags);
        o.Select(std::vector<int>(selected.begin(), selected.end()));
        const test::ArchiveSnapshot before = test::TakeSnapshot(o.sample.mainDatabase);
        boxes.boxes.clear();
        for (int a : answers) boxes.answers.push_back(MsgAnswer(a));

        o.Trigger(o.w.miRemoveDocs, via, QKeySequence(Qt::Key_Delete));

        const auto nameOf = [&](int row) { return "Doc" + std::to_string(o.ids[row]); };
        QStringList expectedKeys;
        std::set<long> gone;
        for (long id : o.ids) expectedKeys << "ID" + QString::number(id);
        for (int r : removed) {
            gone.insert(o.ids[r]);
            expectedKeys.removeAll("ID" + QString::number(o.ids[r]));
        }
        QCOMPARE(o.Keys(), expectedKeys);
        QStringList expectedBoxes;
        for (int id : boxIds)
            expectedBoxes << Box(id == 24    ? FormatMsg(GetResString(24, ""), {nameOf(selected.front())})
                                 : id == 116 ? FormatMsg(GetResString(116, ""), {nameOf(repaired.front())})
                                 : id == 315 ? FormatMsg(GetResString(315, ""), {std::to_string(selected.size())})
                                             : GetResString(id, ""),
                                 id == 24 || id == 315 ? 25 : 23,
                                 id == 24 ? MsgIcon::Question : id == 315 ? MsgIcon::None : MsgIcon::Exclamation,
                                 MsgButtons::YesNo);
        QCOMPARE(Shown(boxes), expectedBoxes);
        // Enter on any removal question keeps the documents.
        QCOMPARE(Defaults(boxes), QList<int>(boxIds.size(), int(MsgAnswer::No)));
        QCOMPARE(o.w.lvDocuments->SelectedCount(), selectedAfter < 0 ? 0 : 1);
        if (selectedAfter >= 0) QVERIFY(o.w.lvDocuments->selectedItems().front() == o.w.lvDocuments->Row(selectedAfter));

        // Read back: the removed documents' records and data rows are gone, nothing else.
        const test::ArchiveSnapshot after = test::TakeSnapshot(o.sample.mainDatabase);
        QVERIFY(after.opened);
        std::map<long, long> parents = before.parents;
        std::set<std::pair<long, std::string>> data = before.dataRows;
        for (long id : gone) {
            parents.erase(id);
            std::erase_if(data, [&](const auto& row) { return row.first == id; });
        }
        QCOMPARE(after.parents, parents);
        QCOMPARE(after.dataRows, data);
        const std::string log = test::Slurp(Settings::Get().LogFileName);
        QCOMPARE(Occurrences(log, " - Removing from database"), int(gone.size()));
        for (long id : gone) QCOMPARE(Occurrences(log, std::to_string(id) + " - Removing from database"), 1);
    }

    // A row whose removal the core refuses stays in the list, and the
    // window says why: a folder's number is never removed.
    void removeRefusedKeepsTheRow() {
        BoxScript boxes;
        OpenWindow o(m_dir.path(), NextName());
        const test::ArchiveSnapshot before = test::TakeSnapshot(o.sample.mainDatabase);
        long folder = 0;
        for (const auto& [id, parent] : before.parents)
            if (parent != 0 && !before.documents.count(parent)) folder = parent;
        QVERIFY(folder != 0);
        const std::string key = std::to_string(folder);
        o.w.ListAdd(ListId::Documents, ListRow{"ID" + key, "Map" + key, {"\\", "", "Beschadigd"}, 8, true});
        o.Select({0});
        boxes.boxes.clear();
        boxes.answers = {MsgAnswer::Yes};

        o.Trigger(o.w.miRemoveDocs, Via::Menu, QKeySequence(Qt::Key_Delete));

        QCOMPARE(o.Keys(), QStringList{"ID" + QString::number(folder)});
        QCOMPARE(Shown(boxes), (QStringList{Box(FormatMsg(GetResString(24, ""), {"Map" + key}), 25,
                                                MsgIcon::Question, MsgButtons::YesNo),
                                            Box(FormatMsg(GetResString(293, ""), {"Map" + key}), 295,
                                                MsgIcon::Exclamation)}));
        const test::ArchiveSnapshot after = test::TakeSnapshot(o.sample.mainDatabase);
        QCOMPARE(after.parents, before.parents);
        QCOMPARE(after.dataRows, before.dataRows);

        // A row whose document is gone already names nothing: it goes, unasked why.
        const long gone = before.parents.rbegin()->first + 1000;
        o.w.ListAdd(ListId::Documents, ListRow{"ID" + std::to_string(gone), "Weg", {"\\", "", "Beschadigd"}, 8, true});
        o.Select({1});
        boxes.boxes.clear();
        boxes.answers = {MsgAnswer::Yes};
        o.Trigger(o.w.miRemoveDocs, Via::Menu, QKeySequence(Qt::Key_Delete));
        QCOMPARE(o.Keys(), QStringList{"ID" + QString::number(folder)});
        QCOMPARE(boxes.boxes.size(), size_t(1));  // the question alone
    }

    // The count in the question is the number of rows selected, also
    // when it is large; a question that destroys nothing keeps Yes as its default.
    void removeQuestionSaysHowMany() {
        BoxScript boxes;
        OpenWindow o(m_dir.path(), NextName());
        for (int i = 0; i < 1234; ++i)
            o.w.ListAdd(ListId::Documents, ListRow{"ID" + std::to_string(900000 + i), "Doc", {"\\", "", "Beschadigd"},
                                                   8, true});
        o.w.lvDocuments->selectAll();
        boxes.boxes.clear();
        boxes.answers = {MsgAnswer::No};
        o.Trigger(o.w.miRemoveDocs, Via::Key, QKeySequence(Qt::Key_Delete));
        QCOMPARE(boxes.boxes.size(), size_t(1));
        // The count is grouped the Dutch way.
        QVERIFY2(QString::fromStdString(boxes.boxes[0].text).contains(" 1.234 "), boxes.boxes[0].text.c_str());
        QCOMPARE(boxes.boxes[0].defaultAnswer, MsgAnswer::No);
        QCOMPARE(o.w.lvDocuments->RowCount(), 1234);
        boxes.boxes.clear();
        o.w.MsgBox("vraag", MsgButtons::YesNo, MsgIcon::Question, "t");
        QCOMPARE(boxes.boxes.at(0).defaultAnswer, MsgAnswer::Yes);
    }

    // Actions that cannot act are disabled: nothing to print or save in an
    // empty list, no information or removal without a selected row; their
    // keys then do nothing.
    void actionsFollowTheList_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<bool>("clearAfter");  // the list emptied again (a new check, another archive)
        QTest::addColumn<QString>("enabled");  // of info, remove, print, save: 1 or 0 each
        QTest::newRow("empty list") << 0 << QList<int>{} << false << "0000";
        QTest::newRow("rows, none selected") << 3 << QList<int>{} << false << "0011";
        QTest::newRow("one selected") << 3 << QList<int>{1} << false << "1111";
        QTest::newRow("emptied again") << 3 << QList<int>{1} << true << "0000";
    }
    void actionsFollowTheList() {
        QFETCH(int, rows);
        QFETCH(QList<int>, selected);
        QFETCH(bool, clearAfter);
        QFETCH(QString, enabled);
        BoxScript boxes;
        OpenWindow o(m_dir.path(), NextName());
        if (rows) o.AddRows();
        while (o.w.lvDocuments->RowCount() > rows) o.w.lvDocuments->RemoveRow(o.w.lvDocuments->Row(rows));
        o.Select(std::vector<int>(selected.begin(), selected.end()));
        if (clearAfter) o.w.ListClear(ListId::Documents);
        emit o.w.miDocuments->aboutToShow();
        QString state;
        for (QAction* a : {o.w.miDocumentInfo, o.w.miRemoveDocs, o.w.miPrintList, o.w.miSaveList})
            state += a->isEnabled() ? '1' : '0';
        QCOMPARE(state, enabled);
        if (enabled != "0000") return;
        boxes.boxes.clear();
        int printed = 0;
        const auto previous = frmMain::SetPrintDialogRunner([&](QPrinter&) { return ++printed, false; });
        DialogScript dialog;
        for (const QKeySequence& key : {QKeySequence(Qt::CTRL | Qt::Key_P), QKeySequence(Qt::CTRL | Qt::Key_S),
                                        QKeySequence(Qt::CTRL | Qt::Key_I), QKeySequence(Qt::Key_Delete),
                                        QKeySequence(Qt::Key_Return)})
            o.Trigger(nullptr, Via::Key, key);
        frmMain::SetPrintDialogRunner(previous);
        QCOMPARE(printed, 0);
        QVERIFY(dialog.seen.empty() && boxes.boxes.empty());
        QVERIFY(!o.w.findChild<frmInformation*>());
    }

    // The standard keys: Ctrl+O opens (the file dialog), Ctrl+Q quits,
    // Enter on a row shows its information; the others are tested with
    // their actions above.
    void shortcuts() {
        BoxScript boxes;
        OpenWindow o(m_dir.path(), NextName());
        const QList<std::pair<QString, QKeySequence>> keys{
            {"open", o.w.miOpen->shortcut()},          {"quit", o.w.miExit->shortcut()},
            {"print", o.w.miPrintList->shortcut()},    {"save", o.w.miSaveList->shortcut()},
            {"remove", o.w.miRemoveDocs->shortcut()},  {"information", o.w.miDocumentInfo->shortcut()}};
        QCOMPARE(keys, (QList<std::pair<QString, QKeySequence>>{
                           {"open", QKeySequence(Qt::CTRL | Qt::Key_O)}, {"quit", QKeySequence(Qt::CTRL | Qt::Key_Q)},
                           {"print", QKeySequence(Qt::CTRL | Qt::Key_P)}, {"save", QKeySequence(Qt::CTRL | Qt::Key_S)},
                           {"remove", QKeySequence(Qt::Key_Delete)}, {"information", QKeySequence(Qt::CTRL | Qt::Key_I)}}));

        o.AddRows({2});
        o.Select({0});
        o.Trigger(nullptr, Via::Key, QKeySequence(Qt::Key_Return));
        auto* info = o.w.findChild<frmInformation*>();
        QVERIFY(info && info->isVisible());
        QCOMPARE(info->txtName->text().isEmpty(), false);
        info->close();

        {
            DialogScript dialog;  // Cancel
            o.Trigger(nullptr, Via::Key, QKeySequence(Qt::CTRL | Qt::Key_O));
            QCOMPARE(dialog.seen.size(), size_t(1));
            QVERIFY(!dialog.seen[0].save);
        }
        QVERIFY(o.w.isVisible());
        o.Trigger(nullptr, Via::Key, QKeySequence(Qt::CTRL | Qt::Key_Q));
        QTRY_VERIFY(!o.w.isVisible());
    }

    // Information on a row, by Ctrl+I (the menu item's shortcut) or a double
    // click: the document's fields and the explanation of its code.
    void information_data() {
        QTest::addColumn<bool>("doubleClick");
        QTest::newRow("Ctrl+I") << false;
        QTest::newRow("double click") << true;
    }
    void information() {
        QFETCH(bool, doubleClick);
        BoxScript boxes;
        OpenWindow o(m_dir.path(), NextName());
        boxes.boxes.clear();
        o.AddRows({2});
        o.Select({0});
        if (doubleClick)
            emit o.w.lvDocuments->itemDoubleClicked(o.w.lvDocuments->Row(0), 0);
        else
            o.Trigger(o.w.miDocumentInfo, Via::Key, QKeySequence(Qt::CTRL | Qt::Key_I));
        auto* info = o.w.findChild<frmInformation*>();
        QVERIFY(info && info->isVisible());
        std::string name, words, notes, date, zip;
        o.w.Database().DocumentInfo(o.ids[0], name, words, notes, date, zip);
        QVERIFY(!name.empty());
        QCOMPARE((QStringList{info->txtName->text(), info->txtWords->text(), info->txtDate->text(),
                              info->txtZip->text(), info->windowTitle()}),
                 (QStringList{QString::fromStdString(name), QString::fromStdString(words),
                              QString::fromStdString(date), QString::fromStdString(zip), Res(32)}));
        const QString folder = QFileInfo(QString::fromStdString(o.sample.mainDatabase)).absolutePath();
        QCOMPARE(info->txtErrorDescription->toPlainText(),
                 QString::fromStdString(FormatMsg(GetResString(40, ""), {"Kantoor_1.pdb", folder.toStdString()})));
        QVERIFY(boxes.boxes.empty());
        // Fields that only show, and look it.
        for (QWidget* field : std::initializer_list<QWidget*>{info->txtName, info->txtWords, info->txtDate,
                                                              info->txtZip, info->txtErrorDescription}) {
            QVERIFY(field->property("readOnly").toBool());
            QCOMPARE(field->palette().color(QPalette::Base), field->palette().color(QPalette::Window));
        }
    }

    // Printing (Ctrl+P) to a PDF: a header naming the archive, the check,
    // the date and the counters; column titles; every row whole (long
    // names and paths wrap inside their column, nothing runs off the page);
    // "Pagina N van M" on every page; landscape when portrait is too narrow.
    void printToPdf_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("nameLength");     // characters of each name
        QTest::addColumn<int>("pathFolders");    // folders in each location
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<bool>("severalPages");
        QTest::newRow("short rows: portrait, one page") << 6 << 12 << 1 << false << false;
        QTest::newRow("long locations: landscape, wrapped") << 6 << 30 << 14 << true << false;
        QTest::newRow("a location longer than a line") << 3 << 20 << 60 << true << false;
        QTest::newRow("many rows: numbered pages") << 150 << 16 << 2 << false << true;
    }
    void printToPdf() {
        QFETCH(int, rows);
        QFETCH(int, nameLength);
        QFETCH(int, pathFolders);
        QFETCH(bool, landscape);
        QFETCH(bool, severalPages);
        if (QStandardPaths::findExecutable("pdftotext").isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed: the printout cannot be read back");
        BoxScript boxes;
        OpenWindow o(m_dir.path(), NextName());
        o.w.miCheckSub[1]->trigger();  // the header names the check the list came from
        boxes.boxes.clear();
        QStringList names, locations;
        for (int i = 0; i < rows; ++i) {
            QString name = QString("Rapport %1 ").arg(900 + i);
            while (name.size() < nameLength) name += QChar(char16_t(u'a' + name.size() % 26));
            QString location = "\\";
            for (int f = 0; f < pathFolders; ++f) location += QString("Klanten%1\\").arg(f);
            names << name;
            locations << location;
            o.w.ListAdd(ListId::Documents, ListRow{"ID" + std::to_string(50000 + i), name.toStdString(),
                                                   {location.toStdString(), "Kantoor_1.pdb", "Gerepareerd"}, 2056,
                                                   false});
        }
        const QString pdf = m_dir.filePath(NextName() + ".pdf");
        int dialogs = 0;
        const auto previous = frmMain::SetPrintDialogRunner([&](QPrinter& printer) {
            ++dialogs;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        });
        o.Trigger(o.w.miPrintList, Via::Key, QKeySequence(Qt::CTRL | Qt::Key_P));
        frmMain::SetPrintDialogRunner(previous);
        QCOMPARE(dialogs, 1);
        // To look at: QX_KEEP_PRINTOUT=DIR keeps each printout there.
        if (const QString keep = qEnvironmentVariable("QX_KEEP_PRINTOUT"); !keep.isEmpty())
            QFile::copy(pdf, keep + "/" + QString(QTest::currentDataTag()).replace(QRegularExpression("[^a-z]+"), "-") +
                                 ".pdf");
        const auto run = [&](const QStringList& arguments) {
            QProcess text;
            text.start("pdftotext", arguments + QStringList{pdf, "-"});
            text.waitForFinished(20000);
            return QString::fromUtf8(text.readAllStandardOutput());
        };
        const QString layout = run({"-layout"});
        const QStringList pages = layout.split('\f', Qt::SkipEmptyParts);
        const int pageCount = int(std::count_if(pages.begin(), pages.end(),
                                                [](const QString& p) { return !p.trimmed().isEmpty(); }));
        QCOMPARE(pageCount > 1, severalPages);
        for (int p = 1; p <= pageCount; ++p)
            QVERIFY2(pages[p - 1].contains(QString("Pagina %1 van %2").arg(p).arg(pageCount)), qPrintable(pages[p - 1]));
        const QString simple = layout.simplified();
        for (const QString& part : {QString::fromStdString(o.sample.mainDatabase), QString("Controle: Normaal"),
                                    QString("beschadigd: 0"), QString("gerepareerd: 0"),
                                    QString("regels: %1").arg(QLocale(QLocale::Dutch).toString(rows)),
                                    QString("Naam"), QString("Locatie"), QString("Status"), QString("Code"),
                                    QLocale(QLocale::Dutch).toString(QDate::currentDate(), "d MMMM yyyy")})
            QVERIFY2(simple.contains(part), qPrintable(part));
        for (const QString& name : names) QVERIFY2(simple.contains(name.simplified()), qPrintable(name));
        // Each location whole, in order, however it was wrapped.
        QString raw = run({"-raw"});
        raw.remove(QRegularExpression("\\s"));
        for (const QString& location : locations) QVERIFY2(raw.contains(location), qPrintable(location));
        // Nothing drawn past the right edge of the page.
        const QString boxesHtml = run({"-bbox"});
        const QRegularExpression pageTag("<page width=\"([0-9.]+)\" height=\"([0-9.]+)\"");
        const auto size = pageTag.match(boxesHtml);
        QVERIFY(size.hasMatch());
        const double width = size.captured(1).toDouble();
        QCOMPARE(width > size.captured(2).toDouble(), landscape);
        const QRegularExpression word("<word xMin=\"[0-9.]+\" yMin=\"[0-9.]+\" xMax=\"([0-9.]+)\"[^>]*>([^<]*)</word>");
        int words = 0;
        for (auto it = word.globalMatch(boxesHtml); it.hasNext(); ++words) {
            const auto m = it.next();
            QVERIFY2(m.captured(1).toDouble() <= width, qPrintable(m.captured(2)));
        }
        QVERIFY(words > rows);
    }

    // Ctrl+P without a stand-in opens the print preview, which prints.
    void printGoesThroughThePreview() {
        BoxScript boxes;
        OpenWindow o(m_dir.path(), NextName());
        o.AddRows();
        QString seen;
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            seen = modal ? modal->metaObject()->className() : QString("none");
            if (modal) modal->close();
        });
        o.Trigger(o.w.miPrintList, Via::Key, QKeySequence(Qt::CTRL | Qt::Key_P));
        QCOMPARE(seen, QString("QPrintPreviewDialog"));
    }

    // Saving (by the menu item or its Ctrl+S): one CR LF line per row;
    // Cancel writes nothing. (An empty list cannot be saved: actionsFollowTheList.)
    void save_data() {
        QTest::addColumn<Via>("via");
        QTest::addColumn<bool>("rows");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("Ctrl+S") << Via::Key << true << false;
        QTest::newRow("cancelled") << Via::Menu << true << true;
    }
    void save() {
        QFETCH(Via, via);
        QFETCH(bool, rows);
        QFETCH(bool, cancel);
        BoxScript boxes;
        OpenWindow o(m_dir.path(), NextName());
        if (rows) o.AddRows();
        const QString file = m_dir.filePath(NextName() + ".txt");
        DialogScript dialog(cancel ? std::nullopt : std::optional(QStringList{file}));
        o.Trigger(o.w.miSaveList, via, QKeySequence(Qt::CTRL | Qt::Key_S));
        QCOMPARE(dialog.seen.size(), size_t(1));
        QCOMPARE((QStringList{dialog.seen[0].caption, dialog.seen[0].filter}), (QStringList{Res(107), Res(106)}));
        QVERIFY(dialog.seen[0].save && dialog.seen[0].hasParent);
        if (cancel) {
            QVERIFY(!QFile::exists(file));
            return;
        }
        std::string expected;
        if (rows)
            for (long id : o.ids) expected += "Beschadigd\t\\Map\\Doc" + std::to_string(id) + "\r\n";
        QVERIFY(QFile::exists(file));
        QCOMPARE(test::Slurp(file.toStdString()), expected);
    }

    // F1 / Inhoud: the guide with the desktop's program, else our own
    // browser; a missing guide is logged and told.
    void help_data() {
        QTest::addColumn<Via>("via");
        QTest::addColumn<QString>("program");  // the desktop's program for .htm; "" none
        QTest::addColumn<bool>("guide");       // the guide is where the program looks
        QTest::newRow("F1, desktop program") << Via::Key << "browser" << true;
        QTest::newRow("F1, no program") << Via::Key << "" << true;
        QTest::newRow("guide missing") << Via::Menu << "browser" << false;
    }
    void help() {
        QFETCH(Via, via);
        QFETCH(QString, program);
        QFETCH(bool, guide);
        BoxScript boxes;
        OpenWindow o(m_dir.path(), NextName());
        boxes.boxes.clear();
        QVERIFY(QFileInfo(QString::fromStdString(Settings::Get().HelpFileName) + "/index.htm").isFile());
        if (!guide) Settings::Get().HelpFileName = m_dir.filePath("geen-help").toStdString();
        QList<QUrl> opened;
        const DesktopHooks previous = SetDesktopHooks(
            {[&](const QUrl& url) { opened << url; return true; }, [&](const QString&) { return program; }});
        o.Trigger(o.w.miDisplayHelp, via, QKeySequence(Qt::Key_F1));
        SetDesktopHooks(previous);
        const QString page = QString::fromStdString(Settings::Get().HelpFileName) + "/index.htm";
        auto* browser = o.w.findChild<QTextBrowser*>();
        if (!guide) {
            QCOMPARE(Shown(boxes), QStringList{Box(GetResString(230, ""), 1, MsgIcon::Critical)});
            QVERIFY(test::Slurp(Settings::Get().LogFileName).find("Unable to display help: ") != std::string::npos);
            QVERIFY(opened.isEmpty() && !browser);
        } else if (!program.isEmpty()) {
            QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(page)});
            QVERIFY(!browser);
        } else {
            QVERIFY(opened.isEmpty());
            QVERIFY(browser && browser->isVisible());
            QVERIFY(browser->toPlainText().contains("Vellumo Quillex - Handleiding"));
        }
    }

    // About: title with the build's version, the link opened by the desktop.
    void about() {
        BoxScript boxes;
        frmMain w;
        QList<QUrl> opened;
        const DesktopHooks previous = SetDesktopHooks({[&](const QUrl& url) { opened << url; return true; }, {}});
        QStringList seen;
        QTimer::singleShot(0, [&] {
            auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
            if (!about) return;
            seen = {about->lblTitle->text(), about->windowTitle(), about->lblHyperlink->text()};
            QTest::mouseClick(about->lblHyperlink, Qt::LeftButton);
            about->cmdOk->click();
        });
        w.miAbout->trigger();
        SetDesktopHooks(previous);
        const QStringList v = QString(QUILLEX_VERSION).split('.');
        const QString link("https://www.tarnwick.nl");
        QCOMPARE(seen, (QStringList{QString::fromStdString(FormatMsg(GetResString(53, ""), {v[0].toStdString(),
                                        v[1].toStdString(), v[2].toStdString()})), Res(56), link}));
        QCOMPARE(opened, QList<QUrl>{QUrl(link)});
    }

    // Opening with the associated program: without waiting the desktop
    // opens it; with waiting the program runs to its end; a path without
    // a program is told in a box with the program's title.
    void openWithAssociatedProgram_data() {
        QTest::addColumn<bool>("wait");
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("desktopOpens");
        QTest::addColumn<bool>("opened");
        QTest::newRow("no wait, desktop opens") << false << "" << true << true;
        QTest::newRow("no wait, desktop refuses") << false << "" << false << false;
        QTest::newRow("wait, program runs") << true << "/bin/true" << false << true;
        QTest::newRow("wait, no program") << true << "" << false << false;
        QTest::newRow("wait, program missing") << true << "/geen/programma" << false << false;
    }
    void openWithAssociatedProgram() {
        QFETCH(bool, wait);
        QFETCH(QString, program);
        QFETCH(bool, desktopOpens);
        QFETCH(bool, opened);
        BoxScript boxes;
        QList<QUrl> urls;
        const DesktopHooks previous = SetDesktopHooks(
            {[&](const QUrl& url) { urls << url; return desktopOpens; }, [&](const QString&) { return program; }});
        const QString path = m_dir.filePath("brief.txt");
        const bool result = OpenWithAssociatedProgram(nullptr, path, wait);
        SetDesktopHooks(previous);
        QCOMPARE(result, opened);
        QCOMPARE(urls, wait ? QList<QUrl>{} : QList<QUrl>{QUrl::fromLocalFile(path)});
        QCOMPARE(int(boxes.boxes.size()), opened ? 0 : 1);
        if (!opened) {
            QCOMPARE(boxes.boxes[0].title, GetResString(1, ""));
            QCOMPARE(boxes.boxes[0].icon, MsgIcon::Exclamation);
            QVERIFY(QString::fromStdString(boxes.boxes[0].text).contains(program.isEmpty() ? path : program));
        }
    }

    // An access error listing the archive folder while opening: text 140
    // with the critical icon, then the program ends (that the archive is not
    // held afterwards is in test_open_access_error.cpp).
    void accessErrorWhileOpeningEndsTheProgram() {
        BoxScript boxes;
        SampleManifest sample = test::WriteArchive(m_dir.path(), NextName(), 8);
        std::vector<int> ended;
        const auto previous = frmMain::SetProgramEnd([&](int code) { ended.push_back(code); });
        frmMain w;
        failpoints::Reset();
        failpoints::Arm("open.list-folder", 1, FailAction::IoError);
        w.OpenDatabaseFile(sample.mainDatabase);
        failpoints::Reset();
        frmMain::SetProgramEnd(previous);
        QCOMPARE(Shown(boxes), QStringList{Box(FormatMsg(GetResString(140, "")), 1, MsgIcon::Critical)});
        QCOMPARE(ended, std::vector<int>{75});
        QVERIFY(w.State().m_sDatabaseName.empty());
    }

    // Qt's own texts in Dutch when Qt's translations are installed.
    void qtTextsInDutch() {
        const QString qm = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_nl.qm";
        if (!QFile::exists(qm)) QSKIP("Qt's Dutch translation (qt6-translations-l10n) is not installed");
        QVERIFY(InstallDutchQtTexts(*QCoreApplication::instance()));
        QMessageBox box(QMessageBox::Question, "t", "x", QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.button(QMessageBox::No)->text().remove('&'), QString("Nee"));
    }

    // The screenshots command writes its pictures, leaves the real
    // boxes and dialogs as they were, and changes nothing in the archive
    // folder, not even what its open step would put in order.
    void screenshots() {
        BoxScript boxes;
        const SampleManifest sample =
            test::WriteArchive(m_dir.filePath(NextName()), NextName(), 8, {"no-data-row", "sub-database-number-gaps"});
        const QDir folder = QFileInfo(QString::fromStdString(sample.mainDatabase)).dir();
        const auto stamps = [&] {
            QStringList entries{QString::number(QFileInfo(folder.path()).lastModified().toMSecsSinceEpoch())};
            for (const QFileInfo& f : folder.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)) {
                QFile file(f.filePath());
                file.open(QIODevice::ReadOnly);
                entries << f.fileName() + " " + QString::number(f.lastModified().toMSecsSinceEpoch()) + " " +
                               QString::number(int(f.permissions())) + " " +
                               QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
            }
            return entries;
        };
        const QStringList before = stamps();
        const QString out = m_dir.filePath(NextName() + "-plaatjes");
        QCOMPARE(RunScreenshots(out, QString::fromStdString(sample.mainDatabase), {}), 0);
        QCOMPARE(stamps(), before);
        for (const char* name : {"main", "information", "about", "progress", "compact", "reorganize", "message", "plan",
                                 "preview", "help"}) {
            QImage picture(out + "/" + name + ".png");
            QVERIFY2(!picture.isNull() && picture.width() > 100, name);
        }
        frmMain w;
        w.MsgBox("na de plaatjes", MsgButtons::OK, MsgIcon::Information, "t");
        QCOMPARE(boxes.boxes.back().text, std::string("na de plaatjes"));
    }

    // Every box carries the program's title, also one whose caller gave none.
    void boxWithoutTitleGetsTheProgramTitle() {
        BoxScript boxes;
        frmMain w;
        w.MsgBox("tekst", MsgButtons::OK, MsgIcon::Exclamation, "");
        QCOMPARE(boxes.boxes.at(0).title, GetResString(1, ""));
    }
};

int main(int argc, char** argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    tst_frmMainActions test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frmMainActions.moc"
