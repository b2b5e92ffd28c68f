// CDatabase: salvage of a damaged main database. The rows of every table
// that still read are copied into a fresh file with the same definitions,
// the indexes built anew from those rows (nothing of the damaged index trees
// is read); the damaged file is set aside (".damaged", never deleted) and
// the copy takes its name through the intent record, as for a sub database.
//
// When rows of FOLDERS were lost, nothing stored may become unreachable:
// every data row of a sub database that no document names any more comes
// back as a "Repaired document", and every row whose folder was lost goes,
// in a folder named for the salvage at the top level.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/maintenance/IntentRecord.h"
#include "database/maintenance/Salvage.h"
#include "database/maintenance/SalvageCopy.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"

#include <QDateTime>

#include <limits>
#include <map>
#include <set>

namespace qx {

namespace {

struct TableDefinition {
    std::string name, sql;
};

}  // namespace

bool CDatabase::SalvageMainDatabase(SalvageFileReport& report) {
    report.kind = SalvageFileReport::Kind::Main;
    const std::string mainPath = MainDatabaseName();
    report.file = mainPath;
    auto fail = [&](const std::string& why) {
        report.outcome = SalvageFileReport::Outcome::Failed;
        report.error = why;
        WriteLog("Salvage: " + mainPath + " is not salvaged: " + why);
        return false;
    };
    if (!Connected(m_AdoCnMain)) return fail("no archive is open");
    const std::string folder = GetFolderPart(mainPath);
    if (m_env->KindOf(mainPath) != EntryKind::RegularFile) return fail("it is not a regular file");
    const std::string intent = IntentName(mainPath);
    if (!DryRun() && m_env->KindOf(intent) != EntryKind::None)
        return fail("an earlier change is not finished ('" + intent + "' exists)");
    const std::string password = engine::PasswordBytes(Settings::Get().DatabasePassword);

    sql::Error err;
    sql::Database src = sql::Database::open(*m_env, mainPath, password, sql::OpenMode::ReadOnly, err);
    if (!src.isOpen()) return fail("it does not open (" + err.message + ")");
    std::vector<TableDefinition> tables, indexes;
    {
        sql::Statement st(src, "SELECT type, name, sql FROM sqlite_master WHERE sql IS NOT NULL AND name NOT LIKE "
                               "'sqlite\\_%' ESCAPE '\\' ORDER BY rowid");
        sql::Step step;
        while ((step = st.step()) == sql::Step::Row)
            (st.getText(0) == "table" ? tables : indexes).push_back({st.getText(1), st.getText(2)});
        if (step == sql::Step::Failed) return fail("its table list does not read (" + st.error().message + ")");
    }
    std::int64_t userVersion = 0;
    {
        sql::Statement st(src, "PRAGMA user_version");
        if (st.step() == sql::Step::Row) userVersion = st.getInt64(0);
    }
    std::map<std::string, std::int64_t> sequences;
    {
        sql::Statement st(src, "SELECT name, seq FROM sqlite_sequence");
        while (st.ok() && st.step() == sql::Step::Row) sequences[st.getText(0)] = st.getInt64(1);
    }

    const bool dryRun = DryRun();
    WriteLog("Salvage: " + mainPath + (dryRun ? " is read (report only: nothing is changed)" : " is salvaged"));
    salvage::Replacement replacement(*m_env, mainPath, folder, intent);
    const std::string& copyPath = replacement.copyPath();
    salvage::CopyTarget target;
    auto undo = [&](const std::string& why) {
        target.close();
        replacement.discard();
        return fail(why);
    };
    if (!dryRun) {
        if (const std::string why = replacement.begin(); !why.empty()) return undo(why);
        if (!target.open(*m_env, copyPath, password, err)) return undo("the copy cannot be opened (" + err.message + ")");
        if (!target.db().exec("BEGIN;", &err)) return undo(err.message);
        for (const TableDefinition& t : tables)
            if (!target.db().exec(salvage::AimedAtCopy(t.sql), &err)) return undo("the copy's tables: " + err.message);
    }
    if (const int rc = dryRun ? 0 : m_env->Step("salvage.copying")) return undo(ErrorText(rc));

    // The rows, table by table, in row-number order; a page that does not
    // read is stepped over.
    std::map<std::string, std::int64_t> copiedPerTable;
    bool foldersLost = false;
    std::string writeError;
    for (const TableDefinition& t : tables) {
        sql::Statement walk(src, "SELECT rowid, * FROM " + sql::QuoteIdentifier(t.name) + " WHERE rowid >= ? ORDER BY rowid");
        if (!walk.ok()) {
            WriteLog("Salvage: " + mainPath + ": table " + t.name + " does not read (" + walk.error().message + ")");
            ++report.unreadableRanges;
            foldersLost = foldersLost || t.name == "FOLDERS";
            continue;
        }
        sql::Statement insert;
        if (!dryRun) {
            std::string marks;
            for (int c = 1; c < walk.columnCount(); ++c) marks += c > 1 ? ", ?" : "?";
            insert = sql::Statement(target.db(), "INSERT INTO salvaged." + sql::QuoteIdentifier(t.name) + " VALUES (" + marks + ")");
            if (!insert.ok()) return undo("the copy's table " + t.name + ": " + insert.error().message);
        }
        const std::int64_t unreadableBefore = report.unreadableRanges;
        salvage::SweepRows(walk, report.unreadableRanges, [&](sql::Statement& row) {
            ++report.rowsRead;
            ++copiedPerTable[t.name];
            if (dryRun) return;
            insert.reset();
            for (int c = 1; c < row.columnCount(); ++c) insert.bind(c, row.value(c));
            if (!insert.run() && writeError.empty()) writeError = insert.error().message;
        });
        if (!writeError.empty()) return undo("writing the copy: " + writeError);
        if (report.unreadableRanges > unreadableBefore) {
            WriteLog("Salvage: " + mainPath + ": table " + t.name + " has " +
                     std::to_string(report.unreadableRanges - unreadableBefore) + " stretches of rows that do not read");
            foldersLost = foldersLost || t.name == "FOLDERS";
        }
    }

    // Nothing stored may become unreachable when documents were lost.
    std::int64_t repaired = 0, rehung = 0;
    std::string salvageFolderName;
    if (foldersLost && !dryRun) {
        sql::Database& db = target.db();
        std::set<std::int64_t> ids;
        {
            sql::Statement st(db, "SELECT ID FROM salvaged.FOLDERS");
            while (st.step() == sql::Step::Row) ids.insert(st.getInt64(0));
        }
        std::int64_t salvageFolder = 0;
        const std::string today = QDateTime::currentDateTime().toString("yyyyMMdd").toStdString();
        salvageFolderName = FormatMsg(GetResString(482, "Gered %s"),
                                      {QDateTime::currentDateTime().toString("yyyy-MM-dd hh.mm").toStdString()});
        // The folder's number lies above every number a row had or will
        // have: a lost row with the highest number may still have its data
        // in a sub database, and comes back under that number.
        std::int64_t highestId = sequences.count("FOLDERS") ? sequences["FOLDERS"] : 0;
        auto folderId = [&]() -> std::int64_t {
            if (salvageFolder) return salvageFolder;
            if (!ids.empty()) highestId = std::max(highestId, *ids.rbegin());
            sql::Statement add(db, "INSERT INTO salvaged.FOLDERS (ID, PARENT, ISFOLDER, NAME, DATE, DATABASEID) VALUES "
                                   "(?, 0, -1, ?, ?, 0)");
            add.bind(1, highestId + 1);
            add.bind(2, std::string_view(salvageFolderName));
            add.bind(3, std::string_view(today));
            if (!add.run() && writeError.empty()) writeError = add.error().message;
            salvageFolder = db.lastInsertRowid();
            ids.insert(salvageFolder);
            return salvageFolder;
        };
        // Data rows no document names: a document each.
        std::vector<std::pair<std::int64_t, std::string>> subs;
        {
            sql::Statement st(db, "SELECT ID, DATABASE FROM salvaged.DATABASES ORDER BY ID");
            while (st.step() == sql::Step::Row)
                subs.emplace_back(st.getInt64(0), st.isNull(1) ? std::string() : st.getText(1));
        }
        std::vector<std::pair<std::int64_t, std::vector<std::int64_t>>> unnamedPerSub;
        for (const auto& [number, stored] : subs) {
            std::string path = SubDatabaseName(mainPath, static_cast<long>(number));
            if (m_env->KindOf(path) != EntryKind::RegularFile) path = stored;
            if (m_env->KindOf(path) != EntryKind::RegularFile || !m_env->EntryLiesIn(path, folder)) continue;
            sql::Error subErr;
            sql::Database sub = sql::Database::open(*m_env, path, password, sql::OpenMode::ReadOnly, subErr);
            if (!sub.isOpen()) continue;
            sql::Statement walk(sub, "SELECT ID FROM PICTURES WHERE ID >= ? ORDER BY ID");
            if (!walk.ok()) continue;
            std::vector<std::int64_t> unnamed;
            std::int64_t ranges = 0;
            salvage::SweepRows(walk, ranges, [&](sql::Statement& row) {
                if (!ids.count(row.getInt64(0))) unnamed.push_back(row.getInt64(0));
            });
            if (!unnamed.empty()) highestId = std::max(highestId, unnamed.back());
            unnamedPerSub.emplace_back(number, std::move(unnamed));
        }
        sql::Statement add(db, "INSERT INTO salvaged.FOLDERS (ID, PARENT, ISFOLDER, NAME, DATE, DATABASEID) VALUES "
                               "(?, ?, 0, 'Repaired document', ?, ?)");
        for (const auto& [number, unnamed] : unnamedPerSub) {
            for (const std::int64_t id : unnamed) {
                if (ids.count(id)) continue;  // a second sub database with the same number: the first keeps it
                add.reset();
                add.bind(1, id);
                add.bind(2, folderId());
                add.bind(3, std::string_view(today));
                add.bind(4, number);
                if (!add.run() && writeError.empty()) writeError = add.error().message;
                ids.insert(id);
                ++repaired;
            }
        }
        // Rows whose folder was lost, except the pages of a multipage
        // document (they hang on their document, not on a folder).
        {
            sql::Statement orphans(db, "SELECT ID FROM salvaged.FOLDERS WHERE PARENT IS NOT NULL AND PARENT <> 0 AND "
                                       "PARENT <> ID AND (TEMPLATE1 IS NULL OR TEMPLATE1 NOT LIKE 'MC%') AND PARENT NOT "
                                       "IN (SELECT ID FROM salvaged.FOLDERS)");
            std::vector<std::int64_t> lost;
            while (orphans.step() == sql::Step::Row) lost.push_back(orphans.getInt64(0));
            sql::Statement move(db, "UPDATE salvaged.FOLDERS SET PARENT = ? WHERE ID = ?");
            for (const std::int64_t id : lost) {
                move.reset();
                move.bind(1, folderId());
                move.bind(2, id);
                if (!move.run() && writeError.empty()) writeError = move.error().message;
                ++rehung;
            }
        }
        if (!writeError.empty()) return undo("writing the copy: " + writeError);
    }

    if (dryRun) {
        report.rowsSalvaged = report.rowsRead;
        report.outcome = SalvageFileReport::Outcome::WouldSalvage;
        WriteLog("Salvage: " + mainPath + ": " + std::to_string(report.rowsRead) +
                 " rows would be salvaged (report only: nothing changed)");
        return true;
    }

    // The indexes, built from the rows; the sequences and the version.
    for (const TableDefinition& i : indexes)
        if (!target.db().exec(salvage::AimedAtCopy(i.sql), &err)) return undo("the copy's indexes: " + err.message);
    for (const auto& [table, seq] : sequences) {
        sql::Statement up(target.db(), "UPDATE salvaged.sqlite_sequence SET seq = max(seq, ?) WHERE name = ?");
        up.bind(1, seq);
        up.bind(2, std::string_view(table));
        if (!up.run()) return undo("writing the copy: " + up.error().message);
        if (target.db().changes() == 0) {
            sql::Statement add(target.db(), "INSERT INTO salvaged.sqlite_sequence (name, seq) VALUES (?, ?)");
            add.bind(1, std::string_view(table));
            add.bind(2, seq);
            if (!add.run()) return undo("writing the copy: " + add.error().message);
        }
    }
    if (!target.db().exec("PRAGMA salvaged.user_version = " + std::to_string(userVersion) + ";", &err) ||
        !target.db().exec("COMMIT;", &err))
        return undo("writing the copy: " + err.message);
    target.close();
    if (const int rc = m_env->SyncFile(copyPath, "salvage.copy_written")) return undo(ErrorText(rc));

    // The copy read back: every page, and every table holding what was copied.
    {
        sql::Database check = sql::Database::open(*m_env, copyPath, password, sql::OpenMode::ReadOnly, err);
        if (!check.isOpen()) return undo("the copy does not open (" + err.message + ")");
        sql::Statement quick(check, "PRAGMA quick_check(1)");
        if (quick.step() != sql::Step::Row || quick.getText(0) != "ok") return undo("the copy does not read back");
        for (const auto& [table, n] : copiedPerTable) {
            sql::Statement count(check, "SELECT count(*) FROM " + sql::QuoteIdentifier(table));
            const std::int64_t expected = n + (table == "FOLDERS" ? repaired + (salvageFolderName.empty() ? 0 : 1) : 0);
            if (count.step() != sql::Step::Row || count.getInt64(0) < expected)
                return undo("the copy does not hold the rows of " + table);
        }
        report.rowsSalvaged = report.rowsRead;
    }
    if (const int rc = m_env->Step("salvage.verified")) return undo(ErrorText(rc));

    // The swap, with the main database's connections closed.
    src.close();
    const std::string connect = m_AdoCnMain->connectionString();
    Disconnect(m_AdoCnMain);
    Disconnect(m_AdoCnPdb);
    m_lastPicbase = {};
    m_verified.reset();
    auto reconnect = [&] { SetDatabase(OpenConnection(connect)); };
    bool stuck = false;
    const int swapped = replacement.swap(stuck);
    if (swapped && stuck) {
        report.outcome = SalvageFileReport::Outcome::Failed;
        report.error = ErrorText(swapped);
        return false;
    }
    reconnect();
    if (swapped) return undo(ErrorText(swapped));
    report.setAsideAs = replacement.asideName();
    replacement.finish();
    report.outcome = SalvageFileReport::Outcome::Salvaged;
    WriteLog("Salvage: " + mainPath + ": " + std::to_string(report.rowsSalvaged) + " rows salvaged, " +
             std::to_string(report.unreadableRanges) + " stretches of rows did not read; the damaged file is kept as '" +
             replacement.asidePath() + "'");
    if (!salvageFolderName.empty())
        WriteLog("Salvage: " + std::to_string(repaired) + " documents whose record was lost came back as 'Repaired "
                 "document' and " + std::to_string(rehung) + " rows whose folder was lost were put in the folder '" +
                 salvageFolderName + "'");
    if (!Connected(m_AdoCnMain)) {
        report.error = "the salvaged main database could not be opened again";
        return false;
    }
    return true;
}

}  // namespace qx
