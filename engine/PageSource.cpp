#include "engine/PageSource.h"

#include <algorithm>
#include <cstring>

namespace velmora {

PageSource::OpenResult PageSource::Open(const QString& path) {
  m_path = path.trimmed();
  m_geometry = Geometry();
  std::memset(m_header, 0, sizeof m_header);
  if (!m_file.Open(m_path)) {
    m_path.clear();
    return OpenResult::NotOpen;
  }
  m_geometry.fileSize = std::max<std::int64_t>(m_file.Size(), 0);
  m_file.ReadAt(0, m_header, sizeof m_header);

  std::int64_t pageSize = format::ReadBigEndian16(m_header + format::kHeaderPageSize);
  if (pageSize == 1) pageSize = format::kMaxPageSize;  // the format's encoding of 65536
  if (pageSize < format::kMinPageSize) return OpenResult::Corrupted;
  m_geometry.pageSize = pageSize;
  // The usable part of every page excludes the reserved bytes at its end. A
  // reserved count that leaves less than the format's minimum is damage in
  // the header byte, and the whole page is taken as usable instead.
  const std::int64_t reserved = m_header[format::kHeaderReservedBytes];
  m_geometry.reserved = pageSize - reserved >= format::kMinUsableSize ? reserved : 0;
  m_geometry.usableSize = pageSize - m_geometry.reserved;
  m_geometry.textEncoding = format::ReadBigEndian32(m_header + format::kHeaderTextEncoding);
  m_geometry.pageCount = m_geometry.fileSize / pageSize;
  return m_geometry.pageCount >= 1 ? OpenResult::Opened : OpenResult::Corrupted;
}

PageRead PageSource::ReadPage(std::int64_t number, std::uint8_t* out) const {
  const std::int64_t size = m_geometry.pageSize;
  if (number <= 0 || number > m_geometry.pageCount || size <= 0) return PageRead::OutOfRange;
  const std::int64_t got = std::max<std::int64_t>(m_file.ReadAt((number - 1) * size, out, size), 0);
  if (got == size) return PageRead::Ok;
  std::memset(out + got, 0, static_cast<std::size_t>(size - got));
  return PageRead::Short;
}

std::int64_t PageSource::ReadPart(std::int64_t number, std::int64_t offset, std::uint8_t* out,
                                  std::int64_t count) const {
  const std::int64_t size = m_geometry.pageSize;
  if (number <= 0 || number > m_geometry.pageCount || offset < 0 || offset >= size || count <= 0)
    return 0;
  count = std::min(count, size - offset);
  return std::max<std::int64_t>(m_file.ReadAt((number - 1) * size + offset, out, count), 0);
}

}  // namespace velmora
