// The sample archive generator: every fault is where its manifest says and
// looks the way the checks expect it, a healthy archive gives the checks
// nothing to find, and the command line refuses to overwrite.
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/engine/Connection.h"
#include "support/engine/Recordset.h"
#include "tests/core/TestUtil.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

using namespace qx;
using namespace qx::engine;
using qx::test::TempDir;

namespace {

std::string Cs(const std::string& path, const std::string& pwd) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=" + pwd;
}

SampleOptions Small(const std::string& dir) {
    SampleOptions o;
    o.directory = dir;
    o.documents = 80;
    o.folders = 6;
    o.documentSize = 1500;
    return o;
}

// Reads an archive back through the engine, the way the checks see it.
class Archive {
public:
    explicit Archive(const SampleManifest& m) : m(m), pwd(PasswordForGeneration(m.generation)) {
        EXPECT_TRUE(main.open(Cs(m.mainDatabase, pwd))) << m.mainDatabase;
    }

    std::vector<std::vector<Variant>> rows(const std::string& sql) {
        Recordset rs;
        std::vector<std::vector<Variant>> out;
        if (!rs.open(sql, main, CursorMode::Lookup)) {
            ADD_FAILURE() << sql << ": " << rs.lastError().message;
            return out;
        }
        for (; !rs.eof(); rs.moveNext()) {
            out.emplace_back();
            for (int i = 0; i < rs.fieldCount(); ++i) out.back().push_back(rs.value(i));
        }
        return out;
    }
    std::optional<std::vector<Variant>> row(long id) {
        auto r = rows("SELECT ID, PARENT, ISFOLDER, DATABASEID, TEMPLATE1, PAGE, NAME FROM FOLDERS WHERE ID = " +
                      std::to_string(id));
        if (r.empty()) return std::nullopt;
        return r.front();
    }
    bool databasesRow(long number) { return !rows("SELECT ID FROM DATABASES WHERE ID = " + std::to_string(number)).empty(); }

    // The stored bytes of `id` in a file; nullopt when the file does not
    // open or holds no row for it.
    std::optional<Bytes> data(const std::string& file, long id) {
        Connection cn;
        if (!cn.open(Cs(file, pwd))) return std::nullopt;
        Recordset rs;
        if (!rs.open("SELECT ID, PICTURE FROM PICTURES WHERE ID = " + std::to_string(id), cn, CursorMode::Lookup) ||
            rs.eof())
            return std::nullopt;
        return rs.value("PICTURE").toBytes();
    }
    // Written sub database files that hold a row for `id`, with its size.
    std::map<std::string, std::size_t> copies(long id) {
        std::map<std::string, std::size_t> out;
        for (const SampleSubDatabase& s : m.subDatabases)
            if (s.fileWritten)
                if (auto d = data(s.path, id)) out[s.path] = d->size();
        return out;
    }
    std::string fileOf(long databaseId) {
        for (const SampleSubDatabase& s : m.subDatabases)
            if (s.number == databaseId) return s.path;
        return {};
    }
    // The path walk of the checks: false for a missing parent or a loop.
    bool pathValid(long id) {
        long parent = row(id)->at(1).toInt64();
        for (int steps = 0; parent > 0; ++steps) {
            if (steps > 128) return false;
            auto r = row(parent);
            if (!r) return false;
            const long next = r->at(1).toInt64();
            parent = next == parent ? 0 : next;
        }
        return true;
    }

    const SampleManifest& m;
    std::string pwd;
    Connection main;
};

bool Decodes(const Bytes& b) {
    QImage img;
    return img.loadFromData(b.data(), static_cast<int>(b.size()));
}

// The storage format rules: 1 = widened, 2 = zero upper half, 0 = as is.
int StorageType(const Bytes& b) {
    const std::size_t n = b.size();
    if (n == 0) return 0;
    if (n >= 11 && b[0] == '%' && b[2] == 'P' && b[4] == 'D' && b[6] == 'F') return 1;
    std::size_t zeros = 0;
    for (std::size_t i = 1; i < n; i += 2) zeros += b[i] == 0;
    const std::size_t half = static_cast<std::size_t>(std::nearbyint(n / 2.0));
    bool upperZero = n >= 3;
    for (std::size_t i = half; i < n && upperZero; ++i) upperZero = b[i] == 0;
    if (upperZero) return 2;
    return static_cast<float>(zeros / (n / 2.0)) > 0.9f ? 1 : 0;
}

bool StartsWithPdf(const Bytes& b) { return b.size() > 5 && std::string(b.begin(), b.begin() + 5) == "%PDF-"; }

// What each fault must look like for the check that is meant to find it.
void VerifyFault(const std::string& f, Archive& a) {
    SCOPED_TRACE(f);
    const SampleManifest& m = a.m;
    const auto ids = m.faultIds.count(f) ? m.faultIds.at(f) : std::vector<long>{};
    const auto files = m.faultFiles.count(f) ? m.faultFiles.at(f) : std::vector<std::string>{};
    EXPECT_FALSE(ids.empty() && files.empty());
    for (long id : ids) {
        SCOPED_TRACE(id);
        auto r = a.row(id);
        const std::string home = r ? a.fileOf(r->at(3).toInt64()) : "";
        auto copies = a.copies(id);
        if (f == "no-data-row") {
            ASSERT_TRUE(r);
            EXPECT_TRUE(a.databasesRow(r->at(3).toInt64()));
            EXPECT_TRUE(copies.empty());
        } else if (f == "data-in-other-sub-database" || f == "empty-data-with-copy" || f == "empty-data-without-copy") {
            ASSERT_TRUE(r);
            const bool homeRow = copies.count(home) != 0;
            EXPECT_EQ(homeRow, f != "data-in-other-sub-database");
            if (homeRow) EXPECT_EQ(copies[home], 0u);
            copies.erase(home);
            EXPECT_EQ(copies.size(), f == "empty-data-without-copy" ? 0u : 1u);
            for (auto& [file, size] : copies) EXPECT_GT(size, 0u) << file;
        } else if (f == "unreferenced-empty-data" || f == "unreferenced-data") {
            EXPECT_FALSE(r);
            ASSERT_EQ(copies.size(), 1u);
            EXPECT_EQ(copies.begin()->second > 0, f == "unreferenced-data");
        } else if (f == "orphan-page-no-container" || f == "orphan-page-container-not-mp") {
            ASSERT_TRUE(r);
            const std::string marker = r->at(4).toString();
            ASSERT_EQ(marker.rfind("MC", 0), 0u);
            auto container = a.row(std::stol(marker.substr(2)));
            EXPECT_EQ(container.has_value(), f == "orphan-page-container-not-mp");
            if (container) EXPECT_NE(container->at(4).toString().rfind("MP", 0), 0u);
            ASSERT_EQ(copies.count(home), 1u);
            EXPECT_GT(copies[home], 0u);
        } else if (f == "parent-missing" || f == "parent-cycle") {
            ASSERT_TRUE(r);
            EXPECT_FALSE(a.pathValid(id));
            EXPECT_EQ(a.row(r->at(1).toInt64()).has_value(), f == "parent-cycle");
            EXPECT_GT(copies[home], 0u);
        } else if (f == "databaseid-zero") {
            ASSERT_TRUE(r);
            EXPECT_EQ(r->at(3).toInt64(), 0);
            EXPECT_EQ(a.rows("SELECT ID FROM FOLDERS WHERE NOT ISFOLDER AND ID = " + std::to_string(id)).size(), 1u);
        } else if (f == "databases-row-missing") {
            ASSERT_TRUE(r);
            EXPECT_FALSE(a.databasesRow(r->at(3).toInt64()));
            EXPECT_EQ(home, SubDatabaseName(m.mainDatabase, r->at(3).toInt64()));
            EXPECT_GT(copies[home], 0u);
        } else if (f == "sub-database-file-missing" || f == "unopenable-sub-database") {
            ASSERT_TRUE(r);
            ASSERT_TRUE(a.databasesRow(r->at(3).toInt64()));
            EXPECT_EQ(std::filesystem::exists(home), f == "unopenable-sub-database");
            Connection cn;
            EXPECT_FALSE(cn.open(Cs(home, a.pwd)));
        } else if (f == "double-byte-pdf" || f == "zero-upper-half") {
            ASSERT_TRUE(r);
            const std::string t = r->at(4).toString();
            EXPECT_TRUE(t.size() > 1 && t.rfind("MC", 0) && t.rfind("MP", 0)) << t;
            auto d = a.data(home, id);
            ASSERT_TRUE(d);
            EXPECT_EQ(StorageType(*d), f == "double-byte-pdf" ? 1 : 2);
            Bytes original;
            for (std::size_t i = 0; i < d->size(); i += f == "double-byte-pdf" ? 2 : 1) original.push_back((*d)[i]);
            if (f == "zero-upper-half") original.resize(d->size() / 2);
            EXPECT_TRUE(StartsWithPdf(original));
        } else if (f == "undecodable-image") {
            ASSERT_TRUE(r);
            EXPECT_TRUE(r->at(4).isNull());
            auto d = a.data(home, id);
            ASSERT_TRUE(d);
            EXPECT_GT(d->size(), 0u);
            EXPECT_FALSE(Decodes(*d));
        } else if (f == "trashed-without-trash-rows") {
            // Booleans are -1 in the archive; the condition reads them as the checks do.
            EXPECT_EQ(a.rows("SELECT ID FROM FOLDERS WHERE TRASHMARK = -1 AND ID = " + std::to_string(id)).size(), 1u);
        } else if (f == "empty-folders") {
            ASSERT_TRUE(r);
            EXPECT_EQ(a.rows("SELECT ID FROM FOLDERS WHERE ISFOLDER = -1 AND ID = " + std::to_string(id)).size(), 1u);
            EXPECT_TRUE(a.rows("SELECT ID FROM FOLDERS WHERE PARENT = " + std::to_string(id)).empty());
        } else if (f == "large-documents") {
            EXPECT_GT(copies[home], 204800u);
            EXPECT_TRUE(Decodes(*a.data(home, id)));
        } else if (f == "same-id-different-data") {
            ASSERT_EQ(copies.size(), 2u);
            EXPECT_NE(copies.begin()->second, copies.rbegin()->second);
            for (auto& [file, size] : copies) EXPECT_TRUE(Decodes(*a.data(file, id))) << file;
        } else {
            ADD_FAILURE() << "ids for a file fault";
        }
    }
    if (f == "trashed-without-trash-rows") {
        Recordset rs;
        const bool table = rs.open("SELECT * FROM trash", a.main, CursorMode::Lookup);
        // Generation 8 runs the trash check only when the table is missing.
        EXPECT_EQ(table, m.generation != 8);
        for (long id : ids)
            if (table) EXPECT_TRUE(a.rows("SELECT id FROM trash WHERE id = " + std::to_string(id)).empty());
    }
    const std::string dir = m.directory + "/";
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        EXPECT_EQ(file.rfind(dir, 0), 0u);
        Connection cn;
        const bool opens = cn.open(Cs(file, file == m.omdDatabase ? "" : a.pwd));
        if (f == "omd-missing" || f == "sub-database-file-missing") EXPECT_FALSE(std::filesystem::exists(file));
        else EXPECT_TRUE(std::filesystem::exists(file));
        if (f == "omd-damaged" || f == "unopenable-sub-database") EXPECT_FALSE(opens);
        if (f == "unreferenced-sub-database") {
            EXPECT_TRUE(opens);
            for (const SampleSubDatabase& s : m.subDatabases)
                if (s.path == file)
                    EXPECT_TRUE(a.rows("SELECT ID FROM FOLDERS WHERE DATABASEID = " + std::to_string(s.number)).empty());
        }
    }
    if (f == "archive-folder-moved") {
        for (auto& r : a.rows("SELECT DATABASE FROM DATABASES")) {
            const std::string stored = r[0].toString();
            const std::string local = dir + std::filesystem::path(stored).filename().string();
            if (m.faultFiles.count("sub-database-file-missing") && m.faultFiles.at("sub-database-file-missing")[0] == local)
                continue;
            EXPECT_FALSE(std::filesystem::exists(stored)) << stored;
            EXPECT_TRUE(std::filesystem::exists(dir + std::filesystem::path(stored).filename().string())) << stored;
        }
    }
    if (f == "sub-database-number-gaps") {
        auto listed = a.rows("SELECT ID FROM DATABASES ORDER BY ID");
        ASSERT_FALSE(listed.empty());
        EXPECT_GT(listed.back()[0].toInt64(), static_cast<std::int64_t>(listed.size()));
        EXPECT_TRUE(a.rows("SELECT ID FROM DATABASES WHERE ID = 1").empty());
    }
}

}  // namespace

TEST(SampleFaults, EachFaultAloneIsWhereTheManifestSays) {
    TempDir dir;
    for (const std::string& fault : SampleFaultNames()) {
        SCOPED_TRACE(fault);
        SampleOptions o = Small(dir.file(fault));
        o.faults = {fault};
        SampleManifest m;
        std::string error;
        ASSERT_TRUE(WriteSampleArchive(o, m, error)) << error;
        EXPECT_EQ(m.appliedFaults(), std::vector<std::string>{fault});
        Archive a(m);
        VerifyFault(fault, a);
    }
}

TEST(SampleFaults, AllTogetherUseDistinctVictims) {
    for (int generation : {8, 7}) {
        SCOPED_TRACE(generation);
        TempDir dir;
        SampleOptions o = Small(dir.path());
        o.generation = generation;
        o.allFaults = true;
        SampleManifest m;
        std::string error;
        ASSERT_TRUE(WriteSampleArchive(o, m, error)) << error;
        EXPECT_EQ(m.skippedFaults.count("omd-missing"), 1u);
        EXPECT_EQ(m.skippedFaults.count("double-byte-pdf"), generation == 8 ? 0u : 1u);
        Archive a(m);
        std::set<long> seen;
        for (const std::string& f : m.appliedFaults()) {
            VerifyFault(f, a);
            if (m.faultIds.count(f))
                for (long id : m.faultIds.at(f)) EXPECT_TRUE(seen.insert(id).second) << f << " reuses " << id;
        }
    }
}

TEST(SampleArchive, HealthyArchiveGivesTheChecksNothing) {
    TempDir dir;
    SampleOptions o = Small(dir.path());
    o.documents = 150;
    o.folders = 12;
    SampleManifest m;
    std::string error;
    ASSERT_TRUE(WriteSampleArchive(o, m, error)) << error;
    Archive a(m);

    auto docs = a.rows("SELECT ID, DATABASEID, TEMPLATE1, PAGE FROM FOLDERS WHERE NOT ISFOLDER");
    EXPECT_EQ(static_cast<long>(docs.size()), m.documentRows);
    std::set<std::string> formats;
    long pdfs = 0, pages = 0;
    for (auto& d : docs) {
        const long id = d[0].toInt64();
        SCOPED_TRACE(id);
        const std::string t = d[2].isNull() ? "" : d[2].toString();
        ASSERT_TRUE(a.databasesRow(d[1].toInt64()));
        auto bytes = a.data(a.fileOf(d[1].toInt64()), id);
        ASSERT_TRUE(bytes);
        ASSERT_FALSE(bytes->empty());
        EXPECT_EQ(a.copies(id).size(), 1u);
        EXPECT_TRUE(a.pathValid(id));
        if (t.rfind("MC", 0) == 0) {
            ++pages;
            auto c = a.row(std::stol(t.substr(2)));
            ASSERT_TRUE(c);
            EXPECT_EQ(c->at(4).toString(), "MP");
            EXPECT_GE(d[3].toInt64(), 2);
        } else {
            EXPECT_EQ(d[3].toInt64(), 1);
        }
        if (t.empty() || t.rfind("MC", 0) == 0 || t.rfind("MP", 0) == 0) {
            QImage img;
            ASSERT_TRUE(img.loadFromData(bytes->data(), static_cast<int>(bytes->size())));
            formats.insert(std::string(reinterpret_cast<const char*>(bytes->data()), 2));
        } else {
            ++pdfs;
            EXPECT_TRUE(StartsWithPdf(*bytes));
            EXPECT_EQ(StorageType(*bytes), 0);
        }
        EXPECT_NEAR(static_cast<double>(bytes->size()), 1500, 1500 * 0.25);
    }
    EXPECT_EQ(pages, m.pageRows);
    EXPECT_EQ(pdfs, m.importedRows);
    EXPECT_GT(pdfs, 0);
    // TIFF, JPEG, PNG and BMP all occur.
    EXPECT_EQ(formats, (std::set<std::string>{"II", "\xFF\xD8", "\x89P", "BM"}));

    auto folders = a.rows("SELECT ID FROM FOLDERS WHERE ISFOLDER");
    EXPECT_EQ(static_cast<long>(folders.size()), 12);
    for (auto& f : folders)
        EXPECT_FALSE(a.rows("SELECT ID FROM FOLDERS WHERE PARENT = " + std::to_string(f[0].toInt64())).empty());
    auto trashed = a.rows("SELECT ID FROM FOLDERS WHERE TRASHMARK <> 0");
    EXPECT_EQ(static_cast<long>(trashed.size()), m.trashedRows);
    for (auto& t : trashed) EXPECT_EQ(a.rows("SELECT id FROM trash WHERE id = " + std::to_string(t[0].toInt64())).size(), 1u);
    // Every data row belongs to a document.
    long dataRows = 0;
    for (const SampleSubDatabase& s : m.subDatabases) {
        EXPECT_EQ(a.rows("SELECT DATABASE FROM DATABASES WHERE ID = " + std::to_string(s.number))[0][0].toString(), s.path);
        dataRows += s.dataRows;
    }
    EXPECT_EQ(dataRows, m.documentRows);
    EXPECT_TRUE(std::filesystem::exists(m.omdDatabase));
}

TEST(SampleArchive, GenerationDecidesPasswordAndTrash) {
    TempDir dir;
    for (int generation = 4; generation <= 8; ++generation) {
        SCOPED_TRACE(generation);
        SampleOptions o = Small(dir.file("g" + std::to_string(generation)));
        o.generation = generation;
        SampleManifest m;
        std::string error;
        ASSERT_TRUE(WriteSampleArchive(o, m, error)) << error;
        const std::string pwd = PasswordForGeneration(generation);
        Connection main, sub, wrong;
        ASSERT_TRUE(main.open(Cs(m.mainDatabase, pwd)));
        EXPECT_TRUE(sub.open(Cs(m.subDatabases.at(0).path, pwd)));
        EXPECT_FALSE(wrong.open(Cs(m.mainDatabase, generation == 8 ? PasswordForGeneration(5) : PasswordForGeneration(8))));
        Recordset trash, mark;
        EXPECT_EQ(trash.open("SELECT * FROM trash", main, CursorMode::Lookup), GenerationHasTrash(generation));
        EXPECT_EQ(mark.open("SELECT TRASHMARK FROM FOLDERS", main, CursorMode::Lookup), GenerationHasTrash(generation));
        if (!GenerationHasTrash(generation)) EXPECT_EQ(m.trashedRows, 0);
    }
}

TEST(SampleArchive, SameSeedGivesTheSameArchive) {
    TempDir dir;
    auto folders = [](const SampleManifest& m) {
        Archive a(m);
        std::ostringstream s;
        for (auto& r : a.rows("SELECT * FROM FOLDERS ORDER BY ID")) {
            for (auto& v : r) s << (v.isNull() ? "<null>" : v.toString()) << '|';
            s << '\n';
        }
        return s.str();
    };
    SampleManifest m[3];
    std::string error;
    for (int i = 0; i < 3; ++i) {
        SampleOptions o = Small(dir.file(std::to_string(i)));
        o.allFaults = true;
        o.seed = i == 2 ? 99 : 7;
        ASSERT_TRUE(WriteSampleArchive(o, m[i], error)) << error;
    }
    EXPECT_EQ(m[0].faultIds, m[1].faultIds);
    EXPECT_EQ(m[0].documentRows, m[1].documentRows);
    EXPECT_EQ(m[0].dataBytes, m[1].dataBytes);
    EXPECT_EQ(folders(m[0]), folders(m[1]));
    EXPECT_NE(folders(m[0]), folders(m[2]));
}

TEST(SampleArchive, RefusesToOverwriteAnyFileItWouldWrite) {
    for (const std::string victim : {"Archief.dat", "Archief_2.pdb", "Archief.omd"}) {
        SCOPED_TRACE(victim);
        TempDir dir;
        qx::test::WriteFile(dir.file(victim), "keep me");
        SampleManifest m;
        std::string error;
        EXPECT_FALSE(WriteSampleArchive(Small(dir.path()), m, error));
        EXPECT_NE(error.find(victim), std::string::npos) << error;
        std::ifstream in(dir.file(victim));
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
}

TEST(SampleArchive, RefusesFaultsThatCannotHold) {
    struct Case { std::string fault; int generation, subs; long documents; } cases[] = {
        {"same-id-different-data", 8, 1, 80},   {"data-in-other-sub-database", 8, 1, 80},
        {"double-byte-pdf", 7, 3, 80},          {"trashed-without-trash-rows", 6, 3, 80},
        {"no-such-fault", 8, 3, 80},            {"no-data-row", 8, 3, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        SampleOptions o = Small("/nonexistent/never-created");
        o.faults = {c.fault};
        o.generation = c.generation;
        o.subDatabases = c.subs;
        o.documents = c.documents;
        std::string error;
        EXPECT_FALSE(ValidateSampleOptions(o, error));
        EXPECT_FALSE(error.empty());
    }
    SampleOptions both = Small("/x");
    both.faults = {"omd-missing", "omd-damaged"};
    std::string error;
    EXPECT_FALSE(ValidateSampleOptions(both, error));
    both.faults.clear();
    both.allFaults = true;
    both.subDatabases = 1;
    EXPECT_TRUE(ValidateSampleOptions(both, error)) << error;
}

TEST(SampleCli, WritesTheArchiveAndPrintsTheManifest) {
    TempDir dir;
    const std::string target = dir.file("demo");
    const std::string out = dir.file("out.json");
    const std::string cmd = std::string(QX_CLI_PATH) + " sample '" + target +
                            "' --documents 40 --folders 4 --faults no-data-row,omd-missing --json >'" + out + "' 2>/dev/null";
    ASSERT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 0);
    std::ifstream in(out);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    QJsonParseError perr;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &perr);
    ASSERT_EQ(perr.error, QJsonParseError::NoError) << text;
    const QJsonObject faults = doc.object()["faults"].toObject();
    EXPECT_EQ(faults["no-data-row"].toObject()["ids"].toArray().size(), 3);
    EXPECT_TRUE(faults.contains("omd-missing"));
    EXPECT_TRUE(std::filesystem::exists(target + "/Archief.dat"));
    EXPECT_TRUE(std::filesystem::exists(target + "/Archief_3.pdb"));
    EXPECT_FALSE(std::filesystem::exists(target + "/Archief.omd"));

    // A second run would overwrite: refused. A bad option: usage error.
    EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 8);
    const std::string bad = std::string(QX_CLI_PATH) + " sample '" + dir.file("x") + "' --generation 9 2>/dev/null";
    EXPECT_EQ(WEXITSTATUS(std::system(bad.c_str())), 16);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x")));
}
