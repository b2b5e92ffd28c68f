#include "windows/Associated.h"

#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "windows/MessageBoxes.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QThread>
#include <QVBoxLayout>

#include <utility>

namespace qx {

namespace {

DesktopHooks& Hooks() {
    static DesktopHooks hooks;
    return hooks;
}

bool IsWebAddress(const QString& path) {
    return path.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive) ||
           path.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive) ||
           path.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive);
}

QUrl UrlOf(const QString& path) { return IsWebAddress(path) ? QUrl(path) : QUrl::fromLocalFile(path); }

bool OpenUrl(const QUrl& url) {
    if (Hooks().openUrl) return Hooks().openUrl(url);
    return QDesktopServices::openUrl(url);
}

// The desktop's handler of a MIME type, as xdg-mime names it ("firefox.desktop").
QString DefaultHandler(const QString& mimeType) {
    const QString xdg = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdg.isEmpty()) return {};
    QProcess query;
    query.start(xdg, {QStringLiteral("query"), QStringLiteral("default"), mimeType});
    if (!query.waitForFinished(3000) || query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0) {
        query.kill();
        return {};
    }
    return QString::fromLocal8Bit(query.readAllStandardOutput()).section(u'\n', 0, 0).trimmed();
}

// The command line a desktop entry starts, without its field codes.
QString ProgramOfDesktopEntry(const QString& entry) {
    const QString file = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
    if (file.isEmpty()) return {};
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.startsWith(QStringLiteral("Exec="))) return line.mid(5).section(u' ', 0, 0);
    }
    return {};
}

// The failure text, with a number telling which step failed.
QString NoProgram(const QString& path, int step) {
    return QString::fromStdString(FormatMsg(GetResString(231, "Kan '%s' niet openen: er is geen programma voor ingesteld."),
                                            {path.toStdString()})) +
           QStringLiteral(" (%1)").arg(step);
}

void TellFailure(QWidget* parent, const QString& what) {
    ShowMessageBox(parent, what.toStdString(), MsgButtons::OK, MsgIcon::Exclamation, GetResString(1, "Vellumo Quillex"));
}

// Our own browser for the guide, when the desktop has none: one window,
// brought forward again on the next request.
void ShowInBrowser(QWidget* owner, const QUrl& page) {
    static const char* kName = "frmHelp";
    QDialog* window = owner ? owner->findChild<QDialog*>(QString::fromLatin1(kName)) : nullptr;
    QTextBrowser* browser = nullptr;
    if (!window) {
        window = new QDialog(owner);
        window->setObjectName(QString::fromLatin1(kName));
        window->setAttribute(Qt::WA_DeleteOnClose, owner == nullptr);
        window->setWindowTitle(QString::fromStdString(GetResString(1, "Vellumo Quillex")) + QStringLiteral(" - Help"));
        browser = new QTextBrowser(window);
        browser->setObjectName(QStringLiteral("helpBrowser"));
        browser->setOpenExternalLinks(true);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
        QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
        auto* layout = new QVBoxLayout(window);
        layout->addWidget(browser);
        layout->addWidget(buttons);
        window->resize(720, 560);
    } else {
        browser = window->findChild<QTextBrowser*>(QStringLiteral("helpBrowser"));
    }
    browser->setSource(page);
    window->show();
    window->raise();
}

}  // namespace

DesktopHooks SetDesktopHooks(DesktopHooks hooks) { return std::exchange(Hooks(), std::move(hooks)); }

QString FindAssociatedProgram(const QString& path) {
    if (Hooks().findProgram) return Hooks().findProgram(path);
    QString mimeType;
    if (IsWebAddress(path))
        mimeType = QStringLiteral("x-scheme-handler/") + path.section(u':', 0, 0).toLower();
    else
        mimeType = QMimeDatabase().mimeTypeForFile(path).name();
    const QString entry = DefaultHandler(mimeType);
    if (entry.isEmpty()) return {};
    const QString program = ProgramOfDesktopEntry(entry);
    return program.isEmpty() ? entry : program;
}

bool OpenWithAssociatedProgram(QWidget* parent, const QString& path, bool wait) {
    if (!wait) {
        if (OpenUrl(UrlOf(path))) return true;
        TellFailure(parent, NoProgram(path, 1));
        return false;
    }
    const QString program = FindAssociatedProgram(path);
    if (program.isEmpty()) {
        TellFailure(parent, NoProgram(path, 2));
        return false;
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments({path});
    process.start();
    if (!process.waitForStarted(10000)) {
        TellFailure(parent, QString::fromStdString(FormatMsg(GetResString(232, "Kan '%s' niet starten: %s"),
                                                             {program.toStdString(), process.errorString().toStdString()})) +
                                QStringLiteral(" (3)"));
        return false;
    }
    while (!process.waitForFinished(100)) {
        if (process.state() == QProcess::NotRunning) break;
        QCoreApplication::processEvents();
    }
    return true;
}

bool ShowHelp(QWidget* owner, const QString& topic) {
    const QString folder = QString::fromStdString(Settings::Get().HelpFileName);
    // "page.htm#section": the page must exist, the section is where it opens.
    const QString page = folder + u'/' + topic.section(u'#', 0, 0);
    const QString section = topic.section(u'#', 1);
    if (folder.isEmpty() || !QFileInfo(page).isFile()) {
        WriteLog("Unable to display help: " + page.toStdString() + " not found");
        ShowMessageBox(owner, GetResString(230, "Unable to display help!"), MsgButtons::OK, MsgIcon::Critical,
                       GetResString(1, "Vellumo Quillex"));
        return false;
    }
    QUrl url = QUrl::fromLocalFile(page);
    if (!section.isEmpty()) url.setFragment(section);
    if (!FindAssociatedProgram(page).isEmpty() && OpenUrl(url)) return true;
    ShowInBrowser(owner, url);
    return true;
}

}  // namespace qx
