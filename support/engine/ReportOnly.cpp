// The report-only view: a name table over the disk, and an engine file layer
// that opens every file on disk for reading only and keeps what is written
// in copy-on-write blocks in memory. Connections of this process to one name
// share its blocks and take their locks from each other, so a run sees its
// own commits across connections exactly as it would on disk.
#include "support/ReportOnly.h"

#include "support/engine/SqliteApi.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>

namespace qx::reportonly {

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
    std::recursive_mutex mutex;
    std::map<std::string, std::shared_ptr<Node>> names;
    std::set<std::string> gone;  // names on disk the run renamed or deleted
    std::map<std::string, bool> readOnly;
    std::vector<std::string> changes;
    std::uint64_t nextId = 1;
};

std::atomic<int> g_active{0};

World& TheWorld() {
    static World w;
    return w;
}

std::string Key(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path abs = std::filesystem::absolute(path, ec);
    return (ec ? std::filesystem::path(path) : abs).lexically_normal().string();
}

bool OnDisk(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::int64_t DiskSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

std::shared_ptr<Node> NewNode(World& w, std::string backing) {
    auto n = std::make_shared<Node>();
    n->backing = std::move(backing);
    n->id = w.nextId++;
    if (n->backing.empty()) n->dirty = true;
    return n;
}

// ---------------------------------------------------------------- the file layer

sqlite3_vfs* g_disk = nullptr;

struct ShimFile {
    sqlite3_file base;
    std::shared_ptr<Node> node;
    sqlite3_file* real = nullptr;  // the backing file, opened for reading only
    int lock = SQLITE_LOCK_NONE;
    bool deleteOnClose = false;
    std::string name;
};

ShimFile* Shim(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f); }

std::unique_lock<std::recursive_mutex> Hold() { return std::unique_lock(TheWorld().mutex); }

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
        auto hold = Hold();
        if (f->lock != SQLITE_LOCK_NONE) {
            Node& n = *f->node;
            if (n.exclusive == f) n.exclusive = nullptr;
            if (n.pending == f) n.pending = nullptr;
            if (n.reserved == f) n.reserved = nullptr;
            --n.shared;
        }
        if (f->deleteOnClose) {
            World& w = TheWorld();
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
    auto hold = Hold();
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
    auto hold = Hold();
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
    auto hold = Hold();
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
    auto hold = Hold();
    if (f->node->dirty) {
        *size = f->node->size;
        return SQLITE_OK;
    }
    return f->real->pMethods->xFileSize(f->real, size);
}

int xLock(sqlite3_file* file, int level) {
    ShimFile* f = Shim(file);
    auto hold = Hold();
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
    auto hold = Hold();
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
    auto hold = Hold();
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

int vOpen(sqlite3_vfs*, const char* zName, sqlite3_file* file, int flags, int* outFlags) {
    auto* f = new (file) ShimFile();
    f->base.pMethods = nullptr;
    const auto fail = [&](int rc) {
        f->~ShimFile();
        file->pMethods = nullptr;
        return rc;
    };
    {
        auto hold = Hold();
        World& w = TheWorld();
        const bool create = (flags & SQLITE_OPEN_CREATE) != 0;
        if (!zName) {
            f->node = NewNode(w, "");
        } else {
            f->name = Key(zName);
            if (auto it = w.names.find(f->name); it != w.names.end()) {
                f->node = it->second;
            } else if (!w.gone.count(f->name) && OnDisk(f->name)) {
                struct stat st {};
                if (::stat(f->name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return fail(SQLITE_CANTOPEN);
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
        f->real = static_cast<sqlite3_file*>(sqlite3_malloc(g_disk->szOsFile));
        if (!f->real) return fail(SQLITE_NOMEM);
        std::memset(f->real, 0, static_cast<size_t>(g_disk->szOsFile));
        const int readFlags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE |
                                         SQLITE_OPEN_DELETEONCLOSE)) |
                              SQLITE_OPEN_READONLY;
        int got = 0;
        const int rc = g_disk->xOpen(g_disk, f->node->backing.c_str(), f->real, readFlags, &got);
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

int vDelete(sqlite3_vfs*, const char* zName, int) {
    // The engine's own journals come and go; they are not the run's changes.
    auto hold = Hold();
    World& w = TheWorld();
    const std::string key = Key(zName);
    w.names.erase(key);
    if (OnDisk(key)) w.gone.insert(key);
    return SQLITE_OK;
}

int vAccess(sqlite3_vfs*, const char* zName, int flags, int* out) {
    {
        auto hold = Hold();
        World& w = TheWorld();
        const std::string key = Key(zName);
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
    return g_disk->xAccess(g_disk, zName, flags == SQLITE_ACCESS_READWRITE ? SQLITE_ACCESS_EXISTS : flags, out);
}

int vFullPathname(sqlite3_vfs*, const char* zName, int nOut, char* zOut) {
    const std::string key = Key(zName);
    if (static_cast<int>(key.size()) >= nOut) return SQLITE_CANTOPEN;
    std::memcpy(zOut, key.c_str(), key.size() + 1);
    return SQLITE_OK;
}

void* vDlOpen(sqlite3_vfs*, const char* z) { return g_disk->xDlOpen(g_disk, z); }
void vDlError(sqlite3_vfs*, int n, char* z) { g_disk->xDlError(g_disk, n, z); }
void (*vDlSym(sqlite3_vfs*, void* h, const char* z))(void) { return g_disk->xDlSym(g_disk, h, z); }
void vDlClose(sqlite3_vfs*, void* h) { g_disk->xDlClose(g_disk, h); }
int vRandomness(sqlite3_vfs*, int n, char* z) { return g_disk->xRandomness(g_disk, n, z); }
int vSleep(sqlite3_vfs*, int us) { return g_disk->xSleep(g_disk, us); }
int vCurrentTime(sqlite3_vfs*, double* t) { return g_disk->xCurrentTime(g_disk, t); }
int vGetLastError(sqlite3_vfs*, int n, char* z) { return g_disk->xGetLastError(g_disk, n, z); }
int vCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* t) { return g_disk->xCurrentTimeInt64(g_disk, t); }

sqlite3_vfs g_vfs;

}  // namespace

bool Active() { return g_active.load() > 0; }

Scope::Scope() { ++g_active; }

Scope::~Scope() {
    if (--g_active > 0) return;
    auto hold = Hold();
    World& w = TheWorld();
    w.names.clear();
    w.gone.clear();
    w.readOnly.clear();
    w.changes.clear();
}

Entry Look(const std::string& path) {
    Entry e;
    if (!Active() || path.empty()) return e;
    auto hold = Hold();
    World& w = TheWorld();
    const std::string key = Key(path);
    if (auto it = w.names.find(key); it != w.names.end()) {
        const Node& n = *it->second;
        e.state = Entry::State::File;
        e.backing = n.backing;
        e.size = n.dirty ? n.size : DiskSize(n.backing);
        e.id = n.id;
    } else if (w.gone.count(key)) {
        e.state = Entry::State::Absent;
    }
    return e;
}

int Rename(const std::string& from, const std::string& to) {
    auto hold = Hold();
    World& w = TheWorld();
    const std::string kf = Key(from), kt = Key(to);
    if (w.names.count(kt) || (!w.gone.count(kt) && OnDisk(kt))) return EEXIST;
    std::shared_ptr<Node> node;
    if (auto it = w.names.find(kf); it != w.names.end()) {
        node = it->second;
        w.names.erase(it);
    } else if (!w.gone.count(kf) && OnDisk(kf)) {
        node = NewNode(w, kf);
    } else {
        return ENOENT;
    }
    if (OnDisk(kf)) w.gone.insert(kf);
    w.names[kt] = node;
    w.gone.erase(kt);
    if (auto ro = w.readOnly.find(kf); ro != w.readOnly.end()) {
        w.readOnly[kt] = ro->second;
        w.readOnly.erase(kf);
    }
    w.changes.push_back("rename " + from + " -> " + to);
    return 0;
}

int Remove(const std::string& path) {
    auto hold = Hold();
    World& w = TheWorld();
    const std::string key = Key(path);
    const bool known = w.names.erase(key) > 0;
    const bool disk = !w.gone.count(key) && OnDisk(key);
    if (!known && !disk) return ENOENT;
    if (OnDisk(key)) w.gone.insert(key);
    w.changes.push_back("delete " + path);
    return 0;
}

void SetReadOnlyAttribute(const std::string& path, bool readOnly) {
    auto hold = Hold();
    TheWorld().readOnly[Key(path)] = readOnly;
}

std::optional<bool> ReadOnlyAttribute(const std::string& path) {
    if (!Active()) return std::nullopt;
    auto hold = Hold();
    const World& w = TheWorld();
    auto it = w.readOnly.find(Key(path));
    if (it == w.readOnly.end()) return std::nullopt;
    return it->second;
}

std::vector<std::string> Changes() {
    auto hold = Hold();
    return TheWorld().changes;
}

const char* VfsName() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_disk = sqlite3_vfs_find(nullptr);
        g_vfs.iVersion = 2;
        g_vfs.szOsFile = sizeof(ShimFile);
        g_vfs.mxPathname = g_disk->mxPathname;
        g_vfs.zName = "quillex-report-only";
        g_vfs.xOpen = vOpen;
        g_vfs.xDelete = vDelete;
        g_vfs.xAccess = vAccess;
        g_vfs.xFullPathname = vFullPathname;
        g_vfs.xDlOpen = vDlOpen;
        g_vfs.xDlError = vDlError;
        g_vfs.xDlSym = vDlSym;
        g_vfs.xDlClose = vDlClose;
        g_vfs.xRandomness = vRandomness;
        g_vfs.xSleep = vSleep;
        g_vfs.xCurrentTime = vCurrentTime;
        g_vfs.xGetLastError = vGetLastError;
        g_vfs.xCurrentTimeInt64 = vCurrentTimeInt64;
        sqlite3_vfs_register(&g_vfs, 0);
    });
    return g_vfs.zName;
}

}  // namespace qx::reportonly
