#pragma once
// One class per command of quillex-cli. Exit codes are shared by all of them.
#include <QStringList>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace qx::cli {

enum ExitCode : int {
    ExitOk = 0,
    ExitRepaired = 1,     // problems were found and all of them repaired
    ExitProblemsLeft = 4,
    ExitOperational = 8,  // could not do the job: missing file, refused archive, disk
    ExitUsage = 16,
    ExitCancelled = 32,
};

struct Streams {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

class Command {
public:
    virtual ~Command() = default;
    virtual const char* name() const = 0;
    virtual const char* summary() const = 0;
    virtual void printHelp(std::FILE* to) const = 0;
    // args: the words after the command name.
    virtual int execute(const QStringList& args, Streams io) = 0;
};

std::vector<std::unique_ptr<Command>> AllCommands();

}  // namespace qx::cli
