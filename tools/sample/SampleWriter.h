#pragma once
// Private to the sample generator: the writer that fills the files of one
// sample archive. Its member functions are spread over SampleArchive.cpp
// (files, folders, healthy documents) and SampleFaults.cpp (the faults).
#include "database/access/Schema.h"
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"
#include "tools/sample/SampleArchive.h"
#include "tools/sample/SampleContent.h"
#include "tools/sample/SamplePlan.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace qx::sample {

// Rows per transaction of a sub database: its rows only ever go at the end
// of the file, so a batch is a run of new pages and a commit writes each
// page once; large batches only save the commits' own cost.
inline constexpr long kBatchRows = 100000;

// The main database's rows land at random places of its two indexes on
// FOLDERS (names and parents are random), so a commit writes nearly every
// index page again: ten million documents in batches of ten thousand wrote
// the indexes a thousand times. One transaction and a cache that holds the
// indexes write each page about once.
inline constexpr long kWholeFile = 0;
inline constexpr int kMainCacheKiB = 1024 * 1024;

// One database file being filled: its insert statement and the open batch.
struct BulkFile {
    sql::Database db;
    sql::Statement insert;
    std::unique_ptr<sql::Transaction> tx;
    long pending = 0;
    long batchRows = kBatchRows;  // kWholeFile: commit once, at the end

    bool open(const std::string& path, const std::string& password, sql::Error& err, int cacheKiB = 0) {
        db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
        if (!db.isOpen()) return false;
        // A half-written sample is deleted anyway, so waiting for the disk
        // after every batch buys nothing.
        db.exec("PRAGMA synchronous = OFF;");
        // A bound, not an allocation: a small archive never fills it.
        if (cacheKiB > 0) db.exec("PRAGMA cache_size = -" + std::to_string(cacheKiB) + ";");
        return begin(err);
    }
    bool prepare(std::string_view text, sql::Error& err) {
        insert = sql::Statement(db, text);
        if (!insert.ok()) err = insert.error();
        return insert.ok();
    }
    bool begin(sql::Error& err) {
        tx = std::make_unique<sql::Transaction>(db);
        if (!tx->ok()) err = db.lastError();
        pending = 0;
        return tx->ok();
    }
    // Runs the bound insert and commits every kBatchRows rows.
    bool run(sql::Error& err) {
        const bool ok = insert.run();
        if (!ok) err = insert.error();
        insert.reset();
        return ok && tick(err);
    }
    // Counts a row written by another statement on the same file.
    bool tick(sql::Error& err) {
        if (++pending < batchRows || batchRows == kWholeFile) return true;
        return commit(err) && begin(err);
    }
    bool commit(sql::Error& err) {
        if (!tx) return true;
        const bool ok = tx->commit(&err);
        tx.reset();
        return ok;
    }
    void close() {
        tx.reset();
        insert = sql::Statement();
        db.close();
    }
};

struct DocRow {
    long id = 0;
    long parent = 0;
    std::string name;
    std::string words[5];
    std::string postal;
    std::string date;
    long databaseId = 0;
    std::string template1;  // "" = Null
    int page = 1;
    int width = 0, height = 0;
    bool trashed = false;
};

class Writer {
public:
    Writer(const SampleOptions& o, const Plan& plan, SampleManifest& m)
        : m_opt(o), m_plan(plan), m_man(m), m_docRng(o.seed ^ 0x5bd1e995u), m_byteRng(o.seed ^ 0x27d4eb2fu) {}

    bool run(std::string& error);
    const std::vector<std::string>& created() const { return m_created; }
    // FOLDERS has the TRASHMARK column.
    bool TrashColumn() const { return GenerationHasTrash(m_opt.generation) && !m_plan.has("no-trash-support"); }

private:
    bool renderTemplates(std::string& error);
    bool createFiles(std::string& error);
    bool writeFolders();
    bool writeItems();
    bool writeHealthy(std::size_t slot);
    bool writeSpecial(const sample::Special& sp, std::size_t slot);
    bool finish(std::string& error);
    bool plainDoc(const std::string& fault, long parent, std::size_t slot, long databaseId, bool withData);

    bool folderRow(long id, long parent, const std::string& name);
    bool docRow(const DocRow& r);
    bool data(std::size_t slot, long id, std::span<const std::uint8_t> bytes, bool empty = false);
    bool trashRow(long id, long parent, const std::string& date);
    DocRow newDoc(long parent, long databaseId);
    Template& pick(ContentKind kind);
    long parentForHealthy();
    long randomFolder();
    void record(const std::string& fault, long id) { m_man.faultIds[fault].push_back(id); }
    bool failed(const sql::Error& e) {
        m_err = e;
        return false;
    }

    const SampleOptions& m_opt;
    const Plan& m_plan;
    SampleManifest& m_man;
    Rng m_docRng;
    Rng m_byteRng;
    std::string m_password;
    std::vector<std::string> m_created;

    BulkFile m_main;
    sql::Statement m_trashInsert;  // on m_main's file and batch
    std::vector<std::unique_ptr<BulkFile>> m_sub;  // per slot; null where no file is filled

    std::vector<Template> m_templates[5];
    Template m_large, m_alternative;
    long m_nextId = 0;
    std::size_t m_healthySeen = 0;
    sql::Error m_err;
};


}  // namespace qx::sample
