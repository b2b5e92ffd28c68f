// quillex-cli sample: writes a sample archive, optionally with named faults.
#include "cli/Command.h"
#include "support/HumanFormat.h"
#include "support/TextResources.h"
#include "tools/sample/SampleArchive.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

namespace qx::cli {
namespace {

std::string Quoted(const std::string& path) {
    std::string out = "'";
    for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class SampleCommand : public Command {
public:
    const char* name() const override { return "sample"; }

protected:
    std::string description() const override {
        std::string faults;
        for (const std::string& f : SampleFaultNames()) faults += (faults.empty() ? "" : ", ") + f;
        return FormatMsg(GetResString(
                   403,
                   "Schrijft een voorbeeldarchief, op verzoek met fouten.%n%n"
                   "In MAP (gemaakt als die ontbreekt) komen de hoofddatabase NAAM.dat met een mappenboom en "
                   "documenten, de subdatabases NAAM_1.pdb ... met echte beelden en PDF's, en de OCR-database "
                   "NAAM.omd. Bestaande bestanden worden nooit overschreven. Hetzelfde startgetal geeft hetzelfde "
                   "archief.%n%n"
                   "Exitcodes: 0 geschreven, 8 niet geschreven, 16 gebruiksfout.")) +
               "\n\n--faults: " + faults;
    }

    void declare(Arguments& args) const override {
        args.argument(QStringLiteral("MAP"), GetResString(423, "De map waarin het voorbeeldarchief komt."));
        args.option({"--name"}, GetResString(429, "Naam van het archief (standaard Archief)."), QStringLiteral("NAAM"));
        args.option({"--generation"}, GetResString(427, "Generatie van de database, 4 tot en met 8 (standaard 8)."),
                    QStringLiteral("G"));
        args.option({"--documents"},
                    GetResString(424, "Aantal documenten; een multipage document telt \xC3\xA9\xC3\xA9n keer "
                                      "(standaard 200)."),
                    QStringLiteral("N"));
        args.option({"--folders"},
                    GetResString(434, "Aantal mappen in de boom (standaard 20, en bij meer dan 10.000 documenten "
                                      "\xC3\xA9\xC3\xA9n per 500 documenten)."),
                    QStringLiteral("N"));
        args.option({"--sub-databases"},
                    GetResString(435, "Aantal subdatabases met documenten (standaard 3, of zoveel als nodig is om "
                                      "elk onder 640 MB te houden)."),
                    QStringLiteral("K"));
        args.option({"--document-size"},
                    GetResString(436, "Ongeveer zoveel bytes per document, of KB of MB met K of M erachter "
                                      "(standaard 4096); het kleinste echte beeld of PDF-bestand is een paar "
                                      "honderd bytes."),
                    QStringLiteral("B"));
        args.option({"--faults"},
                    GetResString(425, "Fouten, gescheiden door komma's, of 'all' of 'none' (standaard none); de "
                                      "namen staan hieronder."),
                    QStringLiteral("LIJST"));
        args.option({"--seed"}, GetResString(428, "Startgetal voor het toeval (standaard 1)."), QStringLiteral("S"));
        args.option({"--json"}, GetResString(413, "Geeft de uitkomst als JSON (sleutels: docs/json.md)."));
    }

    int run(const Arguments& args, Streams io) override {
        SampleOptions o;
        std::string error;
        if (!take(args, o, error)) return usage(io, error);
        if (!ValidateSampleOptions(o, error)) return usage(io, error);
        SampleManifest m;
        if (!WriteSampleArchive(o, m, error)) {
            std::fprintf(io.err, "quillex-cli sample: %s\n", error.c_str());
            return ExitOperational;
        }
        if (args.isSet("json")) {
            const QByteArray text = m.toJson().toJson(QJsonDocument::Indented);
            std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), io.out);
        } else {
            printSummary(m, o.allFaults, io.out);
        }
        return ExitOk;
    }

private:
    static bool take(const Arguments& args, SampleOptions& o, std::string& error) {
        const QStringList positional = args.positional();
        if (positional.size() != 1) return error = FormatMsg(GetResString(416, "Geef %s op"), {"MAP"}), false;
        o.directory = positional.front().toStdString();
        if (args.isSet("name")) o.name = args.value("name").toStdString();
        if (args.isSet("faults")) {
            const QString value = args.value("faults");
            o.faults.clear();
            o.allFaults = value == "all";
            if (value != "all" && value != "none")
                for (const QString& f : value.split(',', Qt::SkipEmptyParts)) o.faults.push_back(f.trimmed().toStdString());
        }
        struct Number {
            const char* option;
            long long low, high;
            std::function<void(long long)> set;
            bool size = false;  // a K or M suffix is allowed
        };
        const Number numbers[] = {
            {"generation", 4, 8, [&](long long n) { o.generation = static_cast<int>(n); }},
            {"documents", 0, 100'000'000, [&](long long n) { o.documents = static_cast<long>(n); }},
            {"folders", 0, 1'000'000, [&](long long n) { o.folders = static_cast<long>(n); }},
            {"sub-databases", 1, 1000, [&](long long n) { o.subDatabases = static_cast<int>(n); }},
            {"document-size", 1, 16LL * 1024 * 1024, [&](long long n) { o.documentSize = static_cast<long>(n); }, true},
            {"seed", 0, 0xFFFFFFFFLL, [&](long long n) { o.seed = static_cast<std::uint32_t>(n); }},
        };
        for (const Number& n : numbers) {
            if (!args.isSet(n.option)) continue;
            bool ok = false;
            long long value = 0;
            if (n.size) ok = ParseSampleSize(args.value(n.option).toStdString(), value);
            else value = args.value(n.option).toLongLong(&ok);
            if (!ok || value < n.low || value > n.high) {
                error = FormatMsg(GetResString(417, "Geen geldig getal voor %s: %s"),
                                  {"--" + std::string(n.option), args.value(n.option).toStdString()}) +
                        " (" + FormatCount(n.low) + " - " + FormatCount(n.high) + ")";
                return false;
            }
            n.set(value);
        }
        // A large archive in twenty folders is no archive anyone keeps, and
        // its sub databases should be no larger than the product makes them.
        if (!args.isSet("folders")) o.folders = std::max(o.folders, o.documents / 500);
        if (!args.isSet("sub-databases")) o.subDatabases = 0;
        return true;
    }

    // A few lines a person reads at a glance; --json has the details.
    static void printSummary(const SampleManifest& m, bool allFaults, std::FILE* to) {
        long files = 0;
        for (const SampleSubDatabase& s : m.subDatabases) files += s.fileWritten ? 1 : 0;
        std::string faults;
        const std::vector<std::string> applied = m.appliedFaults();
        for (const std::string& f : applied) faults += (faults.empty() ? "" : ", ") + f;
        // Every kind by name would fill the screen; they are in --help and --json.
        if (allFaults) faults = FormatCount(static_cast<long long>(applied.size())) + " (--faults all)";
        if (applied.empty()) faults = GetResString(312, "geen");
        std::fprintf(to, "%s\n",
                     Wrap(FormatMsg(GetResString(421, "Voorbeeldarchief %s: %s documenten in %s mappen, %s "
                                                      "subdatabases (%s), generatie %s.%nFouten: %s."),
                                    {m.mainDatabase, FormatCount(m.documents), FormatCount(m.folders),
                                     FormatCount(files), FormatBytes(m.dataBytes), m.generation, faults}),
                          79, 2)
                         .c_str());
        // Never wrapped: the commands are copied as they stand.
        std::string next = FormatMsg(GetResString(422, "Controleer het:%n  quillex-cli check --normal %s%nof open het in "
                                                       "het venster:%n  quillex %s"),
                                     {Quoted(m.mainDatabase), Quoted(m.mainDatabase)});
        next.erase(std::remove(next.begin(), next.end(), '\r'), next.end());
        std::fprintf(to, "%s\n", next.c_str());
    }
};

}  // namespace

std::unique_ptr<Command> MakeSampleCommand() { return std::make_unique<SampleCommand>(); }

}  // namespace qx::cli
