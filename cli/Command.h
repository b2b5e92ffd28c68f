#pragma once
// One class per command of quillex-cli. Exit codes are shared by all of them.
//
// A command declares each of its options once (Arguments::option: names,
// value name, Dutch description); the parser, the help text and the one-line
// usage errors all come from those declarations. A command that opens an
// archive derives from DatabaseCommand (cli/DatabaseCommand.h), which
// declares and takes what they all share (the archive, --dry-run/-n, --log,
// --yes/--no and, when asked for, --json FILE|-); the command then declares
// only its own options in declareOwn() and does its work in runOn(). A new
// command (say `salvage`) is such a class plus one line in Commands.cpp.
#include <QCommandLineParser>
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
    // --quiet: no progress and no notices, only the result lines and errors.
    bool quiet = false;
};

// The declared options and arguments of one command and, once parsed, what
// was given.
class Arguments {
public:
    explicit Arguments(std::string program);

    // names as the user types them ("-n", "--dry-run", "-showindicators");
    // an empty valueName declares a switch.
    void option(const QStringList& names, const std::string& description, const QString& valueName = {});
    // A positional argument: its syntax in the usage line ("ID...") and its description.
    void argument(const QString& syntax, const std::string& description);

    // False with the reason (one Dutch sentence) on a usage error.
    bool parse(const QStringList& words, std::string& why);

    // name without dashes
    bool isSet(const QString& name) const { return m_parser.isSet(name); }
    QString value(const QString& name) const { return m_parser.value(name); }
    QStringList values(const QString& name) const { return m_parser.values(name); }
    QStringList positional() const { return m_parser.positionalArguments(); }

    const std::string& program() const { return m_program; }
    // The usage line, the description and the generated option list.
    std::string help(const std::string& description) const;

private:
    struct Declared {
        QStringList names;  // as typed
        QString valueName;
        std::string description;
    };
    std::string m_program;  // "quillex-cli check"
    QCommandLineParser m_parser;
    std::vector<Declared> m_options;
    std::vector<std::pair<QString, std::string>> m_arguments;
};

// "quillex-cli check: <why> (probeer 'quillex-cli check --help')"; ExitUsage.
int UsageError(const std::string& program, const std::string& why, Streams io);
// Wraps each line of text to the terminal's usual width; continuation lines
// start with `indent` blanks.
std::string Wrap(const std::string& text, int width, int indent = 0);

class Command {
public:
    virtual ~Command() = default;
    virtual const char* name() const = 0;
    // The first sentence of description().
    std::string summary() const;
    void printHelp(std::FILE* to) const;
    // args: the words after the command name.
    int execute(const QStringList& args, Streams io);

protected:
    // What the command does and its exit codes, for the help (Dutch).
    virtual std::string description() const = 0;
    // Every option of the command; --help (-h) and --quiet (-q) are declared
    // for all of them.
    virtual void declare(Arguments& args) const = 0;
    virtual int run(const Arguments& args, Streams io) = 0;
    int usage(Streams io, const std::string& why) const;

private:
    void declareAll(Arguments& args) const;
};

std::vector<std::unique_ptr<Command>> AllCommands();

}  // namespace qx::cli
