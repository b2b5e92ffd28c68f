#pragma once
// Runs the built quillex-cli and captures what it printed and its exit code.
#include "support/engine/Sql.h"
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

// A file held on purpose is waited for as briefly as the engine allows the
// test to wait, here and in every command the test runs; what is judged
// (in use) does not depend on how long.
struct ShortBusyWait {
    explicit ShortBusyWait(int milliseconds = 200) : saved(sql::BusyTimeout()) {
        sql::SetBusyTimeout(milliseconds);
        setenv("QUILLEX_BUSY_TIMEOUT_MS", std::to_string(milliseconds).c_str(), 1);
    }
    ~ShortBusyWait() {
        sql::SetBusyTimeout(saved);
        unsetenv("QUILLEX_BUSY_TIMEOUT_MS");
    }
    ShortBusyWait(const ShortBusyWait&) = delete;
    ShortBusyWait& operator=(const ShortBusyWait&) = delete;
    int saved;
};

}  // namespace qx::test
