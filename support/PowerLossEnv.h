#pragma once
// A power-loss simulating layer (tests). It remembers what a power cut would
// take back: per file, the bytes written, appended or truncated since the
// file's last sync (the old bytes are saved before their first unsynced
// change), and the names created, renamed and removed since their folder's
// last sync (a removed file's durable content is kept so it can come back).
// At the cut it puts the disk back to that durable state, names undone in
// reverse order, and ends the process on the spot.
//
// Cut points are every named point (Step, the composites' ".sync" and
// ".sync-folder" points included), every sync the engine asks for, and the
// end of the process ("exit").
// Armed from the process environment:
//   QUILLEX_POWERCUT=N              cut at the N-th cut point
//   QUILLEX_POWERCUT_TRACE=FILE     appends one line per cut point: the
//                                   point's name, or "engine.sync NAME" with
//                                   the file name of an engine sync
//   QUILLEX_POWERCUT_TEAR=1         at the cut, the last unsynced write is
//                                   torn: its first half reaches the disk
//   QUILLEX_POWERCUT_IGNORE_SYNC=P  the syncs of the change at point P (or
//                                   every engine sync for "engine") are
//                                   passed on but not counted as done (a
//                                   file the layer did not see written is
//                                   then taken as wholly unsynced): a test
//                                   proving the driver sees a missing sync
#include "support/Env.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qx {

class PowerLossEnv : public EnvWrapper {
public:
    struct Settings {
        long cutAt = 0;  // 0: never cut, only trace
        std::string trace;
        bool tear = false;
        std::string ignoreSync;
        bool kill = true;  // false: the cut only reverts (in-process tests)
    };
    // nullopt when the environment arms nothing.
    static std::optional<Settings> FromEnvironment();

    PowerLossEnv(Env& target, Settings settings);
    ~PowerLossEnv() override;

    // Puts the disk back to what a power cut now would leave, then ends the
    // process unless the settings say otherwise. Afterwards the layer
    // starts afresh from what is on disk.
    void PowerCut();
    // The last cut point, as the process ends ("exit").
    void Exit();
    // Cut points passed so far.
    long CutPoints() const;

    int Step(std::string_view point) override;
    int RenameEntry(const std::string& from, const std::string& to) override;
    int WriteNewEntry(const std::string& path, std::string_view bytes) override;
    int RemoveEntry(const std::string& path) override;
    int FlushFile(const std::string& path) override;
    int FlushFolder(const std::string& folder) override;
    int AppendToFile(const std::string& path, std::string_view bytes) override;
    int WriteNewFile(const std::string& path, std::string_view bytes) override;
    int EngineWrite(const std::string& path, std::int64_t offset, std::int64_t bytes) override;
    int EngineTruncate(const std::string& path, std::int64_t size) override;
    int EngineSync(const std::string& path) override;
    void EngineSynced(const std::string& path) override;
    void EngineCreated(const std::string& path) override;
    int EngineDelete(const std::string& path, bool syncFolder) override;

private:
    struct FileState {
        std::int64_t syncedSize = 0;
        // Block number -> the durable bytes of that block (shorter at the
        // synced end of the file).
        std::map<std::int64_t, std::string> saved;
    };
    enum class NameChange { Create, Rename, Remove };
    struct NameEvent {
        NameChange change;
        std::string path, to;                 // `to` for a rename
        std::vector<std::string> folders;     // not yet synced since
        // A removed file stays reachable under a second name (`held`) so
        // that it comes back as the same file; where no second name can be
        // made, its durable bytes are kept instead.
        std::string held;
        std::optional<FileState> state;
        std::shared_ptr<const std::string> content;
    };
    struct LastWrite {
        std::string path;
        std::int64_t offset = 0;
        std::int64_t bytes = 0;
    };

    void CutPoint(const std::string& line);
    void SettleEngineDelete();
    // A new file made by the layer beneath (`make`): remembered as created,
    // its bytes as the last unsynced write.
    int CreateThrough(const std::string& path, std::int64_t size, const std::function<int()>& make);
    FileState& State(const std::string& key);
    void SaveRange(const std::string& key, std::int64_t from, std::int64_t to);
    std::string DurableContent(const std::string& key);
    void Created(const std::string& key);
    void FolderSynced(const std::string& folder);
    void Revert();
    void RevertData(const std::string& key, const FileState& s);
    void Removed(const std::string& key);
    void Forget(NameEvent& e);
    bool Ignored(bool engine) const;

    mutable std::recursive_mutex m_mutex;
    Settings m_settings;
    long m_passed = 0;
    std::string m_lastStep;
    std::map<std::string, FileState> m_files;
    std::vector<NameEvent> m_events;
    std::map<std::string, bool> m_folderSyncOnFirstSync;  // engine journals
    std::optional<std::string> m_deletedWithFolderSync;
    std::optional<LastWrite> m_lastWrite;
    std::vector<std::string> m_holdFolders;
    long m_held = 0;
};

// The process's one power-loss layer (over the real files with fault
// injection) when the environment arms it, else nullptr. Every session's
// stack and the free file helpers pass through it, so that it sees every
// change of the run.
Env* ProcessPowerLossEnv();

}  // namespace qx
