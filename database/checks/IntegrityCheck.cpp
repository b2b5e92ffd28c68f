// CDatabase: the integrity pass of the document check. A check says "no
// errors" only about what it has read, so the normal check reads every page
// of the main and OCR databases and the thorough check runs the engine's
// full check of every file of the archive.
#include "database/CDatabase.h"
#include "database/ProgressWindow.h"
#include "database/access/FileNames.h"
#include "database/checks/Integrity.h"
#include "database/checks/ResultCodes.h"
#include "database/maintenance/Salvage.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/HumanFormat.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"

#include <algorithm>
#include <set>

namespace qx {

namespace {

std::string EnglishWhat(const integrity::Damage& d) {
    if (!d.index.empty()) return "index " + d.index + " of table " + d.table;
    if (!d.table.empty() && !d.unusedPages) return "table " + d.table;
    return "the file's structure";
}

std::string DutchWhat(const integrity::Damage& d) {
    if (!d.index.empty()) return FormatMsg(GetResString(252, "index %s van tabel %s"), {d.index, d.table});
    if (!d.table.empty() && !d.unusedPages) return FormatMsg(GetResString(253, "tabel %s"), {d.table});
    return GetResString(254, "de opbouw van het bestand");
}

}  // namespace

bool CDatabase::CheckFileIntegrity(bool thorough, ProgressWindow& progress) {
    if (!Connected(m_AdoCnMain)) return true;
    struct File {
        std::string path, password;
        bool ownIndexes;  // a file of this archive whose indexes may be rebuilt
        bool sub;         // a sub database: in use, its documents are not read either
    };
    const std::string mainPath = MainDatabaseName();
    const std::string password = Settings::Get().DatabasePassword;
    std::vector<File> files{{mainPath, password, true, false}};
    if (const std::string omd = OmdName(mainPath); m_env->FileExists(omd)) files.push_back({omd, "", true, false});
    if (thorough)
        for (const std::string& path : SubDatabasePathsToRead()) files.push_back({path, password, false, true});

    // A pass over every file of a large archive takes seconds: it shows
    // which file it reads, and a Cancel takes effect before the next one.
    progress.m_sLblProgress1 = GetResString(290, "Databasebestand: %s");
    progress.m_sLblProgress2 = GetResString(291, "Totale voortgang: (bestand %s/%s)");
    progress.m_sPhase = GetResString(390, "bestanden");
    const long total = static_cast<long>(files.size());
    progress.SetInitial(total, 100, false, progress.Now());
    progress.Show();

    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
    // Files whose tables do not all read: the thorough check offers their
    // salvage once every file has been read, so that one question names them all.
    std::vector<std::pair<std::string, integrity::Verdict>> unreadable;
    const integrity::Depth depth = thorough ? integrity::Depth::Full : integrity::Depth::Pages;
    long index = 0;
    for (const File& file : files) {
        ++index;
        progress.SetProgress(static_cast<int>(100 * (index - 1) / std::max(total, 1L)), index, file.path);
        if (!progress.Visible()) return false;
        // Two rows naming one file: it is read once.
        if (const auto id = m_env->IdentityOf(file.path); id && !seen.insert({id->device, id->inode}).second) continue;
        const std::string keyBytes = engine::PasswordBytes(file.password);
        progress.SetTimedUpdate(true);
        const integrity::Verdict v =
            integrity::VerifyFile(*m_env, file.path, keyBytes, depth, thorough ? integrity::CacheFor(*m_env, file.path) : 0);
        progress.SetTimedUpdate(false);
        const std::string head = "Integrity check: '" + file.path + "'";
        switch (v.kind) {
        case integrity::Verdict::Kind::Clean: WriteLog(head + " reads completely"); continue;
        case integrity::Verdict::Kind::InUse:
            // Locked is no damage, but the file was not read: the run ends
            // as in use, never as "no errors". The engine has waited its
            // busy time once; the walk does not wait for it again.
            WriteLog(head + " is in use by another program and was not checked (" + v.error + ")");
            if (file.sub) {
                ReportSubDatabaseInUse(file.path, "pages and documents");
                continue;
            }
            m_findings.noteInUse(file.path);
            m_window.MsgBox(FormatMsg(GetResString(262, "De database '%s' is in gebruik door een ander programma en "
                                                        "is daarom niet gecontroleerd. Sluit alle Vellumo "
                                                        "programma's en voer de controle opnieuw uit. De database "
                                                        "is niet beschadigd."),
                                      {file.path}),
                            MsgButtons::OK, MsgIcon::Exclamation, GetResString(201, "Database in gebruik..."));
            // Nothing of the documents can be read while the main database is held.
            if (file.path == mainPath) {
                WriteLog("The check stops: the main database is in use by another program");
                return false;
            }
            continue;
        case integrity::Verdict::Kind::Unreadable:
            WriteLog(head + " could not be read (" + v.error + ")");
            ReportResult(0, ResultDatabaseError, "", file.path + ": " + v.error, "");
            continue;
        case integrity::Verdict::Kind::Damaged: break;
        }
        for (const integrity::Damage& d : v.damage) WriteLog(head + ": " + EnglishWhat(d) + " is damaged: " + d.detail);
        if (thorough && !v.Repairable()) {
            unreadable.emplace_back(file.path, v);
            continue;
        }
        const bool rebuilt = file.ownIndexes && v.Repairable() && RebuildDamagedIndexes(file.path, file.password, v);
        for (const integrity::Damage& d : v.damage)
            ReportResult(0, rebuilt ? ResultIndexRebuilt : ResultFileDamaged, file.path, DutchWhat(d), "");
    }
    progress.SetProgress(100, total, files.empty() ? std::string() : files.back().path);
    if (!unreadable.empty()) {
        std::vector<std::string> paths;
        for (const auto& [path, v] : unreadable) paths.push_back(path);
        SalvageReport report;
        OfferSalvage(paths, report);
        // The file's finding carries the salvage's outcome as its repair
        // state; its documents are judged by the walk that follows, which
        // reads the salvaged copy: a lost document lacks its data there and
        // is listed as damaged by name, one that came back is no finding.
        // Counting them here as well would count each document twice.
        // Report only, a file a salvage would replace is reported as a real
        // run that agreed would report it, marked as a repair not made.
        for (const auto& [path, v] : unreadable) {
            bool salvaged = false;
            for (const SalvageFileReport& f : report.files)
                if (f.file == path || m_env->SameFile(f.file, path))
                    salvaged = f.outcome == SalvageFileReport::Outcome::Salvaged ||
                               f.outcome == SalvageFileReport::Outcome::Recreated ||
                               f.outcome == SalvageFileReport::Outcome::WouldSalvage ||
                               f.outcome == SalvageFileReport::Outcome::WouldRecreate;
            for (const integrity::Damage& d : v.damage)
                ReportResult(0, salvaged ? ResultFileSalvaged : ResultFileDamaged, path, DutchWhat(d), "");
        }
    }
    return progress.Visible();
}

void CDatabase::OfferSalvage(const std::vector<std::string>& files, SalvageReport& report) {
    std::string list;
    for (const std::string& path : files) list += path + "\r\n";
    if (DryRun()) {
        // Report only: the salvage reads all it would read and writes nothing.
        (void)SalvageFiles(files, report);
        std::int64_t read = 0, back = 0;
        for (const SalvageFileReport& f : report.files) {
            read += f.rowsRead;
            back += f.rowsSalvaged;
        }
        WriteLog("Report only: a salvage of " + std::to_string(files.size()) + " damaged file(s) would bring back " +
                 std::to_string(back) + " of " + std::to_string(read) + " rows read; " +
                 std::to_string(report.LostDocuments()) + " document(s) would be lost");
        m_window.MsgBox(FormatMsg(GetResString(488, "Alleen rapporteren: bergen zou uit deze beschadigde bestanden "
                                                    "%s rijen terughalen; %s documenten zouden verloren zijn:%n%n%s%n"
                                                    "Er is niets gewijzigd."),
                                  {FormatCount(back), FormatCount(report.LostDocuments()), list}),
                        MsgButtons::OK, MsgIcon::Information, GetResString(481, "Redden..."));
        return;
    }
    const std::string question = FormatMsg(
        GetResString(487, "In deze bestanden zijn tabellen beschadigd, niet alleen indexen:%n%n%s%nWilt u bergen wat "
                          "ze nog bevatten? Elke rij die nog leesbaar is, wordt gekopieerd naar een nieuw bestand dat "
                          "de plaats van het beschadigde inneemt; het beschadigde bestand blijft bewaard als "
                          "'.damaged'. Documenten die niet meer leesbaar zijn, blijven als beschadigd in de lijst."),
        {list});
    if (m_window.MsgBox(question, MsgButtons::YesNo, MsgIcon::Question, GetResString(481, "Redden...")) !=
        MsgAnswer::Yes) {
        WriteLog("Salvage declined: the damaged files stay as they are");
        return;
    }
    WriteLog("Salvage of " + std::to_string(files.size()) + " damaged file(s) started from the check");
    (void)SalvageFiles(files, report);
}

bool CDatabase::RebuildDamagedIndexes(const std::string& path, const std::string& password,
                                      const integrity::Verdict& verdict) {
    const std::string head = "Integrity check: '" + path + "'";
    const std::string keyBytes = engine::PasswordBytes(password);
    // The proof that only indexes are damaged: every table reads to its end.
    {
        sql::Error err;
        sql::Database db = sql::Database::open(*m_env, path, keyBytes, sql::OpenMode::ReadOnly, err);
        if (!db.isOpen())
            return WriteLog(head + ": not repaired, the file could not be opened again (" + err.message + ")"), false;
        std::vector<std::string> tables;
        sql::Statement st(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND rootpage > 0");
        sql::Step s = sql::Step::Failed;
        while (st.ok() && (s = st.step()) == sql::Step::Row) tables.push_back(st.getText(0));
        if (!st.ok() || s == sql::Step::Failed)
            return WriteLog(head + ": not repaired, its schema does not read (" + st.error().message + ")"), false;
        for (const std::string& table : tables)
            if (!integrity::TableReadsCompletely(db, table, err))
                return WriteLog(head + ": not repaired, table " + table + " does not read completely (" + err.message +
                                ")"),
                       false;
    }
    std::vector<std::string> indexes;
    for (const integrity::Damage& d : verdict.damage)
        if (!d.index.empty()) indexes.push_back(d.index);
    // A report-only run rebuilds them too, in its view in memory, so that
    // the walk after it reads what it would read in a real run.
    if (!indexes.empty()) {
        sql::Error err;
        sql::Database db = sql::Database::open(*m_env, path, keyBytes, sql::OpenMode::ReadWrite, err);
        if (!db.isOpen() || db.readOnly())
            return WriteLog(head + ": not repaired, the file cannot be written (" + err.message + ")"), false;
        if (!integrity::RebuildIndexes(db, indexes, err))
            return WriteLog(head + ": the indexes could not be rebuilt (" + err.message + "); nothing was changed"),
                   false;
        WriteLog(head + ": every table reads; the damaged indexes were rebuilt from them");
    }
    // The old trees are left unused in the file; a compaction copies the
    // file without them. Should it fail, the next check compacts again.
    if (!CompactSingle(path, password))
        WriteLog(head + ": the pages of the old indexes stay unused until the file is compacted");
    const integrity::Verdict after = integrity::VerifyFile(*m_env, path, keyBytes, integrity::Depth::Pages);
    if (after.kind == integrity::Verdict::Kind::Damaged && !after.Repairable()) {
        WriteLog(head + ": still damaged after the rebuild");
        return false;
    }
    return true;
}

}  // namespace qx
