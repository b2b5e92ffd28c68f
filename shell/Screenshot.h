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

// "quillex --screenshots DIR [ARCHIVE.dat]": pictures of the main window
// (after a normal check of the archive, when one is given), of the
// information window for the first row of its list, of the About window,
// and of the progress (wide), compacting and reorganizing windows, as
// main.png, information.png, about.png, progress.png, compact.png and
// reorganize.png in DIR, and the printed list as printout.pdf. Every question
// is answered No, but the check repairs what it repairs without asking:
// give it a sample archive (quillex-cli sample).
int RunScreenshots(const QString& outDir, const QString& archive, const QStringList& arguments);

}  // namespace qx
