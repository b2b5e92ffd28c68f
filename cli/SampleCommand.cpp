// quillex-cli sample: writes a sample archive, optionally with named faults.
#include "cli/Command.h"
#include "tools/sample/SampleArchive.h"

#include <QByteArray>

#include <cstdio>
#include <string>

namespace qx::cli {
namespace {

class SampleCommand : public Command {
public:
    const char* name() const override { return "sample"; }
    const char* summary() const override { return "write a sample archive, with faults on request"; }

    void printHelp(std::FILE* to) const override {
        std::fputs("Usage: quillex-cli sample DIR [OPTIONS]\n"
                   "\n"
                   "Writes a sample archive into DIR (created when missing): the main database\n"
                   "NAME.dat with a folder tree and documents, the sub databases NAME_1.pdb ...\n"
                   "holding real images and PDFs, and the OCR database NAME.omd. Existing files\n"
                   "are never overwritten.\n"
                   "\n"
                   "Options:\n"
                   "  --name NAME           archive name (default Archief)\n"
                   "  --generation G        database generation 4..8 (default 8)\n"
                   "  --documents N         documents; a multipage document counts once (default 200)\n"
                   "  --folders N           folders of the tree (default 20)\n"
                   "  --sub-databases K     sub databases holding the documents (default 3)\n"
                   "  --document-size B     approximate bytes per document (default 4096)\n"
                   "  --faults LIST         comma-separated fault names, 'all' or 'none' (default none)\n"
                   "  --seed S              random seed; the same seed gives the same archive (default 1)\n"
                   "  --json                print the manifest (which documents carry which fault) as JSON\n"
                   "\n"
                   "Faults:\n",
                   to);
        for (const std::string& f : SampleFaultNames()) std::fprintf(to, "  %s\n", f.c_str());
    }

    int execute(const QStringList& args, Streams io) override {
        SampleOptions o;
        bool json = false;
        std::string error;
        if (!parse(args, o, json, error)) {
            std::fprintf(io.err, "quillex-cli sample: %s\n", error.c_str());
            std::fputs("Try 'quillex-cli sample --help'.\n", io.err);
            return ExitUsage;
        }
        if (!ValidateSampleOptions(o, error)) {
            std::fprintf(io.err, "quillex-cli sample: %s\n", error.c_str());
            return ExitUsage;
        }
        SampleManifest m;
        if (!WriteSampleArchive(o, m, error)) {
            std::fprintf(io.err, "quillex-cli sample: %s\n", error.c_str());
            return ExitOperational;
        }
        if (json) {
            const QByteArray text = m.toJson().toJson(QJsonDocument::Indented);
            std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), io.out);
        } else {
            printSummary(m, io.out);
        }
        return ExitOk;
    }

private:
    static bool number(const QString& text, long long low, long long high, long long& out) {
        bool ok = false;
        out = text.toLongLong(&ok);
        return ok && out >= low && out <= high;
    }

    static bool parse(const QStringList& args, SampleOptions& o, bool& json, std::string& error) {
        for (int i = 0; i < args.size(); ++i) {
            QString word = args[i];
            QString value;
            bool inlineValue = false;
            if (word.startsWith("--") && word.contains('=')) {
                value = word.section('=', 1);
                word = word.section('=', 0, 0);
                inlineValue = true;
            }
            if (word == "--json") {
                if (inlineValue) return error = "--json takes no value", false;
                json = true;
                continue;
            }
            if (!word.startsWith("-")) {
                if (!o.directory.empty()) return error = "only one folder may be given", false;
                o.directory = word.toStdString();
                continue;
            }
            static const QStringList valued = {"--name", "--generation", "--documents", "--folders",
                                               "--sub-databases", "--document-size", "--faults", "--seed"};
            if (!valued.contains(word)) return error = "unknown option '" + word.toStdString() + "'", false;
            if (!inlineValue) {
                if (i + 1 >= args.size()) return error = word.toStdString() + " needs a value", false;
                value = args[++i];
            }
            long long n = 0;
            const std::string bad = "invalid value '" + value.toStdString() + "' for " + word.toStdString();
            if (word == "--name") {
                o.name = value.toStdString();
            } else if (word == "--faults") {
                o.faults.clear();
                o.allFaults = value == "all";
                if (value != "all" && value != "none")
                    for (const QString& f : value.split(',', Qt::SkipEmptyParts)) o.faults.push_back(f.trimmed().toStdString());
            } else if (word == "--generation") {
                if (!number(value, 4, 8, n)) return error = bad + " (4 to 8)", false;
                o.generation = static_cast<int>(n);
            } else if (word == "--documents") {
                if (!number(value, 0, 100'000'000, n)) return error = bad, false;
                o.documents = static_cast<long>(n);
            } else if (word == "--folders") {
                if (!number(value, 0, 1'000'000, n)) return error = bad, false;
                o.folders = static_cast<long>(n);
            } else if (word == "--sub-databases") {
                if (!number(value, 1, 1000, n)) return error = bad + " (1 to 1000)", false;
                o.subDatabases = static_cast<int>(n);
            } else if (word == "--document-size") {
                if (!number(value, 1, 16LL * 1024 * 1024, n)) return error = bad + " (1 to 16777216)", false;
                o.documentSize = static_cast<long>(n);
            } else if (word == "--seed") {
                if (!number(value, 0, 0xFFFFFFFFLL, n)) return error = bad, false;
                o.seed = static_cast<std::uint32_t>(n);
            }
        }
        if (o.directory.empty()) return error = "no folder given", false;
        return true;
    }

    static void printSummary(const SampleManifest& m, std::FILE* to) {
        long registered = 0, files = 0;
        for (const SampleSubDatabase& s : m.subDatabases) {
            registered += s.storedPath.empty() ? 0 : 1;
            files += s.fileWritten ? 1 : 0;
        }
        std::fprintf(to,
                     "Wrote the sample archive %s (generation %d, seed %u): %ld folders and %ld documents in "
                     "%ld rows (%ld multipage with %ld pages, %ld imported files, %ld in the trash); "
                     "%ld sub database files (%ld registered) with %ld data rows, %.1f MB of document data; ",
                     m.mainDatabase.c_str(), m.generation, m.seed, m.folders, m.documents, m.documentRows,
                     m.multipageDocuments, m.pageRows, m.importedRows, m.trashedRows, files,
                     registered, m.dataRows, static_cast<double>(m.dataBytes) / (1024.0 * 1024.0));
        const std::vector<std::string> faults = m.appliedFaults();
        if (faults.empty()) {
            std::fputs("no faults.\n", to);
        } else {
            std::fputs("faults:", to);
            for (std::size_t i = 0; i < faults.size(); ++i) {
                const auto ids = m.faultIds.find(faults[i]);
                const auto files = m.faultFiles.find(faults[i]);
                std::fprintf(to, "%s %s (", i ? "," : "", faults[i].c_str());
                if (ids != m.faultIds.end()) std::fprintf(to, "%zu ids", ids->second.size());
                if (ids != m.faultIds.end() && files != m.faultFiles.end()) std::fputs(", ", to);
                if (files != m.faultFiles.end()) std::fprintf(to, "%zu files", files->second.size());
                std::fputs(")", to);
            }
            std::fputs(".", to);
            for (const auto& [name, why] : m.skippedFaults) std::fprintf(to, " Skipped %s: %s.", name.c_str(), why.c_str());
            std::fputs(" Use --json for the documents and files of each fault.\n", to);
        }
    }
};

}  // namespace

std::unique_ptr<Command> MakeSampleCommand() { return std::make_unique<SampleCommand>(); }

}  // namespace qx::cli
