// CDatabase: packing the stored data of an archive into as few sub
// databases as possible, from the highest-numbered one into the lowest one
// with room, and retiring every emptied file as ".obsolete": the start
// checks, the list, the compactions around the move and the final phase.
// The move itself is in ReorganizeMove.cpp.
#include "database/CDatabase.h"
#include "database/access/SubDatabasePlace.h"
#include "database/access/FileNames.h"
#include "database/maintenance/WorkProgress.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/SysInfo.h"
#include "support/HumanFormat.h"
#include "support/TextResources.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace qx {

namespace {

constexpr std::int64_t kReorganizeFreeSpace = 104'857'600;
// A report-only run keeps every byte it moves in memory.
constexpr std::int64_t kReportOnlyMoveLimit = 1'073'741'824;

using PdbEntry = std::pair<long, std::string>;  // DATABASES.ID, standard path

std::string Res(long id) { return GetResString(id, "Resources not found"); }

bool SetAsideName(const std::string& name) {
    auto endsWith = [&](const std::string& tail) {
        return name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    return endsWith(".obsolete") || endsWith(".deleted");
}

// The files of the folder under a set-aside name, by identity: a file the
// run sets aside is one that was not there under such a name before.
std::map<std::string, FileId> SetAsideFiles(Env& env, const std::string& folder) {
    std::map<std::string, FileId> files;
    std::error_code ec;
    for (const std::string& name : env.ListFolder(folder, ec)) {
        if (!SetAsideName(name)) continue;
        const std::string path = folder + PathSeparator() + name;
        if (const auto id = env.IdentityOf(path)) files[name] = *id;
    }
    return files;
}

}  // namespace

std::int64_t CDatabase::ArchiveBytesInUse() {
    const std::string mainPath = MainDatabaseName();
    std::int64_t bytes = m_env->FileLength(mainPath) + m_env->FileLength(OmdName(mainPath));
    if (!Connected(m_AdoCnMain)) return bytes;
    std::set<std::string> seen;
    sql::Statement st(m_AdoCnMain->database(), "SELECT DATABASE FROM DATABASES");
    while (st.ok() && st.step() == sql::Step::Row)
        if (!st.isNull(0) && seen.insert(st.getText(0)).second) bytes += m_env->FileLength(st.getText(0));
    return bytes;
}

bool CDatabase::Reorganize() {
    m_sReorganizeStop.clear();
    m_reorganizeOutcome = {};
    m_reorganizeOutcome.reportOnly = DryRun();
    if (!Connected(m_AdoCnMain)) {
        m_reorganizeOutcome.stop = "the archive is not open";
        return false;
    }
    const std::string mainPath = MainDatabaseName();
    const std::string folder = GetFolderPart(mainPath);
    const std::string& pwd = Settings::Get().DatabasePassword;
    auto logError = [](const sql::Error& e) {
        WriteLog("Reorganize: " + e.message + " (" + std::to_string(e.code) + ")");
    };

    // Every way the run ends before it is done leaves its reason here, so
    // that no caller takes a stop for success.
    auto refuse = [this](const std::string& text) {
        if (m_sReorganizeStop.empty()) m_sReorganizeStop = "checking the archive: " + text;
        WriteLog("Reorganize: " + text);
    };
    if (FolderFreeSpace(*m_env, folder) < kReorganizeFreeSpace) {
        std::string root = DriveRoot(*m_env, mainPath);
        if (root.empty()) root = folder;
        refuse(FormatMsg(Res(76), {root}));
        m_window.MsgBox(FormatMsg(Res(76), {root}), MsgButtons::OK, MsgIcon::Exclamation, Res(83));
        m_reorganizeOutcome.stop = m_sReorganizeStop;
        return false;
    }

    if (DryRun()) {
        std::int64_t stored = 0;
        sql::Statement st(m_AdoCnMain->database(), "SELECT DATABASE FROM DATABASES");
        while (st.ok() && st.step() == sql::Step::Row)
            if (!st.isNull(0)) stored += m_env->FileLength(st.getText(0));
        if (stored > kReportOnlyMoveLimit) {
            m_sReorganizeStop = "a report-only run would hold up to " + std::to_string(stored / 1048576) +
                                " MB of moved data in memory; nothing was done";
            WriteLog("Reorganize: " + m_sReorganizeStop);
            m_window.MsgBox(FormatMsg(Res(220), {FormatCount(stored / 1048576)}), MsgButtons::OK, MsgIcon::Exclamation, Res(83));
            m_reorganizeOutcome.stop = m_sReorganizeStop;
            return false;
        }
    }

    Disconnect(m_AdoCnPdb);
    const bool showErrors = m_bShowErrors;
    m_bShowErrors = false;
    // The list of the last check stays until the run has done its work: a
    // run that stops or is cancelled leaves it as it was. The rows the run
    // reports itself are held until then.
    std::vector<ListRow> heldRows;
    m_heldRows = &heldRows;
    const std::int64_t bytesBefore = ArchiveBytesInUse();
    const std::map<std::string, FileId> asideBefore = SetAsideFiles(*m_env, folder);
    m_window.SetEnabled(false);
    m_window.ReorganizeShow();
    m_window.DoEvents();
    WorkProgress progress([this](const ProgressView& view) { m_window.ReorganizeProgress(view); });
    progress.SetFormats(GetResString(351, "Documenten: %s van %s"), GetResString(352, "Verplaatst: %s van %s"));
    progress.SetPhase(Res(91));
    progress.Start(-1, -1);
    m_window.ReorganizeSetCaption(Res(91));
    m_window.ReorganizeSetCancelEnabled(false);
    // A compaction is shown as its own step: the moves say nothing of how long it takes.
    m_compactCopying = [&progress](std::int64_t written, std::int64_t total) { progress.SetStep(written, total); };
    const std::string compactedFormat = GetResString(354, "Gecomprimeerd: %s van %s");
    auto caption = [&](const std::string& text) {
        m_window.ReorganizeSetCaption(text);
        progress.SetPhase(text);
    };

    UnlinkUnused(false);

    // -- The list, each entry under its standard name, writable.
    std::vector<PdbEntry> list;
    bool result = false, valid = true;
    {
        engine::Recordset rs;
        if (!rs.open("SELECT * FROM DATABASES ORDER BY ID ASC", *m_AdoCnMain, engine::CursorMode::Lookup)) {
            logError(rs.lastError());
            refuse("the list of sub databases cannot be read: " + rs.lastError().message);
            valid = false;
        }
        result = valid && !rs.eof();
        for (; valid && !rs.eof(); rs.moveNext()) {
            const long id = rs.value("ID").toLong();
            const std::string stored = NullToStr(rs.value("DATABASE"));
            const std::string standard = SubDatabaseName(mainPath, id);
            if (stored != standard) {
                refuse(FormatMsg(Res(77), {stored, standard}));
                m_window.MsgBox(FormatMsg(Res(77), {stored, standard}), MsgButtons::OK, MsgIcon::Exclamation, "");
                valid = false;
            } else if (!m_env->FileExists(standard)) {
                refuse(FormatMsg(Res(78), {standard}));
                m_window.MsgBox(FormatMsg(Res(78), {standard}), MsgButtons::OK, MsgIcon::Exclamation, "");
                valid = false;
            } else if (!IsPlainDataFile(*m_env, standard)) {
                // Emptied or written through, a link would change a file
                // elsewhere; an empty file or folder holds no database.
                WriteLog("Reorganize: '" + standard + "' is a link, no regular file or empty; it is not changed");
                m_window.MsgBox(FormatMsg(GetResString(289, "De subdatabase '%s' is een koppeling, geen gewoon bestand "
                                                            "of leeg, en wordt niet gewijzigd. Het reorganiseren wordt "
                                                            "afgebroken."),
                                          {standard}),
                                MsgButtons::OK, MsgIcon::Exclamation, "");
                valid = false;
            } else {
                m_env->SetReadOnly(standard, false);
                if (m_env->IsReadOnly(standard)) {
                    refuse(FormatMsg(Res(74), {standard}));
                    m_window.MsgBox(FormatMsg(Res(74), {standard}), MsgButtons::OK, MsgIcon::Exclamation, "");
                    valid = false;
                } else {
                    list.push_back({id, standard});
                }
            }
        }
    }
    m_window.DoEvents();
    if (valid && !MayChangeMain("The archive is not reorganized")) {
        refuse("the main database may not be changed now (see the log)");
        valid = false;
    }

    // The run goes on without a compaction that failed, but it does not end as done.
    auto notCompacted = [&](const std::string& path) {
        WriteLog("Reorganize: '" + path + "' was not compacted (see above); the run goes on");
        if (m_sReorganizeStop.empty()) m_sReorganizeStop = "compacting " + path + " (see the log)";
        if (m_reorganizeOutcome.trouble.trouble == Trouble::None) {
            m_reorganizeOutcome.trouble = m_compactTrouble;
            if (m_reorganizeOutcome.trouble.trouble == Trouble::None) m_reorganizeOutcome.trouble.trouble = Trouble::Other;
            if (m_reorganizeOutcome.trouble.reason.empty()) m_reorganizeOutcome.trouble.reason = m_sReorganizeStop;
        }
    };
    auto compact = [&](std::size_t index, const std::string& path, const CompactOptions& options = {}) {
        caption(FormatMsg(Res(71), {std::to_string(index + 1)}));
        m_window.ReorganizeSetCancelEnabled(false);
        progress.BeginStep(compactedFormat);
        const bool compacted = CompactSingle(path, pwd, options);
        progress.EndStep();
        m_window.ReorganizeSetCancelEnabled(true);
        // A compaction that leaves rows out falls back on deleting them; any
        // other that fails (a full disk, say) is reported when the run ends.
        if (!compacted && options.leaveOutRowsOf.empty()) notCompacted(path);
        return compacted;
    };

    // What is to move, as the plan reckons it: the totals of the bar.
    // A report-only run compacts nothing, so the space after is the plan's.
    std::optional<std::int64_t> plannedChange;
    if (valid && list.size() >= 2) {
        ReorganizePlan plan;
        if (PlanReorganize(plan) && plan.refusal.empty()) {
            progress.SetTotals(plan.documentsMoved, plan.bytesMoved);
            std::int64_t change = 0;
            for (const ReorganizePlan::FileAfter& f : plan.files) change += f.after - f.before;
            plannedChange = change;
        }
    } else if (valid) {
        progress.SetTotals(0, 0);
    }

    if (valid && list.size() == 1) {
        compact(0, list[0].second);
    } else if (valid && list.size() >= 2) {
        std::size_t source = list.size() - 1, destination = 0;
        compact(destination, list[destination].second);
        ConnectionPtr src = OpenConnection(ConnectString(list[source].second, pwd));
        ConnectionPtr dst = OpenConnection(ConnectString(list[destination].second, pwd));
        if (!Connected(src)) {
            refuse(FormatMsg(Res(79), {list[source].second}));
            m_window.MsgBox(FormatMsg(Res(79), {list[source].second}), MsgButtons::OK, MsgIcon::Exclamation, Res(92));
            valid = false;
        } else {
            caption(Res(93));
            valid = MoveLoop(list, source, destination, src, dst, compact, progress);
        }
        if (valid && m_window.ReorganizeVisible() && destination == source) {
            Disconnect(src);
            Disconnect(dst);
            compact(destination, list[destination].second);
        }
        Disconnect(src);
        Disconnect(dst);
    }

    // -- Final phase.
    if (valid && m_window.ReorganizeVisible()) {
        m_window.ReorganizeSetCancelEnabled(false);
        Disconnect(m_AdoCnPdb);
        UnlinkUnused(false);
        caption(Res(72));
        progress.BeginStep(compactedFormat);
        if (!CompactSingle(mainPath, pwd)) notCompacted(mainPath);
        if (!Connected(m_AdoCnMain)) SetDatabase(OpenConnection(ConnectString(mainPath, pwd)));
        const std::string omd = OmdName(mainPath);
        if (m_env->FileExists(omd)) {
            WriteLog("Compacting OMD database...");
            progress.BeginStep(compactedFormat);
            if (!CompactSingle(omd, "")) notCompacted(omd);
        } else {
            WriteLog("Skipping compact of OMD database: file not found");
        }
        m_window.ReorganizeSetCancelEnabled(true);
    }

    ManagePdbList(ListId::Picbases);
    m_compactCopying = nullptr;
    m_heldRows = nullptr;

    // -- How it ended: the list replaced only by a run that did its work.
    ReorganizeOutcome& outcome = m_reorganizeOutcome;
    outcome.cancelled = !m_window.ReorganizeVisible();
    outcome.stop = m_sReorganizeStop;
    outcome.documentsMoved = progress.Items();
    outcome.bytesMoved = progress.Bytes();
    outcome.bytesBefore = bytesBefore;
    outcome.bytesAfter = DryRun() && plannedChange ? bytesBefore + *plannedChange : ArchiveBytesInUse();
    for (const auto& [name, id] : SetAsideFiles(*m_env, folder)) {
        const auto was = asideBefore.find(name);
        if (was != asideBefore.end() && was->second == id) continue;
        ++outcome.filesSetAside;
        outcome.bytesSetAside += m_env->FileLength(folder + PathSeparator() + name);
    }
    if (outcome.trouble.trouble == Trouble::DiskFull) {
        // A compaction said how much it lacked; otherwise what the start asks.
        std::string root = DriveRoot(*m_env, mainPath);
        if (outcome.trouble.volume.empty()) outcome.trouble.volume = root.empty() ? folder : root;
        const std::int64_t free = FolderFreeSpace(*m_env, folder);
        if (outcome.trouble.needed <= 0 && free >= 0)
            outcome.trouble.needed = std::max<std::int64_t>(kReorganizeFreeSpace - free, 0);
    }
    const bool done = valid && !outcome.cancelled && outcome.stop.empty();
    if (done) {
        progress.Finish();
        m_window.ListClear(ListId::Documents);
    }
    for (const ListRow& row : heldRows) m_window.ListAdd(ListId::Documents, row);

    m_bShowErrors = showErrors;
    m_window.ReorganizeHide();
    m_window.SetEnabled(true);
    return result;
}

}  // namespace qx
