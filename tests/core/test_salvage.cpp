// Salvage against an oracle: sample archives whose sub databases get random
// pages overwritten with random bytes (the cipher's page check then rejects
// them). What was stored is known beforehand, and what physically survived
// is told by reading each document's row from the damaged file; a salvage
// must bring back exactly that, byte for byte and reachable, and say which
// documents were lost.
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/engine/Cipher.h"
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/CliRunner.h"
#include "tests/core/TestUtil.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>

namespace qx {
namespace {

namespace fs = std::filesystem;
using test::CliRun;
using test::RunCli;
using test::ShellQuote;
using test::TempDir;

QJsonObject ParseJson(const std::string& text) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return doc.object();
}

// Overwrites whole pages (1-based) with random bytes.
void DamagePages(const std::string& path, const std::set<long>& pages, std::mt19937& rng) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(f.good()) << path;
    std::string junk(sql::kCipherPageSize, '\0');
    for (const long page : pages) {
        for (char& c : junk) c = static_cast<char>(rng() & 0xFF);
        f.seekp(static_cast<std::streamoff>(page - 1) * sql::kCipherPageSize);
        f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    ASSERT_TRUE(f.good());
}

// The documents of sub database `n` whose row no longer reads: their
// pages, or the pages on the way to them, were hit.
std::set<long> HitDocuments(const std::string& mainPath, const std::string& subPath, long n) {
    const std::string password = engine::PasswordBytes(PasswordForGeneration(8));
    sql::Error err;
    sql::Database main = sql::Database::open(RealEnv(), mainPath, password, sql::OpenMode::ReadOnly, err);
    std::vector<long> ids;
    sql::Statement docs(main, "SELECT ID FROM FOLDERS WHERE ISFOLDER = 0 AND DATABASEID = ?");
    docs.bind(1, static_cast<std::int64_t>(n));
    while (docs.step() == sql::Step::Row) ids.push_back(static_cast<long>(docs.getInt64(0)));
    std::set<long> hit;
    sql::Database sub = sql::Database::open(RealEnv(), subPath, password, sql::OpenMode::ReadOnly, err);
    sql::Statement row(sub, "SELECT PICTURE FROM PICTURES WHERE ID = ?");
    for (const long id : ids) {
        if (!row.ok()) {
            hit.insert(id);
            continue;
        }
        row.reset();
        row.bind(1, static_cast<std::int64_t>(id));
        const sql::Step s = row.step();
        if (s == sql::Step::Failed) hit.insert(id);
    }
    return hit;
}

std::set<long> LostIds(const QJsonObject& report) {
    std::set<long> lost;
    for (const QJsonValue f : report["files"].toArray())
        for (const QJsonValue d : f.toObject()["lost_documents"].toArray())
            lost.insert(static_cast<long>(d.toObject()["id"].toInteger()));
    return lost;
}

// The sweep script (tools/salvage-sweep.sh) asks for more seeds and larger
// archives than the test command runs; unset, the test's own sizes hold.
long FromEnvironment(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end && *end == '\0' && value > 0 ? value : fallback;
}

// What the oracle counted over all seeds.
struct Share {
    long documents = 0, hit = 0, back = 0;
};
Share g_share;

class SalvageOracle : public ::testing::TestWithParam<std::uint32_t> {
public:
    static void TearDownTestSuite() {
        if (g_share.documents == 0) return;
        std::printf("salvage oracle: %ld documents in damaged sub databases, %ld hit, %ld back (%.1f %% recovered, "
                    "%.1f %% of what survived)\n",
                    g_share.documents, g_share.hit, g_share.back, 100.0 * g_share.back / g_share.documents,
                    g_share.documents == g_share.hit ? 100.0
                                                     : 100.0 * g_share.back / (g_share.documents - g_share.hit));
        RecordProperty("recovered_share", std::to_string(static_cast<double>(g_share.back) / g_share.documents));
    }
};

TEST_P(SalvageOracle, BringsBackEverythingWhosePagesSurvive) {
    const std::uint32_t seed = GetParam();
    TempDir dir;
    SampleOptions o;
    o.directory = dir.file("archive");
    o.documents = FromEnvironment("QUILLEX_SALVAGE_DOCUMENTS", 36);
    o.folders = 4;
    o.subDatabases = static_cast<int>(FromEnvironment("QUILLEX_SALVAGE_SUBS", 2));
    o.documentSize = 9000;  // some rows spill onto overflow pages, some share a page
    o.seed = seed;
    SampleManifest m;
    std::string error;
    ASSERT_TRUE(WriteSampleArchive(o, m, error)) << error;
    const test::ArchiveSnapshot before = test::TakeSnapshot(m.mainDatabase);
    ASSERT_TRUE(before.opened);

    // The fullest sub database, a few of its pages past the first hit.
    const SampleSubDatabase* target = nullptr;
    for (const SampleSubDatabase& s : m.subDatabases)
        if (s.fileWritten && s.storedPath.size() && (!target || s.dataRows > target->dataRows)) target = &s;
    ASSERT_NE(target, nullptr);
    std::mt19937 rng(seed);
    const long pages = static_cast<long>(fs::file_size(target->path) / sql::kCipherPageSize);
    ASSERT_GT(pages, 4);
    std::set<long> chosen;
    const long wanted = 1 + static_cast<long>(seed % FromEnvironment("QUILLEX_SALVAGE_MAX_PAGES", 3));
    while (static_cast<long>(chosen.size()) < wanted) chosen.insert(2 + static_cast<long>(rng() % (pages - 1)));
    DamagePages(target->path, chosen, rng);
    const std::set<long> hit = HitDocuments(m.mainDatabase, target->path, target->number);
    const std::string damagedBytes = test::Slurp(target->path);

    const CliRun r = RunCli("salvage --no " + ShellQuote(m.mainDatabase) + " --json -", dir);
    ASSERT_TRUE(r.exit == 1 || r.exit == 4) << r.err << r.out;
    const QJsonObject report = ParseJson(r.out);
    const std::set<long> lost = LostIds(report);

    // Every document whose row still read is back, byte for byte, reachable
    // from its record; nothing comes back as other bytes.
    const test::ArchiveSnapshot after = test::TakeSnapshot(m.mainDatabase);
    ASSERT_TRUE(after.opened);
    for (const auto& [id, sha] : before.documents) {
        const auto now = after.documents.find(id);
        if (hit.count(id)) continue;
        ASSERT_NE(now, after.documents.end()) << "seed " << seed << ": document " << id << " did not come back";
        EXPECT_EQ(now->second, sha) << "seed " << seed << ": document " << id;
    }
    for (const auto& [id, sha] : after.documents) {
        const auto was = before.documents.find(id);
        ASSERT_NE(was, before.documents.end()) << id;
        EXPECT_EQ(sha, was->second) << "seed " << seed << ": document " << id << " came back as other bytes";
    }
    // Lost is exactly what was hit, and is no longer reachable.
    EXPECT_EQ(lost, hit) << "seed " << seed;
    for (const long id : hit) EXPECT_EQ(after.documents.count(id), 0u) << id;
    // The damaged file is kept aside as it was.
    bool kept = false;
    for (const auto& e : fs::directory_iterator(fs::path(target->path).parent_path()))
        if (e.path().filename().string() == fs::path(target->path).filename().string() + ".damaged")
            kept = test::Slurp(e.path().string()) == damagedBytes;
    EXPECT_TRUE(kept) << "the damaged file is not kept as it was";

    // The archive passes the thorough check: nothing damaged in its files,
    // and the only findings are the lost documents' broken links.
    const CliRun check = RunCli("check --thorough --no " + ShellQuote(m.mainDatabase) + " --json -", dir);
    const QJsonObject findings = ParseJson(check.out);
    for (const QJsonValue f : findings["findings"].toArray()) {
        const long id = static_cast<long>(f.toObject()["id"].toInteger());
        EXPECT_TRUE(lost.count(id)) << "seed " << seed << ": finding for document " << id << " code "
                                    << f.toObject()["code_name"].toString().toStdString();
    }
    // A second salvage finds nothing to do.
    EXPECT_EQ(RunCli("salvage --no " + ShellQuote(m.mainDatabase), dir).exit, 0);

    long inTarget = 0;
    {
        const std::string password = engine::PasswordBytes(PasswordForGeneration(8));
        sql::Error err;
        sql::Database main = sql::Database::open(RealEnv(), m.mainDatabase, password, sql::OpenMode::ReadOnly, err);
        sql::Statement docs(main, "SELECT ID FROM FOLDERS WHERE ISFOLDER = 0 AND DATABASEID = ?");
        docs.bind(1, static_cast<std::int64_t>(target->number));
        while (docs.step() == sql::Step::Row) inTarget += before.documents.count(static_cast<long>(docs.getInt64(0)));
    }
    g_share.documents += inTarget;
    g_share.hit += static_cast<long>(hit.size());
    g_share.back += inTarget - static_cast<long>(hit.size());
}

INSTANTIATE_TEST_SUITE_P(Seeds, SalvageOracle,
                         ::testing::Range(1u, 1u + static_cast<std::uint32_t>(FromEnvironment("QUILLEX_SALVAGE_SEEDS", 6))));

// A file whose only data page is gone: every document is lost, named with
// its folder path, the record stays, and the archive opens and checks with
// nothing but those documents' broken links.
TEST(Salvage, NamesEveryLostDocumentAndKeepsItsRecord) {
    TempDir dir;
    test::ArchiveBuilder a(dir.path());
    a.sub(1, {2, 3}).sub(2, {4});
    std::mt19937 rng(7);
    DamagePages(SubDatabaseName(a.main, 1), {2}, rng);

    const CliRun r = RunCli("salvage " + ShellQuote(a.main), dir);
    EXPECT_EQ(r.exit, 4) << r.err << r.out;
    EXPECT_NE(r.out.find("verloren: document 2 'doc2' in \\Map\\"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("verloren: document 3 'doc3' in \\Map\\"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2 documenten verloren"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(SubDatabaseName(a.main, 1) + ".damaged"));
    const test::ArchiveSnapshot after = test::TakeSnapshot(a.main);
    EXPECT_EQ(after.parents.count(2) + after.parents.count(3), 2u) << "the records stay";
    EXPECT_EQ(after.documents.count(4), 1u) << "the other sub database is untouched";
    EXPECT_EQ(RunCli("open --no " + ShellQuote(a.main), dir).exit, 0);
}

// Report only: what would come back is told, and not one byte of the folder
// changes, names included.
TEST(Salvage, ReportOnlyChangesNothing) {
    TempDir dir;
    test::ArchiveBuilder a(dir.path());
    a.sub(1, {2, 3});
    std::mt19937 rng(3);
    DamagePages(SubDatabaseName(a.main, 1), {2}, rng);
    auto folder = [&] {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().filename() != "cli.out" && e.path().filename() != "cli.err")
                files[e.path().filename().string()] = test::Slurp(e.path().string());
        return files;
    };
    const auto was = folder();
    const CliRun r = RunCli("salvage --dry-run " + ShellQuote(a.main) + " --json -", dir);
    EXPECT_EQ(r.exit, 4) << r.err;
    const QJsonObject report = ParseJson(r.out);
    EXPECT_TRUE(report["dry_run"].toBool());
    EXPECT_EQ(LostIds(report), (std::set<long>{2, 3}));
    EXPECT_TRUE(folder() == was) << "the folder changed";
}

// A damaged OCR database: report-only says and exits what the real run
// says and exits (made anew, nothing lost: 1), the place the damaged file is
// kept is on the file's own line, and no line carries a carriage return.
TEST(Salvage, ADamagedOcrDatabaseReportOnlyPredictsTheRealRun) {
    const struct {
        const char* name;
        const char* options;
        const char* kept;  // what the file's line ends in
        const char* notice;
    } cases[] = {
        {"report only", "--dry-run", "beschadigd bestand zou worden bewaard als 'Archief.omd.damaged'",
         "Ze zou apart worden gezet als 'Archief.omd.damaged'"},
        {"real run", "", "beschadigd bestand bewaard als 'Archief.omd.damaged'",
         "Ze is apart gezet als 'Archief.omd.damaged'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string folder = dir.file("a");
        ASSERT_EQ(RunCli("sample " + ShellQuote(folder) + " --documents 20 --faults omd-damaged", dir).exit, 0);
        const CliRun r = RunCli("salvage --yes " + std::string(c.options) + " " + ShellQuote(folder + "/Archief.dat"), dir);
        EXPECT_EQ(r.exit, 1) << r.out << r.err;
        EXPECT_EQ((r.out + r.err).find('\r'), std::string::npos);
        std::string line;
        for (std::istringstream in(r.out); std::getline(in, line);)
            if (line.starts_with(folder + "/Archief.omd:")) break;
        EXPECT_TRUE(line.ends_with(c.kept)) << r.out;
        EXPECT_NE(r.out.find(c.kept + std::string("\nDe OCR-gegevens moeten opnieuw worden opgebouwd")),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.err.find(c.notice), std::string::npos) << r.err;
    }
}

// A damaged page of FOLDERS in the main database: the rows that read come
// back unchanged in a fresh main database, and every data row whose
// document record was lost comes back as a "Repaired document" in the
// salvage's folder, so nothing stored becomes unreachable.
TEST(Salvage, MainDatabaseKeepsEveryStoredDocumentReachable) {
    TempDir dir;
    test::ArchiveBuilder a(dir.path());
    a.sub(1, {});
    {
        // Enough records, with long notes, for FOLDERS to fill many pages.
        std::string sql = "BEGIN;";
        for (long id = 2; id < 602; ++id)
            sql += "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, NOTES, DATABASEID) VALUES (" + std::to_string(id) +
                   ", 1, 0, 'doc" + std::to_string(id) + "', hex(zeroblob(300)), 1);";
        a.exec(sql + "COMMIT;");
        std::string data = "BEGIN;";
        for (long id = 2; id < 602; ++id)
            data += "INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(id) + ", randomblob(200));";
        a.execIn(1, data + "COMMIT;");
    }
    const test::ArchiveSnapshot before = test::TakeSnapshot(a.main);
    ASSERT_EQ(before.documents.size(), 600u);
    // A page in the middle of FOLDERS: the first one past the middle whose
    // damage stops a walk of the table.
    const std::string pristine = test::Slurp(a.main);
    const long pages = static_cast<long>(pristine.size() / sql::kCipherPageSize);
    long hitPage = 0;
    std::mt19937 rng(9);
    for (long page = pages / 3; page < pages && !hitPage; ++page) {
        test::WriteFile(a.main, pristine);
        DamagePages(a.main, {page}, rng);
        sql::Error err;
        sql::Database db = sql::Database::open(RealEnv(), a.main, engine::PasswordBytes(a.password), sql::OpenMode::ReadOnly, err);
        sql::Statement st(db, "SELECT ID FROM FOLDERS WHERE ID >= 2 ORDER BY ID");
        sql::Step s;
        while ((s = st.step()) == sql::Step::Row) {
        }
        if (s == sql::Step::Failed) hitPage = page;
    }
    ASSERT_GT(hitPage, 0) << "no page of FOLDERS found";

    const CliRun r = RunCli("salvage --no " + ShellQuote(a.main) + " --json -", dir);
    ASSERT_EQ(r.exit, 1) << r.err << r.out;
    const QJsonObject report = ParseJson(r.out);
    EXPECT_EQ(report["files"].toArray()[0].toObject()["outcome"].toString(), "salvaged") << r.out;
    EXPECT_TRUE(fs::exists(a.main + ".damaged"));

    const test::ArchiveSnapshot after = test::TakeSnapshot(a.main);
    ASSERT_TRUE(after.opened);
    EXPECT_EQ(after.documents, before.documents) << "every stored document leads to its bytes";
    sql::Error err;
    sql::Database db = sql::Database::open(RealEnv(), a.main, engine::PasswordBytes(a.password), sql::OpenMode::ReadOnly, err);
    sql::Statement repaired(db, "SELECT count(*), count(DISTINCT PARENT) FROM FOLDERS WHERE NAME = 'Repaired document'");
    ASSERT_EQ(repaired.step(), sql::Step::Row);
    EXPECT_GT(repaired.getInt64(0), 0);
    EXPECT_EQ(repaired.getInt64(1), 1);
    sql::Statement kept(db, "SELECT count(*) FROM FOLDERS WHERE NAME LIKE 'doc%' AND NOTES = hex(zeroblob(300))");
    ASSERT_EQ(kept.step(), sql::Step::Row);
    EXPECT_EQ(kept.getInt64(0) + repaired.getInt64(0), 600) << "the records that read are kept as they were";
    // Every row hangs in a folder that exists (the salvage's folder for
    // those whose folder was lost).
    sql::Statement hanging(db, "SELECT count(*) FROM FOLDERS WHERE PARENT IS NOT NULL AND PARENT <> 0 AND PARENT NOT IN "
                               "(SELECT ID FROM FOLDERS)");
    ASSERT_EQ(hanging.step(), sql::Step::Row);
    EXPECT_EQ(hanging.getInt64(0), 0);
    sql::Statement check(db, "PRAGMA integrity_check");
    ASSERT_EQ(check.step(), sql::Step::Row);
    EXPECT_EQ(check.getText(0), "ok") << "the indexes are built anew";
    const CliRun open = RunCli("open --no " + ShellQuote(a.main), dir);
    EXPECT_EQ(open.exit, 0) << open.err;
}

// Rows no document names are found by the sweep alone, across gaps of
// row numbers far wider than a page and past damaged pages: every row that
// still reads by its number comes back, and none other.
TEST(Salvage, TheSweepFindsEveryReadableRowNoDocumentNames) {
    struct Case {
        const char* name;
        std::int64_t second;  // where the second run of row numbers starts
        int damaged;          // pages damaged, from the middle of the file on
    } cases[] = {
        {"dense numbers, one page", 151, 1},
        {"a gap of 10^12, one page", 1'000'000'000'000, 1},
        {"a gap of 2^62, three pages", 4'611'686'018'427'387'904, 3},
    };
    for (const Case& c : cases) {
        TempDir dir;
        test::ArchiveBuilder a(dir.path());
        a.sub(1, {});
        std::vector<std::int64_t> ids;
        for (std::int64_t i = 0; i < 150; ++i) ids.insert(ids.end(), {1 + i, c.second + i});
        std::string sql = "BEGIN;";
        for (const std::int64_t id : ids)
            sql += "INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(id) + ", randomblob(900));";
        a.execIn(1, sql + "COMMIT;");
        // One document keeps the file in use; the others have no record.
        a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (2, 1, 0, 'doc2', 1)");
        const std::string sub = SubDatabaseName(a.main, 1);
        const long pages = static_cast<long>(fs::file_size(sub) / sql::kCipherPageSize);
        std::set<long> chosen;
        for (int i = 0; i < c.damaged; ++i) chosen.insert(pages / 2 + 2 * i);
        std::mt19937 rng(17);
        DamagePages(sub, chosen, rng);
        // What still reads, asked row by row.
        std::set<std::int64_t> readable;
        {
            const std::string password = engine::PasswordBytes(a.password);
            sql::Error err;
            sql::Database db = sql::Database::open(RealEnv(), sub, password, sql::OpenMode::ReadOnly, err);
            sql::Statement row(db, "SELECT PICTURE FROM PICTURES WHERE ID = ?");
            for (const std::int64_t id : ids) {
                row.reset();
                row.bind(1, id);
                if (row.step() == sql::Step::Row) readable.insert(id);
            }
        }
        ASSERT_LT(readable.size(), ids.size()) << c.name << ": the damage hit no row";

        const CliRun r = RunCli("salvage --no " + ShellQuote(a.main), dir);
        EXPECT_TRUE(r.exit == 1 || r.exit == 4) << c.name << "\n" << r.out << r.err;
        std::set<std::int64_t> back;
        const std::string password = engine::PasswordBytes(a.password);
        sql::Error err;
        sql::Database db = sql::Database::open(RealEnv(), sub, password, sql::OpenMode::ReadOnly, err);
        sql::Statement all(db, "SELECT ID FROM PICTURES");
        while (all.step() == sql::Step::Row) back.insert(all.getInt64(0));
        EXPECT_EQ(back, readable) << c.name;
    }
}

// Every key of the JSON is documented in docs/json.md and every documented
// key is written.
TEST(Salvage, JsonKeysAreDocumented) {
    TempDir dir;
    test::ArchiveBuilder a(dir.path());
    a.sub(1, {2, 3});
    std::mt19937 rng(5);
    DamagePages(SubDatabaseName(a.main, 1), {2}, rng);
    const CliRun r = RunCli("salvage " + ShellQuote(a.main) + " --json -", dir);
    const QJsonObject report = ParseJson(r.out);

    std::set<std::string> written;
    std::function<void(const QJsonValue&, const std::string&)> walk = [&](const QJsonValue& v, const std::string& path) {
        if (!path.empty() && !path.ends_with("[]")) written.insert(path);
        if (v.isArray())
            for (const QJsonValue e : v.toArray()) walk(e, path + "[]");
        else if (v.isObject()) {
            const QJsonObject o = v.toObject();
            for (auto it = o.begin(); it != o.end(); ++it)
                walk(it.value(), (path.empty() ? "" : path + ".") + it.key().toStdString());
        }
    };
    walk(report, "");
    const std::string doc = test::Slurp(std::string(QX_SOURCE_DIR) + "/docs/json.md");
    const size_t start = doc.find("## `quillex-cli salvage");
    ASSERT_NE(start, std::string::npos);
    const size_t end = doc.find("\n## ", start + 1);
    std::set<std::string> documented;
    static const QRegularExpression row(R"(^\| `([^`]+)` \|)", QRegularExpression::MultilineOption);
    const QString section = QString::fromStdString(doc.substr(start, end == std::string::npos ? end : end - start));
    for (auto it = row.globalMatch(section); it.hasNext();) documented.insert(it.next().captured(1).toStdString());
    EXPECT_EQ(written, documented);
}

}  // namespace
}  // namespace qx
