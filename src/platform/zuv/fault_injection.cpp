// A SQLite VFS that forwards everything to the default one and fails the
// operations a test asks for.
#include "platform/zuv/fault_injection.hpp"

#include <sqlite3.h>

#include <array>
#include <mutex>

namespace zx {
namespace {

std::mutex g_mutex;
CZuvFileFaults g_faults;        // guarded by g_mutex
std::array<int, 4> g_counts{};  // guarded by g_mutex
sqlite3_vfs* g_root = nullptr;  // guarded by g_mutex once set
sqlite3_vfs g_vfs{};

// SQLite allocates szOsFile bytes: this header, then the real file's.
struct CFaultFile {
  sqlite3_file base;
  bool watched;
  sqlite3_file* Real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

sqlite3_file* RealOf(sqlite3_file* file) { return reinterpret_cast<CFaultFile*>(file)->Real(); }

bool Fails(ZuvFileOperation operation, bool watched) {
  if (!watched) return false;
  std::lock_guard lock(g_mutex);
  const int n = ++g_counts[static_cast<size_t>(operation)];
  if (g_faults.operation != operation || g_faults.failAt <= 0) return false;
  return n == g_faults.failAt || (g_faults.persistent && n > g_faults.failAt);
}

bool Watched(const char* name) {
  if (name == nullptr) return false;
  std::lock_guard lock(g_mutex);
  return !g_faults.pathPrefix.empty() && std::string_view(name).starts_with(g_faults.pathPrefix);
}

int Close(sqlite3_file* file) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods != nullptr ? real->pMethods->xClose(real) : SQLITE_OK;
}
int Read(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xRead(real, data, amount, offset);
}
int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  if (Fails(ZuvFileOperation::Write, reinterpret_cast<CFaultFile*>(file)->watched)) {
    return SQLITE_IOERR_WRITE;
  }
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xWrite(real, data, amount, offset);
}
int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  if (Fails(ZuvFileOperation::Truncate, reinterpret_cast<CFaultFile*>(file)->watched)) {
    return SQLITE_IOERR_TRUNCATE;
  }
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xTruncate(real, size);
}
int Sync(sqlite3_file* file, int flags) {
  if (Fails(ZuvFileOperation::Sync, reinterpret_cast<CFaultFile*>(file)->watched)) {
    return SQLITE_IOERR_FSYNC;
  }
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xSync(real, flags);
}
int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xFileSize(real, size);
}
int Lock(sqlite3_file* file, int level) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xLock(real, level);
}
int Unlock(sqlite3_file* file, int level) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xUnlock(real, level);
}
int CheckReservedLock(sqlite3_file* file, int* out) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xCheckReservedLock(real, out);
}
int FileControl(sqlite3_file* file, int op, void* arg) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xFileControl(real, op, arg);
}
int SectorSize(sqlite3_file* file) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xSectorSize(real);
}
int DeviceCharacteristics(sqlite3_file* file) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xDeviceCharacteristics(real);
}
int ShmMap(sqlite3_file* file, int page, int size, int extend, void volatile** out) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xShmMap(real, page, size, extend, out);
}
int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xShmLock(real, offset, n, flags);
}
void ShmBarrier(sqlite3_file* file) {
  sqlite3_file* real = RealOf(file);
  real->pMethods->xShmBarrier(real);
}
int ShmUnmap(sqlite3_file* file, int deleteFlag) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xShmUnmap(real, deleteFlag);
}
int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
  sqlite3_file* real = RealOf(file);
  if (real->pMethods->iVersion < 3) {
    *out = nullptr;
    return SQLITE_OK;
  }
  return real->pMethods->xFetch(real, offset, amount, out);
}
int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->iVersion < 3 ? SQLITE_OK : real->pMethods->xUnfetch(real, offset, page);
}

const sqlite3_io_methods kMethods = {3,
                                     Close,
                                     Read,
                                     Write,
                                     Truncate,
                                     Sync,
                                     FileSize,
                                     Lock,
                                     Unlock,
                                     CheckReservedLock,
                                     FileControl,
                                     SectorSize,
                                     DeviceCharacteristics,
                                     ShmMap,
                                     ShmLock,
                                     ShmBarrier,
                                     ShmUnmap,
                                     Fetch,
                                     Unfetch};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  auto* wrapper = reinterpret_cast<CFaultFile*>(file);
  wrapper->base.pMethods = nullptr;
  wrapper->watched = Watched(name);
  sqlite3_file* real = wrapper->Real();
  real->pMethods = nullptr;
  const int rc = g_root->xOpen(g_root, name, real, flags, outFlags);
  // SQLite closes a file whose methods are set, even after a failed open.
  if (real->pMethods != nullptr) wrapper->base.pMethods = &kMethods;
  return rc;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) {
  if (Fails(ZuvFileOperation::Delete, Watched(name))) return SQLITE_IOERR_DELETE;
  return g_root->xDelete(g_root, name, syncDir);
}

}  // namespace

void SetZuvFileFaults(const CZuvFileFaults& faults) {
  {
    std::lock_guard lock(g_mutex);
    g_faults = faults;
    g_counts = {};
    if (g_root == nullptr) {
      sqlite3_initialize();
      g_root = sqlite3_vfs_find(nullptr);
      // The default layer's other entry points serve as they are.
      g_vfs = *g_root;
      g_vfs.szOsFile = static_cast<int>(sizeof(CFaultFile)) + g_root->szOsFile;
      g_vfs.zName = "zuvfault";
      g_vfs.pNext = nullptr;
      g_vfs.xOpen = Open;
      g_vfs.xDelete = Delete;
    }
  }
  sqlite3_vfs_register(&g_vfs, 1);
}

void ClearZuvFileFaults() {
  sqlite3_vfs* root = nullptr;
  {
    std::lock_guard lock(g_mutex);
    g_faults.failAt = 0;
    g_faults.pathPrefix.clear();
    root = g_root;
  }
  if (root != nullptr) sqlite3_vfs_register(root, 1);
}

int ZuvFileOperationCount(ZuvFileOperation operation) {
  std::lock_guard lock(g_mutex);
  return g_counts[static_cast<size_t>(operation)];
}

}  // namespace zx
