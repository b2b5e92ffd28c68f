// quillex-cli remove ARCHIVE.dat ID... and quillex-cli info ARCHIVE.dat ID:
// the window's Remove and Information on documents named by number.
#include "cli/Command.h"
#include "cli/TerminalWindow.h"
#include "database/ArchiveFiles.h"
#include "database/DocumentActions.h"
#include "support/Settings.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <optional>
#include <vector>

namespace qx::cli {

namespace {

bool ParseId(const QString& text, long& id) {
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value <= 0 || value > 0x7fffffff) return false;
    id = static_cast<long>(value);
    return true;
}

int Usage(const Command& command, Streams io, const std::string& why) {
    std::fprintf(io.err, "quillex-cli %s: %s\n\n", command.name(), why.c_str());
    command.printHelp(io.err);
    return ExitUsage;
}

class RemoveCommand : public Command {
public:
    const char* name() const override { return "remove"; }
    const char* summary() const override { return "remove documents (with their data and pages) from an archive"; }
    void printHelp(std::FILE* to) const override {
        std::fputs("Usage: quillex-cli remove ARCHIVE.dat ID... [--yes|--no] [--dry-run] [--log FILE]\n"
                   "\n"
                   "Removes the documents with these numbers from the archive, as the window's\n"
                   "Documenten > Verwijderen does: the document record, its data row in its sub\n"
                   "database and, for a multipage document whose data is lost, its pages. Each\n"
                   "removal is logged (\"ID - Removing from database\"). One ID asks the window's\n"
                   "question naming the document, several IDs ask once for all of them.\n"
                   "\n"
                   "  --yes   remove without asking     --no   refuse (nothing is removed; the\n"
                   "          default without a terminal)\n"
                   "  --dry-run, -n   report only: remove in memory and tell what would go;\n"
                   "                  no file is changed and no log is written unless --log\n"
                   "                  asks for one\n"
                   "  --log FILE      write the log to FILE instead of beside the archive\n"
                   "\n"
                   "The archive is opened as `open` opens it (lock included).\n"
                   "\n"
                   "A number without a document, or the number of a folder, is named and left\n"
                   "out: folders are never removed.\n"
                   "\n"
                   "Exit codes: 0 all removed, 4 some could not be removed (not there, a folder,\n"
                   "locked),\n"
                   "8 not opened, 16 usage error, 32 the question was refused.\n",
                   to);
    }

    int execute(const QStringList& argsIn, Streams io) override {
        QStringList args = argsIn;
        Answering answering;
        if (!TakeAnswering(args, answering, io)) return ExitUsage;
        RunOptions options;
        if (!TakeRunOptions(args, options, io)) return ExitUsage;
        if (args.size() < 2) return Usage(*this, io, "name the archive and at least one document number");
        for (const QString& a : args)
            if (a.startsWith('-')) return Usage(*this, io, "unknown option " + a.toStdString());
        std::vector<long> ids;
        for (const QString& a : args.mid(1)) {
            long id = 0;
            if (!ParseId(a, id)) return Usage(*this, io, "not a document number: " + a.toStdString());
            if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
        }

        OpenedArchive archive(io, answering, options);
        if (const int status = archive.open(args.front()); status != ExitOk) return status;
        TerminalWindow& window = archive.window;
        CDatabase& database = archive.database;

        // A number without a document, or a folder's, is told, not asked about.
        int failed = 0;
        std::erase_if(ids, [&](long id) {
            const std::optional<RecordKind> kind = RecordKindOf(database, id);
            if (kind.value_or(RecordKind::Document) == RecordKind::Document) return false;
            if (*kind == RecordKind::Folder)
                std::fprintf(io.err, "quillex-cli remove: %ld is a folder, not a document; folders are not removed\n",
                             id);
            else
                std::fprintf(io.err, "quillex-cli remove: no document %ld in %s\n", id, archive.file().c_str());
            ++failed;
            return true;
        });
        if (ids.empty()) {
            window.EndRun();
            return ExitProblemsLeft;
        }
        bool agreed = false;
        if (ids.size() == 1) {
            std::string name, keywords, notes, date, zip;
            database.DocumentInfo(ids.front(), name, keywords, notes, date, zip);
            agreed = AskRemoveOne(window, name, false);
        } else {
            agreed = AskRemoveSelected(window, ids.size());
        }
        if (!agreed) {
            std::fputs("nothing removed\n", io.out);
            window.EndRun();
            return ExitCancelled;
        }
        for (long id : ids) {
            const bool removed = RemoveDocument(database, id);
            std::fprintf(io.out, "%ld\t%s\n", id, removed ? "removed" : "not removed (see the log)");
            if (!removed) ++failed;
        }
        if (options.dryRun) PrintReportOnlyEnd(database, io.out);
        window.EndRun();
        return failed ? ExitProblemsLeft : ExitOk;
    }
};

class InfoCommand : public Command {
public:
    const char* name() const override { return "info"; }
    const char* summary() const override { return "show a document's name, keywords, date, zip code and state"; }
    void printHelp(std::FILE* to) const override {
        std::fputs("Usage: quillex-cli info ARCHIVE.dat ID [--code N] [--json FILE|-]\n"
                   "\n"
                   "Shows what the window's Informatie over... shows for a document: its name,\n"
                   "keywords, date and zip code, and the explanation of a result code. The code\n"
                   "is the one given with --code (as `check --json` lists it), else the state of\n"
                   "the document's link to its sub database (0: linked, no explanation).\n"
                   "\n"
                   "  --code N      explain result code N\n"
                   "  --json FILE   the same as JSON (keys: docs/json.md); \"-\" writes it to\n"
                   "                standard output\n"
                   "\n"
                   "Nothing in the archive is changed, but it is opened as `open` opens it (lock\n"
                   "and the tidying of the sub-database list included).\n"
                   "\n"
                   "A number that is no document, or is a folder's, is said to be so; nothing\n"
                   "else is shown for it (the JSON has \"found\": false and \"folder\").\n"
                   "\n"
                   "Exit codes: 0 shown, 4 no document with that number (none, or a folder),\n"
                   "8 not opened or output not written, 16 usage error.\n",
                   to);
    }

    int execute(const QStringList& argsIn, Streams io) override {
        QStringList args = argsIn;
        Answering answering;
        if (!TakeAnswering(args, answering, io)) return ExitUsage;
        QString jsonTarget;
        std::optional<long> code;
        QStringList rest;
        for (int i = 0; i < args.size(); ++i) {
            const QString& a = args[i];
            if (a == "--json" || a == "--code") {
                if (i + 1 >= args.size()) return Usage(*this, io, a.toStdString() + " needs a value");
                const QString value = args[++i];
                if (a == "--json") {
                    jsonTarget = value;
                    continue;
                }
                bool ok = false;
                code = value.toLong(&ok);
                if (!ok) return Usage(*this, io, "not a result code: " + value.toStdString());
            } else if (a.startsWith('-')) {
                return Usage(*this, io, "unknown option " + a.toStdString());
            } else {
                rest << a;
            }
        }
        long id = 0;
        if (rest.size() != 2) return Usage(*this, io, "name the archive and one document number");
        if (!ParseId(rest[1], id)) return Usage(*this, io, "not a document number: " + rest[1].toStdString());

        OpenedArchive archive(io, answering);
        if (const int status = archive.open(rest.front()); status != ExitOk) return status;
        CDatabase& database = archive.database;

        const std::optional<RecordKind> kind = RecordKindOf(database, id);
        if (!kind) {
            std::fprintf(io.err, "quillex-cli info: the documents of %s could not be read\n", archive.file().c_str());
            archive.window.EndRun();
            return ExitOperational;
        }
        const bool known = *kind == RecordKind::Document;
        // Nothing to show for a number that is no document: no record, no
        // code and no explanation that would only be made up.
        std::string subDatabase;
        long state = 0;
        if (known) {
            long linked = id;
            state = database.OpenPicbase(linked, &subDatabase);
        }
        const long shownCode = code.value_or(state);
        const DocumentInformation info =
            known ? GetDocumentInformation(database, id, shownCode, subDatabase) : DocumentInformation{};
        // A document without any explanation to give: linked and no code asked.
        const bool explained = code.has_value() || state != 0;

        QJsonObject json{{"archive", QString::fromStdString(archive.file())},
                         {"id", static_cast<qint64>(id)},
                         {"found", known}};
        if (known) {
            json["name"] = QString::fromStdString(info.name);
            json["keywords"] = QString::fromStdString(info.keywords);
            json["date"] = QString::fromStdString(info.date);
            json["zip"] = QString::fromStdString(info.zip);
            json["sub_database"] = QString::fromStdString(subDatabase);
            json["code"] = static_cast<qint64>(shownCode);
            json["explanation"] =
                explained ? QJsonValue(QString::fromStdString(info.explanation)) : QJsonValue(QJsonValue::Null);
        } else {
            json["folder"] = *kind == RecordKind::Folder;
        }
        std::FILE* human = jsonTarget == "-" ? io.err : io.out;
        if (known) {
            std::fprintf(human,
                         "id            %ld\nname          %s\nkeywords      %s\ndate          %s\nzip           %s\n"
                         "sub database  %s\ncode          %ld\n",
                         id, info.name.c_str(), info.keywords.c_str(), info.date.c_str(), info.zip.c_str(),
                         subDatabase.c_str(), shownCode);
            if (explained) std::fprintf(human, "explanation   %s\n", info.explanation.c_str());
        } else if (*kind == RecordKind::Folder) {
            std::fprintf(io.err, "quillex-cli info: %ld is a folder in %s, not a document\n", id,
                         archive.file().c_str());
        } else {
            std::fprintf(io.err, "quillex-cli info: no document %ld in %s\n", id, archive.file().c_str());
        }
        archive.window.EndRun();

        int status = known ? ExitOk : ExitProblemsLeft;
        if (!jsonTarget.isEmpty()) {
            const QByteArray bytes = QJsonDocument(json).toJson(QJsonDocument::Indented);
            if (jsonTarget == "-") {
                if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), io.out) !=
                        static_cast<size_t>(bytes.size()) ||
                    std::fflush(io.out) != 0)
                    status = ExitOperational;
            } else if (IsArchiveOwnFile(database, jsonTarget.toStdString())) {
                std::fprintf(io.err, "quillex-cli info: --json %s: refused, it belongs to the archive\n",
                             jsonTarget.toLocal8Bit().constData());
                status = ExitUsage;
            } else {
                QFile out(jsonTarget);
                if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size()) {
                    std::fprintf(io.err, "quillex-cli: could not write %s\n", jsonTarget.toLocal8Bit().constData());
                    status = ExitOperational;
                }
            }
        }
        return status;
    }
};

}  // namespace

std::unique_ptr<Command> MakeRemoveCommand() { return std::make_unique<RemoveCommand>(); }
std::unique_ptr<Command> MakeInfoCommand() { return std::make_unique<InfoCommand>(); }

}  // namespace qx::cli
