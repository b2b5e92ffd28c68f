#pragma once
// All database logic of an open archive, in one class. Its member functions
// are spread over files by concern: access/ (connections, sub databases,
// documents), checks/ and maintenance/.
#include "database/MainWindow.h"
#include "database/checks/Findings.h"
#include "database/maintenance/References.h"
#include "database/maintenance/ReorganizePlan.h"
#include "database/maintenance/RunOutcome.h"
#include "support/engine/Connection.h"

#include <compare>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <unordered_map>
#include <string>
#include <vector>

namespace qx::engine {
class Recordset;
}
namespace qx::integrity {
struct Verdict;
}

namespace qx {

class ArchiveLock;
class Env;
struct IntentRecord;
struct SalvageFileReport;
struct SalvageReport;
class ErrorTrap;
class ProgressWindow;
class WorkProgress;
struct ImagesAhead;
struct CheckRun;
struct CheckProgressRecord;
using ConnectionPtr = std::unique_ptr<engine::Connection>;  // may be empty

class CDatabase {
public:
    // Every file operation goes through `env` (or a report-only view over it
    // while DryRun()), which outlives this object.
    CDatabase(MainWindow& window, Env& env);
    ~CDatabase();
    CDatabase(const CDatabase&) = delete;
    CDatabase& operator=(const CDatabase&) = delete;

    ConnectionPtr m_AdoCnMain;
    ConnectionPtr m_AdoCnPdb;
    bool m_bShowErrors = true;

    // -- connection and opening
    static std::string ConnectString(const std::string& sFileName, const std::string& sPwd);
    static std::string ConnectStringOMD(const std::string& sFileName);
    bool OpenDatabase(std::string sConnectString, bool bAllowReadOnly = false);
    std::string MainDatabaseName() const;
    void SetDatabase(ConnectionPtr connection);
    void SetPicbase(ConnectionPtr connection);
    static bool Connected(const ConnectionPtr& connection);
    static void Disconnect(ConnectionPtr& connection);

    // -- sub databases
    // Points m_AdoCnPdb at the sub database of document nId: 0 when it is open
    // and answered, else ResultPdbDamaged (1), ResultPdbNotFound (2),
    // ResultPdbLinkError (32) or ResultPdbOpenError (512).
    short OpenPicbase(long& nId, std::string* sPicbaseName = nullptr, long* nDatabaseId = nullptr);

    // -- sub-database table and list (maintenance/)
    // Brings DATABASES in line with the documents and the files on disk and
    // fills `list` with one row per sub database; false when a listed sub
    // database is missing altogether (or nothing is open).
    bool ManagePdbList(ListId list = ListId::Picbases);
    // Renumbers the referenced sub databases 1..n under their standard names
    // and sets unreferenced ones aside; always false.
    bool UnlinkUnused(bool bUpdate = false);

    // -- checks (checks/)
    // The check command: 32 link check, 64 empty folders, 128 large
    // documents, anything else the document check with the bits of Flags.
    void Analyse(short& Flags);
    // What the last large-documents check measured; `measured` stays false
    // when the list of sub databases could not be read.
    struct LargeDocumentStats {
        bool measured = false;
        long pages = 0, average = 0, exceeded = 0;
        std::vector<long> exceededIds;  // the data rows over the limit, in the order read
    };
    LargeDocumentStats m_largeDocuments;
    long CheckMultipageParentMissing();
    // What the last check found and how it ended; the list, the counters and
    // the command line's JSON and exit code are derived from it.
    const CheckFindings& Findings() const { return m_findings; }
    // A removed document's findings stop counting (counters follow).
    void ForgetFindings(long nId);
    // A thorough check that keeps a durable record of its progress, so
    // that it can stop and go on later; set by the caller for one run
    // (database/checks/CheckResume.h), null for a check that keeps none.
    CheckRun* m_checkRun = nullptr;
    // Whether a thorough check's progress record is of this archive as it
    // is now: the same main database and sub databases, by identity, and
    // the same kind of check; `why` says what differs.
    bool ProgressRecordFits(const CheckProgressRecord& record, short flags, std::string& why);
    // The identities a progress record is of (main and sub databases).
    void TakeArchiveIdentity(CheckProgressRecord& record);
    void MultipageRenumberPages();

    // -- document records
    // 0 = the folder path is complete; 256 = it is broken (missing parent, loop).
    short VirtualDocumentPath(long& nId, std::string& sPath);
    void DocumentInfo(long nId, std::string& sName, std::string& sKeywords, std::string& sNotes, std::string& sDate,
                      std::string& sZip);
    bool RemoveDoc(long& nId);

    MainWindow& Window() { return m_window; }
    // Tells once per file that `file` is not opened for writing because
    // `bad` (the file itself or one of its side files) is a link or no
    // regular file; logged every time.
    void NotRegularFileMessage(const std::string& bad, const std::string& file);
    // The first side file of a sub database in the archive folder that is a
    // link or no regular file, and that sub database; empty when none.
    std::pair<std::string, std::string> NotRegularSubDatabase();

    // -- compaction (maintenance/Compact.cpp)
    // Compacts one file of the archive into a fresh copy that takes its
    // place; true when the compacted file is back under its name, or when
    // the file was left as it is because a copy could not be smaller
    // (m_compactSkipped then).
    bool CompactSingle(const std::string& sDatabaseName, const std::string& sPwd);
    // What a compaction may do besides copying: leave out the rows of one
    // table (a file whose rows all live elsewhere now), and call `copied`
    // once the copy is durable, before the swap, so that a caller who kept
    // the file from changing until then can let go of it.
    struct CompactOptions {
        std::string leaveOutRowsOf;
        std::function<void()> copied;
    };
    bool CompactSingle(const std::string& sDatabaseName, const std::string& sPwd, const CompactOptions& options);
    // Every listed sub database and the main database; true when all succeeded.
    bool CompactAll();
    // What the last CompactSingle that failed ran into (cleared by one that succeeds).
    CompactTrouble m_compactTrouble;
    // Whether the last CompactSingle left its file as it was: no free pages,
    // and its rows need every page it has. Such a file counts as skipped,
    // not as compacted.
    bool m_compactSkipped = false;
    // Told, while a copy is made, how many bytes of how many it has written
    // (as far as the file's length shows); at the end, all of them.
    std::function<void(std::int64_t written, std::int64_t total)> m_compactCopying;

    // -- reorganizing (maintenance/Reorganize.cpp)
    // Packs the stored data into as few sub databases as possible and
    // retires the emptied ones as ".obsolete"; true when DATABASES had rows.
    bool Reorganize();
    // When a sub database counts as full; tests make it small.
    std::int64_t m_nReorganizeCapacity = 671'088'640;
    // Above this a sub database is compacted before a thorough check (660 MB); tests make it small.
    std::int64_t m_nCompactAboveBytes = 660LL * 1024 * 1024;
    // Why the last Reorganize stopped before its end ("" when it did not).
    std::string m_sReorganizeStop;
    // How the last Reorganize ended: what it moved and set aside, the space
    // its files took before and after, and the kind of trouble that stopped it.
    ReorganizeOutcome m_reorganizeOutcome;
    // Rows the current run reports for lvDocuments, held back instead of
    // listed (the run decides at its end whether the list is replaced).
    std::vector<ListRow>* m_heldRows = nullptr;
    // What Reorganize would do now (maintenance/ReorganizePlan.cpp); changes
    // nothing. False when the archive could not be read to the end.
    bool PlanReorganize(ReorganizePlan& plan);

    // -- salvage (maintenance/Salvage*.cpp): what a damaged file still holds,
    // copied into a fresh file that takes its place; the damaged file is set
    // aside (".damaged"), never deleted. A report-only run reads all the
    // same and tells what would come back.
    // Sub database `nDatabaseId` at `sPath`: every row that reads is copied
    // and proved equal; each document the main database expects there ends
    // salvaged or lost. False when nothing was changed (report.error).
    bool SalvageSubDatabase(long nDatabaseId, const std::string& sPath, SalvageFileReport& report);
    // The OCR database, when it does not open or read: set aside and made
    // anew, empty (its contents belong to the scanning product).
    bool SalvageOcrDatabase(SalvageFileReport& report);
    // The main database: FOLDERS, DATABASES and trash rows that read, into
    // a fresh file of the generation's schema.
    bool SalvageMainDatabase(SalvageFileReport& report);
    // Every file of the archive whose pages do not all read; clean files are
    // named as such and left alone. False when a damaged file stays damaged.
    bool SalvageArchive(SalvageReport& report);
    // The same for the named files only (none named: every file).
    bool SalvageFiles(const std::vector<std::string>& only, SalvageReport& report);

    // -- report-only runs: every finding and repair is made as in a real
    // run, but in memory: nothing on disk changes (a report-only view of support/Env.h).
    // An open archive is reconnected in the new mode; false when that fails.
    bool SetDryRun(bool bDryRun);
    bool DryRun() const;
    // The file layer of the session: the one handed in, or the report-only
    // view over it.
    Env& env() const { return *m_env; }

    // -- changes to several files as one (maintenance/ArchiveChange.cpp)
    // Takes the archive's lock for as long as this object has it open; false
    // (after telling the user who has it) when another Quillex holds it.
    bool LockArchive(const std::string& sMainPath);
    void UnlockArchive();
    // Finishes or undoes a change that an earlier run left unfinished; false
    // when it can be neither (the user is told; the archive must not be used).
    bool FinishInterruptedChange();
    // The same for a change without a part in the main database (a swap of
    // a compacted file), which may have the main database itself under
    // way: done before the main database is opened. Other changes wait.
    bool FinishInterruptedFileChange(const std::string& sMainPath);
    // An intent record is still beside the main database.
    bool ChangePending() const;
    // The main database answers the engine's integrity check.
    bool MainDatabaseReadsCleanly(std::string& why);

    struct PlannedRename {
        std::string from, to;  // full paths, both in the archive folder
    };
    enum class ChangeOutcome {
        Done,            // tables committed, every file renamed
        NothingChanged,  // refused or rolled back; `why` says why
        Pending          // committed, but renames remain: the intent record stays for the next open
    };
    // Changes the tables of the main database (one transaction) and renames
    // files, as one change: the intent record is durable before the commit,
    // the renames follow it, the record goes last.
    ChangeOutcome ChangeArchive(const std::string& sOperation, const std::vector<PlannedRename>& renames,
                                const std::function<bool(sql::Error&)>& changeTables, std::string& why);

private:
    bool CreateSubDatabase(const std::string& sFileName);
    short OpenPicbaseOf(long nId, std::optional<long> knownDatabaseId, std::string* sPicbaseName, long* nDatabaseId);
    // The parent's ID; 0 at top level (also for a row that is its own parent), -1 without a row.
    long ParentOf(long& nId);
    // The virtual path of a document whose parent is `parent` (0 = top level).
    short PathBelow(long parent, std::string& sPath);
    void AnalyseLinkTo();
    // `outside`: the sub database lies outside the archive folder and is
    // only read; what would be repaired there is reported instead.
    void CheckDataRow(engine::Recordset& data, long id, std::int64_t size, long databaseId, const std::string& path,
                      bool outside, ErrorTrap& trap);
    // One document row as the document check holds it.
    struct DocumentRef {
        std::int64_t rowid;
        long id, parent, databaseId;  // parent: 0 at top level
        std::string template1;
        bool trashed;
    };
    // The sizes of the stored data. The walk asks each sub database for its
    // documents in rising ID order, so each file is read in one pass beside
    // the walk, as a stream merged with it: nothing is kept per document,
    // whatever the number of documents or the gaps between their IDs.
    struct DataSizes {
        enum class Kind { Found, Absent, Unreadable };
        struct Answer {
            Kind kind = Kind::Absent;
            std::int64_t size = 0;
            sql::Error error;
            bool firstFailure = false;  // the pass over this sub database just failed
        };
        Answer sizeOf(engine::Connection& pdb, long id);
        // Each document's row asked for alone: a check that reads every
        // document's bytes right after reads its page once, not twice.
        bool perDocument = false;
        // One sub database, by the path its connection names.
        struct File {
            bool started = false;   // the pass has begun
            bool ended = false;     // and reached the last row
            // The pass failed (a damaged page): from there on each document's
            // row is asked for alone, so that what still reads is judged by
            // what it holds.
            bool failed = false;
            std::int64_t readTo = 0;  // every row up to this ID has been passed
            // Rows with data that no document asked for on the way, by ID:
            // only these can hold a second copy of another file's document.
            std::vector<std::int64_t> unasked;
        };
        std::unordered_map<std::string, File> files;
        // Reads `file` on `pdb` up to `id`: Found/Absent, or Unreadable
        // when the pass fails (then `file.failed`).
        Answer streamTo(engine::Connection& pdb, File& file, std::int64_t id);
        // Reads the rest of `file` on `pdb`; false when that fails.
        bool finish(engine::Connection& pdb, File& file, sql::Error& error);
        // Rows whose DATABASEID the walk changed: a later piece of the walk
        // must not meet them again under their new sub database.
        std::vector<std::int64_t> relinked;
        // The pass being read: its connection (kept alive while the statement
        // lives), its file and the row read but not yet passed.
        std::shared_ptr<engine::ConnectionCore> streamCore;
        File* streamFile = nullptr;
        std::optional<sql::Statement> stream;
        bool haveRow = false;
        std::int64_t rowId = 0, rowSize = 0;
        void endStream() {
            stream.reset();
            streamCore.reset();
            streamFile = nullptr;
            haveRow = false;
        }
    };
    // Memory the document walk may keep for its rows at once (names
    // included); more documents are walked in pieces of this size. Tests
    // make it small.
    std::size_t m_walkBudgetBytes = 96u << 20;
    // While the walk holds its findings back: where the document being
    // judged stands in folder order, and that place for each held row, so
    // that the list shows the findings in folder order.
    struct FolderPlace {
        bool inFolder = false;  // top level first
        long parent = 0, id = 0;
        auto operator<=>(const FolderPlace&) const = default;
    };
    FolderPlace m_walkPlace;
    std::vector<FolderPlace>* m_heldPlaces = nullptr;
    bool CheckDocuments(short flags, ProgressWindow& progress, long& currentId, ErrorTrap& trap);
    // After a walk that reached its end: the rows with data under the ID of
    // a document whose own sub database holds its data (ResultStrayDuplicate).
    void ReportSecondCopies(DataSizes& sizes, const std::unordered_map<long, std::string>& readFrom,
                            std::vector<ConnectionPtr>& keptOpen, ErrorTrap& trap);
    // The files OpenPicbase would open for the rows of DATABASES, as far as
    // they can be told without opening them; for reading ahead only.
    std::vector<std::string> SubDatabasePathsToRead();
    void CheckDocument(const DocumentRef& doc, short flags, const std::string& name, ErrorTrap& trap,
                       DataSizes& sizes, const std::function<void()>& holdPdb);
    bool GenerationHasTrashMark();
    bool EnableTrashSupport();
    bool OfferPreCheckCompaction();
    short CheckDocumentContent(const DocumentRef& doc, const std::string& name, const std::string& picbase,
                               const std::string& virtualPath, ErrorTrap& trap);
    void ShowBackupSummary();
    // The progress record of a thorough check (checks/CheckResume.cpp):
    // taken up or begun before the first pass, told of each pass and
    // document done, and kept or removed at the end.
    void ResumeBegin(short flags);
    bool ResumePassDone(const char* pass) const;
    void ResumePass(const char* pass);
    // The row was finished by the run the record is of: it is not visited again.
    bool ResumeSkips(const std::string& walkKey, std::int64_t rowid) const;
    // After a document: false when the run's time is up. `commit` makes
    // the repairs so far durable before a record names them as made.
    bool ResumeAfterDocument(const std::string& walkKey, std::int64_t rowid, std::size_t findingsBefore,
                             const std::function<bool()>& commit);
    void ResumeEnd(bool complete);
    void ResumeNoteRow(const ListRow& row);
    // The thorough check's load of a graphical document: 0, or
    // ResultCorruptDocument when it does not load.
    short LoadDocument(long id, std::span<const std::uint8_t> data);
    // The loader's status turned into the check's result, with its log
    // lines; `why` is the decoder's own account.
    short LoadResult(long id, int status, const std::string& why);
    // While a thorough check walks: the documents decoded ahead, or null.
    ImagesAhead* m_imagesAhead = nullptr;
    // The storage format of an imported document, repaired after a backup.
    void CheckStorageFormat(const DocumentRef& doc, std::span<const std::uint8_t> data, const std::string& name,
                            const std::string& picbase, const std::string& virtualPath);
    // Copies a document's stored bytes into the run's backup file (a sub
    // database of this archive beside it); true when the copy is durable.
    bool BackupOriginalField(const std::string& sDataFileNameMask, long nId, std::span<const std::uint8_t> btData,
                             const std::string& sFullVirtualPath);
    // The backup files of this thorough run: "<main><yyyymmddhhnn>##.bak",
    // and the ones it wrote to (a run in the same minute may find others).
    std::string m_sBackupMask;
    std::set<std::string> m_backupFilesWritten;
    void AnalyseFolders();
    void AnalyseLargeDocs();
    // The integrity pass before the document walk (checks/IntegrityCheck.cpp):
    // every page of the main and OCR databases, and at the thorough level the
    // engine's full check of every file. Damage is a finding naming the file
    // and its table or index; damage confined to indexes is rebuilt. A file
    // another program holds is noted as in use. Each file is shown in
    // `progress`, and a Cancel is heeded between files. False when the check
    // cannot go on: cancelled, or the main database is in use.
    bool CheckFileIntegrity(bool thorough, ProgressWindow& progress);
    // The thorough check's offer for files whose tables do not all read: a
    // question (default No, it rewrites files); a report-only run tells what
    // a salvage would bring back instead. `report` holds what was done.
    void OfferSalvage(const std::vector<std::string>& files, SalvageReport& report);
    // Rebuilds the damaged indexes of `verdict` once every table of the file
    // has read to its end; false (damage stays) when that cannot be shown.
    bool RebuildDamagedIndexes(const std::string& path, const std::string& password,
                               const integrity::Verdict& verdict);
    // The DATABASES.ID of another sub database holding non-empty data for
    // nPicId; 0 if none. `mustLoadAsImage`: only data that loads as an image,
    // every page of it, counts (a thorough check relinks nothing it would
    // then report as corrupt).
    long FindAlternativePicbase(long nDatabaseId, long nPicId, bool mustLoadAsImage = false);
    // While one exists, the alternative search keeps its connections open
    // instead of opening every other sub database again for each document.
    struct AlternativeCandidates;
    class KeepAlternativeCandidates {
    public:
        explicit KeepAlternativeCandidates(CDatabase& db);
        ~KeepAlternativeCandidates();
        KeepAlternativeCandidates(const KeepAlternativeCandidates&) = delete;
        KeepAlternativeCandidates& operator=(const KeepAlternativeCandidates&) = delete;

    private:
        CDatabase& m_db;
        bool m_outer;
    };
    std::shared_ptr<AlternativeCandidates> m_alternatives;
    // Counts a finding, refreshes the status bar, logs it and lists it.
    void ReportResult(long nId, short nCode, const std::string& sPicbase, const std::string& sName,
                      const std::string& sVirtualPath);
    // Errors a check logged without a finding of their own become one
    // finding (ResultDatabaseError): a run with errors is never clean.
    void ReportTrappedErrors(const ErrorTrap& trap);
    struct TrappedErrorsAtEnd {
        CDatabase& db;
        const ErrorTrap& trap;
        ~TrappedErrorsAtEnd() { db.ReportTrappedErrors(trap); }
    };
    friend struct CDatabaseTestAccess;

    ConnectionPtr OpenConnection(const std::string& sConnectString);
    engine::ProviderError m_lastOpenError;  // why the last OpenConnection failed
    std::set<std::string> m_notRegularTold;  // see NotRegularFileMessage
    // While a check runs: sub databases another program holds locked. Each
    // is waited for once; its other documents are not made to wait again.
    std::set<std::string>* m_lockedSubDatabases = nullptr;
    // The last OpenPicbase answered 512 because another program holds the file.
    bool m_bLastOpenInUse = false;
    // Another program holds `path`: said once per check, and its documents
    // are not judged.
    void ReportSubDatabaseInUse(const std::string& path, const char* what);
    // The check stopped early: said in the log and the window, never "no errors".
    void ReportCancelled();
    CheckFindings m_findings;
    // `sFile`: the file the connection was for, named in the message.
    void ShowConnectionErrors(const std::vector<engine::ProviderError>& errors, const std::string& sFile);
    bool WriteProbe(const std::string& path);
    void TestOmdDatabase(const std::string& mainPath);

    // ---- sub-database list maintenance helpers (maintenance/PdbList.cpp) ----
    // A stored path may point anywhere, so only files of this archive are
    // ever renamed: the name lies directly in the main database's folder
    // (links and ".." resolved, for the name and for what it points to) and
    // is none of the main database, its OCR database or its log.
    bool IsArchiveFile(const std::string& sPath) const;
    // The same, and the file opens as a sub database with the archive
    // password; *pbReadOnly tells whether the engine cannot write to it.
    bool IsArchiveSubDatabase(const std::string& sPath, bool* pbReadOnly = nullptr) const;
    // Renames without ever replacing what stands under the new name; logs
    // why when it cannot.
    bool RenameArchiveFile(const std::string& sFrom, const std::string& sTo, std::string_view point);
    // Logs that repairs made in `sFile` since its last commit were undone by
    // a failed commit and keeps the first such error for the caller.
    void NoteSaveFailure(const std::string& sFile, const sql::Error& e);
    bool RetiredFileBelongsTo(const std::string& sRetired, long nNumber);
    static void LogMaintenanceError(const std::string& sDuring, long nNumber, const std::string& sDescription);
    friend struct PdbListTestAccess;
    // ---- end of sub-database list maintenance helpers ----

    // The move of Reorganize from the source towards the destination, in
    // batches of two commits; false when it stopped on a failure.
    bool MoveLoop(const std::vector<std::pair<long, std::string>>& list, std::size_t& source,
                  std::size_t& destination, ConnectionPtr& src, ConnectionPtr& dst,
                  const std::function<bool(std::size_t, const std::string&, const CompactOptions&)>& compact,
                  WorkProgress& progress);

    // Bytes of the files the archive uses now: main, OCR and listed sub databases.
    std::int64_t ArchiveBytesInUse();

    bool RollForward(const std::string& sMainPath, const IntentRecord& record, int& renamed, std::string& why);
    bool FinishInterruptedChangeOf(const std::string& sMainPath, bool onlyWithoutMarker);
    // Some rename of the record has been made (its file stands under its new name).
    bool ChangeBegan(const std::string& sMainPath, const IntentRecord& record);
    bool ReadMarker(std::uint32_t& marker, std::string& why);

    MainWindow& m_window;
    Env& m_sessionEnv;
    std::unique_ptr<Env> m_ownView;  // a report-only view chosen after construction
    Env* m_env;
    std::unique_ptr<ArchiveLock> m_lock;
    FolderScanCache m_folderScan;
    // The integrity check of the main database, kept for the state the
    // engine reported (connection, data version) when it ran.
    struct Verdict {
        const void* core = nullptr;
        std::int64_t version = 0;
        bool ok = false;
        std::string why;
    };
    std::optional<Verdict> m_verified;
    bool m_bDamageTold = false;  // the user has been told the main database is damaged
    // Checks once per state of the main database, and only when a change is
    // about to be made: a healthy open reads the file once.
    bool VerifyBeforeChange(std::string& why);
    // VerifyBeforeChange, and when it fails: the log line (`sRefusal` and
    // why) every time, the message once per opened archive.
    bool MayChangeMain(const std::string& sRefusal);
    std::string m_lockProblem;  // why no lock could be taken ("" when held or not tried)
    // Folder paths remembered while a check runs (folders do not change then).
    std::unordered_map<long, std::pair<std::string, short>>* m_folderPaths = nullptr;
    bool m_bLinkCheckCancelled = false;  // the link check ended by Cancel
    // While a thorough check runs: a graphical document is relinked only to
    // a copy that loads, in the link check as in the document walk.
    bool m_bJudgeRelinkCopies = false;
    // While a check runs: the sub databases it found only outside the
    // archive folder (each is reported once: it may be another archive's).
    std::set<std::string>* m_outsideSubDatabases = nullptr;
    void ReportOutsideSubDatabase(const std::string& sPath);
    // Sub databases kept open while the document check runs (most recent first).
    std::vector<ConnectionPtr>* m_pdbPool = nullptr;
    struct LastPicbase {
        long databaseId = 0;
        std::string path;
        const engine::Connection* connection = nullptr;
    } m_lastPicbase;
};

}  // namespace qx
