#pragma once
// "quillex --screenshot OUT.png [ARCHIVE.dat]": starts the main window with
// every start-up question answered safely (OK, No), opens the archive if one
// is given, lets the window settle and saves a picture of it. For the
// documentation; never shows a dialog or waits for anyone.
#include <QString>
#include <QStringList>

namespace qx {

// 0 when the picture was written (and the archive, if given, opened).
int RunScreenshot(const QString& outFile, const QString& archive, const QStringList& arguments);

}  // namespace qx
