#include "tools/sample/SampleArchive.h"
#include "tools/sample/SampleWriter.h"

#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/FileOperations.h"
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"
#include "tools/sample/SampleContent.h"
#include "tools/sample/SamplePlan.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

namespace qx::sample {

namespace {

const char* kDocumentNames[] = {"Factuur", "Offerte", "Brief", "Contract", "Notulen", "Rapport",
                                "Bon", "Aanvraag", "Verklaring", "Polis", "Loonstrook", "Memo"};
const char* kKeywords[] = {"klant", "leverancier", "belasting", "verzekering", "personeel", "project",
                           "huur", "energie", "bank", "gemeente", "onderhoud", "inkoop",
                           "verkoop", "juridisch", "archief", "subsidie"};

bool Exists(const std::string& path) {
    std::error_code ec;
    const auto st = std::filesystem::symlink_status(PathFromUtf8(path), ec);
    return !ec && st.type() != std::filesystem::file_type::not_found;
}

std::string SlotPath(const SampleOptions& o, long number) {
    return SubDatabaseName(sample::MainPath(o), number);
}

}  // namespace

bool Writer::renderTemplates(std::string& error) {
    static const int percent[3] = {100, 90, 110};
    for (int k = 0; k < 5; ++k)
        for (int v = 0; v < 3; ++v) {
            Template t;
            const long target = std::max(1L, m_opt.documentSize * percent[v] / 100);
            if (!sample::RenderTemplate(static_cast<ContentKind>(k), target, v, t, error)) return false;
            m_templates[k].push_back(std::move(t));
        }
    const long large = std::max<long>(300 * 1024, 2 * m_opt.documentSize);
    if (!sample::RenderTemplate(ContentKind::Photo, large, 3, m_large, error)) return false;
    if (!sample::RenderTemplate(ContentKind::Photo, m_opt.documentSize * 3 / 2 + 512, 4, m_alternative, error))
        return false;
    return true;
}

Template& Writer::pick(ContentKind kind) {
    auto& list = m_templates[static_cast<int>(kind)];
    return list[m_docRng.below(list.size())];
}

bool Writer::createFiles(std::string& error) {
    sql::Error err;
    const std::string mainPath = sample::MainPath(m_opt);
    m_password = PasswordForGeneration(m_opt.generation);
    if (!CreateMainDatabase(qx::RealEnv(), mainPath, m_opt.generation, err)) {
        error = err.message;
        return false;
    }
    m_created.push_back(mainPath);
    m_main.batchRows = kWholeFile;
    if (!m_main.open(mainPath, m_password, err, kMainCacheKiB)) {
        error = err.message;
        return false;
    }
    // Only an archive without the trash table makes the trash check look at
    // trashed documents, so a generation-8 archive loses the whole table.
    if (m_plan.has("trashed-without-trash-rows") && m_opt.generation == 8 && !m_main.db.exec("DROP TABLE trash;", &err)) {
        error = err.message;
        return false;
    }
    // A main database from before the trash: FOLDERS without TRASHMARK and
    // no trash table. The file is new and empty, so FOLDERS is made anew.
    if (m_plan.has("no-trash-support")) {
        std::string rebuild = "DROP TABLE trash; DROP TABLE FOLDERS;";
        for (const std::string& s : engine::CreateTableSql(FoldersTable(false))) rebuild += s + ";";
        if (!m_main.db.exec(rebuild, &err)) {
            error = err.message;
            return false;
        }
        m_man.faultFiles["no-trash-support"].push_back(mainPath);
    }
    const bool trashColumn = TrashColumn();
    std::string sqlText =
        "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, word1, word2, word3, word4, word5, POSTAL, DATE, "
        "NOTES, DATABASEID, TEMPLATE1, template2, PAGE, WIDTH, HEIGHT, content";
    sqlText += trashColumn ? ", TRASHMARK) VALUES (?,?,?,?,?,?,?,?,?,?,?,NULL,?,?,NULL,?,?,?,NULL,?)"
                           : ") VALUES (?,?,?,?,?,?,?,?,?,?,?,NULL,?,?,NULL,?,?,?,NULL)";
    if (!m_main.prepare(sqlText, err)) {
        error = err.message;
        return false;
    }
    if (m_plan.trashRows) {
        m_trashInsert = sql::Statement(m_main.db, "INSERT INTO trash (id, virtualpath, datetime) VALUES (?,?,?)");
        if (!m_trashInsert.ok()) {
            error = m_trashInsert.error().message;
            return false;
        }
    }

    sql::Statement databases(m_main.db, "INSERT INTO DATABASES (ID, DATABASE) VALUES (?,?)");
    m_sub.resize(m_plan.subs.size());
    for (std::size_t i = 0; i < m_plan.subs.size(); ++i) {
        const sample::Slot& s = m_plan.subs[i];
        SampleSubDatabase info;
        info.number = s.number;
        info.path = SlotPath(m_opt, s.number);
        if (s.registered) {
            info.storedPath = m_plan.has("archive-folder-moved")
                                  ? "/old/place/" + PathFromUtf8(info.path).filename().string()
                                  : info.path;
            databases.bind(1, static_cast<std::int64_t>(s.number));
            databases.bind(2, std::string_view(info.storedPath));
            if (!databases.run()) {
                error = databases.error().message;
                return false;
            }
            databases.reset();
        }
        if (s.role == sample::SlotRole::Unopenable) {
            // Not a database at all: what is left of a file after a disk or
            // copy failure.
            std::ofstream f(PathFromUtf8(info.path), std::ios::binary);
            m_created.push_back(info.path);
            for (int n = 0; n < 16384; ++n) f.put(static_cast<char>(m_byteRng.next()));
            if (!f) {
                error = "Could not write '" + info.path + "'.";
                return false;
            }
            info.fileWritten = true;
        } else if (s.role != sample::SlotRole::FileMissing) {
            if (!CreateSubDatabaseFile(qx::RealEnv(), info.path, m_password, err)) {
                error = err.message;
                return false;
            }
            m_created.push_back(info.path);
            info.fileWritten = true;
            auto f = std::make_unique<BulkFile>();
            if (!f->open(info.path, m_password, err) ||
                !f->prepare("INSERT INTO PICTURES (ID, path, PICTURE) VALUES (?, NULL, ?)", err)) {
                error = err.message;
                return false;
            }
            m_sub[i] = std::move(f);
        }
        m_man.subDatabases.push_back(info);
    }
    return true;
}

bool Writer::folderRow(long id, long parent, const std::string& name) {
    sql::Statement& st = m_main.insert;
    st.bind(1, static_cast<std::int64_t>(id));
    st.bind(2, static_cast<std::int64_t>(parent));
    st.bind(3, std::int64_t{-1});
    st.bind(4, std::string_view(name));
    for (int i = 5; i <= 10; ++i) st.bindNull(i);
    st.bindNull(11);
    st.bind(12, std::int64_t{0});
    st.bindNull(13);
    st.bind(14, std::int64_t{0});
    st.bind(15, std::int64_t{0});
    st.bind(16, std::int64_t{0});
    if (GenerationHasTrash(m_opt.generation)) st.bind(17, std::int64_t{0});
    ++m_man.folders;
    return m_main.run(m_err);
}

bool Writer::docRow(const DocRow& r) {
    sql::Statement& st = m_main.insert;
    st.bind(1, static_cast<std::int64_t>(r.id));
    st.bind(2, static_cast<std::int64_t>(r.parent));
    st.bind(3, std::int64_t{0});
    st.bind(4, std::string_view(r.name));
    for (int i = 0; i < 5; ++i) {
        if (r.words[i].empty()) st.bindNull(5 + i);
        else st.bind(5 + i, std::string_view(r.words[i]));
    }
    if (r.postal.empty()) st.bindNull(10);
    else st.bind(10, std::string_view(r.postal));
    st.bind(11, std::string_view(r.date));
    st.bind(12, static_cast<std::int64_t>(r.databaseId));
    if (r.template1.empty()) st.bindNull(13);
    else st.bind(13, std::string_view(r.template1));
    st.bind(14, static_cast<std::int64_t>(r.page));
    st.bind(15, static_cast<std::int64_t>(r.width));
    st.bind(16, static_cast<std::int64_t>(r.height));
    if (TrashColumn()) st.bind(17, std::int64_t{r.trashed ? -1 : 0});
    ++m_man.documentRows;
    if (r.template1.rfind("MC", 0) == 0) ++m_man.pageRows;
    else if (!r.template1.empty() && r.template1.rfind("MP", 0) != 0) ++m_man.importedRows;
    if (r.trashed) ++m_man.trashedRows;
    return m_main.run(m_err);
}

bool Writer::data(std::size_t slot, long id, std::span<const std::uint8_t> bytes, bool empty) {
    BulkFile& f = *m_sub[slot];
    f.insert.bind(1, static_cast<std::int64_t>(id));
    if (empty) f.insert.bindZeroBlob(2, 0);
    else f.insert.bindBlob(2, bytes);
    ++m_man.dataRows;
    ++m_man.subDatabases[slot].dataRows;
    m_man.dataBytes += empty ? 0 : static_cast<long long>(bytes.size());
    return f.run(m_err);
}

bool Writer::trashRow(long id, long parent, const std::string& date) {
    sql::Statement& st = m_trashInsert;
    st.bind(1, static_cast<std::int64_t>(id));
    st.bind(2, std::string_view(m_plan.virtualPath(parent)));
    char time[8];
    std::snprintf(time, sizeof time, "%02d%02d", static_cast<int>(8 + m_docRng.below(10)),
                  static_cast<int>(m_docRng.below(60)));
    st.bind(3, std::string_view(date + time));
    const bool ok = st.run();
    if (!ok) m_err = st.error();
    st.reset();
    ++m_man.trashRows;
    return ok && m_main.tick(m_err);
}

DocRow Writer::newDoc(long parent, long databaseId) {
    DocRow r;
    r.id = m_nextId++;
    r.parent = parent;
    r.databaseId = databaseId;
    r.name = std::string(kDocumentNames[m_docRng.below(std::size(kDocumentNames))]) + " " +
             std::to_string(1 + m_docRng.below(9999));
    const int words = 1 + static_cast<int>(m_docRng.below(4));
    for (int i = 0; i < words; ++i) r.words[i] = kKeywords[m_docRng.below(std::size(kKeywords))];
    if (m_docRng.percent(30)) {
        char postal[8];
        std::snprintf(postal, sizeof postal, "%04d %c%c", static_cast<int>(1000 + m_docRng.below(9000)),
                      static_cast<char>('A' + m_docRng.below(26)), static_cast<char>('A' + m_docRng.below(26)));
        r.postal = postal;
    }
    char date[12];
    std::snprintf(date, sizeof date, "%04d%02d%02d", static_cast<int>(2001 + m_docRng.below(12)),
                  static_cast<int>(1 + m_docRng.below(12)), static_cast<int>(1 + m_docRng.below(28)));
    r.date = date;
    return r;
}

long Writer::randomFolder() {
    if (m_plan.regularFolders == 0 || m_docRng.percent(6)) return 0;
    return static_cast<long>(m_docRng.below(static_cast<std::uint64_t>(m_plan.regularFolders))) + 1;
}

// Every leaf gets one of the first healthy documents, so that only the
// empty-folders fault leaves a folder empty.
long Writer::parentForHealthy() {
    const std::size_t n = m_healthySeen++;
    if (n < m_plan.leaves.size()) return m_plan.leaves[n];
    return randomFolder();
}

bool Writer::writeFolders() {
    for (const sample::Folder& f : m_plan.folders)
        if (!folderRow(f.id, f.parent, f.name)) return false;
    if (!m_plan.emptyFolders.empty()) m_man.faultIds["empty-folders"] = m_plan.emptyFolders;
    return true;
}

bool Writer::writeHealthy(std::size_t slot) {
    const long parent = parentForHealthy();
    const long dbid = m_plan.subs[slot].number;
    const std::uint64_t r = m_docRng.below(100);
    ++m_man.documents;
    if (r < 8) {  // multipage: the container is page 1 and holds that page's image
        const int pages = 2 + static_cast<int>(m_docRng.below(4));
        DocRow c = newDoc(parent, dbid);
        Template& first = pick(ContentKind::Scan);
        c.template1 = "MP";
        c.width = first.width, c.height = first.height;
        if (!docRow(c) || !data(slot, c.id, first.stamp(c.id))) return false;
        ++m_man.multipageDocuments;
        for (int p = 2; p <= pages; ++p) {
            DocRow page = c;
            page.id = m_nextId++;
            page.template1 = "MC" + std::to_string(c.id);
            page.page = p;
            Template& t = pick(ContentKind::Scan);
            page.width = t.width, page.height = t.height;
            if (!docRow(page) || !data(slot, page.id, t.stamp(page.id))) return false;
        }
        return true;
    }
    ContentKind kind = r < 23 ? ContentKind::Pdf
                       : r < 63 ? ContentKind::Scan
                       : r < 80 ? ContentKind::Photo
                       : r < 92 ? ContentKind::Diagram
                                : ContentKind::Bitmap;
    DocRow d = newDoc(parent, dbid);
    Template& t = pick(kind);
    if (kind == ContentKind::Pdf) d.template1 = "PDF";
    d.width = t.width, d.height = t.height;
    d.trashed = m_plan.trashRows && m_docRng.percent(1);
    if (!docRow(d) || !data(slot, d.id, t.stamp(d.id))) return false;
    return !d.trashed || trashRow(d.id, parent, d.date);
}

bool Writer::finish(std::string& error) {
    sql::Error err;
    // AutoNumber never hands out a number twice, also not those of deleted rows.
    sql::Statement seq(m_main.db, "UPDATE sqlite_sequence SET seq = ? WHERE name = 'FOLDERS' AND seq < ?");
    seq.bind(1, static_cast<std::int64_t>(m_nextId - 1));
    seq.bind(2, static_cast<std::int64_t>(m_nextId - 1));
    if (!seq.run()) return error = seq.error().message, false;
    seq = sql::Statement();
    m_trashInsert = sql::Statement();
    if (!m_main.commit(err)) return error = err.message, false;
    m_main.close();
    for (auto& f : m_sub)
        if (f) {
            if (!f->commit(err)) return error = err.message, false;
            f->close();
        }

    for (const SampleSubDatabase& s : m_man.subDatabases) {
        const sample::Slot& slot = m_plan.subs[static_cast<std::size_t>(&s - m_man.subDatabases.data())];
        if (slot.role == sample::SlotRole::Unreferenced) m_man.faultFiles["unreferenced-sub-database"].push_back(s.path);
        if (!s.fileWritten) continue;  // the missing file has a fault of its own
        if (m_plan.has("archive-folder-moved") && slot.registered)
            m_man.faultFiles["archive-folder-moved"].push_back(s.path);
        if (m_plan.has("sub-database-number-gaps")) m_man.faultFiles["sub-database-number-gaps"].push_back(s.path);
    }

    const std::string omd = OmdName(sample::MainPath(m_opt));
    if (m_plan.has("omd-missing")) {
        m_man.faultFiles["omd-missing"].push_back(omd);
        return true;
    }
    if (!CreateOmdDatabase(qx::RealEnv(), omd, err)) return error = err.message, false;
    m_created.push_back(omd);
    if (m_plan.has("omd-damaged")) {
        // The file header destroyed: the file is there but opens as nothing.
        std::fstream f(PathFromUtf8(omd), std::ios::binary | std::ios::in | std::ios::out);
        for (int i = 0; i < 100; ++i) f.put(static_cast<char>(m_byteRng.next() | 1));
        if (!f) return error = "Could not damage '" + omd + "'.", false;
        m_man.faultFiles["omd-damaged"].push_back(omd);
    }
    return true;
}

bool Writer::run(std::string& error) {
    if (!renderTemplates(error) || !createFiles(error)) return false;
    if (!writeFolders() || !writeItems()) {
        error = m_err.message.empty() ? "Could not write the documents." : m_err.message;
        return false;
    }
    return finish(error);
}

}  // namespace qx::sample

namespace qx {

using namespace sample;

const std::vector<std::string>& SampleFaultNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const sample::FaultInfo& f : sample::Faults()) out.push_back(f.name);
        return out;
    }();
    return names;
}

bool ValidateSampleOptions(const SampleOptions& options, std::string& error) {
    Plan plan;
    return plan.build(options, error);
}

std::vector<std::string> SampleArchiveFiles(const SampleOptions& options) {
    Plan plan;
    std::string error;
    std::vector<std::string> files{sample::MainPath(options), OmdName(sample::MainPath(options))};
    if (!plan.build(options, error)) return files;
    for (const sample::Slot& s : plan.subs) files.push_back(SlotPath(options, s.number));
    return files;
}

bool WriteSampleArchive(const SampleOptions& options, SampleManifest& out, std::string& error) {
    out = SampleManifest();
    Plan plan;
    if (!plan.build(options, error)) return false;
    for (const std::string& f : SampleArchiveFiles(options))
        if (Exists(f)) {
            error = "Refusing to overwrite '" + f + "', which already exists.";
            return false;
        }
    const std::string dir = sample::AbsoluteDirectory(options);
    std::error_code ec;
    std::filesystem::create_directories(PathFromUtf8(dir), ec);
    if (!std::filesystem::is_directory(PathFromUtf8(dir), ec)) {
        error = "Could not create the folder '" + dir + "'.";
        return false;
    }

    out.directory = dir;
    out.mainDatabase = sample::MainPath(options);
    out.omdDatabase = OmdName(out.mainDatabase);
    out.generation = options.generation;
    out.seed = options.seed;
    out.documentSize = options.documentSize;
    out.skippedFaults = plan.skipped;
    Writer writer(options, plan, out);
    if (writer.run(error)) return true;
    for (const std::string& f : writer.created()) {
        std::filesystem::remove(PathFromUtf8(f), ec);
        std::filesystem::remove(PathFromUtf8(f + "-journal"), ec);
    }
    return false;
}

}  // namespace qx
