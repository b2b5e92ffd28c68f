#pragma once
// Opening documents and web addresses with the program the desktop
// associates with them, and the user guide (help) shipped with Quillex.
#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace qx {

// Stand-ins for the desktop (tests, the screenshot run): how a URL is
// opened and how the associated program of a file is found.
struct DesktopHooks {
    std::function<bool(const QUrl&)> openUrl;
    std::function<QString(const QString&)> findProgram;
};
// Installs the hooks (empty members restore the real desktop); returns the previous ones.
DesktopHooks SetDesktopHooks(DesktopHooks hooks);

// The program the desktop associates with `path` (a file or a web
// address); "" when there is none.
QString FindAssociatedProgram(const QString& path);

// Opens `path` with its associated program. Without `wait` the desktop
// opens it and this returns at once; with `wait` the associated program is
// started with the path and this returns when it has ended, keeping the
// windows live meanwhile. A failure is told in a box over `parent`.
bool OpenWithAssociatedProgram(QWidget* parent, const QString& path, bool wait);

// The user guide's page `topic`, "page.htm" or "page.htm#section"
// (Settings::HelpFileName is its folder), opened at that section:
// with the associated program when the desktop has one, else in a browser
// window of our own owned by `owner`. When the page is missing, logs why and
// tells the user; false then.
bool ShowHelp(QWidget* owner, const QString& topic);

}  // namespace qx
