#pragma once
// Where the user guide explains each menu item and each window, as
// "page.htm#section" relative to the guide's folder. The guide's own test
// walks the menus through this table, so a new menu item without a section
// in the guide fails the build's tests.
#include <QString>

class QAction;
class QWidget;

namespace qx {

class frmMain;

// The section of a menu item: its "helpTopic" property when it has one,
// else the table's entry for its object name; "" when the guide has none.
QString HelpTopicOf(const QAction* action);

// The section of a window (F1 opens the one of the active window); the
// guide's first page for the main window and anything the table lacks.
QString HelpTopicOfWindow(const QWidget* window);

// Gives the main window's menu items their member names as object names,
// the names the table knows them by.
void NameMenuItems(frmMain& window);

}  // namespace qx
