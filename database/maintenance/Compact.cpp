// CDatabase: compacting a data file of the archive into a fresh copy that
// takes its place, and compacting all of them.
//
// The copy is made by the compacting engine on a thread of its own and
// polled here. The swap goes through the intent record
// (docs/archive-format.md) so that a crash at any moment leaves the whole
// file under its name, old or compacted, once the archive is opened again:
//   1. the copy is created without a name, the record (renames, the file to
//      remove afterwards, the copy to discard when nothing was renamed) is
//      written, then the copy gets its ".compacted" name;
//   2. the engine fills the copy, which is fsynced;
//   3. the source goes aside under a free name, the copy takes the source's
//      name, the aside file is removed, the record goes.
// Before step 3 has begun an open discards the copy; after, it finishes.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/SubDatabasePlace.h"
#include "database/maintenance/IntentRecord.h"
#include "database/maintenance/NewCopy.h"
#include "database/maintenance/PlanPages.h"
#include "database/maintenance/ReorganizePlan.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/SysInfo.h"
#include "support/TextResources.h"
#include "support/Tools.h"
#include "support/engine/Compactor.h"
#include "support/engine/Recordset.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <map>
#include <thread>

namespace qx {

namespace {

// Room the engine needs beside the copy itself (its temporary files).
constexpr std::int64_t kCompactReserve = 52'428'800;
// Between two looks at the engine: short enough for a live window, long
// enough not to keep a core busy.
constexpr std::chrono::milliseconds kPollInterval{20};

// Every row of every table of the file read, each value included (large
// ones live on pages of their own): what a copy of the file needs to read.
bool ReadsWhole(Env& env, const std::string& path, const std::string& passwordBytes, std::string& why, int& code) {
    sql::Error err;
    sql::Database db = sql::Database::open(env, path, passwordBytes, sql::OpenMode::ReadOnly, err);
    if (!db.isOpen()) {
        why = err.message;
        code = err.code;
        return false;
    }
    std::vector<std::string> tables;
    {
        sql::Statement st(db, "SELECT name FROM sqlite_master WHERE type = 'table'");
        sql::Step step;
        while ((step = st.step()) == sql::Step::Row) tables.push_back(st.getText(0));
        if (step == sql::Step::Failed) {
            why = st.error().message;
            code = st.error().code;
            return false;
        }
    }
    for (const std::string& table : tables) {
        sql::Statement st(db, "SELECT * FROM " + sql::QuoteIdentifier(table));
        sql::Step step;
        while ((step = st.step()) == sql::Step::Row)
            for (int c = 0; c < st.columnCount(); ++c)
                if (st.columnType(c) == sql::ColumnType::Blob) (void)st.getBlob(c);
                else (void)st.getText(c);
        if (step == sql::Step::Failed) {
            why = st.error().message;
            code = st.error().code;
            return false;
        }
    }
    return true;
}

// Whether a copy of the file would come out as large as the file: no free
// pages, and its documents need every page it has, by the page model the
// reorganize plan uses (exact on files the engine wrote in ID order).
// Asked of the file itself each time, so rows deleted since the last
// compaction, by us or by anyone, show. Free pages answer at once; only a
// file without them has its row lengths read (which reads the leaves, not
// the large values). Files that hold no documents table, or that fail to
// read, are copied as before: the copy reports what it runs into.
struct Fill {
    bool full = false;
    std::int64_t pages = 0, needed = 0;
};

Fill FillOf(Env& env, const std::string& path, const std::string& passwordBytes) {
    Fill fill;
    sql::Error err;
    sql::Database db = sql::Database::open(env, path, passwordBytes, sql::OpenMode::ReadOnly, err);
    if (!db.isOpen()) return fill;
    auto scalar = [&db](const char* text, std::int64_t& value) {
        sql::Statement st(db, text);
        if (st.step() != sql::Step::Row) return false;
        value = st.getInt64(0);
        return true;
    };
    // One read transaction (ended when the connection closes): the counts
    // and the rows describe one state of the file.
    if (!db.exec("BEGIN;")) return fill;
    std::int64_t freePages = -1, pageSize = 0;
    if (!scalar("PRAGMA freelist_count", freePages) || freePages != 0) return fill;
    if (!scalar("PRAGMA page_count", fill.pages) || !scalar("PRAGMA page_size", pageSize)) return fill;
    std::int64_t tables = 0;
    if (!scalar("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name NOT IN ('PICTURES', 'sqlite_sequence')",
                tables) ||
        tables != 0)
        return fill;
    plan::Tree tree(static_cast<int>(pageSize), passwordBytes.empty() ? 0 : plan::kCipherReservedBytes);
    sql::Statement rows(db, "SELECT ID, length(PICTURE) FROM PICTURES ORDER BY ID");
    sql::Step step;
    while ((step = rows.step()) == sql::Step::Row)
        tree.add(static_cast<long>(rows.getInt64(0)), rows.isNull(1) ? 0 : rows.getInt64(1));
    if (step != sql::Step::Done) return fill;
    fill.needed = tree.pages();
    fill.full = fill.pages <= fill.needed;
    return fill;
}

// "#,### KB" with the Dutch grouping sign.
std::string KilobytesText(std::int64_t bytes) {
    const std::int64_t kb = (bytes + 1023) / 1024;
    std::string digits = std::to_string(kb);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += '.';
        out += digits[i];
    }
    return out + " KB";
}

}  // namespace

bool CDatabase::CompactSingle(const std::string& sDatabaseName, const std::string& sPwd) {
    return CompactSingle(sDatabaseName, sPwd, CompactOptions{});
}

bool CDatabase::CompactSingle(const std::string& sDatabaseName, const std::string& sPwd,
                              const CompactOptions& options) {
    const std::string& path = sDatabaseName;
    m_compactTrouble = {};
    m_compactSkipped = false;
    auto trouble = [this](Trouble kind, const std::string& reason) {
        m_compactTrouble = {kind, reason, 0, {}};
        return false;
    };
    if (!m_env->FileExists(path)) {
        WriteLog("Compact: " + path + " does not exist!");
        return trouble(Trouble::Other, path + " does not exist");
    }
    // The archive's main database: the open one, or the one being compacted
    // while its connection is closed.
    std::string mainPath = MainDatabaseName();
    if (mainPath.empty()) mainPath = m_window.State().m_sDatabaseName;
    const std::string folder = GetFolderPart(mainPath);
    if (mainPath.empty() || m_env->KindOf(path) != EntryKind::RegularFile || !m_env->EntryLiesIn(path, folder)) {
        WriteLog("Compact: " + path + " is not a file in the archive folder; it is not compacted");
        return trouble(Trouble::Other, path + " is not a file in the archive folder");
    }

    // An empty file is no database: compacted, it would come back as an
    // empty one. Nor is a file whose engine side file is a link or no
    // regular file: the engine would follow it out of the folder.
    const std::int64_t length = m_env->FileLength(path);
    if (length <= 0) {
        WriteLog("Compact: " + path + " is empty, no database; it is not compacted");
        return trouble(Trouble::Damaged, path + " is empty, no database");
    }
    if (const std::string bad = NotRegularForWriting(*m_env, path); !bad.empty()) {
        WriteLog("Compact: " + bad + " is a link or no regular file; " + path + " is not compacted");
        NotRegularFileMessage(bad, path);
        return trouble(Trouble::Other, bad + " is a link or no regular file");
    }
    // A copy that leaves rows out always changes the file.
    if (options.leaveOutRowsOf.empty()) {
        if (const Fill fill = FillOf(*m_env, path, engine::PasswordBytes(sPwd)); fill.full) {
            WriteLog("Compact: " + path + " is already compact (no free pages; its rows need all of its " +
                     std::to_string(fill.pages) + " pages); it " + (DryRun() ? "would not be" : "is not") +
                     " copied" + (DryRun() ? " (dry run: nothing changed)" : ""));
            m_compactSkipped = true;
            if (m_compactCopying) m_compactCopying(length, length);
            return true;
        }
    }
    const std::int64_t available = FolderFreeSpace(*m_env, folder);
    if (available < length + kCompactReserve) {
        const std::int64_t missing = length + kCompactReserve - std::max<std::int64_t>(available, 0);
        std::string root = DriveRoot(*m_env, path);
        if (root.empty()) root = folder;
        m_compactTrouble = {Trouble::DiskFull, "not enough free disk space", missing, root};
        if (m_bShowErrors) {
            m_window.MsgBox(FormatMsg(GetResString(75, "Resources not found"),
                                      {root, KilobytesText(missing), GetFileNamePart(path)}),
                            MsgButtons::OK, MsgIcon::Exclamation, GetResString(83, "Resources not found"));
        }
        WriteLog("Compact: " + path + ": not enough free disk space!");
        return false;
    }
    const std::string destination = m_env->UniqueFileName(path + ".compacted");
    if (DryRun()) {
        // The copy cannot be made without writing; every row is read as the
        // copy would read it, so that a file the real run could not compact
        // is reported as such here too.
        std::string why;
        int code = 0;
        if (!ReadsWhole(*m_env, path, engine::PasswordBytes(sPwd), why, code)) {
            WriteLog("Compact: Unable to compact " + path + " (" + why + ")");
            return trouble(TroubleOfEngineCode(code), why);
        }
        WriteLog("Compact: " + path + " would be compacted into " + destination + " (dry run: nothing changed)");
        if (m_compactCopying) m_compactCopying(length, length);
        return true;
    }
    const std::string intent = IntentName(mainPath);
    if (m_env->KindOf(intent) != EntryKind::None) {
        WriteLog("Compact: " + path + " is not compacted: an earlier change is not finished ('" + intent + "' exists)");
        return trouble(Trouble::Other, "an earlier change is not finished");
    }
    auto unable = [&](const std::string& reason, Trouble kind = Trouble::Other) {
        WriteLog("Compact: Unable to compact " + path + (reason.empty() ? "" : " (" + reason + ")"));
        trouble(kind, reason);
        if (kind == Trouble::DiskFull) {
            const std::string root = DriveRoot(*m_env, path);
            m_compactTrouble.volume = root.empty() ? folder : root;
        }
        return false;
    };

    // 1. The record, then the copy's name.
    const std::optional<FileId> source = m_env->IdentityOf(path);
    NewCopy copy(*m_env, folder, destination, "compact.create_copy");
    if (!source || !copy.id()) return unable("the copy cannot be created in " + folder);
    auto errnoFailure = [&](int rc) { return std::pair{ErrorText(rc), TroubleOfErrno(rc)}; };
    const std::string aside = m_env->UniqueFileName(path + ".uncompacted");
    const std::string name = GetFileNamePart(path), copyName = GetFileNamePart(destination),
                      asideName = GetFileNamePart(aside);
    IntentRecord record;
    record.operation = "compact " + name;
    record.renames = {{name, asideName, *source}, {copyName, name, *copy.id()}};
    record.removes = {{asideName, *source}};
    record.discards = {{copyName, *copy.id()}};
    if (const int rc = m_env->CreateDurableFile(intent, record.serialize(), "compact.intent"))
        return unable("writing '" + intent + "': " + ErrorText(rc), TroubleOfErrno(rc));
    auto undo = [&](const std::string& reason, Trouble kind = Trouble::Other) {
        if (m_env->IdentityOf(destination) == copy.id()) {
            if (const int rc = m_env->RemoveDurably(destination, "compact.discard"))
                WriteLog("Compact: the copy '" + destination + "' stays (" + ErrorText(rc) +
                         "); the next open removes it");
        }
        if (const int rc = m_env->RemoveDurably(intent, "intent.remove"))
            WriteLog("Compact: the intent record '" + intent + "' stays (" + ErrorText(rc) +
                     "); the next open removes it");
        return unable(reason, kind);
    };
    auto undoErrno = [&](int rc) {
        const auto [reason, kind] = errnoFailure(rc);
        return undo(reason, kind);
    };
    if (const int rc = copy.link(destination, "compact.create_copy")) return undoErrno(rc);

    // 2. The copy.
    sql::Compactor compactor(*m_env, [](const std::string& line) { WriteLog(line); });
    const std::string password = engine::PasswordBytes(sPwd);
    if (options.leaveOutRowsOf.empty()) compactor.Start(path, destination, password);
    else compactor.StartEmptying(path, destination, password, options.leaveOutRowsOf);
    const int failed = m_env->Step("compact.copying");
    std::int32_t state;
    // Waiting on the copy rather than sleeping: its end is seen at once.
    while ((state = compactor.WaitFor(kPollInterval)) == sql::Compactor::kRunning) {
        // The copy is smaller than its source; how far it got shows in its length.
        if (m_compactCopying) m_compactCopying(std::min(m_env->FileLength(destination), length), length);
        m_window.DoEvents();
    }
    if (failed) return undoErrno(failed);
    if (state != 0 || m_env->KindOf(destination) != EntryKind::RegularFile || m_env->IdentityOf(destination) != copy.id())
        return undo("the engine ended with state " + std::to_string(state));
    if (const int rc = m_env->SyncFile(destination, "compact.copy_written")) return undoErrno(rc);
    if (options.copied) options.copied();

    // 3. The swap, with every connection to the file closed.
    std::string mainConnect;
    if (Connected(m_AdoCnMain) && m_env->SameFile(MainDatabaseName(), path)) {
        mainConnect = m_AdoCnMain->connectionString();
        Disconnect(m_AdoCnMain);
    }
    if (Connected(m_AdoCnPdb) && m_env->SameFile(m_AdoCnPdb->dataSource(), path)) Disconnect(m_AdoCnPdb);
    if (m_pdbPool)
        std::erase_if(*m_pdbPool, [&](const ConnectionPtr& cn) { return cn && m_env->SameFile(cn->dataSource(), path); });
    m_lastPicbase = {};
    auto reconnect = [&] {
        if (!mainConnect.empty()) SetDatabase(OpenConnection(mainConnect));
    };

    if (const int rc = m_env->RenameNoReplace(path, aside, "compact.set_aside")) {
        reconnect();
        return undoErrno(rc);
    }
    if (const int rc = m_env->RenameNoReplace(destination, path, "compact.swap")) {
        // Back to where it was; when even that fails the record stays and
        // the next open completes the swap.
        if (const int back = m_env->RenameNoReplace(aside, path, "compact.put_back")) {
            WriteLog("Compact: " + path + " is set aside as '" + aside + "' (" + ErrorText(back) +
                     "); the next open of the archive puts the compacted copy in its place");
            return unable(ErrorText(rc), TroubleOfErrno(rc));
        }
        reconnect();
        return undoErrno(rc);
    }
    reconnect();
    if (const int rc = m_env->RemoveDurably(aside, "compact.remove_aside"))
        WriteLog("Compact: the old file '" + aside + "' stays (" + ErrorText(rc) + "); the next open removes it");
    else if (const int rc2 = m_env->RemoveDurably(intent, "intent.remove"))
        WriteLog("Compact: the intent record '" + intent + "' stays (" + ErrorText(rc2) +
                 "); the next open removes it");
    WriteLog("Compact: " + path + " compacted successfully");
    if (m_compactCopying) m_compactCopying(length, length);
    return true;
}

bool CDatabase::CompactAll() {
    if (!Connected(m_AdoCnMain)) return false;
    Disconnect(m_AdoCnPdb);
    m_lastPicbase = {};
    bool result = true;
    std::vector<std::string> files;
    {
        engine::Recordset rs;
        bool ok = rs.open("SELECT * FROM DATABASES", *m_AdoCnMain, engine::CursorMode::Scan);
        for (; ok && !rs.eof(); ok = rs.moveNext()) files.push_back(NullToStr(rs.value("DATABASE")));
        if (!ok) {
            WriteLog("Compact: the list of sub databases could not be read");
            result = false;
        }
    }
    const std::string password = Settings::Get().DatabasePassword;
    for (const std::string& file : files) result = CompactSingle(file, password) && result;

    const std::string connect = m_AdoCnMain->connectionString();
    const std::string mainPath = MainDatabaseName();
    Disconnect(m_AdoCnMain);
    result = CompactSingle(mainPath, password) && result;
    SetDatabase(OpenConnection(connect));
    return result;
}

}  // namespace qx
