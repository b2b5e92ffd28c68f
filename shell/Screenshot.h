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

// "quillex --screenshots DIR [ARCHIVE.dat]": pictures of every window, for
// the user guide and docs/: the main window (after a normal check of the
// archive, when one is given), the information window for the first row of
// its list, the About window, the progress (wide), compacting and
// reorganizing windows, the reorganize question (a message box), the plan
// its Voorbeeld button shows, the print preview and the guide's own window,
// as main.png, information.png, about.png, progress.png, compact.png,
// reorganize.png, message.png, plan.png, preview.png and help.png in DIR, and the printed list as
// printout.pdf. The archive is opened report-only and every question is
// answered No; the printout's date is fixed, so that the same sample gives
// the same pictures (tools/screenshots.sh).
int RunScreenshots(const QString& outDir, const QString& archive, const QStringList& arguments);

}  // namespace qx
