#include "platform/File64.h"

#include <cerrno>
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
  if (m_hFile < 0 || offset < 0 || count <= 0) return 0;
  auto* out = static_cast<char*>(buffer);
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
