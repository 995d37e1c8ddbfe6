// A full-disk VFS shim: each file opened through it wraps the default VFS's
// file and forwards every method, except that writes and truncations that
// grow the file fail while the disk is "full".
#include "failing_vfs.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace quavella::test {

namespace {

std::atomic<bool> g_full{false};
std::atomic<std::uint64_t> g_reads{0};
sqlite3_vfs* g_base = nullptr;

/// Our file: the method table first, as SQLite requires, then the real file,
/// which the base VFS fills in (its szOsFile bytes follow).
struct ShimFile {
    sqlite3_file base;
    sqlite3_file* real;
};

sqlite3_file* real(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f)->real; }

int shim_close(sqlite3_file* f) {
    const int rc = real(f)->pMethods->xClose(real(f));
    return rc;
}
int shim_read(sqlite3_file* f, void* buf, int n, sqlite3_int64 off) {
    ++g_reads;
    return real(f)->pMethods->xRead(real(f), buf, n, off);
}
int shim_write(sqlite3_file* f, const void* buf, int n, sqlite3_int64 off) {
    if (g_full) return SQLITE_FULL;
    return real(f)->pMethods->xWrite(real(f), buf, n, off);
}
int shim_truncate(sqlite3_file* f, sqlite3_int64 size) {
    sqlite3_int64 now = 0;
    if (g_full && real(f)->pMethods->xFileSize(real(f), &now) == SQLITE_OK && size > now) {
        return SQLITE_FULL;
    }
    return real(f)->pMethods->xTruncate(real(f), size);
}
int shim_sync(sqlite3_file* f, int flags) { return real(f)->pMethods->xSync(real(f), flags); }
int shim_file_size(sqlite3_file* f, sqlite3_int64* size) {
    return real(f)->pMethods->xFileSize(real(f), size);
}
int shim_lock(sqlite3_file* f, int level) { return real(f)->pMethods->xLock(real(f), level); }
int shim_unlock(sqlite3_file* f, int level) { return real(f)->pMethods->xUnlock(real(f), level); }
int shim_check_reserved(sqlite3_file* f, int* out) {
    return real(f)->pMethods->xCheckReservedLock(real(f), out);
}
int shim_file_control(sqlite3_file* f, int op, void* arg) {
    return real(f)->pMethods->xFileControl(real(f), op, arg);
}
int shim_sector_size(sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); }
int shim_device_characteristics(sqlite3_file* f) {
    return real(f)->pMethods->xDeviceCharacteristics(real(f));
}
int shim_shm_map(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
    return real(f)->pMethods->xShmMap(real(f), page, size, extend, out);
}
int shim_shm_lock(sqlite3_file* f, int offset, int n, int flags) {
    return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
}
void shim_shm_barrier(sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); }
int shim_shm_unmap(sqlite3_file* f, int delete_flag) {
    return real(f)->pMethods->xShmUnmap(real(f), delete_flag);
}

// Version 2: WAL needs the shared-memory methods; memory mapping stays off.
const sqlite3_io_methods kMethods = {
    2,
    shim_close,
    shim_read,
    shim_write,
    shim_truncate,
    shim_sync,
    shim_file_size,
    shim_lock,
    shim_unlock,
    shim_check_reserved,
    shim_file_control,
    shim_sector_size,
    shim_device_characteristics,
    shim_shm_map,
    shim_shm_lock,
    shim_shm_barrier,
    shim_shm_unmap,
    nullptr,
    nullptr,
};

int shim_open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out_flags) {
    auto* shim = reinterpret_cast<ShimFile*>(f);
    shim->real = reinterpret_cast<sqlite3_file*>(shim + 1);
    std::memset(shim->real, 0, static_cast<std::size_t>(g_base->szOsFile));
    const int rc = g_base->xOpen(g_base, name, shim->real, flags, out_flags);
    // SQLite calls xClose only when pMethods is set: leave it null on failure.
    shim->base.pMethods = rc == SQLITE_OK && shim->real->pMethods != nullptr ? &kMethods : nullptr;
    return rc;
}

int shim_delete(sqlite3_vfs*, const char* name, int sync_dir) {
    return g_base->xDelete(g_base, name, sync_dir);
}
int shim_access(sqlite3_vfs*, const char* name, int flags, int* out) {
    return g_base->xAccess(g_base, name, flags, out);
}
int shim_full_pathname(sqlite3_vfs*, const char* name, int n, char* out) {
    return g_base->xFullPathname(g_base, name, n, out);
}
int shim_randomness(sqlite3_vfs*, int n, char* out) { return g_base->xRandomness(g_base, n, out); }
int shim_sleep(sqlite3_vfs*, int us) { return g_base->xSleep(g_base, us); }
int shim_current_time(sqlite3_vfs*, double* out) { return g_base->xCurrentTime(g_base, out); }
int shim_get_last_error(sqlite3_vfs*, int n, char* out) {
    return g_base->xGetLastError(g_base, n, out);
}
int shim_current_time_int64(sqlite3_vfs*, sqlite3_int64* out) {
    return g_base->xCurrentTimeInt64(g_base, out);
}

sqlite3_vfs g_vfs;

}  // namespace

void register_full_disk_vfs() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_base = sqlite3_vfs_find(nullptr);
        g_vfs = {};
        g_vfs.iVersion = 2;
        g_vfs.szOsFile = static_cast<int>(sizeof(ShimFile)) + g_base->szOsFile;
        g_vfs.mxPathname = g_base->mxPathname;
        g_vfs.zName = kFullDiskVfs;
        g_vfs.xOpen = shim_open;
        g_vfs.xDelete = shim_delete;
        g_vfs.xAccess = shim_access;
        g_vfs.xFullPathname = shim_full_pathname;
        g_vfs.xRandomness = shim_randomness;
        g_vfs.xSleep = shim_sleep;
        g_vfs.xCurrentTime = shim_current_time;
        g_vfs.xGetLastError = shim_get_last_error;
        g_vfs.xCurrentTimeInt64 = shim_current_time_int64;
        sqlite3_vfs_register(&g_vfs, 0);
    });
}

void set_disk_full(bool full) { g_full = full; }

std::uint64_t read_count() { return g_reads; }

}  // namespace quavella::test
