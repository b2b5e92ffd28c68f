// CDatabase: what the thorough check does with a document's stored bytes.
// A graphical document must load as an image, every page of it; an imported
// file must be stored byte for byte, and is repaired when it is not, after
// its bytes as they were are safe in a backup file.
#include "database/CDatabase.h"
#include "database/checks/Backup.h"
#include "database/checks/CheckSupport.h"
#include "database/checks/ImagesAhead.h"
#include "database/checks/ResultCodes.h"
#include "database/checks/StorageFormat.h"
#include "support/Log.h"
#include "support/Settings.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace qx {

namespace {

// The loader's status for "nothing to load", which is not a damaged document.
constexpr int kLoaderNothingToLoad = 20007;

std::string Hex(long number) {
    char text[16];
    std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(static_cast<std::uint32_t>(number)));
    return text;
}

}  // namespace

short CDatabase::CheckDocumentContent(const DocumentRef& doc, const std::string& name, const std::string& picbase,
                                      const std::string& virtualPath, ErrorTrap& trap) {
    const bool graphical = IsGraphicalTemplate(doc.template1);
    // The workers are given the next images while the walk is at an
    // imported file too: a run of them would leave the workers idle.
    if (m_imagesAhead) m_imagesAhead->fill(*m_AdoCnPdb, doc.databaseId);
    // Only what is examined is read: an imported file in the trash, or in
    // an archive without storage-format checks, is left unread.
    if (!graphical && (Settings::Get().DatabaseVersion < 8 || doc.trashed)) return 0;
    if (graphical && m_imagesAhead) {
        const auto goOn = [this] {
            m_window.DoEvents();
            return m_window.ProgressVisible();
        };
        if (const std::optional<ImageLoad> load = m_imagesAhead->take(doc.id, goOn))
            return LoadResult(doc.id, load->status, load->why);
    }
    sql::Statement* st = m_AdoCnPdb->prepared("SELECT PICTURE FROM PICTURES WHERE ID = ?");
    if (!st) {
        trap.logReported(m_AdoCnPdb->database().lastError());
        return ResultPdbDamaged;
    }
    st->bind(1, static_cast<std::int64_t>(doc.id));
    const sql::Step step = st->step();
    if (step != sql::Step::Row) {
        // The row was there when the sizes were read: a failure now is a
        // damaged page, never a missing row.
        const sql::Error error = step == sql::Step::Failed ? st->error() : sql::Error{sql::kNoCurrentRow, "The data row cannot be read again"};
        st->reset();
        trap.logReported(error);
        return ResultPdbDamaged;
    }
    const Bytes data = st->getBlob(0);
    st->reset();
    if (graphical) return LoadDocument(doc.id, data);
    CheckStorageFormat(doc, data, name, picbase, virtualPath);
    return 0;
}

short CDatabase::LoadDocument(long id, std::span<const std::uint8_t> data) {
    const int status = m_window.LoadImage(std::vector<std::uint8_t>(data.begin(), data.end()));
    // The window hands back the status only; the loader ran on this thread
    // and kept its account of a failure.
    return LoadResult(id, status, status == kImageNotLoaded ? LastImageLoadProblem() : std::string());
}

short CDatabase::LoadResult(long id, int status, const std::string& why) {
    MainWindowState& state = m_window.State();
    state.m_nOleDbErr = 0;
    // A decode stopped by Cancel has no verdict; the walk ends with it.
    if (status == kImageCancelled) return 0;
    if (status != 0 && status != kLoaderNothingToLoad) {
        std::string said = why;
        std::replace_if(said.begin(), said.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
        WriteLog("Error loading from database (" + std::to_string(status) + ")" + (said.empty() ? "" : ": " + said));
        state.m_nOleDbErr = ResultCorruptDocument;
    }
    if (state.m_nOleDbErr == 0) return 0;
    WriteLog(std::to_string(id) + " - Unable to load document");
    return ResultCorruptDocument;
}

void CDatabase::CheckStorageFormat(const DocumentRef& doc, std::span<const std::uint8_t> data, const std::string& name,
                                   const std::string& picbase, const std::string& virtualPath) {
    const short type = DetectConversionError(data);
    if (type <= 0) return;
    const std::string id = std::to_string(doc.id);
    WriteLog(id + " - Invalid storage type detected!");
    bool fixedOk = false;
    Bytes fixed;
    long converted = 0;
    if (FixConversionError(type, data, fixed, converted, [this] { m_window.DoEvents(); })) {
        WriteLog(id + " - Successfully fixed double-byte file format!");
        if (m_sBackupMask.empty()) m_sBackupMask = BackupFileMask(MainDatabaseName(), QDateTime::currentDateTime());
        if (DryRun()) {
            // Reported as the repair a real run makes; nothing is written.
            WriteLog(id + " - Report only: no backup written, the stored data is left as it is");
            fixedOk = true;
        } else if (m_AdoCnPdb->isReadOnly()) {
            // A backup of data that cannot be rewritten would only be a
            // file for the user to clear away.
            WriteLog("Error [0x" + Hex(sql::kReadOnly) + "] while updating record #" + id +
                     "! The sub database '" + picbase + "' cannot be written");
        } else if (BackupOriginalField(m_sBackupMask, doc.id, data, virtualPath + name)) {
            // The backup is on the medium; only now are the bytes replaced.
            sql::Statement* up = m_AdoCnPdb->prepared("UPDATE PICTURES SET PICTURE = ?, path = '[F]' WHERE ID = ?");
            if (!up) {
                const sql::Error e = m_AdoCnPdb->database().lastError();
                WriteLog("Error [0x" + Hex(e.code) + "] while updating record #" + id + "! " + e.message);
            } else {
                up->bindBlob(1, fixed);
                up->bind(2, static_cast<std::int64_t>(doc.id));
                if (!up->run()) {
                    WriteLog("Error [0x" + Hex(up->error().code) + "] while updating record #" + id + "! " +
                             up->error().message);
                } else {
                    fixedOk = true;
                }
                up->reset();
            }
        }
    }
    if (fixedOk) return ReportResult(doc.id, ResultDoubleByteFormatFixed, picbase, name, virtualPath);
    WriteLog(id + " - Unable to fix double-byte file format!");
    ReportResult(doc.id, ResultDoubleByteFormat, picbase, name, virtualPath);
}

}  // namespace qx
