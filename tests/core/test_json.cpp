// The JSON the command line writes against its schema in docs/json.md: every
// documented key is there with its type, nothing undocumented is written,
// and the outcome, counts and notices tell a script what happened.
#include "database/CheckCommand.h"
#include "database/checks/ResultCodes.h"
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/engine/Connection.h"
#include "support/TextResources.h"
#include "tests/core/CliRunner.h"
#include "tests/core/SampleFixture.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

using namespace qx;
using qx::test::CliRun;
using qx::test::RunCli;
using qx::test::TempDir;

namespace {

// path -> type, from the table under the heading that contains `section`.
std::map<std::string, std::string> DocumentedKeys(const std::string& section) {
    const std::string doc = qx::test::Slurp(std::string(QX_SOURCE_DIR) + "/docs/json.md");
    std::map<std::string, std::string> keys;
    const size_t start = doc.find(section);
    EXPECT_NE(start, std::string::npos) << section;
    if (start == std::string::npos) return keys;
    const size_t end = doc.find("\n## ", start + 1);
    static const QRegularExpression row(R"(^\| `([^`]+)` \| ([a-z|\\]+) \|)", QRegularExpression::MultilineOption);
    const QString text = QString::fromStdString(doc.substr(start, end == std::string::npos ? end : end - start));
    for (auto it = row.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        keys[m.captured(1).toStdString()] = m.captured(2).remove('\\').toStdString();
    }
    return keys;
}

std::string TypeOf(const QJsonValue& v) {
    switch (v.type()) {
    case QJsonValue::Null: return "null";
    case QJsonValue::Bool: return "boolean";
    case QJsonValue::Double: return v.toDouble() == static_cast<double>(v.toInteger()) ? "integer" : "number";
    case QJsonValue::String: return "string";
    case QJsonValue::Array: return "array";
    case QJsonValue::Object: return "object";
    default: return "undefined";
    }
}

// Every value in `v` with its schema path (array elements as "[]", keys of
// an object whose documented path ends in ".*" as "*").
void Walk(const QJsonValue& v, const std::string& path, const std::map<std::string, std::string>& schema,
          std::vector<std::pair<std::string, QJsonValue>>& out) {
    // An array element and a data-named key holding an object are places,
    // not values: only what lies under them is documented.
    const bool place = path.ends_with("[]") || (path.ends_with("*") && v.isObject() && !schema.count(path));
    if (!path.empty() && !place) out.emplace_back(path, v);
    if (v.isArray()) {
        for (const QJsonValue e : v.toArray())
            if (e.isObject()) Walk(e, path + "[]", schema, out);
    } else if (v.isObject()) {
        const QJsonObject o = v.toObject();
        const std::string prefix = path.empty() ? "" : path + ".";
        const bool any = schema.count(prefix + "*") || std::any_of(schema.begin(), schema.end(), [&](const auto& k) {
                             return k.first.rfind(prefix + "*.", 0) == 0;
                         });
        for (auto it = o.begin(); it != o.end(); ++it)
            Walk(it.value(), prefix + (any ? "*" : it.key().toStdString()), schema, out);
    }
}

// Checks `json` against the documented table; every documented path must
// occur (the caller provides an example that fills every array).
void ExpectMatchesSchema(const QJsonObject& json, const std::string& section) {
    const auto schema = DocumentedKeys(section);
    ASSERT_GT(schema.size(), 5u) << section;
    std::vector<std::pair<std::string, QJsonValue>> values;
    Walk(json, "", schema, values);
    std::set<std::string> seen;
    static const QRegularExpression snake("^[a-z0-9_]+$");
    for (const auto& [path, value] : values) {
        seen.insert(path);
        const auto it = schema.find(path);
        if (it == schema.end()) {
            ADD_FAILURE() << section << ": written but not documented: " << path;
            continue;
        }
        const std::string type = TypeOf(value);
        const std::string& allowed = it->second;
        const bool fits = allowed == type || allowed.rfind(type + "|", 0) == 0 ||
                          (allowed.size() > type.size() && allowed.ends_with("|" + type));
        EXPECT_TRUE(fits) << section << ": " << path << " is " << type << ", documented as " << allowed;
        const std::string last = path.substr(path.find_last_of(".]") + 1);
        if (last != "*" && !last.empty()) {
            EXPECT_TRUE(snake.match(QString::fromStdString(last)).hasMatch()) << path << " is not snake_case";
        }
    }
    for (const auto& [path, type] : schema) EXPECT_TRUE(seen.count(path)) << section << ": documented but missing: " << path;
}

QJsonObject Parse(const std::string& text) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n" << text;
    return doc.object();
}

}  // namespace

// The large-documents check carries its statistics, every documented key
// with its type, and the IDs over the limit.
TEST(Json, LargeDocumentsCheckWritesItsStatistics) {
    TempDir dir;
    const SampleManifest m = qx::test::WriteSample(dir, {});
    const std::string sub = qx::SubDatabaseName(m.mainDatabase, 1);
    {
        sql::Error err;
        sql::Database db = sql::Database::open(qx::RealEnv(), sub, engine::PasswordBytes(PasswordForGeneration(m.generation)),
                                               sql::OpenMode::ReadWrite, err);
        ASSERT_TRUE(db.isOpen()) << err.message;
        ASSERT_TRUE(db.exec("UPDATE PICTURES SET PICTURE = zeroblob(204801) WHERE ID = (SELECT MIN(ID) FROM PICTURES)",
                            &err)) << err.message;
    }
    const CliRun r = RunCli("check --large-documents '" + m.mainDatabase + "' --json -", dir);
    const QJsonObject json = Parse(r.out);
    const QJsonObject large = json["large_documents"].toObject();
    const auto schema = DocumentedKeys("## `large_documents` of");
    std::map<std::string, std::string> written;
    for (auto it = large.begin(); it != large.end(); ++it) written[it.key().toStdString()] = TypeOf(it.value());
    EXPECT_EQ(written, schema);
    EXPECT_EQ(large["exceeded"].toInteger(), 1);
    EXPECT_EQ(large["exceeded_ids"].toArray().size(), 1);
    EXPECT_GT(large["pages"].toInteger(), 1);
    // Shown on the terminal too, not only logged.
    EXPECT_NE(r.err.find("geanalyseerd"), std::string::npos) << r.err;
}

TEST(Json, CheckWritesEveryDocumentedKeyWithItsType) {
    TempDir dir;
    // A missing sub database gives notices and findings; the other sub
    // databases are there and hold documents.
    const SampleManifest m = qx::test::WriteSample(dir, {"sub-database-file-missing", "parent-missing"});
    const CliRun r = RunCli("check --normal '" + m.mainDatabase + "' --json -", dir);
    const QJsonObject json = Parse(r.out);
    ExpectMatchesSchema(json, "## `quillex-cli check --json");

    EXPECT_EQ(json["archive"].toString().toStdString(), m.mainDatabase);
    EXPECT_EQ(json["generation"].toInt(), m.generation);
    EXPECT_EQ(json["check"].toString(), "normal");
    EXPECT_FALSE(json["dry_run"].toBool());
    EXPECT_FALSE(json["cancelled"].toBool());
    EXPECT_EQ(json["outcome"].toString(), "damaged");
    static const QRegularExpression iso(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$)");
    for (const char* key : {"started", "finished"})
        EXPECT_TRUE(iso.match(json[key].toString()).hasMatch()) << key << ": " << json[key].toString().toStdString();
    EXPECT_LE(json["started"].toString().toStdString(), json["finished"].toString().toStdString());

    // Each document's own name, not the code's.
    std::map<long, QJsonObject> byId;
    for (const QJsonValue v : json["findings"].toArray()) byId[static_cast<long>(v["id"].toInteger())] = v.toObject();
    for (long id : m.faultIds.at("parent-missing")) {
        ASSERT_TRUE(byId.count(id)) << id;
        EXPECT_EQ(byId[id]["code_name"].toString(), "ResultVirtualPathFixed");
        EXPECT_NE(byId[id]["name"].toString(), byId[id]["code_name"].toString());
        EXPECT_FALSE(byId[id]["name"].toString().isEmpty());
    }

    // The sub databases with their sizes and the documents they hold.
    long documents = 0;
    std::set<std::string> missing(m.faultFiles.at("sub-database-file-missing").begin(),
                                  m.faultFiles.at("sub-database-file-missing").end());
    for (const QJsonValue v : json["sub_databases"].toArray()) {
        const std::string path = v["path"].toString().toStdString();
        documents += static_cast<long>(v["documents"].toInteger());
        if (missing.count(path)) { EXPECT_TRUE(v["size"].isNull()) << path; }
        else { EXPECT_EQ(v["size"].toInteger(), static_cast<qint64>(std::filesystem::file_size(path))) << path; }
    }
    EXPECT_EQ(documents, m.documentRows);

    // A notice that the run meets again and again is printed once and counted.
    const QJsonArray warnings = json["warnings"].toArray();
    ASSERT_FALSE(warnings.isEmpty()) << r.err;
    std::set<QString> texts;
    bool repeated = false;
    for (const QJsonValue w : warnings) {
        EXPECT_TRUE(texts.insert(w["title"].toString() + "\n" + w["text"].toString()).second)
            << "listed twice: " << w["text"].toString().toStdString();
        std::string first = w["text"].toString().toStdString();
        first = first.substr(0, std::min(first.find('\r'), size_t{40}));
        const int count = w["count"].toInt();
        size_t printed = 0;
        for (size_t at = 0; (at = r.err.find(first, at)) != std::string::npos; ++at) ++printed;
        // Once as it came, once more in the closing count when it repeated.
        EXPECT_EQ(printed, count > 1 ? 2u : 1u) << first << "\n" << r.err;
        if (count > 1) {
            repeated = true;
            EXPECT_NE(r.err.find("(" + std::to_string(count) + " keer getoond)"), std::string::npos) << r.err;
        }
    }
    EXPECT_TRUE(repeated) << "the missing sub database is met more than once per run\n" << r.err;
    // Its string-table number is found from the composed text.
    EXPECT_TRUE(std::any_of(warnings.begin(), warnings.end(), [](const QJsonValue& w) { return w["text_id"] == 80; }))
        << r.out;
}

TEST(Json, SampleManifestWritesEveryDocumentedKeyWithItsType) {
    TempDir dir;
    // Every fault that fits generation 7: some are skipped, some touch files,
    // one leaves a sub database without its row.
    const CliRun r = RunCli("sample '" + dir.file("demo") + "' --generation 7 --faults all --json", dir);
    ASSERT_EQ(r.exit, 0) << r.err;
    ExpectMatchesSchema(Parse(r.out), "## `quillex-cli sample");
}

TEST(Json, TextIdIsFoundFromTheComposedText) {
    struct Case { std::string name, text; long id; } cases[] = {
        {"placeholders filled", FormatMsg(GetResString(80, ""), {"Archief", "/a/x_2.pdb", "/b/x_2.pdb"}), 80},
        {"text without placeholders", GetResString(95, ""), 95},
        {"a text of our own", "Dit staat niet in de tabel", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(TextIdOf(c.text), c.id) << c.name;
}
