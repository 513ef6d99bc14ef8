#include "store/FilteredVfs.h"

#include <cstring>
#include <memory>

namespace vcserver {

namespace {

struct FilteredVfs {
    sqlite3_vfs vfs{};
    sqlite3_vfs* base = nullptr;
    FileFilter filter;
    std::string name;
};

// The wrapped file follows this header in the memory SQLite hands to xOpen.
struct FilteredFile {
    sqlite3_file file;
    FilteredVfs* owner;
    int openFlags;
    sqlite3_file* inner() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

FilteredFile* of(sqlite3_file* f) {
    return reinterpret_cast<FilteredFile*>(f);
}
sqlite3_file* inner(sqlite3_file* f) {
    return of(f)->inner();
}
const sqlite3_io_methods* methods(sqlite3_file* f) {
    return inner(f)->pMethods;
}
FilteredVfs* owner(sqlite3_vfs* v) {
    return static_cast<FilteredVfs*>(v->pAppData);
}

int filtered(sqlite3_file* f, FileOp op, const std::function<int()>& proceed) {
    const FilteredFile* ff = of(f);
    return ff->owner->filter ? ff->owner->filter(op, ff->openFlags, proceed) : proceed();
}

int fClose(sqlite3_file* f) {
    return methods(f)->xClose(inner(f));
}
int fRead(sqlite3_file* f, void* buf, int amount, sqlite3_int64 offset) {
    return filtered(f, FileOp::Read,
                    [&] { return methods(f)->xRead(inner(f), buf, amount, offset); });
}
int fWrite(sqlite3_file* f, const void* buf, int amount, sqlite3_int64 offset) {
    return filtered(f, FileOp::Write,
                    [&] { return methods(f)->xWrite(inner(f), buf, amount, offset); });
}
int fTruncate(sqlite3_file* f, sqlite3_int64 size) {
    return filtered(f, FileOp::Truncate, [&] { return methods(f)->xTruncate(inner(f), size); });
}
int fSync(sqlite3_file* f, int flags) {
    return filtered(f, FileOp::Sync, [&] { return methods(f)->xSync(inner(f), flags); });
}
int fFileSize(sqlite3_file* f, sqlite3_int64* size) {
    return methods(f)->xFileSize(inner(f), size);
}
int fLock(sqlite3_file* f, int level) {
    return methods(f)->xLock(inner(f), level);
}
int fUnlock(sqlite3_file* f, int level) {
    return methods(f)->xUnlock(inner(f), level);
}
int fCheckReservedLock(sqlite3_file* f, int* out) {
    return methods(f)->xCheckReservedLock(inner(f), out);
}
int fFileControl(sqlite3_file* f, int op, void* arg) {
    return methods(f)->xFileControl(inner(f), op, arg);
}
int fSectorSize(sqlite3_file* f) {
    return methods(f)->xSectorSize(inner(f));
}
int fDeviceCharacteristics(sqlite3_file* f) {
    return methods(f)->xDeviceCharacteristics(inner(f));
}
int fShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
    return methods(f)->iVersion >= 2 ? methods(f)->xShmMap(inner(f), region, size, extend, out)
                                     : SQLITE_IOERR_SHMMAP;
}
int fShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return methods(f)->iVersion >= 2 ? methods(f)->xShmLock(inner(f), offset, n, flags)
                                     : SQLITE_IOERR_SHMLOCK;
}
void fShmBarrier(sqlite3_file* f) {
    if (methods(f)->iVersion >= 2) {
        methods(f)->xShmBarrier(inner(f));
    }
}
int fShmUnmap(sqlite3_file* f, int deleteFlag) {
    return methods(f)->iVersion >= 2 ? methods(f)->xShmUnmap(inner(f), deleteFlag) : SQLITE_OK;
}
int fFetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
    if (methods(f)->iVersion < 3) {
        *out = nullptr;
        return SQLITE_OK;
    }
    return methods(f)->xFetch(inner(f), offset, amount, out);
}
int fUnfetch(sqlite3_file* f, sqlite3_int64 offset, void* p) {
    return methods(f)->iVersion >= 3 ? methods(f)->xUnfetch(inner(f), offset, p) : SQLITE_OK;
}

const sqlite3_io_methods kMethods = {
    3,
    fClose,
    fRead,
    fWrite,
    fTruncate,
    fSync,
    fFileSize,
    fLock,
    fUnlock,
    fCheckReservedLock,
    fFileControl,
    fSectorSize,
    fDeviceCharacteristics,
    fShmMap,
    fShmLock,
    fShmBarrier,
    fShmUnmap,
    fFetch,
    fUnfetch,
};

int vOpen(sqlite3_vfs* v, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    FilteredFile* ff = of(f);
    ff->owner = owner(v);
    ff->openFlags = flags;
    sqlite3_vfs* base = owner(v)->base;
    const int rc = base->xOpen(base, name, ff->inner(), flags, outFlags);
    // SQLite closes a file only when its methods are set.
    f->pMethods = ff->inner()->pMethods ? &kMethods : nullptr;
    return rc;
}
int vDelete(sqlite3_vfs* v, const char* name, int syncDir) {
    return owner(v)->base->xDelete(owner(v)->base, name, syncDir);
}
int vAccess(sqlite3_vfs* v, const char* name, int flags, int* out) {
    return owner(v)->base->xAccess(owner(v)->base, name, flags, out);
}
int vFullPathname(sqlite3_vfs* v, const char* name, int size, char* out) {
    return owner(v)->base->xFullPathname(owner(v)->base, name, size, out);
}
void* vDlOpen(sqlite3_vfs* v, const char* name) {
    return owner(v)->base->xDlOpen(owner(v)->base, name);
}
void vDlError(sqlite3_vfs* v, int size, char* out) {
    owner(v)->base->xDlError(owner(v)->base, size, out);
}
void (*vDlSym(sqlite3_vfs* v, void* handle, const char* symbol))(void) {
    return owner(v)->base->xDlSym(owner(v)->base, handle, symbol);
}
void vDlClose(sqlite3_vfs* v, void* handle) {
    owner(v)->base->xDlClose(owner(v)->base, handle);
}
int vRandomness(sqlite3_vfs* v, int size, char* out) {
    return owner(v)->base->xRandomness(owner(v)->base, size, out);
}
int vSleep(sqlite3_vfs* v, int microseconds) {
    return owner(v)->base->xSleep(owner(v)->base, microseconds);
}
int vCurrentTime(sqlite3_vfs* v, double* out) {
    return owner(v)->base->xCurrentTime(owner(v)->base, out);
}
int vGetLastError(sqlite3_vfs* v, int size, char* out) {
    return owner(v)->base->xGetLastError(owner(v)->base, size, out);
}
int vCurrentTimeInt64(sqlite3_vfs* v, sqlite3_int64* out) {
    return owner(v)->base->xCurrentTimeInt64(owner(v)->base, out);
}
int vSetSystemCall(sqlite3_vfs* v, const char* name, sqlite3_syscall_ptr call) {
    return owner(v)->base->xSetSystemCall(owner(v)->base, name, call);
}
sqlite3_syscall_ptr vGetSystemCall(sqlite3_vfs* v, const char* name) {
    return owner(v)->base->xGetSystemCall(owner(v)->base, name);
}
const char* vNextSystemCall(sqlite3_vfs* v, const char* name) {
    return owner(v)->base->xNextSystemCall(owner(v)->base, name);
}

} // namespace

sqlite3_vfs* registerFilteredVfs(const std::string& name, sqlite3_vfs* base, FileFilter filter,
                                 bool makeDefault) {
    auto* fv = new FilteredVfs;
    fv->base = base;
    fv->filter = std::move(filter);
    fv->name = name;
    sqlite3_vfs& v = fv->vfs;
    v.iVersion = base->iVersion;
    v.szOsFile = static_cast<int>(sizeof(FilteredFile)) + base->szOsFile;
    v.mxPathname = base->mxPathname;
    v.zName = fv->name.c_str();
    v.pAppData = fv;
    v.xOpen = vOpen;
    v.xDelete = vDelete;
    v.xAccess = vAccess;
    v.xFullPathname = vFullPathname;
    v.xDlOpen = vDlOpen;
    v.xDlError = vDlError;
    v.xDlSym = vDlSym;
    v.xDlClose = vDlClose;
    v.xRandomness = vRandomness;
    v.xSleep = vSleep;
    v.xCurrentTime = vCurrentTime;
    v.xGetLastError = vGetLastError;
    if (base->iVersion >= 2) {
        v.xCurrentTimeInt64 = vCurrentTimeInt64;
    }
    if (base->iVersion >= 3) {
        v.xSetSystemCall = vSetSystemCall;
        v.xGetSystemCall = vGetSystemCall;
        v.xNextSystemCall = vNextSystemCall;
    }
    sqlite3_vfs_register(&v, makeDefault ? 1 : 0);
    return &v;
}

} // namespace vcserver
