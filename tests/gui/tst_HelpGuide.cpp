// The user guide keeps up with the window: every menu item and every window
// has its section, every link and picture of the guide leads somewhere, and
// every result code has its row in the table of codes. F1 opens the section
// of the window it was pressed in.
#include "database/DocumentActions.h"
#include "database/checks/ResultCodes.h"
#include "shell/HelpTopics.h"
#include "shell/frmMain.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "windows/Associated.h"
#include "windows/MessageBoxes.h"
#include "windows/frmAbout.h"
#include "windows/frmCompact.h"
#include "windows/frmInformation.h"
#include "windows/frmProgress.h"
#include "windows/frmReorganize.h"

#include <QtTest>
#include <QtWidgets>
#include <QPrintPreviewDialog>

#include <memory>

using namespace qx;

namespace {

// The guide as the sources hold it (the build copies it beside the program).
QDir GuideFolder() { return QDir(QStringLiteral(QX_SOURCE_DIR "/resources/help")); }

QString Slurp(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Every id (and old-style anchor name) a page defines.
QSet<QString> Anchors(const QString& html) {
    QSet<QString> out;
    static const QRegularExpression anchor(QStringLiteral(R"((?:\sid|<a\s+name)\s*=\s*"([^"]+)\")"));
    for (auto m = anchor.globalMatch(html); m.hasNext();) out.insert(m.next().captured(1));
    return out;
}

// Sections named twice: a link would land on the first, whichever was meant.
QStringList NamedTwice(const QString& html) {
    QStringList twice;
    QSet<QString> seen;
    static const QRegularExpression id(QStringLiteral(R"(\sid\s*=\s*"([^"]+)\")"));
    for (auto m = id.globalMatch(html); m.hasNext();) {
        const QString name = m.next().captured(1);
        if (seen.contains(name)) twice << name;
        seen.insert(name);
    }
    return twice;
}

struct Reference {
    QString page;  // the page that holds it
    QString kind;  // "href" or "src"
    QString target;
};

QList<Reference> References(const QString& page, const QString& html) {
    QList<Reference> out;
    static const QRegularExpression ref(QStringLiteral(R"(\s(href|src)\s*=\s*"([^"]*)\")"));
    for (auto m = ref.globalMatch(html); m.hasNext();) {
        const auto match = m.next();
        out.append({page, match.captured(1), match.captured(2)});
    }
    return out;
}

// Why `topic` ("page.htm#section") leads nowhere in the guide; "" when it leads somewhere.
QString Broken(const QString& topic, const QString& fromPage = {}) {
    const QString page = topic.section(u'#', 0, 0).isEmpty() ? fromPage : topic.section(u'#', 0, 0);
    const QString section = topic.section(u'#', 1);
    const QString file = GuideFolder().filePath(page);
    if (page.isEmpty() || !QFileInfo(file).isFile()) {
        return QStringLiteral("no page %1").arg(page);
    }
    if (!section.isEmpty() && !Anchors(Slurp(file)).contains(section))
        return QStringLiteral("no section '%1' in %2").arg(section, page);
    return {};
}

// Every action of the main window's menus, submenus and their own items included.
QList<QAction*> MenuItems(const QMenuBar* bar) {
    QList<QAction*> out;
    std::function<void(const QList<QAction*>&)> walk = [&](const QList<QAction*>& actions) {
        for (QAction* a : actions) {
            if (a->isSeparator()) continue;
            out << a;
            if (a->menu()) walk(a->menu()->actions());
        }
    };
    walk(bar->actions());
    return out;
}

}  // namespace

class tst_HelpGuide : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(GuideFolder().exists("index.htm"), qPrintable(GuideFolder().path())); }

    // The test that makes a new menu item bring its section along.
    void everyMenuItemHasASection() {
        frmMain w;
        const QList<QAction*> items = MenuItems(w.menuBar());
        QVERIFY(items.size() >= 19);
        for (const QAction* a : items) {
            const QString who = a->objectName() + " '" + a->text() + "'";
            const QString topic = HelpTopicOf(a);
            QVERIFY2(!topic.isEmpty(), qPrintable(who + " has no section in the guide"));
            QVERIFY2(topic.contains(u'#'), qPrintable(who + " names a page, not a section: " + topic));
            const QString broken = Broken(topic);
            QVERIFY2(broken.isEmpty(), qPrintable(who + ": " + broken));
        }
    }

    // A property on the item wins over the table, so that an item can bring its own section.
    void anItemMayNameItsOwnSection() {
        QAction named(QStringLiteral("x"));
        named.setObjectName(QStringLiteral("miOpen"));
        QCOMPARE(HelpTopicOf(&named), QStringLiteral("openen.htm#openen"));
        named.setProperty("helpTopic", QStringLiteral("lijst.htm#opslaan"));
        QCOMPARE(HelpTopicOf(&named), QStringLiteral("lijst.htm#opslaan"));
        QAction unknown(QStringLiteral("y"));
        QCOMPARE(HelpTopicOf(&unknown), QString());
    }

    void everyWindowHasASection_data() {
        QTest::addColumn<QString>("window");
        for (const char* name : {"frmMain", "frmInformation", "frmProgress", "frmReorganize", "frmReorganizePlan",
                                 "frmCompact", "frmAbout", "QPrintPreviewDialog"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void everyWindowHasASection() {
        QFETCH(QString, window);
        frmMain main;
        std::unique_ptr<QWidget> w;
        if (window == "frmInformation") w = std::make_unique<frmInformation>(&main);
        else if (window == "frmProgress") w = std::make_unique<frmProgress>(&main);
        else if (window == "frmReorganize") w = std::make_unique<frmReorganize>(&main);
        else if (window == "frmReorganizePlan") w = std::make_unique<frmReorganizePlan>(QString(), &main);
        else if (window == "frmCompact") w = std::make_unique<frmCompact>(&main);
        else if (window == "frmAbout") w = std::make_unique<frmAbout>(&main);
        else if (window == "QPrintPreviewDialog") w = std::make_unique<QPrintPreviewDialog>(&main);
        const QString topic = HelpTopicOfWindow(w ? w.get() : &main);
        if (window == "frmMain") QCOMPARE(topic, QStringLiteral("index.htm"));
        else QVERIFY2(topic.contains(u'#'), qPrintable(window + " falls back to " + topic));
        const QString broken = Broken(topic);
        QVERIFY2(broken.isEmpty(), qPrintable(window + ": " + broken));
    }

    // Every link of every page leads to a page and section that exist,
    // every picture is there, and nothing is fetched from outside.
    void everyLinkAndPictureLeadsSomewhere() {
        const QStringList pages = GuideFolder().entryList({QStringLiteral("*.htm")}, QDir::Files);
        QVERIFY(pages.contains("index.htm"));
        QStringList problems;
        QSet<QString> linked{QStringLiteral("index.htm")};
        for (const QString& page : pages) {
            const QString html = Slurp(GuideFolder().filePath(page));
            if (html.contains(QStringLiteral("<script"), Qt::CaseInsensitive)) problems << page + ": has a script";
            for (const QString& name : NamedTwice(html)) problems << page + ": section '" + name + "' twice";
            for (const Reference& r : References(page, html)) {
                if (r.target.contains(QStringLiteral("://")) || r.target.startsWith(QStringLiteral("//"))) {
                    // A web link may be followed by the reader; a picture or style sheet must be in the guide.
                    if (r.kind == "src" || r.target.endsWith(QStringLiteral(".css")))
                        problems << page + ": fetches " + r.target;
                    continue;
                }
                if (r.kind == "src" || r.target.endsWith(QStringLiteral(".css"))) {
                    if (!QFileInfo(GuideFolder().filePath(r.target)).isFile()) problems << page + ": missing " + r.target;
                    continue;
                }
                if (!r.target.section(u'#', 0, 0).isEmpty()) linked.insert(r.target.section(u'#', 0, 0));
                if (const QString broken = Broken(r.target, page); !broken.isEmpty())
                    problems << page + ": link '" + r.target + "': " + broken;
            }
        }
        for (const QString& page : pages)
            if (!linked.contains(page)) problems << page + ": no page links to it";
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    }

    // The broken link check itself: what it must catch.
    void brokenLinksAreCaught_data() {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<bool>("broken");
        QTest::newRow("page and section") << "codes.htm#code-1024" << false;
        QTest::newRow("page alone") << "lijst.htm" << false;
        QTest::newRow("section on the same page") << "#afsluiten" << false;
        QTest::newRow("unknown section") << "lijst.htm#bestaat-niet" << true;
        QTest::newRow("unknown page") << "geen.htm" << true;
        QTest::newRow("section of a page written elsewhere") << "salvage.htm#iets" << true;
    }
    void brokenLinksAreCaught() {
        QFETCH(QString, topic);
        QFETCH(bool, broken);
        if (topic.startsWith("salvage.htm") && GuideFolder().exists("salvage.htm")) QSKIP("the page is there now");
        QCOMPARE(!Broken(topic, QStringLiteral("index.htm")).isEmpty(), broken);
    }

    // Every code a finding can carry has its row, with what to do, and
    // every state text the list shows is explained.
    void everyResultCodeHasARow() {
        const QString codes = Slurp(GuideFolder().filePath("codes.htm"));
        const QSet<QString> anchors = Anchors(codes);
        int known = 0;
        for (int code = 1; code < 32768; ++code) {
            if (*ResultCodeName(code) == '\0') continue;
            ++known;
            QVERIFY2(anchors.contains(QStringLiteral("code-%1").arg(code)), qPrintable(QString::number(code)));
        }
        QVERIFY(known >= 20);
        for (int code : {1, 2, 16, 256, 2304, 5632, 14848, 16384, 18432, 24576})
            QVERIFY2(codes.contains(QString::fromStdString(FindingStateText(code))),
                     qPrintable(QString::fromStdString(FindingStateText(code))));
        QVERIFY(codes.contains(QString::fromStdString(FindingStateText(1024, true))));
    }

    // Every code a finding can carry is explained in the information window,
    // none as an unknown code.
    void everyResultCodeIsExplained() {
        const std::string unknown = GetResString(60, "Onbekende foutcode: %s.").substr(0, 10);
        for (int code = 1; code < 32768; ++code) {
            if (*ResultCodeName(code) == '\0') continue;
            const std::string text = ExplainResult(code, "Archief_1.pdb", "/map/Archief.dat");
            QVERIFY2(!text.empty() && text.find(unknown) == std::string::npos, qPrintable(QString::number(code)));
        }
    }

    // The information window names the finding's code, as the guide's table does.
    void informationWindowShowsTheCode_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("shown");
        QTest::newRow("damaged") << 1024 << "Foutcode: 1024 (Beschadigd)";
        QTest::newRow("repaired") << 2056 << "Foutcode: 2056 (Gerepareerd)";
        QTest::newRow("not found") << 2 << "Foutcode: 2 (Niet gevonden)";
        QTest::newRow("moved to the root") << 256 << "Foutcode: 256 (Gerepareerd)";
        QTest::newRow("format adapted") << 14848 << "Foutcode: 14848 (Aangepast)";
    }
    void informationWindowShowsTheCode() {
        QFETCH(int, code);
        QFETCH(QString, shown);
        frmMain w;
        frmInformation info(&w);
        info.Initialise(w.Database(), 0, code, "", "Archief_1.pdb");
        QCOMPARE(info.lblCode->text(), shown);
        QVERIFY(!info.txtErrorDescription->toPlainText().isEmpty());
    }

    // F1 in another window opens that window's section; the menu item the first page.
    void f1OpensTheSectionOfTheActiveWindow() {
        const MessageBoxAnswerer boxes = SetMessageBoxAnswerer([](const MessageBoxRequest& r) {
            return NullWindow::SafeAnswer(r.buttons);
        });
        QList<QUrl> opened;
        const DesktopHooks previous = SetDesktopHooks(
            {[&](const QUrl& url) { opened << url; return true; }, [](const QString&) { return QStringLiteral("browser"); }});
        frmMain w;
        Settings::Get().HelpFileName = GuideFolder().path().toStdString();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::qWait(50);  // the first activation's notice, answered
        w.miDisplayHelp->trigger();
        frmInformation info(&w);
        info.show();
        QApplication::setActiveWindow(&info);
        QVERIFY(QTest::qWaitForWindowActive(&info));
        QTest::keyClick(&info, Qt::Key_F1);
        SetDesktopHooks(previous);
        SetMessageBoxAnswerer(boxes);
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened[0].fileName(), QStringLiteral("index.htm"));
        QCOMPARE(opened[0].fragment(), QString());
        QCOMPARE(opened[1].fileName(), QStringLiteral("lijst.htm"));
        QCOMPARE(opened[1].fragment(), QStringLiteral("informatie"));
    }

    // Without a program for HTML the guide's own window opens the page at its section.
    void ownBrowserOpensAtTheSection() {
        const MessageBoxAnswerer boxes = SetMessageBoxAnswerer([](const MessageBoxRequest& r) {
            return NullWindow::SafeAnswer(r.buttons);
        });
        Settings::Get().HelpFileName = GuideFolder().path().toStdString();
        const DesktopHooks previous = SetDesktopHooks({[](const QUrl&) { return false; }, [](const QString&) { return QString(); }});
        QWidget owner;
        QVERIFY(ShowHelp(&owner, QStringLiteral("codes.htm#code-1024")));
        SetDesktopHooks(previous);
        SetMessageBoxAnswerer(boxes);
        auto* browser = owner.findChild<QTextBrowser*>();
        QVERIFY(browser);
        QCOMPARE(browser->source().fileName(), QStringLiteral("codes.htm"));
        QCOMPARE(browser->source().fragment(), QStringLiteral("code-1024"));
        QVERIFY(browser->toPlainText().contains(QStringLiteral("Wat te doen bij elke foutcode")));
    }
};

int main(int argc, char** argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    tst_HelpGuide test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_HelpGuide.moc"
