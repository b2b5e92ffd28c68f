#pragma once
// The four status-bar texts of the main window, composed from its state;
// the window shows them in panels, the command line prints them in a line.
#include "database/MainWindow.h"

#include <array>
#include <cstddef>
#include <string>

namespace qx {

class Env;

// documentRows: rows in lvDocuments; selectedRows: how many of them are selected.
// reportOnly: the run saves nothing, so nothing is called repaired; the last
// panel says that the mode is on.
std::array<std::string, 4> StatusBarTexts(Env& env, const MainWindowState& state, std::size_t documentRows,
                                          std::size_t selectedRows, bool reportOnly = false);

}  // namespace qx
