#include "cli/Command.h"

#include "support/TextResources.h"

#include <QCommandLineOption>

namespace qx::cli {

namespace {

constexpr int kWidth = 79;
constexpr int kDescriptionColumn = 24;

QString Bare(const QString& name) {
    QString bare = name;
    while (bare.startsWith(u'-')) bare.remove(0, 1);
    return bare;
}

// The one storage-format switch has always been read without regard to case.
QString Canonical(const QString& word) {
    if (word.compare(QStringLiteral("-showindicators"), Qt::CaseInsensitive) == 0 ||
        word.compare(QStringLiteral("--showindicators"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("-showindicators");
    return word;
}

}  // namespace

std::string Wrap(const std::string& text, int width, int indent) {
    std::string out;
    // Texts made for the log and the message boxes end their lines in CR LF.
    const QStringList lines = QString::fromStdString(text).remove(u'\r').split(u'\n');
    for (int l = 0; l < lines.size(); ++l) {
        if (l) out += '\n';
        const QString& line = lines[l];
        // A line's own leading blanks are kept for its continuation lines.
        int lead = 0;
        while (lead < line.size() && line[lead] == u' ') ++lead;
        const QStringList words = line.mid(lead).split(u' ', Qt::SkipEmptyParts);
        QString current = QString(lead, u' ');
        bool empty = true;
        for (const QString& word : words) {
            if (!empty && current.size() + 1 + word.size() > width) {
                out += current.toStdString() + '\n';
                current = QString(indent + lead, u' ');
                empty = true;
            }
            if (!empty) current += u' ';
            current += word;
            empty = false;
        }
        out += current.toStdString();
    }
    return out;
}

Arguments::Arguments(std::string program) : m_program(std::move(program)) {
    // The options have always been written with one dash as well as two.
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
}

void Arguments::option(const QStringList& names, const std::string& description, const QString& valueName) {
    QStringList bare;
    for (const QString& n : names) bare << Bare(n);
    QCommandLineOption option(bare);
    if (!valueName.isEmpty()) option.setValueName(valueName);
    m_parser.addOption(option);
    m_options.push_back({names, valueName, description});
}

void Arguments::argument(const QString& syntax, const std::string& description) {
    m_parser.addPositionalArgument(syntax, QString::fromStdString(description), syntax);
    m_arguments.emplace_back(syntax, description);
}

bool Arguments::parse(const QStringList& words, std::string& why) {
    QStringList argv{QString::fromStdString(m_program)};
    for (const QString& w : words) argv << Canonical(w);
    if (!m_parser.parse(argv)) {
        const QStringList unknown = m_parser.unknownOptionNames();
        // Named as the user typed it, dashes included.
        auto typed = [&](const QString& bare) {
            for (const QString& w : words) {
                const QString option = w.section(u'=', 0, 0);
                if (option.startsWith(u'-') && Bare(option) == bare) return option;
            }
            return bare;
        };
        if (!unknown.isEmpty()) {
            why = FormatMsg(GetResString(322, "Onbekende optie: %s"), {typed(unknown.front()).toStdString()});
            return false;
        }
        // The other refusal of the parser: an option that takes a value came last.
        for (const Declared& d : m_options) {
            if (d.valueName.isEmpty()) continue;
            for (const QString& n : d.names)
                if (!words.isEmpty() && Bare(words.back()) == Bare(n) && words.back().startsWith(u'-')) {
                    why = FormatMsg(GetResString(372, "%s heeft een waarde nodig"), {words.back().toStdString()});
                    return false;
                }
        }
        why = m_parser.errorText().toStdString();
        return false;
    }
    for (const Declared& d : m_options)
        if (!d.valueName.isEmpty() && m_parser.values(Bare(d.names.front())).size() > 1) {
            why = FormatMsg(GetResString(373, "%s mag maar \xC3\xA9\xC3\xA9n keer worden gegeven"),
                            {d.names.back().toStdString()});
            return false;
        }
    return true;
}

std::string Arguments::help(const std::string& description) const {
    QStringList syntax;
    for (const auto& [s, d] : m_arguments) syntax << s;
    std::string out = FormatMsg(GetResString(374, "Gebruik: %s [opties] %s"),
                                {m_program, syntax.join(u' ').toStdString()}) +
                      "\n\n" + Wrap(description, kWidth) + "\n\n" + GetResString(375, "Opties:") + "\n";
    auto row = [&](const QString& left, const std::string& text) {
        std::string line = "  " + left.toStdString();
        // Columns count characters, not bytes.
        const int shown = 2 + static_cast<int>(left.size());
        if (shown + 2 > kDescriptionColumn) line += "\n" + std::string(kDescriptionColumn, ' ');
        else line += std::string(static_cast<std::size_t>(kDescriptionColumn - shown), ' ');
        // Continuation lines of a description start in its column.
        QString wrapped = QString::fromStdString(Wrap(text, kWidth - kDescriptionColumn));
        wrapped.replace(u'\n', QStringLiteral("\n") + QString(kDescriptionColumn, u' '));
        out += line + wrapped.toStdString() + "\n";
    };
    for (const auto& [s, d] : m_arguments) row(s, d);
    for (const Declared& d : m_options) {
        QString left = d.names.join(QStringLiteral(", "));
        if (!d.valueName.isEmpty()) left += u' ' + d.valueName;
        row(left, d.description);
    }
    return out;
}

int UsageError(const std::string& program, const std::string& why, Streams io) {
    std::fprintf(io.err, "%s\n",
                 FormatMsg(GetResString(371, "%s: %s (probeer '%s --help')"), {program, why, program}).c_str());
    return ExitUsage;
}

std::string Command::summary() const {
    const std::string text = description();
    const std::size_t end = text.find_first_of(".\r\n");
    return text.substr(0, end);
}

void Command::declareAll(Arguments& args) const {
    declare(args);
    args.option({"-q", "--quiet"},
                GetResString(376, "Geen voortgang en geen meldingen: alleen de resultaatregels en fouten."));
    args.option({"-h", "--help"}, GetResString(319, "Toont deze hulp en stopt."));
}

void Command::printHelp(std::FILE* to) const {
    Arguments args(std::string("quillex-cli ") + name());
    declareAll(args);
    std::fputs(args.help(description()).c_str(), to);
}

int Command::usage(Streams io, const std::string& why) const {
    return UsageError(std::string("quillex-cli ") + name(), why, io);
}

int Command::execute(const QStringList& words, Streams io) {
    Arguments args(std::string("quillex-cli ") + name());
    declareAll(args);
    std::string why;
    if (!args.parse(words, why)) return usage(io, why);
    if (args.isSet("help")) {
        std::fputs(args.help(description()).c_str(), io.out);
        return ExitOk;
    }
    io.quiet = args.isSet("quiet");
    return run(args, io);
}

}  // namespace qx::cli
