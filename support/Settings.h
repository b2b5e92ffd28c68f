#pragma once
// Process-wide state of an open archive, kept in one place so that tests can
// start from a clean slate with Settings::Reset().
#include <string>

namespace qx {

struct Settings {
    std::string DatabasePassword;  // the password the main database opened with
    int DatabaseVersion = 0;       // generation found when it was opened; 0 = none
    std::string LogFileName;       // empty = logging off
    // Where the log goes instead of beside the main database ("" = beside
    // it; a report-only run without one writes no log at all).
    std::string LogFileChosen;
    std::string HelpFileName;      // the folder of the user guide's pages (index.htm first)

    static Settings& Get();
    static void Reset();
};

}  // namespace qx
