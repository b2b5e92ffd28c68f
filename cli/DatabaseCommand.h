#pragma once
// The base of every command that opens an archive: it declares and takes the
// archive argument and the options they share, so that a command declares
// only its own.
#include "cli/Command.h"
#include "cli/TerminalWindow.h"

namespace qx::cli {

// What every archive command was given besides its own options.
struct ArchiveRun {
    QString archive;
    QStringList more;  // the positional arguments after the archive
    Answering answering = Answering::Ask;
    RunOptions options;
    QString json;  // --json FILE or "-", for the commands that declare it
};

class DatabaseCommand : public Command {
protected:
    struct Shared {
        bool json = false;  // --json FILE|-
        // Positional arguments after the archive, and their syntax and
        // description for the help; none when the syntax is empty.
        QString more;
        std::string moreDescription;
    };
    DatabaseCommand();
    explicit DatabaseCommand(Shared shared);

    virtual void declareOwn(Arguments&) const {}
    virtual int runOn(const Arguments& args, const ArchiveRun& run, Streams io) = 0;

private:
    void declare(Arguments& args) const final;
    int run(const Arguments& args, Streams io) final;
    Shared m_shared;
};

}  // namespace qx::cli
