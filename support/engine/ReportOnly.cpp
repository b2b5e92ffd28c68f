// The report-only view: a name table over the disk, and an engine file layer
// that opens every file on disk for reading only and keeps what is written
// in copy-on-write blocks in memory. Connections of one view to one name
// share its blocks and take their locks from each other, so a run sees its
// own commits across connections exactly as it would on disk. Each view is
// its own world: two views never see each other's changes.
#include "support/Env.h"

#include "support/FileOperations.h"
#include "support/engine/PassThroughVfs.h"
#include "support/engine/SqliteApi.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>

namespace qx {

namespace {

constexpr std::int64_t kBlock = 4096;

struct Node {
    std::string backing;  // read through while a block has not been written
    std::uint64_t id = 0;
    bool dirty = false;          // written or truncated by the run: size/realLimit hold
    std::int64_t size = 0;
    std::int64_t realLimit = 0;  // bytes of the backing file that still show through
    std::map<std::int64_t, std::unique_ptr<unsigned char[]>> blocks;
    // The locks connections of this process hold on the file (the disk
    // only ever sees shared locks).
    int shared = 0;
    const void* reserved = nullptr;
    const void* pending = nullptr;
    const void* exclusive = nullptr;
};

struct World {
    explicit World(Env& disk) : base(disk) {}
    Env& base;  // answers for every name the run has not touched
    sqlite3_vfs* diskVfs = nullptr;
    std::recursive_mutex mutex;
    std::map<std::string, std::shared_ptr<Node>> names;
    std::set<std::string> gone;  // names on disk the run renamed or deleted
    std::map<std::string, bool> readOnly;
    std::vector<std::string> changes;
    std::uint64_t nextId = 1;

    bool OnDisk(const std::string& path) { return base.KindOf(path) != EntryKind::None; }
    // Names are compared as absolute, normal text.
    std::string Key(const std::string& path) { return base.Absolute(path); }
};

// The engine file layer of one view; it lives as long as a file opened
// through it, so a connection that outlives its view still closes cleanly.
struct ViewVfs : std::enable_shared_from_this<ViewVfs> {
    sqlite3_vfs vfs{};
    std::string name;
    std::shared_ptr<World> world;
};


std::shared_ptr<Node> NewNode(World& w, std::string backing) {
    auto n = std::make_shared<Node>();
    n->backing = std::move(backing);
    n->id = w.nextId++;
    if (n->backing.empty()) n->dirty = true;
    return n;
}

// What the view holds under a name.
struct Entry {
    enum class State { Disk, Absent, File } state = State::Disk;  // Disk: the disk answers
    std::string backing;  // the file on disk whose bytes show through ("" for a file made by the run)
    std::int64_t size = 0;
    std::uint64_t id = 0;  // stands for the inode of a file made by the run
};

// ---------------------------------------------------------------- the file layer

struct ShimFile {
    sqlite3_file base;
    std::shared_ptr<ViewVfs> view;
    std::shared_ptr<Node> node;
    sqlite3_file* real = nullptr;  // the backing file, opened for reading only
    int lock = SQLITE_LOCK_NONE;
    bool deleteOnClose = false;
    std::string name;
};

ShimFile* Shim(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f); }
ViewVfs* View(sqlite3_vfs* v) { return static_cast<ViewVfs*>(v->pAppData); }
World& WorldOf(ShimFile* f) { return *f->view->world; }
std::unique_lock<std::recursive_mutex> Hold(World& w) { return std::unique_lock(w.mutex); }

// Bytes [pos, pos+len) as the backing file holds them, zeros past what shows through.
int BaseRead(ShimFile* f, unsigned char* out, std::int64_t len, std::int64_t pos) {
    const Node& n = *f->node;
    std::memset(out, 0, static_cast<size_t>(len));
    const std::int64_t limit = n.dirty ? n.realLimit : INT64_MAX;
    if (!f->real || pos >= limit) return SQLITE_OK;
    const int take = static_cast<int>(std::min(len, limit - pos));
    const int rc = f->real->pMethods->xRead(f->real, out, take, pos);
    return rc == SQLITE_IOERR_SHORT_READ ? SQLITE_OK : rc;
}

int MakeDirty(ShimFile* f) {
    Node& n = *f->node;
    if (n.dirty) return SQLITE_OK;
    sqlite3_int64 size = 0;
    if (f->real) {
        if (const int rc = f->real->pMethods->xFileSize(f->real, &size); rc != SQLITE_OK) return rc;
    }
    n.size = n.realLimit = size;
    n.dirty = true;
    return SQLITE_OK;
}

int xClose(sqlite3_file* file) {
    ShimFile* f = Shim(file);
    {
        auto hold = Hold(WorldOf(f));
        if (f->lock != SQLITE_LOCK_NONE) {
            Node& n = *f->node;
            if (n.exclusive == f) n.exclusive = nullptr;
            if (n.pending == f) n.pending = nullptr;
            if (n.reserved == f) n.reserved = nullptr;
            --n.shared;
        }
        if (f->deleteOnClose) {
            World& w = WorldOf(f);
            auto it = w.names.find(f->name);
            if (it != w.names.end() && it->second == f->node) w.names.erase(it);
        }
    }
    int rc = SQLITE_OK;
    if (f->real) {
        if (f->real->pMethods) rc = f->real->pMethods->xClose(f->real);
        sqlite3_free(f->real);
    }
    f->~ShimFile();
    return rc;
}

int xRead(sqlite3_file* file, void* buf, int amt, sqlite3_int64 off) {
    ShimFile* f = Shim(file);
    auto hold = Hold(WorldOf(f));
    Node& n = *f->node;
    if (!n.dirty) return f->real->pMethods->xRead(f->real, buf, amt, off);
    auto* out = static_cast<unsigned char*>(buf);
    const std::int64_t end = off + amt;
    for (std::int64_t pos = off; pos < end;) {
        const std::int64_t b = pos / kBlock, in = pos % kBlock, take = std::min(kBlock - in, end - pos);
        if (pos >= n.size) {
            std::memset(out, 0, static_cast<size_t>(take));
        } else if (auto it = n.blocks.find(b); it != n.blocks.end()) {
            std::memcpy(out, it->second.get() + in, static_cast<size_t>(take));
        } else if (const int rc = BaseRead(f, out, take, pos); rc != SQLITE_OK) {
            return rc;
        }
        out += take;
        pos += take;
    }
    return end > n.size ? SQLITE_IOERR_SHORT_READ : SQLITE_OK;
}

int xWrite(sqlite3_file* file, const void* buf, int amt, sqlite3_int64 off) {
    ShimFile* f = Shim(file);
    auto hold = Hold(WorldOf(f));
    if (const int rc = MakeDirty(f); rc != SQLITE_OK) return rc;
    Node& n = *f->node;
    const auto* in = static_cast<const unsigned char*>(buf);
    const std::int64_t end = off + amt;
    for (std::int64_t pos = off; pos < end;) {
        const std::int64_t b = pos / kBlock, at = pos % kBlock, take = std::min(kBlock - at, end - pos);
        auto it = n.blocks.find(b);
        if (it == n.blocks.end()) {
            auto block = std::make_unique<unsigned char[]>(kBlock);
            // What the block held before: the part of the old size only.
            const std::int64_t keep = std::clamp<std::int64_t>(n.size - b * kBlock, 0, kBlock);
            if (const int rc = BaseRead(f, block.get(), keep, b * kBlock); rc != SQLITE_OK) return SQLITE_IOERR_WRITE;
            it = n.blocks.emplace(b, std::move(block)).first;
        }
        std::memcpy(it->second.get() + at, in, static_cast<size_t>(take));
        in += take;
        pos += take;
    }
    n.size = std::max(n.size, end);
    return SQLITE_OK;
}

int xTruncate(sqlite3_file* file, sqlite3_int64 size) {
    ShimFile* f = Shim(file);
    auto hold = Hold(WorldOf(f));
    if (const int rc = MakeDirty(f); rc != SQLITE_OK) return rc;
    Node& n = *f->node;
    n.size = size;
    n.realLimit = std::min<std::int64_t>(n.realLimit, size);
    const std::int64_t cut = size / kBlock;
    n.blocks.erase(n.blocks.upper_bound(cut), n.blocks.end());
    if (auto it = n.blocks.find(cut); it != n.blocks.end()) {
        if (size % kBlock == 0) n.blocks.erase(it);
        else std::memset(it->second.get() + size % kBlock, 0, static_cast<size_t>(kBlock - size % kBlock));
    }
    return SQLITE_OK;
}

int xSync(sqlite3_file*, int) { return SQLITE_OK; }

int xFileSize(sqlite3_file* file, sqlite3_int64* size) {
    ShimFile* f = Shim(file);
    auto hold = Hold(WorldOf(f));
    if (f->node->dirty) {
        *size = f->node->size;
        return SQLITE_OK;
    }
    return f->real->pMethods->xFileSize(f->real, size);
}

int xLock(sqlite3_file* file, int level) {
    ShimFile* f = Shim(file);
    auto hold = Hold(WorldOf(f));
    Node& n = *f->node;
    if (f->lock >= level) return SQLITE_OK;
    if (level == SQLITE_LOCK_SHARED) {
        if (n.pending || n.exclusive) return SQLITE_BUSY;
        if (f->real) {
            if (const int rc = f->real->pMethods->xLock(f->real, SQLITE_LOCK_SHARED); rc != SQLITE_OK) return rc;
        }
        ++n.shared;
        f->lock = SQLITE_LOCK_SHARED;
        return SQLITE_OK;
    }
    if (n.reserved && n.reserved != f) return SQLITE_BUSY;
    if (level == SQLITE_LOCK_RESERVED) {
        n.reserved = f;
        f->lock = SQLITE_LOCK_RESERVED;
        return SQLITE_OK;
    }
    if (n.pending && n.pending != f) return SQLITE_BUSY;
    n.pending = f;
    f->lock = std::max(f->lock, int(SQLITE_LOCK_PENDING));
    if (n.shared > 1) return SQLITE_BUSY;
    if (level == SQLITE_LOCK_EXCLUSIVE) {
        n.exclusive = f;
        f->lock = SQLITE_LOCK_EXCLUSIVE;
    }
    return SQLITE_OK;
}

int xUnlock(sqlite3_file* file, int level) {
    ShimFile* f = Shim(file);
    auto hold = Hold(WorldOf(f));
    Node& n = *f->node;
    if (f->lock <= level) return SQLITE_OK;
    if (n.exclusive == f) n.exclusive = nullptr;
    if (n.pending == f) n.pending = nullptr;
    if (level < SQLITE_LOCK_RESERVED && n.reserved == f) n.reserved = nullptr;
    if (level == SQLITE_LOCK_NONE) {
        --n.shared;
        if (f->real) f->real->pMethods->xUnlock(f->real, SQLITE_LOCK_NONE);
    }
    f->lock = level;
    return SQLITE_OK;
}

int xCheckReservedLock(sqlite3_file* file, int* out) {
    ShimFile* f = Shim(file);
    auto hold = Hold(WorldOf(f));
    const Node& n = *f->node;
    *out = (n.reserved && n.reserved != f) || n.pending || n.exclusive;
    if (!*out && f->real) return f->real->pMethods->xCheckReservedLock(f->real, out);
    return SQLITE_OK;
}

int xFileControl(sqlite3_file* file, int op, void* arg) {
    if (op == SQLITE_FCNTL_LOCKSTATE) {
        *static_cast<int*>(arg) = Shim(file)->lock;
        return SQLITE_OK;
    }
    if (op == SQLITE_FCNTL_HAS_MOVED) {
        *static_cast<int*>(arg) = 0;
        return SQLITE_OK;
    }
    return SQLITE_NOTFOUND;
}

int xSectorSize(sqlite3_file*) { return 4096; }
int xDeviceCharacteristics(sqlite3_file*) { return 0; }

const sqlite3_io_methods kMethods = {
    1,           xClose,       xRead,         xWrite,
    xTruncate,   xSync,        xFileSize,     xLock,
    xUnlock,     xCheckReservedLock, xFileControl, xSectorSize,
    xDeviceCharacteristics, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

int vOpen(sqlite3_vfs* vfs, const char* zName, sqlite3_file* file, int flags, int* outFlags) {
    auto* f = new (file) ShimFile();
    f->base.pMethods = nullptr;
    const auto fail = [&](int rc) {
        f->~ShimFile();
        file->pMethods = nullptr;
        return rc;
    };
    ViewVfs* view = View(vfs);
    World& w = *view->world;
    f->view = view->shared_from_this();
    {
        auto hold = Hold(w);
        const bool create = (flags & SQLITE_OPEN_CREATE) != 0;
        if (!zName) {
            f->node = NewNode(w, "");
        } else {
            f->name = w.Key(zName);
            if (auto it = w.names.find(f->name); it != w.names.end()) {
                f->node = it->second;
            } else if (!w.gone.count(f->name) && w.OnDisk(f->name)) {
                if (!w.base.FileExists(f->name)) return fail(SQLITE_CANTOPEN);
                f->node = w.names[f->name] = NewNode(w, f->name);
            } else if (create) {
                f->node = w.names[f->name] = NewNode(w, "");
                w.gone.erase(f->name);
            } else {
                return fail(SQLITE_CANTOPEN);
            }
        }
        f->deleteOnClose = (flags & SQLITE_OPEN_DELETEONCLOSE) != 0;
    }
    if (!f->node->backing.empty()) {
        sqlite3_vfs* disk = w.diskVfs;
        f->real = static_cast<sqlite3_file*>(sqlite3_malloc(disk->szOsFile));
        if (!f->real) return fail(SQLITE_NOMEM);
        std::memset(f->real, 0, static_cast<size_t>(disk->szOsFile));
        const int readFlags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE |
                                         SQLITE_OPEN_DELETEONCLOSE)) |
                              SQLITE_OPEN_READONLY;
        int got = 0;
        const int rc = disk->xOpen(disk, f->node->backing.c_str(), f->real, readFlags, &got);
        if (rc != SQLITE_OK) {
            if (f->real->pMethods) f->real->pMethods->xClose(f->real);
            sqlite3_free(f->real);
            f->real = nullptr;
            return fail(rc);
        }
    }
    file->pMethods = &kMethods;
    if (outFlags) *outFlags = flags;
    return SQLITE_OK;
}

int vDelete(sqlite3_vfs* vfs, const char* zName, int) {
    // The engine's own journals come and go; they are not the run's changes.
    World& w = *View(vfs)->world;
    auto hold = Hold(w);
    const std::string key = w.Key(zName);
    w.names.erase(key);
    if (w.OnDisk(key)) w.gone.insert(key);
    return SQLITE_OK;
}

int vAccess(sqlite3_vfs* vfs, const char* zName, int flags, int* out) {
    World& w = *View(vfs)->world;
    {
        auto hold = Hold(w);
        const std::string key = w.Key(zName);
        if (w.names.count(key)) {
            *out = 1;
            return SQLITE_OK;
        }
        if (w.gone.count(key)) {
            *out = 0;
            return SQLITE_OK;
        }
    }
    // Whether the disk would let us write does not matter: nothing is written there.
    sqlite3_vfs* disk = w.diskVfs;
    return disk->xAccess(disk, zName, flags == SQLITE_ACCESS_READWRITE ? SQLITE_ACCESS_EXISTS : flags, out);
}

int vFullPathname(sqlite3_vfs* vfs, const char* zName, int nOut, char* zOut) {
    const std::string key = View(vfs)->world->Key(zName);
    if (static_cast<int>(key.size()) >= nOut) return SQLITE_CANTOPEN;
    std::memcpy(zOut, key.c_str(), key.size() + 1);
    return SQLITE_OK;
}

sqlite3_vfs* Disk(sqlite3_vfs* v) { return View(v)->world->diskVfs; }

std::atomic<unsigned> g_views{0};

class ReportOnlyView final : public EnvWrapper {
public:
    explicit ReportOnlyView(Env& base) : EnvWrapper(base), m_world(std::make_shared<World>(base)) {
        m_world->diskVfs = sqlite3_vfs_find(base.BaseEngineVfs());
        if (!m_world->diskVfs) m_world->diskVfs = sqlite3_vfs_find(nullptr);
        m_vfs = std::make_shared<ViewVfs>();
        ViewVfs* view = m_vfs.get();
        view->world = m_world;
        view->name = "quillex-report-only-" + std::to_string(++g_views);
        sqlite3_vfs& v = view->vfs;
        FillLayerVfs<Disk>(v, view->name.c_str(), view, sizeof(ShimFile), m_world->diskVfs->mxPathname);
        v.xOpen = vOpen;
        v.xDelete = vDelete;
        v.xAccess = vAccess;
        v.xFullPathname = vFullPathname;
        sqlite3_vfs_register(&v, 0);
    }

    ~ReportOnlyView() override {
        // A connection still open keeps the layer through its files; the
        // layer itself is let go with the last of them.
        sqlite3_vfs_unregister(&m_vfs->vfs);
    }

    EntryKind KindOf(const std::string& path) override {
        const Entry e = Look(path);
        if (e.state == Entry::State::Disk) return target().KindOf(path);
        return e.state == Entry::State::File ? EntryKind::RegularFile : EntryKind::None;
    }
    EntryKind KindOnDisk(const std::string& path) override { return target().KindOnDisk(path); }
    bool FileExists(const std::string& path) override {
        if (path.empty()) return false;
        const Entry e = Look(path);
        if (e.state == Entry::State::Disk) return target().FileExists(path);
        return e.state == Entry::State::File;
    }
    std::optional<FileId> IdentityOf(const std::string& path) override {
        if (path.empty()) return std::nullopt;
        const Entry e = Look(path);
        if (e.state == Entry::State::Disk) return target().IdentityOf(path);
        if (e.state == Entry::State::Absent) return std::nullopt;
        if (e.backing.empty()) return FileId{0, e.id};  // made by the run: no inode on disk
        return target().IdentityOf(e.backing);
    }
    std::int64_t FileLength(const std::string& path) override {
        const Entry e = Look(path);
        return e.state == Entry::State::Disk ? target().FileLength(path) : e.size;
    }
    std::int64_t ModifiedAt(const std::string& path) override {
        const Entry e = Look(path);
        if (e.state == Entry::State::Disk) return target().ModifiedAt(path);
        if (e.state == Entry::State::Absent) return -1;
        return e.backing.empty() ? 0 : target().ModifiedAt(e.backing);
    }
    bool IsReadOnly(const std::string& path) override {
        {
            auto hold = Hold(*m_world);
            if (auto it = m_world->readOnly.find(m_world->Key(path)); it != m_world->readOnly.end()) return it->second;
        }
        const Entry e = Look(path);
        if (e.state == Entry::State::Disk) return target().IsReadOnly(path);
        if (e.state == Entry::State::Absent || e.backing.empty()) return false;
        return target().IsReadOnly(e.backing);
    }
    std::string Canonical(const std::string& path, std::error_code& ec) override {
        ec.clear();
        const Entry e = Look(path);
        if (e.state == Entry::State::Disk) return target().Canonical(path, ec);
        // A name the run made or took away exists only in its view: the
        // folder is real, the name is the run's.
        if (e.state == Entry::State::Absent) {
            ec = std::make_error_code(std::errc::no_such_file_or_directory);
            return {};
        }
        std::string folder = GetFolderPart(path);
        folder = target().Canonical(folder.empty() ? std::string(".") : folder, ec);
        if (ec) return {};
        if (folder.empty() || !IsPathSeparator(folder.back())) folder += PathSeparator();
        return folder + GetFileNamePart(path);
    }
    std::vector<std::string> ListFolder(const std::string& folder, std::error_code& ec) override {
        std::vector<std::string> names = target().ListFolder(folder, ec);
        if (ec) return names;
        auto hold = Hold(*m_world);
        const std::string here = m_world->Key(folder);
        const auto inHere = [&](const std::string& key) { return m_world->Key(GetFolderPart(key)) == here; };
        names.erase(std::remove_if(names.begin(), names.end(),
                                   [&](const std::string& n) {
                                       const std::string key = m_world->Key(folder + PathSeparator() + n);
                                       return m_world->gone.count(key) && !m_world->names.count(key);
                                   }),
                    names.end());
        for (const auto& [key, node] : m_world->names) {
            const std::string name = GetFileNamePart(key);
            if (inHere(key) && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        }
        return names;
    }
    int ReadFile(const std::string& path, std::string& out) override {
        out.clear();
        const Entry e = Look(path);
        if (e.state == Entry::State::Disk) return target().ReadFile(path, out);
        if (e.state == Entry::State::Absent) return ENOENT;
        auto hold = Hold(*m_world);
        const std::shared_ptr<Node> node = m_world->names[m_world->Key(path)];
        if (!node->dirty) return target().ReadFile(node->backing, out);
        std::string disk;
        if (!node->backing.empty())
            if (const int rc = target().ReadFile(node->backing, disk)) return rc;
        out.assign(static_cast<std::size_t>(node->size), '\0');
        std::memcpy(out.data(), disk.data(), std::min<std::size_t>(disk.size(), std::min<std::size_t>(
                                                 out.size(), static_cast<std::size_t>(node->realLimit))));
        for (const auto& [b, block] : node->blocks) {
            const std::int64_t at = b * kBlock;
            if (at >= node->size) break;
            std::memcpy(out.data() + at, block.get(), static_cast<std::size_t>(std::min(kBlock, node->size - at)));
        }
        return 0;
    }

    int RenameEntry(const std::string& from, const std::string& to) override {
        World& w = *m_world;
        auto hold = Hold(w);
        const std::string kf = m_world->Key(from), kt = m_world->Key(to);
        if (w.names.count(kt) || (!w.gone.count(kt) && w.OnDisk(kt))) return EEXIST;
        std::shared_ptr<Node> node;
        if (auto it = w.names.find(kf); it != w.names.end()) {
            node = it->second;
            w.names.erase(it);
        } else if (!w.gone.count(kf) && w.OnDisk(kf)) {
            node = NewNode(w, kf);
        } else {
            return ENOENT;
        }
        if (w.OnDisk(kf)) w.gone.insert(kf);
        w.names[kt] = node;
        w.gone.erase(kt);
        if (auto ro = w.readOnly.find(kf); ro != w.readOnly.end()) {
            w.readOnly[kt] = ro->second;
            w.readOnly.erase(kf);
        }
        w.changes.push_back("rename " + from + " -> " + to);
        return 0;
    }
    // Nothing is created on disk in a report-only run; a caller that forgot
    // to skip this step learns it, instead of writing.
    int WriteNewEntry(const std::string&, std::string_view) override { return EROFS; }
    int RemoveEntry(const std::string& path) override {
        World& w = *m_world;
        auto hold = Hold(w);
        const std::string key = m_world->Key(path);
        const bool known = w.names.erase(key) > 0;
        const bool disk = !w.gone.count(key) && w.OnDisk(key);
        if (!known && !disk) return ENOENT;
        if (w.OnDisk(key)) w.gone.insert(key);
        w.changes.push_back("delete " + path);
        return 0;
    }
    // The lock file would be a new file in the archive folder.
    std::unique_ptr<FileLock> LockFileExclusively(const std::string&, const std::string&, LockOutcome& outcome,
                                                  std::string& holder) override {
        outcome = LockOutcome::Unavailable;
        holder = ErrorText(EROFS);
        return nullptr;
    }
    int CreateUnnamedFile(const std::string&, std::unique_ptr<UnnamedFile>&) override { return EROFS; }
    int FlushFile(const std::string&) override { return 0; }
    int FlushFolder(const std::string&) override { return 0; }
    int ChangeReadOnly(const std::string& path, bool readOnly) override {
        if (path.empty() || KindOf(path) == EntryKind::None) return ENOENT;
        if (IsReadOnly(path) == readOnly) return 0;
        auto hold = Hold(*m_world);
        m_world->readOnly[m_world->Key(path)] = readOnly;
        return 0;
    }

    bool ReportOnly() const override { return true; }
    std::vector<std::string> Changes() const override {
        auto hold = Hold(*m_world);
        return m_world->changes;
    }
    const char* BaseEngineVfs() override { return m_vfs->name.c_str(); }
    // The engine's writes land in the view's memory: nothing beneath sees them.
    int EngineWrite(const std::string&, std::int64_t, std::int64_t) override { return 0; }
    int EngineTruncate(const std::string&, std::int64_t) override { return 0; }
    int EngineSync(const std::string&) override { return 0; }
    void EngineSynced(const std::string&) override {}
    void EngineCreated(const std::string&) override {}
    int EngineDelete(const std::string&, bool) override { return 0; }

private:
    Entry Look(const std::string& path) {
        Entry e;
        if (path.empty()) return e;
        World& w = *m_world;
        auto hold = Hold(w);
        const std::string key = m_world->Key(path);
        if (auto it = w.names.find(key); it != w.names.end()) {
            const Node& n = *it->second;
            e.state = Entry::State::File;
            e.backing = n.backing;
            e.size = n.dirty ? n.size : w.base.FileLength(n.backing);
            e.id = n.id;
        } else if (w.gone.count(key)) {
            e.state = Entry::State::Absent;
        }
        return e;
    }

    std::shared_ptr<World> m_world;
    std::shared_ptr<ViewVfs> m_vfs;
};

}  // namespace

std::unique_ptr<Env> NewReportOnlyEnv(Env& base) { return std::make_unique<ReportOnlyView>(base); }

}  // namespace qx
