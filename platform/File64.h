// Read-only access to the damaged file with 64-bit offsets.
#pragma once

#include <QString>
#include <cstdint>

namespace velmora {

// Holds a read-only file descriptor (O_RDONLY); the file is never written.
// Closed by the destructor.
class CFile64 {
 public:
  CFile64() = default;
  ~CFile64();
  CFile64(const CFile64&) = delete;
  CFile64& operator=(const CFile64&) = delete;

  // Opens `path` for reading (closing a file already open first). False, with
  // errno kept in LastError(), when the system refuses or it is not a regular
  // file.
  bool Open(const QString& path);
  void Close();
  bool IsOpen() const { return m_hFile >= 0; }

  // Size in bytes; -1 when unknown.
  std::int64_t Size() const;

  // Reads up to `count` bytes at `offset` into `buffer`; returns the number of
  // bytes read (0 on failure or at the end of the file). Never reads more than
  // `count` bytes.
  std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t count) const;

  int LastError() const { return m_nLastError; }

 private:
  int m_hFile = -1;
  mutable int m_nLastError = 0;
};

}  // namespace velmora
