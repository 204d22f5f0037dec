// Read-only access to the damaged file with 64-bit offsets.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

namespace velmora {

// Holds a read-only file descriptor (O_RDONLY); the file is never written.
// Closed by the destructor.
class CFile64 {
 public:
  CFile64() = default;
  ~CFile64();
  CFile64(const CFile64&) = delete;
  CFile64& operator=(const CFile64&) = delete;

  // Opens `path` (its bytes are NativePath(path)) for reading, closing a
  // file already open first. False, with errno kept in LastError(), when the
  // system refuses or it is neither a regular file nor a block device; such
  // a name is refused without being opened, so a FIFO never blocks.
  bool Open(const QString& path);
  void Close();
  bool IsOpen() const { return m_hFile >= 0; }

  // Size in bytes; -1 when unknown.
  std::int64_t Size() const;

  // Reads up to `count` bytes at `offset` into `buffer`; returns the number of
  // bytes read (0 on failure or at the end of the file). Never writes more
  // than `count` bytes into `buffer`. A read that continues the one before it
  // fills a read-ahead window, and the reads that follow inside the window are
  // copied from it: walks read a tree's leaves in file order, and a system
  // call per page costs more than the page's copy.
  std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t count) const;

  int LastError() const { return m_nLastError; }

 private:
  std::int64_t ReadDirect(std::int64_t offset, char* out, std::int64_t count) const;

  static constexpr std::int64_t kWindowBytes = 128 * 1024;

  int m_hFile = -1;
  mutable int m_nLastError = 0;
  // The read-ahead window: bytes [m_windowStart, m_windowStart +
  // m_windowLength) of the file; and where the last read ended.
  mutable std::unique_ptr<char[]> m_window;
  mutable std::int64_t m_windowStart = 0;
  mutable std::int64_t m_windowLength = 0;
  mutable std::int64_t m_lastEnd = -1;
};

}  // namespace velmora
