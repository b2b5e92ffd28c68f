#pragma once
// Qt's own texts (standard buttons, the file and print dialogs) in Dutch,
// like the rest of the program.
class QCoreApplication;

namespace qx {

// Loads Qt's Dutch translation from the folder Qt keeps its translations
// in; false (and Qt's English texts stay) when it is not installed.
bool InstallDutchQtTexts(QCoreApplication& app);

}  // namespace qx
