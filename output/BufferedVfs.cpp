#include "output/BufferedVfs.h"

#include <sqlite3.h>

#include <cstring>
#include <mutex>

namespace velmora {
namespace {

// The wrapped unix VFS writes at most 128 KB less one byte per call (it masks
// the length with 0x1ffff): the buffer stays below that.
constexpr int kBufferBytes = 64 * 1024;

// One open file: the wrapped file follows this struct in the memory the
// library allocates (szOsFile covers both). Plain data: the library
// allocates and frees it.
struct BufferedFile {
  sqlite3_file base;
  sqlite3_file* real;
  // Bytes [writeStart, writeStart + writeLength) not yet written to `real`.
  char* write;
  sqlite3_int64 writeStart;
  int writeLength;
  // Bytes [readStart, readStart + readLength) as `real` holds them.
  char* read;
  sqlite3_int64 readStart;
  int readLength;
  sqlite3_int64 lastReadEnd;
};

sqlite3_vfs g_vfs;
sqlite3_vfs* g_real = nullptr;

BufferedFile* Self(sqlite3_file* file) { return reinterpret_cast<BufferedFile*>(file); }
const sqlite3_io_methods* Real(BufferedFile* f) { return f->real->pMethods; }

int FlushWrites(BufferedFile* f) {
  if (f->writeLength == 0) return SQLITE_OK;
  const int length = f->writeLength;
  f->writeLength = 0;
  return Real(f)->xWrite(f->real, f->write, length, f->writeStart);
}

void ForgetReads(BufferedFile* f) {
  f->readLength = 0;
  f->lastReadEnd = -1;
}

int Close(sqlite3_file* file) {
  BufferedFile* f = Self(file);
  const int flushed = FlushWrites(f);
  const int closed = Real(f)->xClose(f->real);
  sqlite3_free(f->write);
  sqlite3_free(f->read);
  f->write = f->read = nullptr;
  return flushed != SQLITE_OK ? flushed : closed;
}

int Read(sqlite3_file* file, void* out, int amount, sqlite3_int64 offset) {
  BufferedFile* f = Self(file);
  if (const int rc = FlushWrites(f); rc != SQLITE_OK) return rc;
  const sqlite3_int64 end = offset + amount;
  if (amount > 0 && offset >= f->readStart && end <= f->readStart + f->readLength) {
    std::memcpy(out, f->read + (offset - f->readStart), static_cast<size_t>(amount));
    f->lastReadEnd = end;
    return SQLITE_OK;
  }
  const bool sequential = offset == f->lastReadEnd;
  f->lastReadEnd = end;
  if (sequential && amount > 0 && amount <= kBufferBytes / 4) {
    // The window holds only bytes the file has: never past its end, so a
    // short read stays the wrapped file's to report.
    sqlite3_int64 size = 0;
    if (f->read == nullptr) f->read = static_cast<char*>(sqlite3_malloc(kBufferBytes));
    if (f->read != nullptr && Real(f)->xFileSize(f->real, &size) == SQLITE_OK && size >= end) {
      const int length =
          static_cast<int>(size - offset < kBufferBytes ? size - offset : kBufferBytes);
      f->readLength = 0;
      if (Real(f)->xRead(f->real, f->read, length, offset) == SQLITE_OK) {
        f->readStart = offset;
        f->readLength = length;
        std::memcpy(out, f->read, static_cast<size_t>(amount));
        return SQLITE_OK;
      }
    }
  }
  return Real(f)->xRead(f->real, out, amount, offset);
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  BufferedFile* f = Self(file);
  // A write inside the read-ahead window makes it stale.
  if (f->readLength > 0 && offset < f->readStart + f->readLength && offset + amount > f->readStart)
    ForgetReads(f);
  if (f->writeLength > 0 && offset == f->writeStart + f->writeLength &&
      f->writeLength + amount <= kBufferBytes) {
    std::memcpy(f->write + f->writeLength, data, static_cast<size_t>(amount));
    f->writeLength += amount;
    return SQLITE_OK;
  }
  if (const int rc = FlushWrites(f); rc != SQLITE_OK) return rc;
  if (amount <= 0 || amount > kBufferBytes / 4)
    return Real(f)->xWrite(f->real, data, amount, offset);
  if (f->write == nullptr) f->write = static_cast<char*>(sqlite3_malloc(kBufferBytes));
  if (f->write == nullptr) return Real(f)->xWrite(f->real, data, amount, offset);
  std::memcpy(f->write, data, static_cast<size_t>(amount));
  f->writeStart = offset;
  f->writeLength = amount;
  return SQLITE_OK;
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  BufferedFile* f = Self(file);
  if (const int rc = FlushWrites(f); rc != SQLITE_OK) return rc;
  ForgetReads(f);
  return Real(f)->xTruncate(f->real, size);
}

int Sync(sqlite3_file* file, int flags) {
  BufferedFile* f = Self(file);
  if (const int rc = FlushWrites(f); rc != SQLITE_OK) return rc;
  return Real(f)->xSync(f->real, flags);
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  BufferedFile* f = Self(file);
  if (const int rc = FlushWrites(f); rc != SQLITE_OK) return rc;
  return Real(f)->xFileSize(f->real, size);
}

int Lock(sqlite3_file* file, int level) {
  BufferedFile* f = Self(file);
  return Real(f)->xLock(f->real, level);
}

int Unlock(sqlite3_file* file, int level) {
  // Another connection may read once the lock is down: the bytes go first.
  BufferedFile* f = Self(file);
  const int flushed = FlushWrites(f);
  ForgetReads(f);
  const int rc = Real(f)->xUnlock(f->real, level);
  return flushed != SQLITE_OK ? flushed : rc;
}

int CheckReservedLock(sqlite3_file* file, int* out) {
  BufferedFile* f = Self(file);
  return Real(f)->xCheckReservedLock(f->real, out);
}

int FileControl(sqlite3_file* file, int op, void* arg) {
  // Every control sees the file as written; the sync control is the commit's
  // (sent even with synchronous = OFF): a buffered write that fails fails it.
  BufferedFile* f = Self(file);
  if (const int rc = FlushWrites(f); rc != SQLITE_OK) return rc;
  return Real(f)->xFileControl(f->real, op, arg);
}

int SectorSize(sqlite3_file* file) {
  BufferedFile* f = Self(file);
  return Real(f)->xSectorSize(f->real);
}

int DeviceCharacteristics(sqlite3_file* file) {
  BufferedFile* f = Self(file);
  return Real(f)->xDeviceCharacteristics(f->real);
}

// Version 1: no shared memory (the recovered database never uses a
// write-ahead log) and no memory mapping (mmap_size is 0).
const sqlite3_io_methods kMethods = {1,
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
                                     nullptr,
                                     nullptr,
                                     nullptr,
                                     nullptr,
                                     nullptr,
                                     nullptr};

int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  BufferedFile* f = Self(file);
  std::memset(f, 0, sizeof *f);
  f->real = reinterpret_cast<sqlite3_file*>(f + 1);
  f->lastReadEnd = -1;
  const int rc = g_real->xOpen(g_real, name, f->real, flags, outFlags);
  // Without methods the library calls no xClose: only an opened file gets them.
  f->base.pMethods = rc == SQLITE_OK && f->real->pMethods != nullptr ? &kMethods : nullptr;
  return rc;
}

// The rest is the wrapped VFS's own.
int Delete(sqlite3_vfs*, const char* name, int syncDir) {
  return g_real->xDelete(g_real, name, syncDir);
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
  return g_real->xAccess(g_real, name, flags, out);
}
int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return g_real->xFullPathname(g_real, name, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return g_real->xDlOpen(g_real, name); }
void DlError(sqlite3_vfs*, int size, char* out) { g_real->xDlError(g_real, size, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
  return g_real->xDlSym(g_real, handle, symbol);
}
void DlClose(sqlite3_vfs*, void* handle) { g_real->xDlClose(g_real, handle); }
int Randomness(sqlite3_vfs*, int size, char* out) { return g_real->xRandomness(g_real, size, out); }
int Sleep(sqlite3_vfs*, int microseconds) { return g_real->xSleep(g_real, microseconds); }
int CurrentTime(sqlite3_vfs*, double* out) { return g_real->xCurrentTime(g_real, out); }
int GetLastError(sqlite3_vfs*, int size, char* out) {
  return g_real->xGetLastError != nullptr ? g_real->xGetLastError(g_real, size, out) : 0;
}
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
  if (g_real->iVersion >= 2 && g_real->xCurrentTimeInt64 != nullptr)
    return g_real->xCurrentTimeInt64(g_real, out);
  double days = 0;
  const int rc = g_real->xCurrentTime(g_real, &days);
  *out = static_cast<sqlite3_int64>(days * 86400000.0);
  return rc;
}

}  // namespace

const char* BufferedVfsName() {
  static std::once_flag once;
  static bool registered = false;
  std::call_once(once, [] {
    g_real = sqlite3_vfs_find(nullptr);
    if (g_real == nullptr) return;
    g_vfs = sqlite3_vfs{};
    g_vfs.iVersion = 2;
    g_vfs.szOsFile = static_cast<int>(sizeof(BufferedFile)) + g_real->szOsFile;
    g_vfs.mxPathname = g_real->mxPathname;
    g_vfs.zName = "velmora-buffered";
    g_vfs.xOpen = Open;
    g_vfs.xDelete = Delete;
    g_vfs.xAccess = Access;
    g_vfs.xFullPathname = FullPathname;
    g_vfs.xDlOpen = DlOpen;
    g_vfs.xDlError = DlError;
    g_vfs.xDlSym = DlSym;
    g_vfs.xDlClose = DlClose;
    g_vfs.xRandomness = Randomness;
    g_vfs.xSleep = Sleep;
    g_vfs.xCurrentTime = CurrentTime;
    g_vfs.xGetLastError = GetLastError;
    g_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
    registered = sqlite3_vfs_register(&g_vfs, 0) == SQLITE_OK;
  });
  return registered ? g_vfs.zName : nullptr;
}

}  // namespace velmora
