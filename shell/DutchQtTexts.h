#pragma once
// Qt's own texts (standard buttons, the file and print dialogs) in Dutch,
// like the rest of the program, and Dutch number and date formats in Qt's
// widgets.
#include <QString>

class QCoreApplication;

namespace qx {

// Loads Qt's Dutch translation from `folder` (by default the folder Qt keeps
// its translations in); false when it is not installed there. Our own Dutch
// texts for the Qt strings the program shows are installed in every case:
// they stand in where Qt's translation is missing or leaves a text English.
bool InstallDutchQtTexts(QCoreApplication& app, const QString& folder = QString());

// Our Dutch text for one of Qt's strings; empty when we have none.
QString DutchQtText(const char* context, const char* sourceText);

// Dutch formats in every Qt widget (spin boxes, dialogs), while the C
// library keeps the point as decimal sign: log lines written with printf
// must read the same for every user.
void UseDutchFormats();

}  // namespace qx
