// docs/archive-format.md used the way another program would use it: the
// blocks it marks with a file name are saved and run with the sqlcipher and
// sqlite3 shells, and what they build must be what Quillex builds and opens.
// The statements are read from the page itself, so the page cannot drift
// from what is tested.
#include "database/access/OpenArchive.h"
#include "database/access/Schema.h"
#include "support/engine/Cipher.h"
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"
#include "tests/core/CliRunner.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

using namespace qx;
using namespace qx::test;

namespace {

const std::string kDocument = std::string(QX_SOURCE_DIR) + "/docs/archive-format.md";

// Every fenced block whose info string holds "file=NAME", by NAME.
std::map<std::string, std::string> DocumentFiles() {
    std::istringstream in(Slurp(kDocument));
    std::map<std::string, std::string> files;
    std::string line, name, text;
    bool inBlock = false;
    while (std::getline(in, line)) {
        if (!inBlock && line.rfind("```", 0) == 0 && line.find(" file=") != std::string::npos) {
            name = line.substr(line.find(" file=") + 6);
            name = name.substr(0, name.find(' '));
            text.clear();
            inBlock = true;
        } else if (inBlock && line == "```") {
            EXPECT_EQ(files.count(name), 0u) << "two blocks of the page are named " << name;
            files[name] = text;
            inBlock = false;
        } else if (inBlock) {
            text += line + "\n";
        }
    }
    EXPECT_FALSE(inBlock) << "the block " << name << " of the page is never closed";
    return files;
}

// A scratch folder holding the page's files.
struct DocumentFolder {
    DocumentFolder() {
        for (const auto& [name, text] : DocumentFiles()) WriteFile(dir.file(name), text);
    }
    // Runs a shell command in the folder; its standard output lands in `out`.
    int run(const std::string& command, std::string* out = nullptr) const {
        const std::string full = "cd " + ShellQuote(dir.path()) + " && { " + command + "; } >" +
                                 ShellQuote(dir.file(".out")) + " 2>" + ShellQuote(dir.file(".err")) + " </dev/null";
        const int status = std::system(full.c_str());
        if (out) *out = Slurp(dir.file(".out"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string errors() const { return Slurp(dir.file(".err")); }
    TempDir dir;
};

bool HaveTool(const char* tool) {
    return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

#define SKIP_WITHOUT_TOOLS()                                                                          \
    for (const char* tool : {"sqlcipher", "sqlite3", "sha256sum"})                                    \
        if (!HaveTool(tool)) GTEST_SKIP() << "the '" << tool << "' command-line tool is not installed, " \
                                                                "so the page's shell recipes cannot be run"

std::string RawKeyHex(int generation) {
    const std::string key = sql::RawKeyFor(engine::PasswordBytes(PasswordForGeneration(generation)));
    return key.substr(2, 64);  // without x'…'
}

// The schema as SQLite stores it, in creation order: "type name ON table: sql".
std::vector<std::string> StoredSchema(const std::string& path, const std::string& password) {
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadOnly, err);
    EXPECT_TRUE(db.isOpen()) << path << ": " << err.message;
    std::vector<std::string> out;
    if (!db.isOpen()) return out;
    sql::Statement st(db, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY rowid");
    while (st.step() == sql::Step::Row)
        out.push_back(st.getText(0) + " " + st.getText(1) + " ON " + st.getText(2) + ": " +
                      (st.isNull(3) ? "(none)" : st.getText(3)));
    return out;
}

std::string StoredSubDatabasePath(const std::string& mainPath, int generation) {
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), mainPath, engine::PasswordBytes(PasswordForGeneration(generation)),
                                           sql::OpenMode::ReadOnly, err);
    sql::Statement st(db, "SELECT DATABASE FROM DATABASES WHERE ID = 1");
    return st.step() == sql::Step::Row ? st.getText(0) : "(no row: " + err.message + st.error().message + ")";
}

}  // namespace

// The key recipes give the key Quillex uses, each under the shell the page
// names for it; the \x form under dash is the mistake the page warns about.
TEST(FormatDocument, KeyRecipesGiveTheKeyUnderTheirShell) {
    const struct {
        const char* name;
        const char* file;
        const char* shell;
        bool right;
    } cases[] = {
        {"octal form under sh", "key-portable.sh", "sh", true},
        {"octal form under dash", "key-portable.sh", "dash", true},
        {"octal form under bash", "key-portable.sh", "bash", true},
        {"\\x form under bash", "key-bash.sh", "bash", true},
        {"\\x form under dash", "key-bash.sh", "dash", false},
    };
    if (!HaveTool("sha256sum")) GTEST_SKIP() << "the 'sha256sum' tool is not installed";
    DocumentFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!HaveTool(c.shell)) {
            std::printf("  (%s: no %s installed, not run)\n", c.name, c.shell);
            continue;
        }
        std::string out;
        ASSERT_EQ(folder.run(std::string(c.shell) + " " + c.file, &out), 0) << folder.errors();
        EXPECT_EQ(out == RawKeyHex(8) + "\n", c.right) << "printed " << out;
    }
}

// The table of generations: password, the bytes for printf and the raw key.
TEST(FormatDocument, GenerationTableGivesPasswordBytesAndKey) {
    const std::string text = Slurp(kDocument);
    DocumentFolder folder;
    for (int generation = kOldestGeneration; generation <= kCurrentGeneration; ++generation) {
        SCOPED_TRACE("generation " + std::to_string(generation));
        const std::string start = "\n| " + std::to_string(generation) + " | ";
        const std::size_t at = text.find(start);
        ASSERT_NE(at, std::string::npos) << "no row for the generation";
        std::vector<std::string> cells;
        std::istringstream row(text.substr(at + 2, text.find('\n', at + 1) - at - 2));
        for (std::string cell; std::getline(row, cell, '|');) {
            cell.erase(0, cell.find_first_not_of(" `"));
            cell.erase(cell.find_last_not_of(" `") + 1);
            cells.push_back(cell);
        }
        ASSERT_GE(cells.size(), 5u);
        EXPECT_EQ(cells[1], PasswordForGeneration(generation));
        EXPECT_EQ(cells[3], RawKeyHex(generation));
        std::string out;
        ASSERT_EQ(folder.run("printf '" + cells[2] + "' | sha256sum | cut -c1-64", &out), 0);
        EXPECT_EQ(out, RawKeyHex(generation) + "\n") << "printf bytes " << cells[2];
        EXPECT_EQ(cells[4] == "yes", GenerationHasTrash(generation));
    }
}

// Each table block, run with the page's recipe, gives the very schema
// Quillex writes, and a main database is found to be of its generation.
TEST(FormatDocument, TableBlocksGiveTheSchemaQuillexCreates) {
    SKIP_WITHOUT_TOOLS();
    enum Kind { Main, Sub, Ocr };
    const struct {
        const char* name;
        Kind kind;
        int generation;
        const char* file;
    } cases[] = {
        {"main database, generation 8", Main, 8, "main-7-8.sql"},
        {"main database, generation 7", Main, 7, "main-7-8.sql"},
        {"main database, generation 6", Main, 6, "main-4-6.sql"},
        {"main database, generation 5", Main, 5, "main-4-6.sql"},
        {"main database, generation 4", Main, 4, "main-4-6.sql"},
        {"sub database, generation 8", Sub, 8, "pictures.sql"},
        {"sub database, generation 4", Sub, 4, "pictures.sql"},
        {"OCR database", Ocr, 0, "ocr.sql"},
    };
    DocumentFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string built = "built-" + std::to_string(&c - cases) + ".db";
        const std::string ours = folder.dir.file("ours-" + std::to_string(&c - cases) + ".db");
        const std::string password = c.kind == Ocr ? std::string() : PasswordForGeneration(c.generation);
        const std::string recipe = c.kind == Ocr ? "sqlite3 -bail " + built + " < " + c.file
                                                 : "sh keyed.sh " + std::to_string(c.generation) + " " + built +
                                                       " < " + c.file;
        ASSERT_EQ(folder.run(recipe), 0) << recipe << ": " << folder.errors();
        sql::Error err;
        const bool created = c.kind == Main  ? CreateMainDatabase(qx::RealEnv(), ours, c.generation, err)
                             : c.kind == Sub ? CreateSubDatabaseFile(qx::RealEnv(), ours, password, err)
                                             : CreateOmdDatabase(qx::RealEnv(), ours, err);
        ASSERT_TRUE(created) << err.message;
        EXPECT_EQ(StoredSchema(folder.dir.file(built), password), StoredSchema(ours, password));
        if (c.kind == Main) {
            std::string found;
            EXPECT_EQ(GetDatabaseVersion(qx::RealEnv(), folder.dir.file(built), found), c.generation);
        }
    }
}

// The worked example builds an archive that Quillex opens and checks without
// a word; the page's rules on the OCR file, stored paths, documents without
// data and old generations hold for it.
TEST(FormatDocument, ExampleArchiveOpensAndChecks) {
    SKIP_WITHOUT_TOOLS();
    enum class Ocr { AsBuilt, Empty, Missing };
    const struct {
        const char* name;
        int generation;
        Ocr ocr;
        const char* mainSql;      // run on the main database after the example
        const char* subSql;       // run on the sub database after the example
        int openExit;
        const char* openMessage;  // a text the open must print
        const char* finding;      // the one finding of the check; "" for none
    } cases[] = {
        {"generation 8", 8, Ocr::AsBuilt, "", "", 0, "", ""},
        {"generation 7", 7, Ocr::AsBuilt, "", "", 0, "", ""},
        {"generation 6 is refused as outdated", 6, Ocr::AsBuilt, "", "", 8, "Versieconflict", ""},
        {"an empty OCR file is damaged", 8, Ocr::Empty, "", "", 4, "OCR data corrupt", ""},
        {"a missing OCR file is warned about", 8, Ocr::Missing, "", "", 4, "OCR data niet gevonden", ""},
        {"a Windows path of the sub database is rewritten", 8, Ocr::AsBuilt,
         "UPDATE DATABASES SET DATABASE = 'D:\\Archieven\\Archief_1.pdb';", "", 0, "", ""},
        {"a Null PICTURE is an empty document", 8, Ocr::AsBuilt, "", "UPDATE PICTURES SET PICTURE = NULL WHERE ID = 3;",
         0, "", "ResultEmptyDocument"},
        {"an empty PICTURE is an empty document", 8, Ocr::AsBuilt, "", "UPDATE PICTURES SET PICTURE = x'' WHERE ID = 3;",
         0, "", "ResultEmptyDocument"},
        {"a missing PICTURES row is a broken link", 8, Ocr::AsBuilt, "", "DELETE FROM PICTURES WHERE ID = 3;", 0, "",
         "ResultBadLink"},
        {"a document of sub database 0 is reported", 8, Ocr::AsBuilt, "UPDATE FOLDERS SET DATABASEID = 0 WHERE ID = 3;",
         "DELETE FROM PICTURES WHERE ID = 3;", 0, "", "ResultPdbDamaged"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DocumentFolder folder;
        const std::string gen = std::to_string(c.generation);
        ASSERT_EQ(folder.run("sh make-archive.sh " + gen), 0) << folder.errors();
        for (const auto& [file, statements] : {std::pair{"Archief.dat", c.mainSql}, std::pair{"Archief_1.pdb", c.subSql}}) {
            if (!*statements) continue;
            WriteFile(folder.dir.file("change.sql"), statements);
            ASSERT_EQ(folder.run("sh keyed.sh " + gen + " " + file + " < change.sql"), 0) << folder.errors();
        }
        const std::string omd = folder.dir.file("Archief.omd");
        if (c.ocr == Ocr::Empty) std::filesystem::resize_file(omd, 0);
        if (c.ocr == Ocr::Missing) std::filesystem::remove(omd);
        const std::string archive = folder.dir.file("Archief.dat");

        TempDir scratch;
        const CliRun open = RunCli("open --no " + ShellQuote(archive), scratch);
        EXPECT_EQ(open.exit, c.openExit) << open.out << open.err;
        EXPECT_NE(open.err.find(c.openMessage), std::string::npos) << open.err;
        if (c.openExit == 8) continue;
        // The full path, as Quillex writes it.
        EXPECT_EQ(StoredSubDatabasePath(archive, c.generation), folder.dir.file("Archief_1.pdb"));
        if (c.ocr != Ocr::AsBuilt) continue;

        const CliRun check = RunCli("check --normal --no --json - " + ShellQuote(archive), scratch);
        EXPECT_EQ(check.exit, *c.finding ? 4 : 0) << check.out << check.err;
        const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(check.out)).object();
        std::vector<std::string> findings;
        for (const QJsonValue& f : report["findings"].toArray())
            findings.push_back(f.toObject()["code_name"].toString().toStdString());
        EXPECT_EQ(findings, *c.finding ? std::vector<std::string>{c.finding} : std::vector<std::string>{}) << check.out;
    }
}
