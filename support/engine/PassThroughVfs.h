#pragma once
// Private to the engine's file layers: what a layer over another engine file
// layer does not change (loading extensions, randomness, sleeping, the clock,
// the last system error) goes on to the layer below unchanged.
#include "support/engine/SqliteApi.h"

namespace qx {

// Everything of a layer but its file functions (xOpen, xDelete, xAccess,
// xFullPathname), which the caller sets. `Below` names the layer each call
// goes on to; a template argument rather than a member, because the engine
// takes plain function pointers.
template <sqlite3_vfs* (*Below)(sqlite3_vfs*)>
void FillLayerVfs(sqlite3_vfs& v, const char* name, void* appData, int fileSize, int mxPathname) {
    v.iVersion = 2;
    v.szOsFile = fileSize;
    v.mxPathname = mxPathname;
    v.zName = name;
    v.pAppData = appData;
    v.xDlOpen = [](sqlite3_vfs* s, const char* z) -> void* { return Below(s)->xDlOpen(Below(s), z); };
    v.xDlError = [](sqlite3_vfs* s, int n, char* z) { Below(s)->xDlError(Below(s), n, z); };
    v.xDlSym = [](sqlite3_vfs* s, void* h, const char* z) -> void (*)(void) {
        return Below(s)->xDlSym(Below(s), h, z);
    };
    v.xDlClose = [](sqlite3_vfs* s, void* h) { Below(s)->xDlClose(Below(s), h); };
    v.xRandomness = [](sqlite3_vfs* s, int n, char* z) { return Below(s)->xRandomness(Below(s), n, z); };
    v.xSleep = [](sqlite3_vfs* s, int us) { return Below(s)->xSleep(Below(s), us); };
    v.xCurrentTime = [](sqlite3_vfs* s, double* t) { return Below(s)->xCurrentTime(Below(s), t); };
    // Both are optional in a layer of the first version.
    v.xGetLastError = [](sqlite3_vfs* s, int n, char* z) {
        sqlite3_vfs* b = Below(s);
        return b->xGetLastError ? b->xGetLastError(b, n, z) : 0;
    };
    v.xCurrentTimeInt64 = [](sqlite3_vfs* s, sqlite3_int64* t) {
        sqlite3_vfs* b = Below(s);
        if (b->iVersion >= 2 && b->xCurrentTimeInt64) return b->xCurrentTimeInt64(b, t);
        double now = 0;
        const int rc = b->xCurrentTime(b, &now);
        *t = static_cast<sqlite3_int64>(now * 86400000.0);
        return rc;
    };
}

}  // namespace qx
