#include "database/access/OpenArchive.h"
#include "database/maintenance/LeftoverJournals.h"

#include "database/ArchiveFiles.h"
#include "database/access/EngineErrorText.h"
#include "database/access/FileNames.h"
#include "database/access/SubDatabasePlace.h"
#include "support/Env.h"
#include "database/access/Schema.h"
#include "support/FileOperations.h"
#include "support/engine/Connection.h"

#include <QString>

#include <algorithm>

#include <cerrno>
#include <cstring>

#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/engine/ConnectString.h"
#include "support/engine/Dao.h"

namespace qx {

namespace {

// The first table or column that the generation's main database must have
// and this one lacks ("FOLDERS.TEMPLATE1"); "" when nothing is missing.
// Only the two tables every check and the list management read are asked.
// FOLDERS.TRASHMARK is not among them: the checks read a missing one as "not
// in the trash", and the thorough check adds it.
std::string MissingSchemaPart(engine::Connection& cn, int generation, std::string& error) {
    for (const engine::TableDef& t : {FoldersTable(false), DatabasesTable()}) {
        sql::Statement st(cn.database(), "PRAGMA table_info(" + sql::QuoteIdentifier(t.name) + ")");
        std::vector<std::string> have;
        sql::Step step;
        while ((step = st.step()) == sql::Step::Row) have.push_back(QString::fromStdString(st.getText(1)).toUpper().toStdString());
        if (step == sql::Step::Failed) {
            error = st.error().message;
            return t.name;
        }
        if (have.empty()) return t.name;
        for (const engine::FieldDef& f : t.fields)
            if (std::find(have.begin(), have.end(), QString::fromStdString(f.name).toUpper().toStdString()) ==
                have.end())
                return t.name + "." + f.name;
    }
    return {};
}

int ProbeGeneration(Env& env, const std::string& sDatabaseName, std::string& sPassword, ProbeProblem& problem) {
    problem = ProbeProblem::None;
    // A file another program holds locked fails every password the same
    // way: it is asked once (one wait for the lock), not once per password.
    auto opens = [&](const std::string& password, engine::DaoDatabase& dao) {
        if (problem != ProbeProblem::None) return false;
        if (dao.open(env, sDatabaseName, ";PWD=" + engine::ConnectString::Value(password))) return true;
        const int code = dao.error().code & 0xff;
        if (code == sql::kBusy || code == sql::kLocked) problem = ProbeProblem::InUse;
        else if (code == 10 /* I/O error */) problem = ProbeProblem::Unreadable;
        return false;
    };
    const std::string current = PasswordForGeneration(8);
    const std::string sixth = PasswordForGeneration(6);
    if (engine::DaoDatabase dao; opens(current, dao)) {
        sPassword = current;
        return 8;
    }
    if (engine::DaoDatabase dao; opens(sixth, dao)) {
        sPassword = sixth;
        return dao.testQuery("SELECT * FROM trash WHERE id IS NULL") ? 7 : 6;
    }
    if (engine::DaoDatabase dao; opens(sixth, dao)) {
        sPassword = sixth;
        return 6;
    }
    for (int generation : {5, 4}) {
        const std::string password = PasswordForGeneration(generation);
        if (engine::DaoDatabase dao; opens(password, dao)) {
            sPassword = password;
            return generation;
        }
    }
    if (problem == ProbeProblem::None) {
        // A file that is not there is not one the user may not read.
        const int error = env.AccessError(sDatabaseName, false);
        if (error == ENOENT || error == ENOTDIR) problem = ProbeProblem::Missing;
        else if (error != 0) problem = ProbeProblem::NoPermission;
    }
    return 0;
}

// 0 when the folder of the main database can be listed, as the sub-database
// list handling must; else the errno of the failure.
int ListFolderError(Env& env, const std::string& sDatabaseName) {
    if (const int injected = env.Step("open.list-folder")) return injected;
    const std::string folder = GetFolderPart(sDatabaseName);
    std::error_code ec;
    env.ListFolder(folder.empty() ? "." : folder, ec);
    return ec.value();
}

}  // namespace

WriteBlock ArchiveWriteBlock(Env& env, const std::string& sDatabase) {
    std::string folder = GetFolderPart(sDatabase);
    if (folder.empty()) folder = ".";
    // The folder first: the engine's journal and the lock file are made there.
    if (const int error = env.AccessError(folder, true)) return {folder, error};
    const int error = env.AccessError(sDatabase, true);
    if (error == 0) return {};
    // A read-only attribute of our own file is cleared by the open.
    if (error == EACCES && env.OwnedByThisUser(sDatabase)) return {};
    if (error == ENOENT) return {};  // told as missing by the open itself
    return {sDatabase, error};
}

int GetDatabaseVersion(Env& env, const std::string& sDatabaseName, std::string& sPassword, bool* pbWasReadOnly,
                       ProbeProblem* pProblem) {
    const bool wasReadOnly = env.IsReadOnly(sDatabaseName);
    if (pbWasReadOnly) *pbWasReadOnly = wasReadOnly;
    env.SetReadOnly(sDatabaseName, false);
    ProbeProblem problem = ProbeProblem::None;
    const int generation = ProbeGeneration(env, sDatabaseName, sPassword, problem);
    if (pProblem) *pProblem = problem;
    if (generation == 0 && wasReadOnly) env.SetReadOnly(sDatabaseName, true);
    return generation;
}

OpenOutcome OpenDatabaseFile(CDatabase& database, const std::string& sDatabase) {
    MainWindow& window = database.Window();
    MainWindowState& state = window.State();
    OpenOutcome outcome = OpenOutcome::Opened;
    // An archive that cannot be written is told so before anything is
    // tried on it; a report-only run needs no write access at all.
    if (!database.DryRun()) {
        if (const WriteBlock block = ArchiveWriteBlock(database.env(), sDatabase); block.error != 0) {
            WriteLog("Database '" + sDatabase + "' cannot be changed: '" + block.path + "': " +
                     ErrorText(block.error) + "; it is not opened (a report-only run can check it)");
            const std::string why = block.error == EROFS
                                        ? GetResString(272, "het bestandssysteem is alleen-lezen")
                                        : GetResString(271, "u hebt geen schrijfrechten");
            window.MsgBox(FormatMsg(GetResString(270, "De database '%s' kan niet worden gewijzigd: %s ('%s').%n%n"
                                                      "Kies Database > Alleen rapporteren (quillex-cli: --dry-run) "
                                                      "om haar te openen en te controleren zonder iets te "
                                                      "wijzigen."),
                                    {sDatabase, why, block.path}),
                          MsgButtons::OK, MsgIcon::Exclamation, GetResString(273, "Database alleen-lezen..."));
            window.UpdateMenus();
            window.UpdateStatusBar();
            window.SetBusy(false);
            return OpenOutcome::NotConnected;
        }
    }
    // Even probing changes the file (its read-only attribute), so the lock
    // comes first; a second Quillex is turned away before it touches anything.
    if (!database.LockArchive(sDatabase)) {
        window.UpdateMenus();
        window.UpdateStatusBar();
        window.SetBusy(false);
        return OpenOutcome::InUse;
    }
    // Even the probe opens the main database for writing; through a link
    // or beside a linked side file it would write outside the folder.
    if (const std::string bad = NotRegularForWriting(database.env(), sDatabase); !bad.empty()) {
        database.NotRegularFileMessage(bad, sDatabase);
        database.UnlockArchive();
        window.UpdateMenus();
        window.UpdateStatusBar();
        window.SetBusy(false);
        return OpenOutcome::NotConnected;
    }
    // A compacted file swapped in place of the main database itself may
    // have been cut off midway, so that swap is finished before probing.
    if (database.env().KindOf(IntentName(sDatabase)) != EntryKind::None && !database.DryRun() &&
        Settings::Get().LogFileChosen.empty())
        Settings::Get().LogFileName = LogFileNameFor(sDatabase);
    if (!database.FinishInterruptedFileChange(sDatabase)) {
        database.UnlockArchive();
        window.UpdateMenus();
        window.UpdateStatusBar();
        window.SetBusy(false);
        return OpenOutcome::NotConnected;
    }
    std::string password;
    bool wasReadOnly = false;
    ProbeProblem problem = ProbeProblem::None;
    Settings::Get().DatabaseVersion = GetDatabaseVersion(database.env(), sDatabase, password, &wasReadOnly, &problem);
    // A refused file is left as it was found.
    const auto putBackReadOnly = [&] {
        if (wasReadOnly) database.env().SetReadOnly(sDatabase, true);
    };
    const int version = Settings::Get().DatabaseVersion;
    if (version >= 4 && version <= 6) {
        window.MsgBox(GetResString(70, "Deze database is van een verouderde versie. Update uw Vellumo versie of neem "
                                       "contact op met Tarnwick voor meer informatie."),
                      MsgButtons::OK, MsgIcon::Exclamation, GetResString(108, "Versieconflict..."));
        outcome = OpenOutcome::Outdated;
        putBackReadOnly();
    } else if (version == 0 && problem != ProbeProblem::None) {
        // Not judged at all: saying the file is corrupt would send the user
        // to a backup and throw away recent work.
        if (problem == ProbeProblem::Missing) {
            WriteLog("Could not probe " + sDatabase + ": the file does not exist");
            window.MsgBox(ProblemSentence(EngineProblem::Missing, sDatabase), MsgButtons::OK, MsgIcon::Exclamation,
                          GetResString(214, "Database niet toegankelijk..."));
            outcome = OpenOutcome::NotConnected;
        } else {
            const int text = problem == ProbeProblem::InUse ? 211 : problem == ProbeProblem::NoPermission ? 212 : 213;
            const char* fallback = problem == ProbeProblem::InUse
                                       ? "De database '%s' is in gebruik door een ander programma."
                                   : problem == ProbeProblem::NoPermission ? "U hebt geen leesrechten voor '%s'."
                                                                           : "Het bestand '%s' kon niet worden gelezen.";
            WriteLog(std::string("Could not probe ") + sDatabase + ": " +
                     (problem == ProbeProblem::InUse ? "locked by another program"
                      : problem == ProbeProblem::NoPermission ? "no permission to read it"
                                                              : "read error"));
            window.MsgBox(FormatMsg(GetResString(text, fallback), {sDatabase}), MsgButtons::OK, MsgIcon::Exclamation,
                          problem == ProbeProblem::InUse ? GetResString(201, "Database in gebruik...")
                                                         : GetResString(214, "Database niet toegankelijk..."));
            outcome = problem == ProbeProblem::InUse ? OpenOutcome::InUse : OpenOutcome::NotConnected;
        }
        putBackReadOnly();
    } else if (version != 7 && version != 8) {
        window.MsgBox(GetResString(109, "Deze database is van een ongeldig formaat of is in zijn geheel corrupt. Herstel "
                                        "deze database met een back-up of neem contact op met Tarnwick voor meer "
                                        "informatie."),
                      MsgButtons::OK, MsgIcon::Exclamation, GetResString(110, "Ongeldig formaat..."));
        outcome = OpenOutcome::UnknownFormat;
        putBackReadOnly();
    } else {
        database.env().SetReadOnly(sDatabase, false);
        database.m_bShowErrors = true;
        if (database.OpenDatabase(CDatabase::ConnectString(sDatabase, password), false)) {
            Settings::Get().DatabasePassword = password;
            state.m_sDatabaseName = sDatabase;
            // A report-only run leaves the archive folder as it found it.
            const std::string& chosen = Settings::Get().LogFileChosen;
            ArchiveFileKind chosenKind = ArchiveFileKind::None;
            std::string chosenRole = chosen.empty() ? std::string() : ArchiveFileRole(database, chosen, &chosenKind);
            if (chosenKind == ArchiveFileKind::Log) chosenRole.clear();  // the usual log, asked for by name
            Settings::Get().LogFileName = !chosenRole.empty() || (chosen.empty() && database.DryRun())
                                              ? std::string()
                                          : !chosen.empty() ? chosen
                                                            : LogFileNameFor(sDatabase);
            WriteLog("Connected to " + sDatabase);
            // Before an interrupted change is finished and before any sub
            // database is listed, renumbered or set aside.
            if (!database.DryRun() && chosenRole.empty()) RollBackLeftoverJournals(database.env(), sDatabase, password);
            // A table or column every check reads is missing: the archive is
            // damaged, and no check of it could come out clean.
            std::string readError;
            const std::string missing = MissingSchemaPart(*database.m_AdoCnMain, version, readError);
            if (!chosenRole.empty()) {
                // Log lines appended to a database file would damage it.
                window.MsgBox(FormatMsg(GetResString(216, "Het logbestand '%s' is een bestand van de database (%s); "
                                                          "er wordt niets in geschreven en de database wordt niet "
                                                          "geopend."),
                                        {chosen, chosenRole}),
                              MsgButtons::OK, MsgIcon::Exclamation, GetResString(214, "Database niet toegankelijk..."));
                state.m_sDatabaseName.clear();
                outcome = OpenOutcome::NotConnected;
            } else if (!missing.empty()) {
                WriteLog("The main database lacks " + missing + (readError.empty() ? "" : " (" + readError + ")") +
                         "; it is not opened");
                window.MsgBox(FormatMsg(GetResString(215, "Resources not found"), {sDatabase, missing}),
                              MsgButtons::OK, MsgIcon::Exclamation, GetResString(214, "Database niet toegankelijk..."));
                state.m_sDatabaseName.clear();
                outcome = OpenOutcome::NotConnected;
            } else if (!database.FinishInterruptedChange()) {
                // A change an earlier run left half done comes first: until it
                // is finished or undone, the tables and the files disagree.
                state.m_sDatabaseName.clear();
                WriteLog("Could not finish the interrupted change of " + sDatabase);
                outcome = OpenOutcome::NotConnected;
            }
        } else {
            state.m_sDatabaseName.clear();
            // Connected, yet refused: the write probe found the file, its
            // folder or the medium read-only. Said here, or the open would
            // end without a word.
            if (CDatabase::Connected(database.m_AdoCnMain) && database.env().FileExists(sDatabase)) {
                window.MsgBox(FormatMsg(GetResString(270, "De database '%s' kan niet worden gewijzigd: %s ('%s').%n%n"
                                                          "Kies Database > Alleen rapporteren (quillex-cli: --dry-run) "
                                                          "om haar te openen en te controleren zonder iets te "
                                                          "wijzigen."),
                                        {sDatabase,
                                         GetResString(341, "het bestand, de map of de schijf kan niet worden beschreven"),
                                         sDatabase}),
                              MsgButtons::OK, MsgIcon::Exclamation, GetResString(273, "Database alleen-lezen..."));
                CDatabase::Disconnect(database.m_AdoCnMain);
            }
            WriteLog("Could not connect to " + sDatabase);
            outcome = OpenOutcome::NotConnected;
            putBackReadOnly();
        }
        state.m_nDamaged = -1;
        state.m_nFixed = -1;
        state.m_bAnalysed = false;
        state.m_bCompressed = false;
        state.m_bMissingPdbs = true;
        // The mode is part of the title, so that a window that changes
        // nothing says so wherever it is seen.
        const std::string title = GetResString(1, "Resources not found") +
                                  (database.DryRun() ? " (" + GetResString(219, "Alleen rapporteren") + ")" : "");
        window.SetTitle(state.m_sDatabaseName.empty() ? title : title + " - [" + state.m_sDatabaseName + "]");
        if (state.m_sDatabaseName.empty()) {
            // not opened: nothing to list
        } else if (const int error = ListFolderError(database.env(), sDatabase); error != 0) {
            // Without the folder's listing no sub database can be judged;
            // going on would report every one of them missing.
            WriteLog("Critical error listing the sub databases of " + sDatabase + ": " + std::strerror(error) +
                     " (75)");
            window.MsgBox(FormatMsg(GetResString(140, "Er is een kritieke fout opgetreden tijdens het openen van de "
                                                      "database.%n%nZorg ervoor dat u voldoende toegangsrechten hebt "
                                                      "in de map waar de database staat en dat alle Vellumo "
                                                      "programma's zijn gesloten!")),
                          MsgButtons::OK, MsgIcon::Critical, title);
            state.m_sDatabaseName.clear();
            Settings::Get().LogFileName.clear();
            window.SetTitle(title);
            outcome = OpenOutcome::AccessError;
        } else {
            database.ManagePdbList(ListId::Picbases);
            database.UnlinkUnused(false);
            // Renames that failed after the tables were committed are tried
            // once more; an archive whose tables and files disagree is not used.
            if (database.ChangePending() && !database.FinishInterruptedChange()) {
                state.m_sDatabaseName.clear();
                window.SetTitle(title);
                outcome = OpenOutcome::NotConnected;
            } else {
                state.m_bMissingPdbs = !database.ManagePdbList(ListId::Picbases);
            }
        }
    }
    // An archive that is not open is not held either.
    if (outcome != OpenOutcome::Opened) database.UnlockArchive();
    window.UpdateMenus();
    window.UpdateStatusBar();
    window.SetBusy(false);
    return outcome;
}

}  // namespace qx
