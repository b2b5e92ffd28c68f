// The engine's file layer of an Env: a thin layer over the base engine file
// layer that tells the Env what the engine is about to write, truncate, sync
// or delete, so that the layers of an Env (fault injection, power-loss
// simulation) see the engine's I/O exactly as they see their own. Locks,
// shared memory and reads pass through untouched.
#include "support/Env.h"
#include "support/engine/PassThroughVfs.h"
#include "support/engine/SqliteApi.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <memory>
#include <new>
#include <string>

namespace qx {

namespace {

struct EnvFile {
    sqlite3_file base;
    Env* env = nullptr;
    sqlite3_file* real = nullptr;  // lives right after this struct
    std::string* path = nullptr;   // nullptr: a nameless temporary, not reported
};

EnvFile* Wrap(sqlite3_file* f) { return reinterpret_cast<EnvFile*>(f); }

// A refusal by the Env becomes the I/O error the engine expects from the
// system call it stands for; a full disk stays a full disk.
int Refused(int err, int ioerr) { return err == ENOSPC ? SQLITE_FULL : ioerr; }

int xClose(sqlite3_file* f) {
    EnvFile* w = Wrap(f);
    const int rc = w->real->pMethods ? w->real->pMethods->xClose(w->real) : SQLITE_OK;
    delete w->path;
    w->path = nullptr;
    return rc;
}
int xRead(sqlite3_file* f, void* buf, int amt, sqlite3_int64 off) {
    sqlite3_file* r = Wrap(f)->real;
    return r->pMethods->xRead(r, buf, amt, off);
}
int xWrite(sqlite3_file* f, const void* buf, int amt, sqlite3_int64 off) {
    EnvFile* w = Wrap(f);
    if (w->path)
        if (const int err = w->env->EngineWrite(*w->path, off, amt)) return Refused(err, SQLITE_IOERR_WRITE);
    return w->real->pMethods->xWrite(w->real, buf, amt, off);
}
int xTruncate(sqlite3_file* f, sqlite3_int64 size) {
    EnvFile* w = Wrap(f);
    if (w->path)
        if (const int err = w->env->EngineTruncate(*w->path, size)) return Refused(err, SQLITE_IOERR_TRUNCATE);
    return w->real->pMethods->xTruncate(w->real, size);
}
int xSync(sqlite3_file* f, int flags) {
    EnvFile* w = Wrap(f);
    if (w->path)
        if (const int err = w->env->EngineSync(*w->path)) return Refused(err, SQLITE_IOERR_FSYNC);
    const int rc = w->real->pMethods->xSync(w->real, flags);
    if (rc == SQLITE_OK && w->path) w->env->EngineSynced(*w->path);
    return rc;
}
int xFileSize(sqlite3_file* f, sqlite3_int64* size) {
    sqlite3_file* r = Wrap(f)->real;
    return r->pMethods->xFileSize(r, size);
}
int xLock(sqlite3_file* f, int level) {
    sqlite3_file* r = Wrap(f)->real;
    return r->pMethods->xLock(r, level);
}
int xUnlock(sqlite3_file* f, int level) {
    sqlite3_file* r = Wrap(f)->real;
    return r->pMethods->xUnlock(r, level);
}
int xCheckReservedLock(sqlite3_file* f, int* out) {
    sqlite3_file* r = Wrap(f)->real;
    return r->pMethods->xCheckReservedLock(r, out);
}
int xFileControl(sqlite3_file* f, int op, void* arg) {
    sqlite3_file* r = Wrap(f)->real;
    return r->pMethods->xFileControl(r, op, arg);
}
int xSectorSize(sqlite3_file* f) {
    sqlite3_file* r = Wrap(f)->real;
    return r->pMethods->xSectorSize(r);
}
int xDeviceCharacteristics(sqlite3_file* f) {
    sqlite3_file* r = Wrap(f)->real;
    return r->pMethods->xDeviceCharacteristics(r);
}
int xShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** p) {
    sqlite3_file* r = Wrap(f)->real;
    return r->pMethods->xShmMap(r, region, size, extend, p);
}
int xShmLock(sqlite3_file* f, int offset, int n, int flags) {
    sqlite3_file* r = Wrap(f)->real;
    return r->pMethods->xShmLock(r, offset, n, flags);
}
void xShmBarrier(sqlite3_file* f) {
    sqlite3_file* r = Wrap(f)->real;
    r->pMethods->xShmBarrier(r);
}
int xShmUnmap(sqlite3_file* f, int deleteFlag) {
    sqlite3_file* r = Wrap(f)->real;
    return r->pMethods->xShmUnmap(r, deleteFlag);
}
int xFetch(sqlite3_file* f, sqlite3_int64 off, int amt, void** p) {
    sqlite3_file* r = Wrap(f)->real;
    return r->pMethods->xFetch(r, off, amt, p);
}
int xUnfetch(sqlite3_file* f, sqlite3_int64 off, void* p) {
    sqlite3_file* r = Wrap(f)->real;
    return r->pMethods->xUnfetch(r, off, p);
}

// One table per version of the base's methods: the engine decides from the
// version whether shared memory and memory mapping exist, so the layer must
// not claim more than the file beneath it has.
constexpr sqlite3_io_methods Methods(int version) {
    return {version,      xClose,         xRead,       xWrite,   xTruncate,  xSync,
            xFileSize,    xLock,          xUnlock,     xCheckReservedLock,   xFileControl,
            xSectorSize,  xDeviceCharacteristics,
            version >= 2 ? xShmMap : nullptr,   version >= 2 ? xShmLock : nullptr,
            version >= 2 ? xShmBarrier : nullptr, version >= 2 ? xShmUnmap : nullptr,
            version >= 3 ? xFetch : nullptr,   version >= 3 ? xUnfetch : nullptr};
}
const sqlite3_io_methods kMethods[3] = {Methods(1), Methods(2), Methods(3)};

struct VfsLayer {
    sqlite3_vfs vfs{};
    sqlite3_vfs* base = nullptr;
    Env* env = nullptr;
    std::string name;
    bool registered = false;
};

VfsLayer* Layer(sqlite3_vfs* vfs) { return static_cast<VfsLayer*>(vfs->pAppData); }

int vOpen(sqlite3_vfs* vfs, const char* zName, sqlite3_file* file, int flags, int* outFlags) {
    VfsLayer* l = Layer(vfs);
    EnvFile* w = Wrap(file);
    w->base.pMethods = nullptr;
    w->env = l->env;
    w->real = reinterpret_cast<sqlite3_file*>(w + 1);
    w->path = nullptr;
    // Whether the open creates the file is asked of the base first: only a
    // new name is a creation the Env has to know of.
    int existed = 1;
    if (zName && (flags & SQLITE_OPEN_CREATE))
        if (l->base->xAccess(l->base, zName, SQLITE_ACCESS_EXISTS, &existed) != SQLITE_OK) existed = 1;
    std::memset(w->real, 0, static_cast<size_t>(l->base->szOsFile));
    const int rc = l->base->xOpen(l->base, zName, w->real, flags, outFlags);
    if (rc != SQLITE_OK) {
        if (w->real->pMethods) w->real->pMethods->xClose(w->real);
        return rc;
    }
    if (zName) {
        w->path = new (std::nothrow) std::string(zName);
        if (!w->path) {
            w->real->pMethods->xClose(w->real);
            return SQLITE_NOMEM;
        }
        if (!existed) l->env->EngineCreated(*w->path);
    }
    const int version = w->real->pMethods->iVersion;
    w->base.pMethods = &kMethods[version < 1 ? 0 : version > 3 ? 2 : version - 1];
    return SQLITE_OK;
}
int vDelete(sqlite3_vfs* vfs, const char* zName, int syncDir) {
    VfsLayer* l = Layer(vfs);
    if (const int err = l->env->EngineDelete(zName, syncDir != 0)) return Refused(err, SQLITE_IOERR_DELETE);
    return l->base->xDelete(l->base, zName, syncDir);
}
int vAccess(sqlite3_vfs* vfs, const char* zName, int flags, int* out) {
    sqlite3_vfs* b = Layer(vfs)->base;
    return b->xAccess(b, zName, flags, out);
}
int vFullPathname(sqlite3_vfs* vfs, const char* zName, int nOut, char* zOut) {
    sqlite3_vfs* b = Layer(vfs)->base;
    return b->xFullPathname(b, zName, nOut, zOut);
}
sqlite3_vfs* Base(sqlite3_vfs* vfs) { return Layer(vfs)->base; }

std::atomic<unsigned> g_layers{0};

}  // namespace

struct Env::EngineLayer {
    VfsLayer layer;
};

Env::Env() = default;

Env::~Env() {
    if (m_engineLayer && m_engineLayer->layer.registered) sqlite3_vfs_unregister(&m_engineLayer->layer.vfs);
}

const char* Env::EngineVfs() {
    // Connections of several threads may ask at once; the layer is made once.
    static std::mutex making;
    std::lock_guard hold(making);
    if (m_engineLayer && m_engineLayer->layer.registered) return m_engineLayer->layer.name.c_str();
    if (sqlite3_initialize() != SQLITE_OK) return BaseEngineVfs();
    sqlite3_vfs* base = sqlite3_vfs_find(BaseEngineVfs());
    if (!base) return BaseEngineVfs();
    auto made = std::make_unique<EngineLayer>();
    VfsLayer* l = &made->layer;
    l->base = base;
    l->env = this;
    l->name = "quillex-env-" + std::to_string(++g_layers);
    sqlite3_vfs& v = l->vfs;
    FillLayerVfs<Base>(v, l->name.c_str(), l, static_cast<int>(sizeof(EnvFile)) + base->szOsFile, base->mxPathname);
    v.xOpen = vOpen;
    v.xDelete = vDelete;
    v.xAccess = vAccess;
    v.xFullPathname = vFullPathname;
    if (sqlite3_vfs_register(&v, 0) != SQLITE_OK) return BaseEngineVfs();
    l->registered = true;
    m_engineLayer = std::move(made);
    return l->name.c_str();
}

int Env::EngineWrite(const std::string&, std::int64_t, std::int64_t) { return 0; }
int Env::EngineTruncate(const std::string&, std::int64_t) { return 0; }
int Env::EngineSync(const std::string&) { return 0; }
void Env::EngineSynced(const std::string&) {}
void Env::EngineCreated(const std::string&) {}
int Env::EngineDelete(const std::string&, bool) { return 0; }

}  // namespace qx
