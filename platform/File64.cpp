#include "platform/File64.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

CFile64::~CFile64() { Close(); }

bool CFile64::Open(const QString& path) {
  Close();
  const QByteArray native = path.toLocal8Bit();
  const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    m_nLastError = errno;
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    m_nLastError = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return false;
  }
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
