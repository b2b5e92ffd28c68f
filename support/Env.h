#pragma once
// The one file layer. Every file operation of the core goes through an Env
// handed to the archive session: the real one, a report-only view (changes
// live in memory), a fault-injecting one (named points fail or kill) and a
// power-loss simulating one (tests). Layers stack: a wrapper forwards what it
// does not change to the Env beneath it.
//
// The engine's database files take part too: every connection opens its file
// through the engine file layer of the session's Env (EngineVfs()), which
// reports each write, truncation, sync, creation and deletion to the Env
// before doing it, so the layers above see the engine's I/O like their own.
//
// Paths are UTF-8 text with the platform's separators. Changes return 0 or an
// errno value; ErrorText() turns that into the system's words. Each change
// names its point ("compact.swap"): the fault-injecting layer can make the
// change fail or kill the process there, the power-loss layer can cut there.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace qx {

// Device and inode (volume serial and file index on Windows): two paths name
// the same file exactly when their identities are equal.
struct FileId {
    std::uint64_t device = 0, inode = 0;
    bool operator==(const FileId&) const = default;
};

// What stands under a name itself, links not followed.
enum class EntryKind { None, RegularFile, Folder, Link, Other };

// An advisory lock the kernel drops when the process ends, however it ends;
// let go when the object ends (a lock file is removed first).
class FileLock {
public:
    virtual ~FileLock() = default;
};
enum class LockOutcome {
    Held,        // this process holds the lock
    InUse,       // another process holds one in the way; `holder` says which
    Unavailable  // the file cannot be opened or made; `holder` says why
};

// An entry named against the archive folder, decided once by
// Env::ArchiveEntry: whether it lies directly in that folder (its folder
// resolved, links included, its own name kept), what stands under the name
// and what file it names. Helpers take this value instead of deciding again.
struct ArchivePath {
    std::string path;                  // as given
    std::string name;                  // the entry's own name
    bool inArchive = false;            // it lies directly in the archive folder
    EntryKind kind = EntryKind::None;  // what stands under the name itself
    std::optional<FileId> id;          // the file it names, links followed
};

// A file made without a name in a folder: its identity is known before
// anything can find it, and a crash before it is named leaves nothing.
class UnnamedFile {
public:
    virtual ~UnnamedFile() = default;
    virtual std::optional<FileId> Identity() = 0;
    // Gives it the name `path` (EEXIST when taken); the folder is not synced.
    virtual int Link(const std::string& path) = 0;
};

// The system's description of an errno value.
std::string ErrorText(int err);

class Env {
public:
    virtual ~Env();

    // --- What is there. Never changes anything.
    virtual EntryKind KindOf(const std::string& path) = 0;
    // A regular file, links followed.
    virtual bool FileExists(const std::string& path) = 0;
    // Links followed; nullopt when nothing is there or it cannot be asked.
    virtual std::optional<FileId> IdentityOf(const std::string& path) = 0;
    // 0 when absent.
    virtual std::int64_t FileLength(const std::string& path) = 0;
    virtual bool IsReadOnly(const std::string& path) = 0;
    // Links and ".." resolved; "" and `ec` set when it does not exist.
    virtual std::string Canonical(const std::string& path, std::error_code& ec) = 0;
    // The names (not paths) in a folder, "." and ".." left out.
    virtual std::vector<std::string> ListFolder(const std::string& folder, std::error_code& ec) = 0;
    // The whole content of a regular file (links refused); 0 or an errno value.
    virtual int ReadFile(const std::string& path, std::string& out) = 0;
    // Bytes free for this process on the volume of `folder`; -1 when unknown.
    virtual std::int64_t FreeSpace(const std::string& folder) = 0;
    // The last change of the file's data in nanoseconds since the epoch,
    // links followed; -1 when nothing is there.
    virtual std::int64_t ModifiedAt(const std::string& path) = 0;
    // Whether this process may create files in `folder`.
    virtual bool FolderWritable(const std::string& folder) = 0;
    // What a link names, as stored in it; "" and `ec` set when it is no link.
    virtual std::string LinkTarget(const std::string& path, std::error_code& ec) = 0;
    // The path made absolute against the current folder, "." and ".."
    // removed as text (links not resolved); the path itself on failure.
    virtual std::string Absolute(const std::string& path) = 0;
    // 0 when this process may read (or write) the entry, else the errno
    // value of the refusal.
    virtual int AccessError(const std::string& path, bool forWriting) = 0;
    // The file belongs to the user this process runs as.
    virtual bool OwnedByThisUser(const std::string& path) = 0;
    // The file stays read-only when its attribute is cleared: a read-only
    // file system, or a file whose attribute is not ours to change.
    virtual bool StaysReadOnly(const std::string& path) = 0;
    // The mount point (drive root on Windows) of the volume that holds
    // `path` or, for a name not there yet, its folder; "" when unknown.
    virtual std::string VolumeRoot(const std::string& path) = 0;

    // --- Locks between processes (never a change to the archive's data).
    // The lock file at `path`, created when missing, held exclusively with
    // `me` written in it; while another holds it, `holder` is what it wrote.
    virtual std::unique_ptr<FileLock> LockFileExclusively(const std::string& path, const std::string& me,
                                                          LockOutcome& outcome, std::string& holder) = 0;
    // Whether another process holds the lock file now; nothing is created.
    virtual bool LockFileHeld(const std::string& path, std::string& holder) = 0;
    // A lock on an existing file, which is only opened for reading.
    virtual std::unique_ptr<FileLock> LockExisting(const std::string& path, bool exclusive, LockOutcome& outcome,
                                                   std::string& holder) = 0;

    // The entry itself as the disk holds it, whatever a report-only view
    // above has done to the name: what the engine's own checks meet.
    virtual EntryKind KindOnDisk(const std::string& path) { return KindOf(path); }

    // Built from the above, the same in every layer.
    ArchivePath ArchiveEntry(const std::string& path, const std::string& archiveFolder);
    // True when both paths exist and are the same file ("a/./x", "a/../a/x",
    // a link, another case on a case-insensitive medium, a hard link).
    bool SameFile(const std::string& a, const std::string& b);
    // True when the entry named by `path` (its folder resolved, its own name
    // kept) lies directly in `folder`.
    bool EntryLiesIn(const std::string& path, const std::string& folder);
    // The path itself when nothing of that name exists, else the first free
    // "<base>_001<ext>", "<base>_002<ext>", ... in the same folder.
    std::string UniqueFileName(const std::string& path);

    // --- Changes to the archive. Each passes its named point first (Step)
    // and is built from the primitives below, so that every layer sees each
    // primitive: a rename and the sync of its folder are two events to a
    // power-loss layer, and the folder sync has its own point
    // ("<point>.sync-folder"; "<point>.sync" for a created file's data).
    //
    // Never replaces what stands under the new name (EEXIST then); the
    // rename is durable (folders synced) before it returns, else undone.
    int RenameNoReplace(const std::string& from, const std::string& to, std::string_view point);
    // A new file (EEXIST when the name is taken) holding `bytes`, file and
    // folder synced before it returns; on failure nothing of it stays.
    int CreateDurableFile(const std::string& path, std::string_view bytes, std::string_view point);
    // Removes a file and syncs its folder.
    int RemoveDurably(const std::string& path, std::string_view point);
    int SyncFile(const std::string& path, std::string_view point);
    int SyncFolder(const std::string& folder, std::string_view point);
    // An empty point passes no step (the attribute is no archive change a
    // crash could tear).
    int SetReadOnly(const std::string& path, bool readOnly, std::string_view point = {});
    // A named point: each change passes one, and so does a step of a longer
    // change that is no file operation of its own ("reorganize.copied",
    // "engine.commit"). 0 to go on, an errno value to fail there.
    virtual int Step(std::string_view point) = 0;

    // The primitives: one system call's worth each, nothing synced.
    virtual int RenameEntry(const std::string& from, const std::string& to) = 0;  // never replaces
    virtual int WriteNewEntry(const std::string& path, std::string_view bytes) = 0;  // exclusive create
    virtual int RemoveEntry(const std::string& path) = 0;
    virtual int FlushFile(const std::string& path) = 0;
    virtual int FlushFolder(const std::string& folder) = 0;
    virtual int ChangeReadOnly(const std::string& path, bool readOnly) = 0;
    // A new file without a name in `folder`; EOPNOTSUPP where the file
    // system cannot make one.
    virtual int CreateUnnamedFile(const std::string& folder, std::unique_ptr<UnnamedFile>& out) = 0;

    // --- Files outside the archive the program writes for the user; only
    // a regular file is written (EINVAL otherwise), never a pipe or device.
    // The log: appended, never through a link (ELOOP).
    virtual int AppendToFile(const std::string& path, std::string_view bytes) = 0;
    // A file the user named (a saved list): created, or its content
    // replaced; a link is followed to the file the user meant.
    virtual int WriteNewFile(const std::string& path, std::string_view bytes) = 0;

    // True while changes stay in memory (a report-only run): steps that
    // have no meaning there (the intent record, the log) are left out.
    virtual bool ReportOnly() const = 0;
    // What a report-only run did to names, in order ("rename A -> B").
    virtual std::vector<std::string> Changes() const { return {}; }

    // --- The engine's file layer. The name to open connections with; made
    // on first use and valid as long as this Env lives.
    const char* EngineVfs();
    // The engine file layer the reports are passed on to (nullptr: the
    // system's default); a report-only view gives its own.
    virtual const char* BaseEngineVfs() { return nullptr; }
    // What the engine is about to do to a file it opened through
    // EngineVfs(): 0 lets it go ahead, an errno value makes it fail (the
    // engine then sees an I/O error). `Synced`/`Created` report success.
    virtual int EngineWrite(const std::string& path, std::int64_t offset, std::int64_t bytes);
    virtual int EngineTruncate(const std::string& path, std::int64_t size);
    virtual int EngineSync(const std::string& path);
    virtual void EngineSynced(const std::string& path);
    virtual void EngineCreated(const std::string& path);
    // `syncFolder`: the engine asked for the folder to be synced after the
    // removal (a committed journal).
    virtual int EngineDelete(const std::string& path, bool syncFolder);

protected:
    Env();

private:
    struct EngineLayer;
    std::unique_ptr<EngineLayer> m_engineLayer;
};

// Forwards every call to another Env; layers override what they change.
class EnvWrapper : public Env {
public:
    explicit EnvWrapper(Env& target) : m_target(target) {}
    Env& target() const { return m_target; }

    EntryKind KindOf(const std::string& path) override { return m_target.KindOf(path); }
    bool FileExists(const std::string& path) override { return m_target.FileExists(path); }
    EntryKind KindOnDisk(const std::string& path) override { return m_target.KindOnDisk(path); }
    std::optional<FileId> IdentityOf(const std::string& path) override { return m_target.IdentityOf(path); }
    std::int64_t FileLength(const std::string& path) override { return m_target.FileLength(path); }
    bool IsReadOnly(const std::string& path) override { return m_target.IsReadOnly(path); }
    std::string Canonical(const std::string& path, std::error_code& ec) override {
        return m_target.Canonical(path, ec);
    }
    std::vector<std::string> ListFolder(const std::string& folder, std::error_code& ec) override {
        return m_target.ListFolder(folder, ec);
    }
    int ReadFile(const std::string& path, std::string& out) override { return m_target.ReadFile(path, out); }
    std::int64_t FreeSpace(const std::string& folder) override { return m_target.FreeSpace(folder); }
    std::int64_t ModifiedAt(const std::string& path) override { return m_target.ModifiedAt(path); }
    bool FolderWritable(const std::string& folder) override { return m_target.FolderWritable(folder); }
    std::string LinkTarget(const std::string& path, std::error_code& ec) override {
        return m_target.LinkTarget(path, ec);
    }
    std::string Absolute(const std::string& path) override { return m_target.Absolute(path); }
    int AccessError(const std::string& path, bool forWriting) override {
        return m_target.AccessError(path, forWriting);
    }
    bool OwnedByThisUser(const std::string& path) override { return m_target.OwnedByThisUser(path); }
    bool StaysReadOnly(const std::string& path) override { return m_target.StaysReadOnly(path); }
    std::string VolumeRoot(const std::string& path) override { return m_target.VolumeRoot(path); }
    std::unique_ptr<FileLock> LockFileExclusively(const std::string& path, const std::string& me,
                                                  LockOutcome& outcome, std::string& holder) override {
        return m_target.LockFileExclusively(path, me, outcome, holder);
    }
    bool LockFileHeld(const std::string& path, std::string& holder) override {
        return m_target.LockFileHeld(path, holder);
    }
    std::unique_ptr<FileLock> LockExisting(const std::string& path, bool exclusive, LockOutcome& outcome,
                                           std::string& holder) override {
        return m_target.LockExisting(path, exclusive, outcome, holder);
    }
    int RenameEntry(const std::string& from, const std::string& to) override {
        return m_target.RenameEntry(from, to);
    }
    int WriteNewEntry(const std::string& path, std::string_view bytes) override {
        return m_target.WriteNewEntry(path, bytes);
    }
    int RemoveEntry(const std::string& path) override { return m_target.RemoveEntry(path); }
    int FlushFile(const std::string& path) override { return m_target.FlushFile(path); }
    int FlushFolder(const std::string& folder) override { return m_target.FlushFolder(folder); }
    int ChangeReadOnly(const std::string& path, bool readOnly) override {
        return m_target.ChangeReadOnly(path, readOnly);
    }
    int CreateUnnamedFile(const std::string& folder, std::unique_ptr<UnnamedFile>& out) override {
        return m_target.CreateUnnamedFile(folder, out);
    }
    int Step(std::string_view point) override { return m_target.Step(point); }
    int AppendToFile(const std::string& path, std::string_view bytes) override {
        return m_target.AppendToFile(path, bytes);
    }
    int WriteNewFile(const std::string& path, std::string_view bytes) override {
        return m_target.WriteNewFile(path, bytes);
    }
    bool ReportOnly() const override { return m_target.ReportOnly(); }
    std::vector<std::string> Changes() const override { return m_target.Changes(); }
    const char* BaseEngineVfs() override { return m_target.BaseEngineVfs(); }
    int EngineWrite(const std::string& path, std::int64_t offset, std::int64_t bytes) override {
        return m_target.EngineWrite(path, offset, bytes);
    }
    int EngineTruncate(const std::string& path, std::int64_t size) override {
        return m_target.EngineTruncate(path, size);
    }
    int EngineSync(const std::string& path) override { return m_target.EngineSync(path); }
    void EngineSynced(const std::string& path) override { m_target.EngineSynced(path); }
    void EngineCreated(const std::string& path) override { m_target.EngineCreated(path); }
    int EngineDelete(const std::string& path, bool syncFolder) override {
        return m_target.EngineDelete(path, syncFolder);
    }

private:
    Env& m_target;
};

// The system's files, for the life of the process.
Env& RealEnv();

// A report-only view over `base`: every archive file is opened for reading
// only; what the run writes, creates, renames or deletes lives in memory
// until the view ends.
std::unique_ptr<Env> NewReportOnlyEnv(Env& base);

// Named points armed from the process environment (QUILLEX_FAILPOINTS, see
// support/Failpoint.h) fail or kill there; unarmed, it only forwards.
std::unique_ptr<Env> NewFaultInjectionEnv(Env& base);

// The layers a run of this process gets: real, with fault injection (it
// only forwards while no point is armed, from the process environment or by
// a test) and power-loss simulation when the environment arms it (tests),
// under a report-only view when `reportOnly`.
struct EnvStack {
    std::vector<std::unique_ptr<Env>> layers;  // bottom first
    Env& top() const { return layers.empty() ? RealEnv() : *layers.back(); }
};
EnvStack MakeEnvStack(bool reportOnly);

}  // namespace qx
