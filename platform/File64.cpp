#include "platform/File64.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Text.h"

namespace velmora {
namespace {

bool IsReadableKind(mode_t mode) { return S_ISREG(mode) || S_ISBLK(mode); }

}  // namespace

CFile64::~CFile64() { Close(); }

bool CFile64::Open(const QString& path) {
  Close();
  const QByteArray native = NativePath(path);
  // Only a regular file or a block device is read. Anything else (a FIFO, a
  // socket, a terminal, a directory) is refused before it is opened: opening
  // a FIFO for reading waits for a writer, for ever.
  struct stat st {};
  if (::stat(native.constData(), &st) != 0) {
    m_nLastError = errno;
    return false;
  }
  if (!IsReadableKind(st.st_mode)) {
    m_nLastError = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  // The name may be replaced between stat and open: the open does not wait
  // (O_NONBLOCK), and the descriptor itself is checked again.
  const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    m_nLastError = errno;
    return false;
  }
  if (::fstat(fd, &st) != 0 || !IsReadableKind(st.st_mode)) {
    m_nLastError = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  m_hFile = fd;
  return true;
}

void CFile64::Close() {
  m_windowLength = 0;
  m_lastEnd = -1;
  if (m_hFile >= 0) {
    ::close(m_hFile);
    m_hFile = -1;
  }
}

std::int64_t CFile64::Size() const {
  if (m_hFile < 0) return -1;
  struct stat st {};
  if (::fstat(m_hFile, &st) != 0) {
    m_nLastError = errno;
    return -1;
  }
  // A block device reports no size of its own; its end is found by seeking.
  if (S_ISBLK(st.st_mode)) {
    const off_t end = ::lseek(m_hFile, 0, SEEK_END);
    return end < 0 ? -1 : static_cast<std::int64_t>(end);
  }
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t CFile64::ReadAt(std::int64_t offset, void* buffer, std::int64_t count) const {
  if (m_hFile < 0 || offset < 0 || count <= 0 || offset > INT64_MAX - count) return 0;
  auto* out = static_cast<char*>(buffer);
  const std::int64_t end = offset + count;
  if (offset >= m_windowStart && end <= m_windowStart + m_windowLength) {
    std::memcpy(out, m_window.get() + (offset - m_windowStart), static_cast<std::size_t>(count));
    m_lastEnd = end;
    return count;
  }
  const bool sequential = offset == m_lastEnd;
  m_lastEnd = end;
  if (sequential && count <= kWindowBytes / 4) {
    if (!m_window) m_window = std::make_unique<char[]>(static_cast<std::size_t>(kWindowBytes));
    // A window cut short (the end of the file, or a read error inside it)
    // serves what it holds; a read past it goes to the file on its own, so an
    // unreadable stretch fails only the reads that touch it.
    m_windowStart = offset;
    m_windowLength = ReadDirect(offset, m_window.get(), kWindowBytes);
    if (m_windowLength >= count) {
      std::memcpy(out, m_window.get(), static_cast<std::size_t>(count));
      return count;
    }
  }
  return ReadDirect(offset, out, count);
}

std::int64_t CFile64::ReadDirect(std::int64_t offset, char* out, std::int64_t count) const {
  std::int64_t total = 0;
  while (total < count) {
    const ssize_t got = ::pread(m_hFile, out + total, static_cast<size_t>(count - total),
                                static_cast<off_t>(offset + total));
    if (got < 0) {
      if (errno == EINTR) continue;
      m_nLastError = errno;
      break;
    }
    if (got == 0) break;
    total += got;
  }
  return total;
}

}  // namespace velmora
