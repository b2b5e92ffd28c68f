#include "shell/StartCommandLine.h"

#include "shell/frmMain.h"
#include "support/TextResources.h"

#include <QAction>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace qx {

namespace {

QString Res(long id, const char* def) { return QString::fromStdString(GetResString(id, def)); }

StartOptions UsageError(const QString& what) {
    StartOptions options;
    options.exit = true;
    options.error = true;
    options.exitCode = kUsageExit;
    options.output = QString::fromStdString(
                         FormatMsg(GetResString(321, "%s (probeer 'quillex --help')"), {what.toStdString()})) +
                     u'\n';
    return options;
}

}  // namespace

StartOptions ParseStartCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    // The start-up switches have always had one dash.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        Res(316, "Vellumo Quillex: controleert, herstelt en onderhoudt een Vellumo archief."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, Res(319, "Toont deze hulp en stopt."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     Res(320, "Toont het versienummer en stopt."));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    Res(318, "Alleen rapporteren: er wordt niets gewijzigd, ook niet bij het openen."));
    QCommandLineOption noCompCheck(QStringLiteral("no_comp_check"));
    QCommandLineOption showIndicators(QStringLiteral("showindicators"));
    noCompCheck.setFlags(QCommandLineOption::HiddenFromHelp);
    showIndicators.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({help, version, dryRun, noCompCheck, showIndicators});
    parser.addPositionalArgument(QStringLiteral("ARCHIEF.dat"),
                                 Res(317, "Het archief (.dat) dat bij het starten wordt geopend."),
                                 QStringLiteral("[ARCHIEF.dat]"));

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            // As the user typed it, dashes included.
            QString given = unknown.front();
            for (const QString& argument : arguments.mid(1)) {
                const QString option = argument.section(u'=', 0, 0);
                if (option.startsWith(u'-') && option.mid(option.startsWith(QStringLiteral("--")) ? 2 : 1) == given) {
                    given = option;
                    break;
                }
            }
            return UsageError(
                QString::fromStdString(FormatMsg(GetResString(322, "Onbekende optie: %s"), {given.toStdString()})));
        }
        return UsageError(parser.errorText());
    }
    StartOptions options;
    if (parser.isSet(help)) {
        options.exit = true;
        options.output = parser.helpText();
        return options;
    }
    if (parser.isSet(version)) {
        options.exit = true;
        options.output = QString::fromStdString(GetResString(1, "Vellumo Quillex")) + u' ' +
                         QStringLiteral(QUILLEX_VERSION) + u'\n';
        return options;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) return UsageError(Res(323, "Geef hoogstens \xC3\xA9\xC3\xA9n archief op."));
    if (!positional.isEmpty()) options.archive = QFileInfo(positional.front()).absoluteFilePath();
    options.dryRun = parser.isSet(dryRun);
    return options;
}

std::unique_ptr<frmMain> StartWindow(const StartOptions& options, const QStringList& rawArguments) {
    auto window = std::make_unique<frmMain>(rawArguments);
    if (window->LoadRefused()) return nullptr;
    // Before anything is opened: the open step too only reports.
    if (options.dryRun) window->miReportOnly->setChecked(true);
    if (!options.archive.isEmpty()) window->OpenOnStart(options.archive.toStdString());
    return window;
}

}  // namespace qx
