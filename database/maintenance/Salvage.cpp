// CDatabase: salvage of the archive as a whole, and of its OCR database.
// Each file is judged by the engine reading every page of it; only a file
// whose tables do not all read is salvaged (damage confined to an index is
// the check's to rebuild), and a file another program holds is not judged.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "database/checks/Integrity.h"
#include "database/maintenance/Salvage.h"
#include "support/HumanFormat.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"

#include <set>

namespace qx {

const char* SalvageKindWord(SalvageFileReport::Kind kind) {
    switch (kind) {
    case SalvageFileReport::Kind::Sub: return "sub";
    case SalvageFileReport::Kind::Ocr: return "ocr";
    case SalvageFileReport::Kind::Main: return "main";
    }
    return "?";
}

const char* SalvageOutcomeWord(SalvageFileReport::Outcome outcome) {
    switch (outcome) {
    case SalvageFileReport::Outcome::Clean: return "clean";
    case SalvageFileReport::Outcome::Salvaged: return "salvaged";
    case SalvageFileReport::Outcome::WouldSalvage: return "would_salvage";
    case SalvageFileReport::Outcome::Recreated: return "recreated";
    case SalvageFileReport::Outcome::WouldRecreate: return "would_recreate";
    case SalvageFileReport::Outcome::InUse: return "in_use";
    case SalvageFileReport::Outcome::Failed: return "failed";
    }
    return "?";
}

std::string SalvageSummaryLine(const SalvageFileReport& f, const std::string& file) {
    using Outcome = SalvageFileReport::Outcome;
    switch (f.outcome) {
    case Outcome::Clean: return FormatMsg(GetResString(492, "%s: onbeschadigd"), {file});
    case Outcome::Failed:
    case Outcome::InUse: return FormatMsg(GetResString(493, "%s: niet geborgen (%s)"), {file, f.error});
    case Outcome::Recreated:
    case Outcome::WouldRecreate:
        return FormatMsg(GetResString(491, "%s: %s rijen gelezen, %s geborgen, %s verloren"),
                         {file, FormatCount(f.rowsRead), FormatCount(f.rowsSalvaged), FormatCount(f.rowsLost)}) +
               "\r\n" + GetResString(485, "De OCR-gegevens moeten opnieuw worden opgebouwd met het scanprogramma.");
    case Outcome::Salvaged:
    case Outcome::WouldSalvage: break;
    }
    return FormatMsg(GetResString(491, "%s: %s rijen gelezen, %s geborgen, %s verloren"),
                     {file, FormatCount(f.rowsRead), FormatCount(f.rowsSalvaged), FormatCount(f.rowsLost)});
}

bool CDatabase::SalvageOcrDatabase(SalvageFileReport& report) {
    report.kind = SalvageFileReport::Kind::Ocr;
    const std::string mainPath = MainDatabaseName();
    const std::string omd = OmdName(mainPath);
    report.file = omd;
    if (m_env->KindOf(omd) == EntryKind::None) {
        report.outcome = SalvageFileReport::Outcome::Clean;
        report.error = "missing";
        return true;
    }
    // Only whether the file opens and reads is ours to know: its rows
    // belong to the scanning product, which builds them again.
    const integrity::Verdict v = integrity::VerifyFile(*m_env, omd, "", integrity::Depth::Pages);
    if (v.kind == integrity::Verdict::Kind::Clean || (v.kind == integrity::Verdict::Kind::Damaged && v.Repairable())) {
        report.outcome = SalvageFileReport::Outcome::Clean;
        return true;
    }
    if (v.kind == integrity::Verdict::Kind::InUse) {
        report.outcome = SalvageFileReport::Outcome::InUse;
        report.error = v.error;
        return false;
    }
    if (v.kind == integrity::Verdict::Kind::Unreadable) {
        report.outcome = SalvageFileReport::Outcome::Failed;
        report.error = v.error;
        return false;
    }
    const std::string rebuild =
        GetResString(485, "De OCR-gegevens moeten opnieuw worden opgebouwd met het scanprogramma.");
    if (m_env->KindOf(omd) != EntryKind::RegularFile || !m_env->EntryLiesIn(omd, GetFolderPart(mainPath))) {
        report.outcome = SalvageFileReport::Outcome::Failed;
        report.error = "it is not a file in the archive folder";
        return false;
    }
    const std::string aside = m_env->UniqueFileName(omd + ".damaged");
    if (DryRun()) {
        report.outcome = SalvageFileReport::Outcome::WouldRecreate;
        report.setAsideAs = GetFileNamePart(aside);
        WriteLog("Salvage: " + omd + " does not read; it would be set aside and made anew, empty (report only)");
        // Report-only must tell what the real run would make the user face.
        m_window.MsgBox(FormatMsg(GetResString(576, "De OCR-database '%s' is beschadigd. Ze zou apart worden gezet "
                                                    "als '%s' en leeg opnieuw worden aangemaakt.%n%s"),
                                  {omd, report.setAsideAs, rebuild}),
                        MsgButtons::OK, MsgIcon::Exclamation, GetResString(481, "Redden..."));
        return true;
    }
    // The damaged file is kept; a crash before the new one exists leaves the
    // archive without OCR data, which an open reports and a salvage makes.
    if (const int rc = m_env->RenameNoReplace(omd, aside, "salvage.ocr_set_aside")) {
        report.outcome = SalvageFileReport::Outcome::Failed;
        report.error = "setting it aside: " + ErrorText(rc);
        WriteLog("Salvage: " + omd + " is not set aside: " + ErrorText(rc));
        return false;
    }
    report.setAsideAs = GetFileNamePart(aside);
    sql::Error err;
    if (!CreateOmdDatabase(*m_env, omd, err)) {
        report.outcome = SalvageFileReport::Outcome::Failed;
        report.error = "making it anew: " + err.message;
        WriteLog("Salvage: " + omd + " was set aside as '" + aside + "' but could not be made anew: " + err.message);
        return false;
    }
    report.outcome = SalvageFileReport::Outcome::Recreated;
    WriteLog("Salvage: " + omd + " did not read; it is set aside as '" + aside +
             "' and made anew, empty. The OCR data must be rebuilt by the scanning product");
    m_window.MsgBox(FormatMsg(GetResString(484, "De OCR-database '%s' was beschadigd. Ze is apart gezet als '%s' en "
                                                "leeg opnieuw aangemaakt.%n%s"),
                              {omd, report.setAsideAs, rebuild}),
                    MsgButtons::OK, MsgIcon::Exclamation, GetResString(481, "Redden..."));
    return true;
}

bool CDatabase::SalvageArchive(SalvageReport& report) { return SalvageFiles({}, report); }

bool CDatabase::SalvageFiles(const std::vector<std::string>& only, SalvageReport& report) {
    report.reportOnly = DryRun();
    // Files are matched by identity: a path spelled otherwise is the same file.
    auto chosen = [&](const std::string& path) {
        if (only.empty()) return true;
        for (const std::string& o : only)
            if (o == path || m_env->SameFile(o, path)) return true;
        return false;
    };
    if (!Connected(m_AdoCnMain)) return false;
    const std::string mainPath = MainDatabaseName();
    const std::string password = Settings::Get().DatabasePassword;
    const std::string keyBytes = engine::PasswordBytes(password);

    // The main database first: the sub databases' documents are told from it.
    if (chosen(mainPath)) {
        SalvageFileReport main;
        main.kind = SalvageFileReport::Kind::Main;
        main.file = mainPath;
        const integrity::Verdict v = integrity::VerifyFile(*m_env, mainPath, keyBytes, integrity::Depth::Pages);
        switch (v.kind) {
        case integrity::Verdict::Kind::Clean: main.outcome = SalvageFileReport::Outcome::Clean; break;
        case integrity::Verdict::Kind::InUse:
            main.outcome = SalvageFileReport::Outcome::InUse;
            main.error = v.error;
            break;
        case integrity::Verdict::Kind::Unreadable:
            main.outcome = SalvageFileReport::Outcome::Failed;
            main.error = v.error;
            break;
        case integrity::Verdict::Kind::Damaged:
            if (v.Repairable()) {
                // An index the thorough check rebuilds: every table reads.
                main.outcome = SalvageFileReport::Outcome::Clean;
                main.error = "an index is damaged; the thorough check rebuilds it";
            } else {
                (void)SalvageMainDatabase(main);
            }
            break;
        }
        WriteLog("Salvage: " + mainPath + ": " + SalvageOutcomeWord(main.outcome) +
                 (main.error.empty() ? "" : " (" + main.error + ")"));
        report.files.push_back(main);
    }
    if (chosen(OmdName(mainPath))) {
        SalvageFileReport omd;
        (void)SalvageOcrDatabase(omd);
        if (omd.outcome != SalvageFileReport::Outcome::Clean || omd.error.empty()) report.files.push_back(omd);
    }

    std::vector<std::pair<long, std::string>> subs;
    {
        sql::Statement st(m_AdoCnMain->database(), "SELECT ID, DATABASE FROM DATABASES ORDER BY ID");
        sql::Step step;
        while ((step = st.step()) == sql::Step::Row)
            subs.emplace_back(static_cast<long>(st.getInt64(0)), st.isNull(1) ? std::string() : st.getText(1));
        if (step == sql::Step::Failed) {
            SalvageFileReport list;
            list.kind = SalvageFileReport::Kind::Main;
            list.file = mainPath;
            list.outcome = SalvageFileReport::Outcome::Failed;
            list.error = "the list of sub databases does not read (" + st.error().message + ")";
            report.files.push_back(list);
        }
    }
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
    for (const auto& [id, path] : subs) {
        if (m_env->KindOf(path) == EntryKind::None) continue;  // missing: the open has said so
        if (!chosen(path)) continue;
        if (const auto fid = m_env->IdentityOf(path); fid && !seen.insert({fid->device, fid->inode}).second) continue;
        SalvageFileReport sub;
        sub.kind = SalvageFileReport::Kind::Sub;
        sub.file = path;
        sub.databaseId = id;
        const integrity::Verdict v = integrity::VerifyFile(*m_env, path, keyBytes, integrity::Depth::Pages);
        switch (v.kind) {
        case integrity::Verdict::Kind::Clean: sub.outcome = SalvageFileReport::Outcome::Clean; break;
        case integrity::Verdict::Kind::InUse:
            sub.outcome = SalvageFileReport::Outcome::InUse;
            sub.error = v.error;
            break;
        case integrity::Verdict::Kind::Unreadable:
            sub.outcome = SalvageFileReport::Outcome::Failed;
            sub.error = v.error;
            break;
        case integrity::Verdict::Kind::Damaged:
            if (v.Repairable()) sub.outcome = SalvageFileReport::Outcome::Clean;
            else (void)SalvageSubDatabase(id, path, sub);
            break;
        }
        report.files.push_back(sub);
    }
    return !report.Failed();
}

}  // namespace qx
