// quillex-cli remove ARCHIVE.dat ID... and quillex-cli info ARCHIVE.dat ID:
// the window's Remove and Information on documents named by number.
#include "cli/Command.h"
#include "cli/DatabaseCommand.h"
#include "cli/TerminalWindow.h"
#include "support/TextResources.h"
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

std::string NotANumber(const char* what, const QString& text) {
    return FormatMsg(GetResString(417, "Geen geldig getal voor %s: %s"), {std::string(what), text.toStdString()});
}

std::string IdDescription() {
    return GetResString(415, "Het nummer van een document, zoals de lijst en --json het geven.");
}

class RemoveCommand : public DatabaseCommand {
public:
    RemoveCommand() : DatabaseCommand({.more = QStringLiteral("ID..."), .moreDescription = IdDescription()}) {}
    const char* name() const override { return "remove"; }

protected:
    std::string description() const override {
        return FormatMsg(GetResString(
            401,
            "Verwijdert documenten, met hun gegevens en pagina's, uit een archief.%n%n"
            "Zoals Documenten > Verwijderen in het venster: het document, zijn gegevens in zijn subdatabase en, "
            "voor een multipage document waarvan de gegevens weg zijn, zijn pagina's. Elke verwijdering komt in "
            "het logboek. Voor \xC3\xA9\xC3\xA9n ID wordt de vraag van het venster gesteld met de naam van het "
            "document, voor meer IDs \xC3\xA9\xC3\xA9n keer voor allemaal. Een nummer zonder document of van een map "
            "wordt genoemd en overgeslagen: mappen worden nooit verwijderd.%n%n"
            "Exitcodes: 0 alles verwijderd, 4 niet alles kon worden verwijderd, 8 niet geopend, 16 gebruiksfout, "
            "32 de vraag werd geweigerd."));
    }

    int runOn(const Arguments&, const ArchiveRun& run, Streams io) override {
        const RunOptions options = run.options;
        if (run.more.isEmpty()) return usage(io, FormatMsg(GetResString(416, "Geef %s op"), {"ARCHIEF.dat ID..."}));
        std::vector<long> ids;
        for (const QString& a : run.more) {
            long id = 0;
            if (!ParseId(a, id)) return usage(io, NotANumber("ID", a));
            if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
        }

        OpenedArchive archive(io, run.answering, options);
        if (const int status = archive.open(run.archive); status != ExitOk) return status;
        TerminalWindow& window = archive.window;
        CDatabase& database = archive.database;

        // A number without a document, or a folder's, is told, not asked about.
        int failed = 0;
        std::erase_if(ids, [&](long id) {
            const std::optional<RecordKind> kind = RecordKindOf(database, id);
            if (kind.value_or(RecordKind::Document) == RecordKind::Document) return false;
            if (*kind == RecordKind::Folder)
                std::fprintf(io.err, "quillex-cli remove: %s\n",
                             FormatMsg(GetResString(526, "%s is een map, geen document; mappen worden niet verwijderd"),
                                       {std::to_string(id)})
                                 .c_str());
            else
                std::fprintf(io.err, "quillex-cli remove: %s\n",
                             FormatMsg(GetResString(527, "geen document %s in %s"), {std::to_string(id), archive.file()})
                                 .c_str());
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
            std::fprintf(io.out, "%s\n", GetResString(523, "niets verwijderd").c_str());
            window.EndRun();
            return ExitCancelled;
        }
        for (long id : ids) {
            const bool removed = RemoveDocument(database, id);
            std::fprintf(io.out, "%ld\t%s\n", id,
                         (removed ? GetResString(524, "verwijderd")
                                  : GetResString(525, "niet verwijderd (zie het logboek)"))
                             .c_str());
            if (!removed) ++failed;
        }
        if (options.dryRun) PrintReportOnlyEnd(database, io.out);
        window.EndRun();
        return failed ? ExitProblemsLeft : ExitOk;
    }
};

class InfoCommand : public DatabaseCommand {
public:
    InfoCommand()
        : DatabaseCommand({.json = true, .more = QStringLiteral("ID"), .moreDescription = IdDescription()}) {}
    const char* name() const override { return "info"; }

protected:
    std::string description() const override {
        return FormatMsg(GetResString(
            402,
            "Toont de naam, trefwoorden, datum, postcode en status van een document.%n%n"
            "Wat Informatie over... in het venster toont: naam, trefwoorden, datum en postcode, en de toelichting "
            "bij een resultaatcode: de code van --code, anders de toestand van de koppeling met de subdatabase "
            "(0: gekoppeld, geen toelichting). In het archief wordt niets gewijzigd, maar het wordt geopend zoals "
            "'open' dat doet. Voor een nummer zonder document of van een map wordt alleen dat gezegd.%n%n"
            "Exitcodes: 0 getoond, 4 geen document met dat nummer, 8 niet geopend of uitvoer niet geschreven, "
            "16 gebruiksfout."));
    }

    void declareOwn(Arguments& args) const override {
        args.option({"--code"}, GetResString(418, "Licht resultaatcode N toe."), QStringLiteral("N"));
    }

    int runOn(const Arguments& args, const ArchiveRun& run, Streams io) override {
        const QString jsonTarget = run.json;
        std::optional<long> code;
        if (args.isSet("code")) {
            bool ok = false;
            code = args.value("code").toLong(&ok);
            if (!ok) return usage(io, NotANumber("--code", args.value("code")));
        }
        long id = 0;
        if (run.more.size() != 1) return usage(io, FormatMsg(GetResString(416, "Geef %s op"), {"ARCHIEF.dat ID"}));
        if (!ParseId(run.more.front(), id)) return usage(io, NotANumber("ID", run.more.front()));

        OpenedArchive archive(io, run.answering, run.options);
        if (const int status = archive.open(run.archive); status != ExitOk) return status;
        CDatabase& database = archive.database;

        const std::optional<RecordKind> kind = RecordKindOf(database, id);
        if (!kind) {
            std::fprintf(io.err, "quillex-cli info: %s\n",
                         FormatMsg(GetResString(528, "de documenten van %s konden niet worden gelezen"),
                                   {archive.file()})
                             .c_str());
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
            std::vector<std::pair<std::string, std::string>> fields{
                {GetResString(515, "nummer"), std::to_string(id)},
                {GetResString(516, "naam"), info.name},
                {GetResString(517, "trefwoorden"), info.keywords},
                {GetResString(518, "datum"), info.date},
                {GetResString(519, "postcode"), info.zip},
                {GetResString(520, "subdatabase"), subDatabase},
                {GetResString(521, "code"), std::to_string(shownCode)}};
            if (explained) fields.emplace_back(GetResString(522, "toelichting"), info.explanation);
            std::fputs(LabelledLines(fields).c_str(), human);
        } else if (*kind == RecordKind::Folder) {
            std::fprintf(io.err, "quillex-cli info: %s\n",
                         FormatMsg(GetResString(529, "%s is een map in %s, geen document"),
                                   {std::to_string(id), archive.file()})
                             .c_str());
        } else {
            std::fprintf(io.err, "quillex-cli info: %s\n",
                         FormatMsg(GetResString(527, "geen document %s in %s"), {std::to_string(id), archive.file()})
                             .c_str());
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
                RefuseArchiveFile(io, "info", "--json", jsonTarget);
                status = ExitUsage;
            } else {
                QFile out(jsonTarget);
                if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size()) {
                    CouldNotWrite(io, jsonTarget);
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
