// quillex-cli remove and info: the archive read back after a removal, the
// questions and log lines the window has too, and the information as text
// and JSON.
#include "support/TextResources.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/CliRunner.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <filesystem>
#include <map>
#include <set>

using qx::test::ArchiveBuilder;
using qx::test::CliRun;
using qx::test::RunCli;
using qx::test::ShellQuote;
using qx::test::Slurp;
using qx::test::TempDir;

namespace {

using qx::test::Occurrences;

std::set<long> DataIds(const qx::test::ArchiveSnapshot& s) {
    std::set<long> ids;
    for (const auto& [id, sha] : s.dataRows) ids.insert(id);
    return ids;
}

std::set<long> RowIds(const qx::test::ArchiveSnapshot& s) {
    std::set<long> ids;
    for (const auto& [id, parent] : s.parents) ids.insert(id);
    return ids;
}

}  // namespace

TEST(CliRemove, RemovesTheNamedDocumentsAndNothingElse) {
    struct Case {
        const char* name;
        std::string ids;  // as typed
        const char* answer;
        int exit;
        std::set<long> gone;
        long questionText;    // 24 (one document, named) or 315 (several, counted)
        std::set<long> logged;  // "ID - Removing from database"
    } cases[] = {
        {"one document", "3", "--yes", 0, {3}, 24, {3}},
        {"two documents", "2 4", "--yes", 0, {2, 4}, 315, {2, 4}},
        {"the same number twice", "4 4", "--yes", 0, {4}, 24, {4}},
        {"refused", "2 4", "--no", 32, {}, 315, {}},
        {"refused without a terminal", "3", "", 32, {}, 24, {}},
        {"one of them not there", "2 99", "--yes", 4, {2}, 24, {2}},
        {"none of them there", "98 99", "--yes", 4, {}, 0, {}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        ArchiveBuilder a(dir.path());
        a.sub(1, {2, 3}).sub(2, {4, 5});
        const auto before = qx::test::TakeSnapshot(a.main);
        const CliRun r = RunCli("remove " + ShellQuote(a.main) + " " + c.ids + " " + c.answer, dir);
        EXPECT_EQ(r.exit, c.exit) << c.name << "\n" << r.out << r.err;
        const std::string question = c.questionText == 24 ? qx::FormatMsg(qx::GetResString(24, ""),
                                                                          {"doc" + c.ids.substr(0, c.ids.find(' '))})
                                                           : qx::FormatMsg(qx::GetResString(315, ""), {"2"});
        if (c.questionText) {
            EXPECT_NE(r.err.find(question), std::string::npos) << c.name << "\n" << r.err;
        } else {
            EXPECT_EQ(r.err.find(qx::GetResString(25, "")), std::string::npos) << c.name << "\n" << r.err;
        }
        for (const std::string& id : {std::string("98"), std::string("99")}) {
            if (c.ids.find(id) == std::string::npos) continue;
            EXPECT_NE(r.err.find("geen document " + id), std::string::npos) << c.name << "\n" << r.err;
        }

        const auto after = qx::test::TakeSnapshot(a.main);
        ASSERT_TRUE(after.opened) << c.name;
        std::set<long> rows = RowIds(before), data = DataIds(before);
        for (long id : c.gone) {
            rows.erase(id);
            data.erase(id);
        }
        EXPECT_EQ(RowIds(after), rows) << c.name;
        EXPECT_EQ(DataIds(after), data) << c.name;
        const std::string log = "\n" + Slurp(qx::LogName(a.main));
        EXPECT_EQ(Occurrences(log, " - Removing from database\r\n"), int(c.logged.size())) << c.name << log;
        for (long id : c.logged)
            EXPECT_EQ(Occurrences(log, "\n" + std::to_string(id) + " - Removing from database\r\n"), 1) << c.name;
    }
}

TEST(CliRemove, RefusesAFolderAndKeepsEverythingInIt) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2, 3});
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (5, 1, -1, 'Sub')");
    a.exec("UPDATE FOLDERS SET PARENT = 5 WHERE ID = 3");
    const auto before = qx::test::TakeSnapshot(a.main);
    struct Case { const char* name; std::string ids; int exit; } cases[] = {
        {"the top folder", "1", 4},
        {"a folder within it", "5", 4},
        {"a folder beside a document (whose question is refused)", "5 2", 32},
    };
    for (const Case& c : cases) {
        const CliRun r = RunCli("remove " + ShellQuote(a.main) + " " + c.ids + " --no", dir);
        EXPECT_EQ(r.exit, c.exit) << c.name << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(c.ids.substr(0, 1) + " is een map, geen document"), std::string::npos)
            << c.name << "\n" << r.err;
        const auto after = qx::test::TakeSnapshot(a.main);
        EXPECT_EQ(after.parents, before.parents) << c.name;
        EXPECT_EQ(after.documents, before.documents) << c.name;
    }
}

// A multipage document whose own sub database is gone: its pages go with
// it, each with the data row its DATABASEID points to, and nothing else.
TEST(CliRemove, RemovesAMultipageDocumentsPagesWithTheirOwnDataRows) {
    struct Case {
        const char* name;
        bool strayUnderPageId;  // sub database 1 also holds a row no document refers to, under page 11's ID
        bool pageJournalLink;   // page 11's sub database has a dangling link for a journal: nothing is removed
    } cases[] = {
        {"pages in other sub databases", false, false},
        {"a row under a page's ID in another sub database stays", true, false},
        {"a page's sub database not to be written: nothing removed", false, true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        ArchiveBuilder a(dir.path());
        a.sub(1, {2}).sub(2, {4}).sub(3, {10});
        a.exec("UPDATE FOLDERS SET TEMPLATE1 = 'MP' WHERE ID = 10");
        a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID, TEMPLATE1) VALUES "
               "(11, 1, 0, '', 2, 'MC10'), (12, 1, 0, '', 1, 'mc10')");
        a.execIn(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (11, x'0B0B0B')");
        a.execIn(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (12, x'0C0C0C')");
        if (c.strayUnderPageId) a.execIn(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (11, x'0909')");
        std::filesystem::remove(qx::SubDatabaseName(a.main, 3));
        const auto before = qx::test::TakeSnapshot(a.main);
        const std::string journal = qx::SubDatabaseName(a.main, 2) + "-journal";
        if (c.pageJournalLink) std::filesystem::create_symlink(dir.file("elsewhere"), journal);

        const CliRun r = RunCli("remove " + ShellQuote(a.main) + " 10 --yes", dir);
        EXPECT_EQ(r.exit, c.pageJournalLink ? 4 : 0) << c.name << "\n" << r.out << r.err;

        if (c.pageJournalLink) {
            EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere"))) << c.name;
            std::filesystem::remove(journal);
            const auto after = qx::test::TakeSnapshot(a.main);
            EXPECT_EQ(after.parents, before.parents) << c.name;
            EXPECT_EQ(after.dataRows, before.dataRows) << c.name;
            continue;
        }
        const auto after = qx::test::TakeSnapshot(a.main);
        std::set<long> rows = RowIds(before);
        for (long id : {10, 11, 12}) rows.erase(id);
        EXPECT_EQ(RowIds(after), rows) << c.name;
        auto data = before.dataRows;
        for (const auto& row : before.dataRows)
            if ((row.first == 11 && !c.strayUnderPageId) || row.first == 12 ||
                (row.first == 11 && row.second != qx::test::snapshot_detail::Sha256(std::string("\x09\x09"))))
                data.erase(row);
        EXPECT_EQ(after.dataRows, data) << c.name;
        EXPECT_EQ(after.documents, (std::map<long, std::string>{{2, before.documents.at(2)}, {4, before.documents.at(4)}}))
            << c.name;
    }
}

TEST(CliRemove, RefusesBadArguments) {
    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2});
    const std::string m = ShellQuote(a.main);
    struct Case { std::string args; int exit; const char* inErr; } cases[] = {
        {"remove " + m, 16, "Geef ARCHIEF.dat ID... op"},
        {"remove " + m + " zes", 16, "Geen geldig getal voor ID: zes"},
        {"remove " + m + " -3", 16, "Onbekende optie: -3"},
        {"remove " + m + " 0", 16, "Geen geldig getal voor ID: 0"},
        {"remove " + ShellQuote(dir.file("absent.dat")) + " 2 --yes", 8, "absent.dat bestaat niet"},
    };
    for (const Case& c : cases) {
        const CliRun r = RunCli(c.args, dir);
        EXPECT_EQ(r.exit, c.exit) << c.args;
        EXPECT_NE(r.err.find(c.inErr), std::string::npos) << c.args << "\n" << r.err;
    }
    EXPECT_EQ(RowIds(qx::test::TakeSnapshot(a.main)).count(2), 1u);
}

// The information as JSON, with every key documented in docs/json.md and
// every documented one written.
TEST(CliInfo, ShowsTheFieldsAndTheExplanationOfACode) {
    const std::string doc = Slurp(std::string(QX_SOURCE_DIR) + "/docs/json.md");
    const size_t start = doc.find("## `quillex-cli info");
    ASSERT_NE(start, std::string::npos);
    const size_t end = doc.find("\n## ", start + 1);
    const QString section = QString::fromStdString(doc.substr(start, end == std::string::npos ? end : end - start));
    QStringList documented;
    static const QRegularExpression row(R"(^\| `([^`]+)` \|)", QRegularExpression::MultilineOption);
    for (auto it = row.globalMatch(section); it.hasNext();) documented << it.next().captured(1);
    documented.sort();
    // A number that is no document gets no record: only these keys.
    const std::string notFoundKeys = "archive folder found id";
    documented.removeAll("folder");
    const std::string keys = documented.join(' ').toStdString();

    TempDir dir;
    ArchiveBuilder a(dir.path());
    a.sub(1, {2, 3});
    a.exec("UPDATE FOLDERS SET WORD1 = 'factuur', WORD2 = 'gas', POSTAL = '1234 AB' WHERE ID = 3");
    struct Case {
        const char* name;
        std::string args;
        int exit;
        bool found;
        long code;
        std::string explanation;  // "" = null
    } cases[] = {
        {"linked document", "3", 0, true, 0, ""},
        {"with a code", "3 --code 8", 0, true, 8, qx::FormatMsg(qx::GetResString(51, ""))},
        {"unknown code", "3 --code 4", 0, true, 4, qx::FormatMsg(qx::GetResString(60, ""), {"4"})},
        {"no such document", "77", 4, false, 0, ""},
        {"a folder", "1", 4, false, 0, ""},
    };
    for (const Case& c : cases) {
        // One case writes its JSON to a file; the text then goes to standard output.
        const bool toFile = c.code == 8;
        const std::string file = dir.file("info.json");
        const CliRun r = RunCli("info " + ShellQuote(a.main) + " " + c.args + " --json " +
                                    (toFile ? ShellQuote(file) : std::string("-")), dir);
        EXPECT_EQ(r.exit, c.exit) << c.name << "\n" << r.err;
        const std::string written = toFile ? Slurp(file) : r.out, text = toFile ? r.out : r.err;
        QJsonParseError error;
        const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(written), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << c.name << "\n" << written;
        EXPECT_EQ(json.keys().join(' ').toStdString(), c.found ? keys : notFoundKeys) << c.name;
        EXPECT_EQ(json["found"].toBool(), c.found) << c.name;
        if (!c.found) {
            // Said as what it is, with nothing made up beside it.
            const bool folder = c.args == "1";
            EXPECT_EQ(json["folder"].toBool(), folder) << c.name;
            EXPECT_NE(text.find(folder ? "1 is een map" : "geen document 77"), std::string::npos) << c.name << text;
            EXPECT_EQ(text.find("toelichting"), std::string::npos) << c.name << "\n" << text;
            EXPECT_EQ(text.find("\ncode "), std::string::npos) << c.name << "\n" << text;
            continue;
        }
        EXPECT_EQ(json["code"].toInteger(), c.code) << c.name;
        if (c.explanation.empty()) {
            EXPECT_TRUE(json["explanation"].isNull()) << c.name;
        } else {
            EXPECT_EQ(json["explanation"].toString().toStdString(), c.explanation) << c.name;
        }
        if (c.found) {
            EXPECT_EQ(json["name"].toString().toStdString(), "doc3") << c.name;
            EXPECT_EQ(json["keywords"].toString().toStdString(), "factuur; gas;") << c.name;
            EXPECT_EQ(json["zip"].toString().toStdString(), "1234 AB") << c.name;
            EXPECT_NE(text.find("\nnaam         doc3\n"), std::string::npos) << c.name << "\n" << text;
        }
    }
    // Only read: the archive's documents and data are as they were.
    const auto after = qx::test::TakeSnapshot(a.main);
    EXPECT_EQ(RowIds(after), (std::set<long>{1, 2, 3}));
    EXPECT_EQ(DataIds(after), (std::set<long>{2, 3}));
}
