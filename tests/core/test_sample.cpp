// The sample archive generator: each fault has the shape its check looks for
// (test_cli_check.cpp runs the checks), healthy archives, never overwriting.
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/engine/Connection.h"
#include "support/engine/Recordset.h"
#include "tests/core/CliRunner.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <filesystem>
#include <set>

using namespace qx;
using namespace qx::engine;
using qx::test::TempDir;

namespace {

std::string Cs(const std::string& path, const std::string& pwd) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=" + pwd;
}

SampleManifest Write(const std::string& dir, std::vector<std::string> faults = {}, int generation = 8,
                     std::uint32_t seed = 1, bool all = false) {
    const SampleOptions o{.directory = dir, .generation = generation, .documents = 80, .folders = 6,
                          .documentSize = 1500, .faults = faults, .allFaults = all, .seed = seed};
    SampleManifest m;
    std::string error;
    EXPECT_TRUE(WriteSampleArchive(o, m, error)) << error;
    return m;
}

// Reads an archive back through the engine, the way the checks see it.
struct Archive {
    explicit Archive(const SampleManifest& m) : m(m), pwd(PasswordForGeneration(m.generation)) {
        EXPECT_TRUE(main.open(Cs(m.mainDatabase, pwd))) << m.mainDatabase;
    }
    std::vector<std::vector<Variant>> rows(const std::string& sql, Connection* cn = nullptr) {
        Recordset rs;
        std::vector<std::vector<Variant>> out;
        EXPECT_TRUE(rs.open(sql, cn ? *cn : main, CursorMode::Lookup)) << sql << ": " << rs.lastError().message;
        for (; rs.isOpen() && !rs.eof(); rs.moveNext())
            for (int i = 0; i < rs.fieldCount(); ++i) (i ? out.back() : out.emplace_back()).push_back(rs.value(i));
        return out;
    }
    bool has(const std::string& sql, long id) { return !rows(sql + std::to_string(id)).empty(); }
    // Sub database number -> the data row of `id`, over the files that open.
    std::map<long, Bytes> copies(long id) {
        std::map<long, Bytes> out;
        for (const SampleSubDatabase& s : m.subDatabases)
            if (Connection cn{qx::RealEnv()}; s.fileWritten && cn.open(Cs(s.path, pwd)))
                for (auto& r : rows("SELECT PICTURE FROM PICTURES WHERE ID = " + std::to_string(id), &cn))
                    out[s.number] = r[0].toBytes();
        return out;
    }
    const SampleManifest& m;
    std::string pwd;
    Connection main{qx::RealEnv()};
};

bool Decodes(const Bytes& b) { return QImage().loadFromData(b.data(), static_cast<int>(b.size())); }
bool StartsWithPdf(const Bytes& b) { return b.size() > 5 && std::string(b.begin(), b.begin() + 5) == "%PDF-"; }

// What each fault must look like for the check that is meant to find it.
void VerifyFault(const std::string& f, Archive& a) {
    SCOPED_TRACE(f);
    const SampleManifest& m = a.m;
    const auto ids = m.faultIds.contains(f) ? m.faultIds.at(f) : std::vector<long>{};
    const auto files = m.faultFiles.contains(f) ? m.faultFiles.at(f) : std::vector<std::string>{};
    EXPECT_FALSE(ids.empty() && files.empty());
    auto in = [&](std::set<std::string> family) { return family.count(f) != 0; };
    const bool trashTable = Recordset().open("SELECT * FROM trash", a.main, CursorMode::Lookup);
    // Generation 8 runs the trash check only when the table is missing.
    if (f == "trashed-without-trash-rows") { EXPECT_EQ(trashTable, m.generation != 8); }
    for (long id : ids) {
        SCOPED_TRACE(id);
        auto r = a.rows("SELECT DATABASEID, TEMPLATE1 FROM FOLDERS WHERE ID = " + std::to_string(id));
        ASSERT_EQ(r.size(), in({"unreferenced-empty-data", "unreferenced-data"}) ? 0u : 1u);
        auto copies = a.copies(id);
        if (r.empty()) {  // a data row without a document
            ASSERT_EQ(copies.size(), 1u);
            EXPECT_EQ(copies.begin()->second.empty(), f == "unreferenced-empty-data");
            continue;
        }
        // Faults a check finds with their own code are proven by test_cli_check.cpp;
        // these are the ones no check reports that way.
        const long db = r[0][0].toInt64();
        if (f == "databases-row-missing") {
            EXPECT_FALSE(a.has("SELECT ID FROM DATABASES WHERE ID = ", db));
            EXPECT_FALSE(copies[db].empty());
        } else if (f == "large-documents") {
            EXPECT_GT(copies[db].size(), 204800u);
            EXPECT_TRUE(Decodes(copies[db]));
        } else if (f == "trashed-without-trash-rows") {
            // Booleans are -1 in the archive; the condition reads them as the checks do.
            EXPECT_TRUE(a.has("SELECT ID FROM FOLDERS WHERE TRASHMARK = -1 AND ID = ", id));
            if (trashTable) { EXPECT_FALSE(a.has("SELECT id FROM trash WHERE id = ", id)); }
        } else if (f == "same-id-different-data") {
            ASSERT_EQ(copies.size(), 2u);
            EXPECT_NE(copies.begin()->second.size(), copies.rbegin()->second.size());
            for (auto& [number, data] : copies) EXPECT_TRUE(Decodes(data)) << number;
        }
    }
    const std::string dir = m.directory + "/";
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        EXPECT_EQ(file.rfind(dir, 0), 0u);
        EXPECT_EQ(std::filesystem::exists(file), !in({"omd-missing", "sub-database-file-missing"}));
        EXPECT_TRUE(!in({"omd-damaged", "unopenable-sub-database", "unreferenced-sub-database"}) ||
                    Connection(qx::RealEnv()).open(Cs(file, file == m.omdDatabase ? "" : a.pwd)) == (f == "unreferenced-sub-database"));
        for (auto& s : m.subDatabases)  // an unreferenced sub database: no document names it
            EXPECT_FALSE(f == "unreferenced-sub-database" && s.path == file &&
                         a.has("SELECT ID FROM FOLDERS WHERE DATABASEID = ", s.number));
    }
    if (f == "archive-folder-moved")  // stored paths lead nowhere, the files lie next to the main database
        for (auto& r : a.rows("SELECT DATABASE FROM DATABASES")) {
            const std::string stored = r[0].toString(), local = dir + std::filesystem::path(stored).filename().string();
            EXPECT_FALSE(std::filesystem::exists(stored)) << stored;
            EXPECT_TRUE(std::filesystem::exists(local) || m.faultFiles.contains("sub-database-file-missing")) << stored;
        }
    if (f == "sub-database-number-gaps") {  // the numbers start above 1 and skip some
        auto listed = a.rows("SELECT ID FROM DATABASES ORDER BY ID");
        EXPECT_TRUE(!listed.empty() && listed[0][0].toInt64() > 1 && listed.back()[0].toInt64() > std::ssize(listed));
    }
}

}  // namespace

// Each fault alone, then all at once with distinct victims (generations 8 and 7);
// the same seed gives the same manifest and FOLDERS rows, another seed does not.
TEST(SampleFaults, EachAloneAndAllTogetherAreWhereTheManifestSays) {
    TempDir dir;
    for (const std::string& fault : SampleFaultNames()) {
        const SampleManifest m = Write(dir.file(fault), {fault});
        ASSERT_EQ(m.appliedFaults(), std::vector<std::string>{fault});
        Archive a(m);
        VerifyFault(fault, a);
    }
    std::vector<SampleManifest> m;
    for (auto [generation, seed] : std::vector<std::pair<int, std::uint32_t>>{{8, 7}, {8, 7}, {8, 99}, {7, 7}})
        m.push_back(Write(dir.file(std::to_string(m.size())), {}, generation, seed, true));
    for (const SampleManifest* mi : {&m[0], &m[3]}) {
        SCOPED_TRACE(mi->generation);
        EXPECT_EQ(mi->skippedFaults.count("double-byte-pdf"), mi->generation == 8 ? 0u : 1u);
        Archive a(*mi);
        std::set<long> seen;
        for (const std::string& f : mi->appliedFaults()) {
            VerifyFault(f, a);
            for (long id : mi->faultIds.contains(f) ? mi->faultIds.at(f) : std::vector<long>{})
                EXPECT_TRUE(seen.insert(id).second) << f << " reuses " << id;
        }
    }
    auto folders = [](const SampleManifest& mi) { return Archive(mi).rows("SELECT * FROM FOLDERS ORDER BY ID"); };
    EXPECT_EQ(m[0].faultIds, m[1].faultIds);
    EXPECT_TRUE(m[0].toJson()["counts"] == m[1].toJson()["counts"]);
    EXPECT_TRUE(folders(m[0]) == folders(m[1]));
    EXPECT_FALSE(folders(m[0]) == folders(m[2]));
}

// Each generation's password and trash shape; healthy documents: decodable images
// in four formats and PDFs, one data row each, in the sub database FOLDERS names.
TEST(SampleArchive, EachGenerationGivesAHealthyArchive) {
    TempDir dir;
    for (int generation = 4; generation <= 8; ++generation) {
        SCOPED_TRACE(generation);
        const SampleManifest m = Write(dir.file("g" + std::to_string(generation)), {}, generation);
        Archive a(m);
        EXPECT_FALSE(Connection(qx::RealEnv()).open(Cs(m.mainDatabase, PasswordForGeneration(generation == 8 ? 5 : 8))));
        for (const char* sql : {"SELECT * FROM trash", "SELECT TRASHMARK FROM FOLDERS"})
            EXPECT_EQ(Recordset().open(sql, a.main, CursorMode::Lookup), GenerationHasTrash(generation)) << sql;
        if (!GenerationHasTrash(generation)) {
            EXPECT_EQ(m.trashedRows, 0);
        } else {
            auto trashed = a.rows("SELECT ID FROM FOLDERS WHERE TRASHMARK <> 0");
            EXPECT_EQ(static_cast<long>(trashed.size()), m.trashedRows);
            for (auto& t : trashed) EXPECT_TRUE(a.has("SELECT id FROM trash WHERE id = ", t[0].toInt64()));
        }
        const auto docs = a.rows("SELECT ID, DATABASEID, TEMPLATE1 FROM FOLDERS WHERE NOT ISFOLDER");
        EXPECT_EQ(static_cast<long>(docs.size()), m.documentRows);
        std::set<std::string> formats;
        long pdfs = 0, pages = 0;
        for (auto& d : docs) {
            const long id = d[0].toInt64();
            const std::string t = d[2].isNull() ? "" : d[2].toString();
            const auto copies = a.copies(id);
            ASSERT_EQ(copies.size(), 1u) << id;
            ASSERT_EQ(copies.begin()->first, d[1].toInt64()) << id;
            const Bytes& b = copies.begin()->second;
            const bool page = t.rfind("MC", 0) == 0, image = t.empty() || page || t.rfind("MP", 0) == 0;
            pages += page, pdfs += !image;
            EXPECT_TRUE(image ? Decodes(b) : StartsWithPdf(b)) << id;
            if (image) formats.insert(std::string(b.begin(), b.begin() + 2));
            EXPECT_NEAR(static_cast<double>(b.size()), 1500, 1500 * 0.25) << id;
        }
        EXPECT_EQ(std::pair(pages, pdfs), std::pair(m.pageRows, m.importedRows));
        EXPECT_GT(pdfs, 0);
        EXPECT_EQ(formats, (std::set<std::string>{"II", "\xFF\xD8", "\x89P", "BM"}));  // TIFF, JPEG, PNG, BMP
        EXPECT_TRUE(std::filesystem::exists(m.omdDatabase));
    }
}

TEST(SampleArchive, RefusesToOverwriteAnyFileItWouldWrite) {
    for (const std::string victim : {"Archief.dat", "Archief_2.pdb", "Archief.omd"}) {
        TempDir dir;
        qx::test::WriteFile(dir.file(victim), "keep me");
        SampleManifest m;
        std::string error;
        EXPECT_FALSE(WriteSampleArchive({.directory = dir.path(), .faults = {}}, m, error)) << victim;
        EXPECT_NE(error.find(victim), std::string::npos) << error;
        EXPECT_EQ(qx::test::Slurp(dir.file(victim)), "keep me");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << victim;
    }
}

TEST(SampleCli, WritesTheArchiveAndPrintsTheManifest) {
    TempDir dir;
    const std::string args = "sample '" + dir.file("demo") + "' --documents 40 --faults no-data-row,omd-missing --json";
    const qx::test::CliRun r = qx::test::RunCli(args, dir);
    ASSERT_EQ(r.exit, 0) << r.err;
    QJsonParseError perr;
    const QJsonObject faults = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &perr)["faults"].toObject();
    ASSERT_EQ(perr.error, QJsonParseError::NoError) << r.out;
    EXPECT_EQ(faults["no-data-row"].toObject()["ids"].toArray().size(), 3);
    EXPECT_TRUE(faults.contains("omd-missing"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("demo/Archief_3.pdb")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("demo/Archief.omd")));
    // A second run would overwrite: refused. Bad options and faults that cannot hold: usage errors, nothing written.
    EXPECT_EQ(qx::test::RunCli(args, dir).exit, 8);
    for (const std::string bad : {"--generation 9", "--faults no-such-fault", "--faults omd-missing,omd-damaged",
                                  "--documents 3 --faults no-data-row", "--sub-databases 1 --faults same-id-different-data",
                                  "--generation 6 --faults trashed-without-trash-rows"})
        EXPECT_EQ(qx::test::RunCli("sample '" + dir.file("x") + "' " + bad, dir).exit, 16) << bad;
    EXPECT_FALSE(std::filesystem::exists(dir.file("x")));
}

// Sizes with a suffix; without --folders and --sub-databases a large
// archive gets a folder per 500 documents and as many sub databases as its
// size needs.
TEST(SampleCli, DocumentSizeSuffixesAndDefaultsThatGrowWithTheArchive) {
    TempDir dir;
    struct Case { std::string name, options; int exit; long long size; long folders; long subDatabases; } cases[] = {
        {"plain bytes", "--documents 0 --folders 0 --document-size 64", 0, 64, 0, 3},
        {"kilobytes", "--documents 0 --folders 0 --document-size 2K", 0, 2048, 0, 3},
        {"a fraction", "--document-size 1.5K", 16, 0, 0, 0},
        {"gigabytes", "--document-size 1G", 16, 0, 0, 0},
        {"above the largest", "--document-size 17M", 16, 0, 0, 0},
        {"folders grow past 10,000 documents", "--documents 12000 --document-size 64", 0, 64, 24, 3},
        {"asked for stays", "--documents 12000 --document-size 64 --folders 7 --sub-databases 2", 0, 64, 7, 2},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string folder = dir.file("s" + std::to_string(n++));
        const qx::test::CliRun r = qx::test::RunCli("sample '" + folder + "' --json " + c.options, dir);
        ASSERT_EQ(r.exit, c.exit) << c.name << "\n" << r.err;
        if (c.exit != 0) continue;
        const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
        EXPECT_EQ(json["document_size"].toInteger(), c.size) << c.name;
        EXPECT_EQ(json["sub_databases"].toArray().size(), c.subDatabases) << c.name;
        EXPECT_EQ(json["counts"].toObject()["folders"].toInteger(), c.folders) << c.name;
    }
}

TEST(SampleOptions, SizesWithSuffixesAndTheSubDatabasesTheyNeed) {
    struct Size { const char* text; bool ok; long long bytes; } sizes[] = {
        {"64", true, 64},          {"4096", true, 4096},     {"4K", true, 4096},       {"4k", true, 4096},
        {"1M", true, 1048576},     {"16m", true, 16777216},  {"0", true, 0},           {"", false, 0},
        {"K", false, 0},           {"1.5K", false, 0},       {"-1", false, 0},         {"+1", false, 0},
        {"2G", false, 0},          {"1KB", false, 0},        {" 64", false, 0},        {"9999999999999", false, 0},
    };
    for (const Size& s : sizes) {
        long long bytes = -1;
        EXPECT_EQ(ParseSampleSize(s.text, bytes), s.ok) << '"' << s.text << '"';
        if (s.ok) EXPECT_EQ(bytes, s.bytes) << s.text;
    }

    struct Count { const char* name; long documents; long size; int asked; long long limit; int expected; } counts[] = {
        {"asked for stays as asked", 10'000'000, 64, 5, 640LL << 20, 5},
        {"a small archive gets three", 200, 4096, 0, 640LL << 20, 3},
        {"1.2 M documents of 1 KB fit three", 1'200'000, 1024, 0, 640LL << 20, 3},
        // Tiny documents still take the smallest real picture's bytes.
        {"10 M documents of 64 bytes", 10'000'000, 64, 0, 640LL << 20, 9},
        {"1 M documents of 64 KB", 1'000'000, 65536, 0, 640LL << 20, 118},
        {"a small limit", 1000, 64, 0, 64 << 10, 9},
        {"never more than the list can hold", 100'000'000, 16 << 20, 0, 640LL << 20, 1000},
    };
    for (const Count& c : counts) {
        SampleOptions o{.directory = "x", .documents = c.documents, .subDatabases = c.asked,
                        .subDatabaseBytes = c.limit, .documentSize = c.size, .faults = {}};
        EXPECT_EQ(SampleSubDatabaseCount(o), c.expected) << c.name;
    }
}

// The shape of a large archive on a small one: the sub databases split by
// their size limit, the main database written in one transaction. The checks
// find nothing, and each sub database holds no more than the limit.
TEST(SampleArchive, SplitBySizeIsAnArchiveInOrder) {
    TempDir dir;
    const long long limit = 64 << 10;
    const SampleOptions o{.directory = dir.file("split"), .documents = 1000, .folders = 30, .subDatabases = 0,
                          .subDatabaseBytes = limit, .documentSize = 64, .faults = {}};
    SampleManifest m;
    std::string error;
    ASSERT_TRUE(WriteSampleArchive(o, m, error)) << error;
    ASSERT_EQ(m.subDatabases.size(), 9u);
    Archive a(m);
    long long lastId = 0;
    for (const SampleSubDatabase& s : m.subDatabases) {
        SCOPED_TRACE(s.path);
        Connection cn{qx::RealEnv()};
        ASSERT_TRUE(cn.open(Cs(s.path, a.pwd)));
        const auto r = a.rows("SELECT count(*), sum(length(PICTURE)), min(ID), max(ID) FROM PICTURES", &cn);
        EXPECT_EQ(r[0][0].toInt64(), s.dataRows);
        EXPECT_GT(s.dataRows, 0);
        EXPECT_LE(r[0][1].toInt64(), limit);
        EXPECT_GT(r[0][2].toInt64(), lastId);  // filled one after the other
        lastId = r[0][3].toInt64();
    }
    EXPECT_EQ(a.rows("SELECT count(*) FROM FOLDERS WHERE NOT ISFOLDER")[0][0].toInt64(), m.documentRows);
    for (const char* kind : {"--normal", "--quick"}) {
        const qx::test::CliRun r = qx::test::RunCli(std::string("check ") + kind + " '" + m.mainDatabase + "'", dir);
        EXPECT_EQ(r.exit, 0) << kind << "\n" << r.out << r.err;
    }
}
