// CDatabase: changes to several files of an archive made as one, through
// the intent record, and finished or undone when an open finds one
// interrupted; the lock that keeps a second Quillex out meanwhile.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/maintenance/IntentRecord.h"
#include "support/ArchiveLock.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/TextResources.h"

#include <random>

namespace qx {

namespace {

std::string Folder(const std::string& mainPath) { return GetFolderPart(mainPath); }
std::string InFolder(const std::string& mainPath, const std::string& name) {
    return Folder(mainPath) + PathSeparator() + name;
}

std::uint32_t NewMarker() {
    std::random_device rd;
    std::uniform_int_distribution<std::uint32_t> pick(1, 0x7FFFFFFF);  // user_version is a signed 32-bit value
    return pick(rd);
}

}  // namespace

bool CDatabase::LockArchive(const std::string& sMainPath) {
    const std::string lockPath = LockName(sMainPath);
    if (m_lock && !DryRun() && m_env->SameFile(m_lock->path(), lockPath)) return true;
    // Locks of this process on the main file would refuse each other.
    m_lock.reset();
    ArchiveLock::Outcome outcome;
    std::string holder;
    // A report-only run creates no lock file (the folder may be read-only);
    // it shares a lock on the main file that a changing Quillex sees.
    std::unique_ptr<ArchiveLock> fresh = DryRun() ? ArchiveLock::Share(*m_env, sMainPath, lockPath, outcome, holder)
                                                  : ArchiveLock::Acquire(*m_env, lockPath, outcome, holder);
    if (fresh && !DryRun() && !fresh->HoldMainFile(sMainPath, holder)) {
        fresh.reset();
        outcome = ArchiveLock::Outcome::InUse;
    }
    if (outcome == ArchiveLock::Outcome::InUse) {
        m_window.MsgBox(FormatMsg(GetResString(200, "De database '%s' is in gebruik door een ander Vellumo Quillex "
                                                    "(%s). Sluit dat programma en probeer het opnieuw; er is niets "
                                                    "gewijzigd."),
                                  {sMainPath, holder}),
                        MsgButtons::OK, MsgIcon::Exclamation, GetResString(201, "Database in gebruik..."));
        return false;
    }
    // A folder Quillex cannot create a file in is one it cannot change
    // either: the engine needs its journal there. Opening goes on and the
    // write probe refuses what cannot be written.
    m_lock = std::move(fresh);
    m_lockProblem = outcome == ArchiveLock::Outcome::Unavailable ? holder : std::string();
    return true;
}

void CDatabase::UnlockArchive() { m_lock.reset(); }

bool CDatabase::ReadMarker(std::uint32_t& marker, std::string& why) {
    sql::Statement st(m_AdoCnMain->database(), "PRAGMA user_version");
    const sql::Step step = st.step();
    if (step != sql::Step::Row) {
        why = st.error().message.empty() ? "the main database cannot be read" : st.error().message;
        return false;
    }
    marker = static_cast<std::uint32_t>(st.getInt64(0));
    return true;
}

bool CDatabase::MainDatabaseReadsCleanly(std::string& why) {
    sql::Statement st(m_AdoCnMain->database(), "PRAGMA quick_check(1)");
    if (st.step() != sql::Step::Row) {
        why = st.error().message.empty() ? "the integrity check could not run" : st.error().message;
        return false;
    }
    const std::string verdict = st.getText(0);
    if (verdict == "ok") return true;
    why = verdict;
    return false;
}

bool CDatabase::RollForward(const std::string& sMainPath, const IntentRecord& record, int& renamed,
                            std::string& why) {
    renamed = 0;
    auto holds = [&](const std::string& name, const FileId& file) {
        const std::string path = InFolder(sMainPath, name);
        return m_env->KindOf(path) == EntryKind::RegularFile && m_env->IdentityOf(path) == file;
    };
    for (std::size_t i = 0; i < record.renames.size(); ++i) {
        const IntentRename& step = record.renames[i];
        const std::string from = InFolder(sMainPath, step.from), to = InFolder(sMainPath, step.to);
        std::optional<FileId> fromId;
        if (m_env->KindOf(from) == EntryKind::RegularFile) fromId = m_env->IdentityOf(from);
        // Done before: the file stands where this step or a later step of
        // the same file put it.
        bool done = holds(step.to, step.file);
        for (std::size_t j = i + 1; j < record.renames.size() && !done; ++j)
            done = record.renames[j].file == step.file && holds(record.renames[j].to, step.file);
        if (done) {
            // A second name left by a rename that had to link and unlink
            // goes, now that the file is safe under its new one.
            if (fromId && *fromId == step.file && holds(step.to, step.file)) {
                if (const int rc = m_env->RemoveDurably(from, "intent.remove-second-name")) {
                    why = "'" + from + "': " + ErrorText(rc);
                    return false;
                }
            }
            continue;
        }
        // A file kept aside and removed once its replacement stood under its
        // old name: that step was done before the removal.
        bool removedAfterMove = false;
        for (const IntentFile& gone : record.removes)
            removedAfterMove = removedAfterMove || (gone.file == step.file && !holds(gone.name, step.file));
        if (removedAfterMove && (!fromId || *fromId != step.file)) {
            bool replaced = false;
            for (std::size_t j = i + 1; j < record.renames.size(); ++j)
                replaced = replaced || (record.renames[j].to == step.from && holds(step.from, record.renames[j].file));
            if (replaced) continue;
        }
        if (!fromId || *fromId != step.file) {
            why = "'" + step.from + "' is no longer the file that was to be renamed to '" + step.to + "'";
            return false;
        }
        if (m_env->KindOf(to) != EntryKind::None) {
            why = "'" + step.to + "' is taken by another file";
            return false;
        }
        if (const int rc = m_env->RenameNoReplace(from, to, "intent.rename")) {
            why = "renaming '" + from + "' to '" + to + "': " + ErrorText(rc);
            return false;
        }
        ++renamed;
    }
    for (const IntentFile& gone : record.removes) {
        if (!holds(gone.name, gone.file)) continue;
        if (const int rc = m_env->RemoveDurably(InFolder(sMainPath, gone.name), "intent.remove-file")) {
            why = "'" + gone.name + "': " + ErrorText(rc);
            return false;
        }
    }
    return true;
}

CDatabase::ChangeOutcome CDatabase::ChangeArchive(const std::string& sOperation,
                                                  const std::vector<PlannedRename>& renames,
                                                  const std::function<bool(sql::Error&)>& changeTables,
                                                  std::string& why) {
    const std::string mainPath = MainDatabaseName();
    sql::Database& db = m_AdoCnMain->database();
    if (db.inTransaction()) {
        why = "another change of the main database is under way";
        return ChangeOutcome::NothingChanged;
    }
    IntentRecord record;
    record.operation = sOperation;
    for (const PlannedRename& r : renames) {
        // A step may take on a file that an earlier step moves first.
        std::optional<FileId> id;
        for (auto it = record.renames.rbegin(); it != record.renames.rend() && !id; ++it)
            if (it->to == GetFileNamePart(r.from)) id = it->file;
        if (!id) id = m_env->IdentityOf(r.from);
        if (!id || !m_env->SameFile(GetFolderPart(r.from), GetFolderPart(mainPath)) ||
            !m_env->SameFile(GetFolderPart(r.to), GetFolderPart(mainPath))) {
            why = "'" + r.from + "' cannot be renamed as planned";
            return ChangeOutcome::NothingChanged;
        }
        record.renames.push_back({GetFileNamePart(r.from), GetFileNamePart(r.to), *id});
    }
    const std::string intent = IntentName(mainPath);
    if (!record.renames.empty() && m_env->KindOf(intent) != EntryKind::None) {
        why = "an earlier change is not finished ('" + intent + "' exists)";
        return ChangeOutcome::NothingChanged;
    }

    sql::Transaction tx(db);
    if (!tx.ok()) {
        why = db.lastError().message;
        return ChangeOutcome::NothingChanged;
    }
    sql::Error err;
    if (!changeTables(err)) {
        why = err.message.empty() ? std::string("the change of the tables failed") : err.message;
        return ChangeOutcome::NothingChanged;
    }
    if (record.renames.empty()) {
        if (!tx.commit(&err)) {
            why = err.message;
            return ChangeOutcome::NothingChanged;
        }
        return ChangeOutcome::Done;
    }

    record.marker = NewMarker();
    if (!db.exec("PRAGMA user_version = " + std::to_string(*record.marker), &err)) {
        why = err.message;
        return ChangeOutcome::NothingChanged;
    }
    // A report-only run changes nothing a crash could leave half done.
    if (const int rc = DryRun() ? 0 : m_env->CreateDurableFile(intent, record.serialize(), "intent.write")) {
        why = "writing '" + intent + "': " + ErrorText(rc);
        return ChangeOutcome::NothingChanged;
    }
    if (!tx.commit(&err)) {
        why = err.message;
        // The record names a marker the database never got: an open would
        // undo it anyway, but there is nothing to undo now.
        if (m_env->RemoveDurably(intent, "intent.remove") != 0)
            WriteLog("The intent record '" + intent + "' stays; the next open removes it");
        return ChangeOutcome::NothingChanged;
    }
    int renamed = 0;
    if (!RollForward(mainPath, record, renamed, why)) {
        WriteLog("The change '" + sOperation + "' was committed but its files could not all be renamed: " + why);
        return ChangeOutcome::Pending;
    }
    if (const int rc = DryRun() ? 0 : m_env->RemoveDurably(intent, "intent.remove"))
        WriteLog("The intent record '" + intent + "' could not be removed (" + ErrorText(rc) +
                 "); the next open removes it");
    return ChangeOutcome::Done;
}

bool CDatabase::FinishInterruptedChange() { return FinishInterruptedChangeOf(MainDatabaseName(), false); }

bool CDatabase::FinishInterruptedFileChange(const std::string& sMainPath) {
    return FinishInterruptedChangeOf(sMainPath, true);
}

bool CDatabase::FinishInterruptedChangeOf(const std::string& mainPath, bool onlyWithoutMarker) {
    const std::string intent = IntentName(mainPath);
    const EntryKind kind = m_env->KindOf(intent);
    if (kind == EntryKind::None) return true;
    const std::string title = GetResString(205, "Onderbroken bewerking...");
    auto cannot = [&](const std::string& why) {
        WriteLog("The interrupted change recorded in '" + intent + "' cannot be finished: " + why);
        // The reason is in the log's words (English): kept apart, under the Dutch text.
        m_window.MsgBoxDetails(
            FormatMsg(GetResString(204, "Een eerdere bewerking van de subdatabases van deze database is onderbroken en "
                                        "kan niet worden afgerond:%n%n%s%n%nDe database wordt niet geopend. Er is niets "
                                        "verwijderd; neem contact op met Tarnwick."),
                      {GetResString(344, "De reden staat hieronder bij de details.")}),
            why, MsgButtons::OK, MsgIcon::Critical, title);
        return false;
    };
    if (kind != EntryKind::RegularFile) return cannot("'" + intent + "' is not a regular file");
    std::string text;
    if (m_env->ReadFile(intent, text) != 0) return cannot("'" + intent + "' cannot be read");
    std::string why;
    const std::optional<IntentRecord> record = IntentRecord::Parse(text, why);
    if (!record) {
        // The record is complete on disk before the first change, so a torn
        // one means the change never started. It is kept aside all the same.
        const std::string aside = m_env->UniqueFileName(intent + ".damaged");
        if (const int rc = m_env->RenameNoReplace(intent, aside, "intent.set-aside"))
            return cannot("'" + intent + "': " + why + "; " + ErrorText(rc));
        WriteLog("An unreadable intent record was set aside as '" + aside + "' (" + why + ")");
        return true;
    }
    // A change with a part in the main database waits until it is open.
    if (onlyWithoutMarker && record->marker) return true;
    WriteLog("An interrupted change was found (" + record->operation + ")");
    const auto undone = [&] {
        WriteLog("The interrupted change was undone: it had not changed anything yet");
        m_window.MsgBox(GetResString(203, "Een eerdere bewerking van de subdatabases van deze database is onderbroken "
                                          "voordat er iets was gewijzigd. De bewerking is ongedaan gemaakt."),
                        MsgButtons::OK, MsgIcon::Information, title);
        return true;
    };
    if (!record->marker && !record->discards.empty() && !ChangeBegan(mainPath, *record)) {
        for (const IntentFile& copy : record->discards) {
            const std::string path = InFolder(mainPath, copy.name);
            if (m_env->KindOf(path) != EntryKind::RegularFile || m_env->IdentityOf(path) != copy.file) continue;
            if (const int rc = m_env->RemoveDurably(path, "intent.discard")) return cannot("'" + path + "': " + ErrorText(rc));
        }
        if (const int rc = m_env->RemoveDurably(intent, "intent.remove")) return cannot(ErrorText(rc));
        return undone();
    }
    std::uint32_t marker = 0;
    if (record->marker && !ReadMarker(marker, why)) return cannot(why);
    if (record->marker && marker != *record->marker) {
        if (const int rc = m_env->RemoveDurably(intent, "intent.remove")) return cannot(ErrorText(rc));
        return undone();
    }
    int renamed = 0;
    if (!RollForward(mainPath, *record, renamed, why)) return cannot(why);
    if (const int rc = m_env->RemoveDurably(intent, "intent.remove")) return cannot(ErrorText(rc));
    WriteLog("The interrupted change was finished: " + std::to_string(renamed) + " of " +
             std::to_string(record->renames.size()) + " renames were still to do");
    m_window.MsgBox(GetResString(202, "Een eerdere bewerking van de subdatabases van deze database is onderbroken. De "
                                      "bewerking is nu alsnog voltooid."),
                    MsgButtons::OK, MsgIcon::Information, title);
    return true;
}

bool CDatabase::ChangeBegan(const std::string& sMainPath, const IntentRecord& record) {
    for (const IntentRename& step : record.renames) {
        const std::string to = InFolder(sMainPath, step.to);
        if (m_env->KindOf(to) == EntryKind::RegularFile && m_env->IdentityOf(to) == step.file) return true;
    }
    return false;
}

bool CDatabase::ChangePending() const {
    const std::string mainPath = MainDatabaseName();
    return !mainPath.empty() && m_env->KindOf(IntentName(mainPath)) != EntryKind::None;
}

}  // namespace qx
