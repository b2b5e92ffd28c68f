// CDatabase: the backup of a document's stored bytes before the thorough
// check rewrites them. A backup file is a sub database of the archive's own
// format and key, so a document can be put back with the ordinary tools.
#include "database/checks/Backup.h"

#include "database/CDatabase.h"
#include "database/access/Schema.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"

#include <algorithm>
#include <cstdio>

namespace qx {

namespace {

constexpr std::string_view kMaskTail = "##.bak";

std::string Hex(long number) {
    char text[16];
    std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(static_cast<std::uint32_t>(number)));
    return text;
}

}  // namespace

std::string BackupFileMask(std::string_view mainPath, const QDateTime& when) {
    std::string stem(mainPath);
    const std::size_t dot = stem.rfind('.');
    const std::size_t slash = stem.find_last_of("/\\");
    // Only a "." in the file name starts its extension.
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) stem.resize(dot);
    return stem + when.toString("yyyyMMddhhmm").toStdString() + std::string(kMaskTail);
}

std::string BackupFileName(std::string_view mask, int sequence) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%02d", sequence);
    std::string name(mask);
    if (name.size() >= kMaskTail.size() && name.ends_with(kMaskTail)) name.resize(name.size() - kMaskTail.size());
    return name + digits + ".bak";
}

bool CDatabase::BackupOriginalField(const std::string& sDataFileNameMask, long nId,
                                    std::span<const std::uint8_t> btData, const std::string& sFullVirtualPath) {
    WriteLog("Backing up entry #" + std::to_string(nId) + "...");
    const Settings& settings = Settings::Get();
    if (settings.DatabaseVersion < 8) {
        WriteLog("Invalid version (" + std::to_string(settings.DatabaseVersion) + ")!");
        return false;
    }
    const std::string mainPath = MainDatabaseName();
    if (!m_env->FileExists(mainPath)) {
        WriteLog("File '" + mainPath + "' does not exist!");
        return false;
    }
    // A report-only run never writes a backup (and so never converts).
    if (DryRun()) return false;
    const std::string folder = GetFolderPart(mainPath);
    auto fail = [&](long number, const std::string& description) {
        WriteLog("Error [0x" + Hex(number) + "]: Could not create backup. " + description);
        return false;
    };

    ConnectionPtr backup;
    std::string file;
    for (int s = 1; !backup; ++s) {
        file = BackupFileName(sDataFileNameMask, s);
        if (s > kLastBackupSequence) {
            WriteLog("An error occured while creating a backup file. Sequence exceeded!");
            break;
        }
        const EntryKind kind = m_env->KindOf(file);
        if (kind != EntryKind::None) {
            // Only a plain file of the archive's folder is written: a link
            // or folder under the name may lead anywhere.
            if (kind != EntryKind::RegularFile || !m_env->EntryLiesIn(file, folder)) continue;
            m_env->SetReadOnly(file, false);
            if (m_env->IsReadOnly(file)) {
                WriteLog("Warning: File '" + file +
                         "' is on a read-only medium or is already exclusively opened by another user!");
                continue;
            }
            if (m_env->FileLength(file) / 1024 >= kBackupFullKB) continue;
            backup = OpenConnection(ConnectString(file, settings.DatabasePassword));
            // Not a backup file of this archive after all: the next number.
            if (!Connected(backup)) WriteLog("Warning: File '" + file + "' is no backup file of this archive");
            continue;
        }
        sql::Error err;
        if (!CreateSubDatabaseFile(*m_env, file, settings.DatabasePassword, err)) {
            // A name that cannot be created now will not be later in this
            // search either: the next number is tried, up to the last.
            fail(err.code, err.message);
            continue;
        }
        WriteLog("Using data backup file '" + file + "'");
        backup = OpenConnection(ConnectString(file, settings.DatabasePassword));
    }
    if (!Connected(backup)) {
        WriteLog("Error: unable to assign data file for backup!");
        return false;
    }

    bool result = false;
    sql::Database& db = backup->database();
    {
        sql::Statement find(db, "SELECT PICTURE FROM PICTURES WHERE ID = ?");
        find.bind(1, static_cast<std::int64_t>(nId));
        const sql::Step found = find.ok() ? find.step() : sql::Step::Failed;
        // The same bytes already there: a run that stopped between its
        // backup and its repair left them, and they are safe.
        const bool same = found == sql::Step::Row && std::ranges::equal(find.getBlob(0), btData);
        if (found == sql::Step::Failed) {
            fail(find.error().code, find.error().message);
        } else if (same && m_env->SyncFile(file, "backup.sync-file") == 0 && m_env->SyncFolder(folder, "backup.sync-folder") == 0) {
            WriteLog("Entry #" + std::to_string(nId) + " is already backed up in '" + file + "'");
            result = true;
            m_backupFilesWritten.insert(file);
        } else if (found == sql::Step::Row) {
            WriteLog("Error: could not assign new entry! Entry #" + std::to_string(nId) + " already exists.");
        } else {
            sql::Statement add(db, "INSERT INTO PICTURES (ID, PICTURE, path) VALUES (?, ?, ?)");
            add.bind(1, static_cast<std::int64_t>(nId));
            add.bindBlob(2, btData);
            add.bind(3, std::string_view(sFullVirtualPath));
            if (!add.ok() || !add.run()) {
                fail(add.error().code, add.error().message);
            } else if (const int rc = m_env->SyncFile(file, "backup.sync-file"); rc != 0) {
                // The row is committed, but only a backup on the medium lets
                // the document be rewritten.
                fail(rc, ErrorText(rc));
            } else if (const int rc2 = m_env->SyncFolder(folder, "backup.sync-folder"); rc2 != 0) {
                fail(rc2, ErrorText(rc2));
            } else {
                result = true;
                m_backupFilesWritten.insert(file);
            }
        }
    }
    Disconnect(backup);
    return result;
}

}  // namespace qx
