// CDatabase: the progress record of a thorough check. The walk asks here
// whether a row is already done and reports each document it finished; the
// record is written a few times a second at most, after every document a
// repair changed, and at every stop.
#include "database/checks/CheckResume.h"

#include "database/CDatabase.h"
#include "support/Env.h"
#include "support/Log.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace qx {

namespace {

constexpr short kThorough = 8;
constexpr std::int64_t kRecordIntervalMs = 250;

}  // namespace

std::int64_t CheckRun::now() const {
    if (clock) return clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

CheckRunScope::CheckRunScope(CDatabase& database, CheckRun& run) : m_database(database) {
    database.m_checkRun = &run;
}

CheckRunScope::~CheckRunScope() { m_database.m_checkRun = nullptr; }

std::optional<std::int64_t> ParseDuration(const std::string& text) {
    std::int64_t total = 0;
    std::size_t i = 0;
    bool any = false;
    while (i < text.size()) {
        std::int64_t n = 0;
        const std::size_t digits = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (n > 10'000'000) return std::nullopt;
            n = n * 10 + (text[i++] - '0');
        }
        if (i == digits || i == text.size()) return std::nullopt;
        const char unit = text[i++];
        const std::int64_t ms = unit == 'h' ? 3'600'000 : unit == 'm' ? 60'000 : unit == 's' ? 1'000 : 0;
        if (ms == 0) return std::nullopt;
        total += n * ms;
        any = true;
    }
    if (!any || total <= 0) return std::nullopt;
    return total;
}

void CDatabase::TakeArchiveIdentity(CheckProgressRecord& record) {
    record.main = m_env->IdentityOf(MainDatabaseName()).value_or(FileId{});
    record.subDatabases.clear();
    for (const std::string& path : SubDatabasePathsToRead())
        record.subDatabases.emplace_back(path, m_env->IdentityOf(path).value_or(FileId{}));
    std::sort(record.subDatabases.begin(), record.subDatabases.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
}

bool CDatabase::ProgressRecordFits(const CheckProgressRecord& record, short flags, std::string& why) {
    CheckProgressRecord now;
    TakeArchiveIdentity(now);
    if (record.flags != flags) {
        why = "it is of another kind of check";
    } else if (!(now.main == record.main)) {
        why = "it is of another main database";
    } else if (now.subDatabases.size() != record.subDatabases.size() ||
               !std::equal(now.subDatabases.begin(), now.subDatabases.end(), record.subDatabases.begin())) {
        why = "the sub databases are not the ones it was written for";
    } else {
        return true;
    }
    return false;
}

std::optional<CheckProgressRecord> StoppedThoroughCheck(CDatabase& database, std::string& why) {
    why.clear();
    if (database.DryRun() || !CDatabase::Connected(database.m_AdoCnMain)) return std::nullopt;
    CheckProgressStore store(database.env(), database.MainDatabaseName());
    std::optional<CheckProgressRecord> record = store.Load(why);
    if (record && !database.ProgressRecordFits(*record, record->flags, why)) return std::nullopt;
    if (record && !(record->flags & kThorough)) return std::nullopt;
    return record;
}

void CDatabase::ResumeBegin(short flags) {
    CheckRun* run = m_checkRun;
    if (!run || !(flags & kThorough)) return;
    run->startedAt = run->now();
    if (DryRun()) {
        // A report-only run writes nothing in the archive folder, so it
        // keeps no record and cannot be gone on from.
        run->start = CheckRun::Start::NotKept;
        return;
    }
    run->active = true;
    run->store = std::make_unique<CheckProgressStore>(*m_env, MainDatabaseName());
    run->start = CheckRun::Start::Fresh;
    if (run->resume) {
        std::string why;
        std::optional<CheckProgressRecord> record = run->store->Load(why);
        if (record && !ProgressRecordFits(*record, flags, why)) record.reset();
        if (!record && why.empty()) {
            run->start = CheckRun::Start::NoRecord;
            WriteLog("No stopped thorough check to go on from: the check starts from the beginning");
        } else if (!record) {
            run->start = CheckRun::Start::Refused;
            run->refusedWhy = why;
            WriteLog("The progress record of the stopped check is not used (" + why +
                     "): the check starts from the beginning");
        } else {
            run->start = CheckRun::Start::Resumed;
            run->resumedAfter = record->checked;
            for (const RecordedFinding& f : record->findings) {
                m_findings.add(f.finding);
                if (f.place.placed) run->heldOver.push_back(run->rows.size());
                else m_window.ListAdd(ListId::Documents, f.row);
                run->rows.push_back(f.row);
                run->places.push_back(f.place);
            }
            for (const std::string& path : record->inUse) m_findings.noteInUse(path);
            if (!record->backupMask.empty()) m_sBackupMask = record->backupMask;
            m_backupFilesWritten.insert(record->backupFiles.begin(), record->backupFiles.end());
            run->changed.insert(record->changedRows.begin(), record->changedRows.end());
            m_window.State().m_nDamaged = m_findings.damaged();
            m_window.State().m_nFixed = m_findings.fixed();
            m_window.UpdateStatusBar();
            run->record = std::move(*record);
            WriteLog("Thorough check goes on after " + std::to_string(run->resumedAfter) + " of " +
                     std::to_string(run->record.total) + " documents; " + std::to_string(run->record.findings.size()) +
                     " finding(s) of the stopped run taken over");
            return;
        }
    }
    // A check begun anew makes any earlier record void.
    if (run->store->Present())
        if (const int rc = run->store->RemoveAll())
            WriteLog("The progress record of an earlier check could not be removed: " + ErrorText(rc));
    run->record = CheckProgressRecord();
    run->record.flags = flags;
}

bool CDatabase::ResumePassDone(const char* pass) const {
    return m_checkRun && m_checkRun->start == CheckRun::Start::Resumed && m_checkRun->record.passDone(pass);
}

namespace {

void WriteRecord(CDatabase& db, CheckRun& run, const CheckFindings& findings, const std::string& backupMask,
                 const std::set<std::string>& backups) {
    CheckProgressRecord& r = run.record;
    db.TakeArchiveIdentity(r);
    r.total = findings.total;
    r.checked = findings.checked;
    r.findings.clear();
    const auto& all = findings.all();
    for (std::size_t i = 0; i < all.size() && i < run.rows.size(); ++i)
        r.findings.push_back({all[i], run.rows[i], i < run.places.size() ? run.places[i] : WalkPlace{}});
    r.inUse = findings.inUse;
    r.backupMask = backupMask;
    r.backupFiles.assign(backups.begin(), backups.end());
    const std::int64_t began = run.now();
    const int rc = run.store->Write(r);
    run.lastWrite = run.now();
    run.lastWriteCost = run.lastWrite - began;
    if (rc != 0) {
        if (run.recordError.empty())
            WriteLog("The progress of the check could not be recorded: " + ErrorText(rc));
        run.recordError = ErrorText(rc);
    } else {
        run.recordError.clear();
    }
}

}  // namespace

void CDatabase::ResumePass(const char* pass) {
    CheckRun* run = m_checkRun;
    if (!run || !run->active || run->record.passDone(pass)) return;
    run->record.passes.push_back(pass);
    WriteRecord(*this, *run, m_findings, m_sBackupMask, m_backupFilesWritten);
}

bool CDatabase::ResumeSkips(const std::string& walkKey, std::int64_t rowid) const {
    const CheckRun* run = m_checkRun;
    if (!run || run->start != CheckRun::Start::Resumed) return false;
    const std::string& position = run->record.position;
    return (!position.empty() && walkKey <= position) || run->changed.count(rowid) != 0;
}

bool CDatabase::ResumeAfterDocument(const std::string& walkKey, std::int64_t rowid, std::size_t findingsBefore,
                                    const std::function<bool()>& commit) {
    CheckRun* run = m_checkRun;
    if (!run) return true;
    ++run->documents;
    const std::int64_t now = run->now();
    const bool timeUp = run->maxDurationMs && now - run->startedAt >= *run->maxDurationMs;
    if (timeUp) run->timeUp = true;
    if (!run->active) return !timeUp;
    const auto& all = m_findings.all();
    const bool repaired = std::any_of(all.begin() + static_cast<std::ptrdiff_t>(std::min(findingsBefore, all.size())),
                                      all.end(), [](const Finding& f) { return f.repaired && !f.inMemory; });
    run->record.position = walkKey;
    if (repaired) {
        run->changed.insert(rowid);
        run->record.changedRows.push_back(rowid);
        // The record names the repair as made only once it is committed.
        // A refused commit undid the repair and ends the walk: the record
        // keeps the state before it, and nothing is written over it.
        if (!commit()) {
            run->active = false;
            run->recordKept = run->store->Present();
            return !timeUp;
        }
    }
    // Never more than a few times a second, and never more than a tenth of
    // the time: a long list of findings makes each write dearer.
    const std::int64_t interval = std::max(kRecordIntervalMs, 10 * run->lastWriteCost);
    if (repaired || timeUp || now - run->lastWrite >= interval)
        WriteRecord(*this, *run, m_findings, m_sBackupMask, m_backupFilesWritten);
    return !timeUp;
}

void CDatabase::ResumeEnd(bool complete) {
    CheckRun* run = m_checkRun;
    if (!run || !run->active) return;
    run->active = false;
    if (complete) {
        if (const int rc = run->store->RemoveAll())
            WriteLog("The progress record of the finished check could not be removed: " + ErrorText(rc));
        run->recordKept = false;
        return;
    }
    // Stopped in a pass that runs again whole when the check goes on (the
    // integrity pass, the link check): the record written before that pass
    // holds what a run going on needs, without the pass's findings so far.
    if (run->record.passDone("integrity") && !run->record.passDone("walk"))
        WriteRecord(*this, *run, m_findings, m_sBackupMask, m_backupFilesWritten);
    run->recordKept = run->store->Present() && run->record.sequence > 0;
    if (run->recordKept)
        WriteLog("The check's progress is recorded: it can go on after " + std::to_string(run->record.checked) +
                 " of " + std::to_string(run->record.total) + " documents");
}

void CDatabase::ResumeNoteRow(const ListRow& row) {
    if (!m_checkRun || !m_checkRun->active) return;
    m_checkRun->rows.push_back(row);
    m_checkRun->places.push_back(m_heldRows ? WalkPlace{true, m_walkPlace.inFolder, m_walkPlace.parent, m_walkPlace.id}
                                            : WalkPlace{});
}

}  // namespace qx
