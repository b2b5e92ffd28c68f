#pragma once
// Runs the built quillex-cli and captures what it printed and its exit code.
#include "tests/core/TestUtil.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace qx::test {

struct CliRun {
    int exit = -1;
    std::string out, err;
};

// One word for the shell, whatever the text holds (quotes included).
inline std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// args are passed to the shell as written (quote paths yourself, ShellQuote).
inline CliRun RunCli(const std::string& args, const TempDir& scratch) {
    const std::string out = scratch.file("cli.out"), err = scratch.file("cli.err");
    const std::string cmd = std::string("'") + QX_CLI_PATH + "' " + args + " >'" + out + "' 2>'" + err + "' </dev/null";
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
}

}  // namespace qx::test
