// CDatabase: bringing the DATABASES table in line with the documents and the
// files on disk, listing the sub databases, and the checks that keep the
// list maintenance from touching files outside the archive.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/maintenance/References.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <QLocale>

#include <cstdio>
#include <filesystem>

namespace qx {

namespace fs = std::filesystem;

namespace {

// Whole kilobytes grouped by the thousands separator of the user's locale
// ("1.023KB" on a Dutch system, "1,023KB" on an English one). The separator
// is inserted by hand: the C locale would otherwise leave it out. A file
// under one kilobyte reads "0KB", not a bare "KB".
std::string FormatKB(std::int64_t kb) {
    const std::string digits = std::to_string(kb);
    const std::string sep = QLocale::system().groupSeparator().toStdString();
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += sep;
        out += digits[i];
    }
    return out + "KB";
}

std::string WithoutExtension(const std::string& fileName) {
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

engine::ProviderError LastError(const engine::Connection& cn) {
    return cn.errors().empty() ? engine::ProviderError{512, "Unknown error"} : cn.errors().front();
}

}  // namespace

void CDatabase::LogMaintenanceError(const std::string& sDuring, long nNumber, const std::string& sDescription) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%lX", static_cast<unsigned long>(static_cast<std::uint32_t>(nNumber)));
    WriteLog(std::string("Error [0x") + hex + "] while " + sDuring + ": " + sDescription);
}

bool CDatabase::IsArchiveFile(const std::string& sPath) const {
    const std::string mainPath = MainDatabaseName();
    if (mainPath.empty() || sPath.empty()) return false;
    std::error_code ec;
    const fs::path folder = fs::canonical(PathFromUtf8(GetFolderPart(mainPath)), ec);
    if (ec) return false;
    // The entry that a rename acts on must lie in the folder itself; its
    // parent is resolved by the system, so "link/.." goes where the system
    // would take it.
    const fs::path raw = PathFromUtf8(sPath);
    const fs::path name = raw.filename();
    if (name.empty() || name == "." || name == "..") return false;
    const fs::path parent = fs::canonical(raw.has_parent_path() ? raw.parent_path() : fs::path("."), ec);
    if (ec || parent != folder) return false;
    // And so must the file it names, when it is a link.
    const fs::path target = fs::canonical(raw, ec);
    if (ec || target.parent_path() != folder || !fs::is_regular_file(target, ec)) return false;
    for (const std::string& own : {mainPath, OmdName(mainPath), LogName(mainPath)}) {
        const fs::path p = fs::weakly_canonical(PathFromUtf8(own), ec);
        if (!ec && p == target) return false;
        if (PathFromUtf8(own).filename() == name) return false;
    }
    return true;
}

bool CDatabase::IsArchiveSubDatabase(const std::string& sPath, bool* pbReadOnly) const {
    if (pbReadOnly) *pbReadOnly = false;
    if (!IsArchiveFile(sPath)) return false;
    engine::Connection cn;
    if (!cn.open(ConnectString(sPath, Settings::Get().DatabasePassword))) return false;
    bool ok;
    {
        engine::Recordset probe;
        ok = probe.open("SELECT ID FROM PICTURES WHERE ID = NULL", cn, engine::CursorMode::Lookup);
    }
    if (ok && pbReadOnly) *pbReadOnly = cn.isReadOnly();
    cn.close();
    return ok;
}

bool CDatabase::RenameArchiveFile(const std::string& sFrom, const std::string& sTo) {
    std::error_code ec;
    const fs::path to = PathFromUtf8(sTo);
    // A plain rename would silently replace a file standing under the new name.
    const fs::file_type existing = fs::symlink_status(to, ec).type();
    if (existing != fs::file_type::not_found && existing != fs::file_type::none) {
        WriteLog("Could not rename '" + sFrom + "' to '" + sTo + "': that name is taken");
        return false;
    }
    fs::rename(PathFromUtf8(sFrom), to, ec);
    if (ec) {
        LogMaintenanceError("renaming '" + sFrom + "' to '" + sTo + "'", ec.value(), ec.message());
        return false;
    }
    return true;
}

bool CDatabase::ManagePdbList(ListId list) {
    if (!Connected(m_AdoCnMain)) return false;
    m_window.ListClear(list);
    MainWindowState& state = m_window.State();

    const std::string mainPath = MainDatabaseName();
    if (!FileExists(mainPath)) {
        state.m_nDBSizeMB = 0;
        m_window.MsgBox(GetResString(95, "Resources not found"), MsgButtons::OK, MsgIcon::Exclamation,
                        GetResString(86, "Resources not found"));
        return false;
    }
    state.m_nDBSizeMB = static_cast<long>(FileLength(mainPath) / 1024 / 1024);

    engine::Connection& cn = *m_AdoCnMain;
    auto failed = [&](const std::string& during, const sql::Error& e) {
        LogMaintenanceError(during + " (sub database list)", e.code, e.message);
        return false;
    };
    auto failedOn = [&](const std::string& during) {
        const engine::ProviderError e = LastError(cn);
        return failed(during, {static_cast<int>(e.number), e.description});
    };

    // Documents without stored data are legitimate and keep their names,
    // keywords and notes: they are counted, never deleted. A DATABASES row 0
    // can belong to no document and goes.
    {
        engine::Recordset rs;
        if (!rs.open("SELECT COUNT(ID) AS CNT FROM FOLDERS WHERE (NOT ISFOLDER) AND (DATABASEID = 0)", cn,
                     engine::CursorMode::Lookup))
            return failed("counting documents without sub database", rs.lastError());
        const long withoutData = rs.eof() ? 0 : rs.value(0).toLong();
        WriteLog("There were " + std::to_string(withoutData) + " document links found that referenced invalid sub 0");
    }
    if (!cn.execute("DELETE FROM DATABASES WHERE ID = 0")) return failedOn("removing sub database 0");

    // Every sub database that documents refer to gets a row.
    {
        std::vector<long> referenced;
        sql::Error listError;
        if (!ReferencedSubDatabases(cn, referenced, listError))
            return failed("listing referenced sub databases", listError);
        for (const long n : referenced) {
            WriteLog("Distinct database reference found (" + std::to_string(n) + ")");
            sql::Statement* find = cn.prepared("SELECT ID FROM DATABASES WHERE ID = ?");
            if (!find) return failedOn("looking up sub database " + std::to_string(n));
            find->bind(1, static_cast<std::int64_t>(n));
            const sql::Step step = find->step();
            find->reset();
            if (step == sql::Step::Failed) return failed("looking up sub database " + std::to_string(n), find->error());
            if (step == sql::Step::Row) continue;
            sql::Statement* add = cn.prepared("INSERT INTO DATABASES (ID, DATABASE) VALUES (?, ?)");
            if (!add) return failedOn("adding sub database " + std::to_string(n));
            add->bind(1, static_cast<std::int64_t>(n));
            add->bind(2, std::string_view(SubDatabaseName(mainPath, n)));
            if (!add->run()) return failed("adding sub database " + std::to_string(n), add->error());
        }
    }

    {
        engine::Recordset count;
        if (!count.open("SELECT COUNT(ID) AS CNT FROM FOLDERS", cn, engine::CursorMode::Lookup))
            return failed("counting items", count.lastError());
        state.m_nItemCount = count.eof() ? 0 : count.value("CNT").toLong();
    }

    engine::Recordset rows;
    if (!rows.open("SELECT * FROM DATABASES", cn, engine::CursorMode::Lookup))
        return failed("reading the sub databases", rows.lastError());
    bool result = !rows.eof();
    auto storePath = [&](long id, const std::string& path) {
        sql::Statement* set = cn.prepared("UPDATE DATABASES SET DATABASE = ? WHERE ID = ?");
        if (!set) return failedOn("updating sub database " + std::to_string(id));
        set->bind(1, std::string_view(path));
        set->bind(2, static_cast<std::int64_t>(id));
        return set->run() || failed("updating sub database " + std::to_string(id), set->error());
    };
    const std::string mainTitle = WithoutExtension(GetFileNamePart(mainPath));
    for (; !rows.eof(); rows.moveNext()) {
        const long id = rows.value("ID").toLong();
        const std::string p = SubDatabaseName(mainPath, id);
        std::string s = NullToStr(rows.value("DATABASE"));

        // A retired file comes back under its standard name, but only a sub
        // database of this archive: the name says nothing about the contents.
        const std::string retired = p + ".obsolete";
        if (!FileExists(p) && FileExists(retired)) {
            if (IsArchiveSubDatabase(retired))
                RenameArchiveFile(retired, p);
            else
                WriteLog("'" + retired + "' is not a sub database of this archive and stays where it is");
        }

        // A standard name that leads out of the archive (a link) is not the
        // sub database: pointing the row there would send later repairs to
        // a file elsewhere.
        if (FileExists(p) && IsArchiveFile(p)) {
            if (s != p && !storePath(id, p)) return false;
            const std::int64_t length = FileLength(p);
            m_window.ListAdd(list, ListRow{"PDB" + std::to_string(id), p, {FormatKB(length / 1024)}, 0, false});
            state.m_nDBSizeMB += static_cast<long>(length / 1024 / 1024);
            continue;
        }
        if (s.empty()) {
            if (!storePath(id, p)) return false;
            s = p;
        }
        if (FileExists(s)) {
            m_window.ListAdd(list, ListRow{"PDB" + std::to_string(id), s, {GetResString(81, "Resources not found")},
                                           0, true});
        } else {
            m_window.MsgBox(FormatMsg(GetResString(80, "Resources not found"), {mainTitle, s, p}), MsgButtons::OK,
                            MsgIcon::Exclamation, GetResString(86, "Resources not found"));
            result = false;
        }
    }
    return result;
}

}  // namespace qx
