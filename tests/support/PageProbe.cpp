#include "tests/support/PageProbe.h"

#include <sqlite3.h>

#include <QFile>

namespace velmora::test {

PageProbe::PageProbe(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return;
  m_data = file.readAll();
  if (m_data.size() < 100) return;
  const std::uint32_t raw = Be16(m_data, 16);
  m_pageSize = raw == 1 ? 65536 : int(raw);
  m_reserved = static_cast<unsigned char>(m_data[20]);
}

std::uint32_t PageProbe::TextEncoding() const { return Be32(m_data, 56); }

std::uint32_t PageProbe::Be32(const QByteArray& data, std::int64_t offset) {
  if (offset < 0 || offset + 4 > data.size()) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(data.constData()) + offset;
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
         p[3];
}

std::uint32_t PageProbe::Be16(const QByteArray& data, std::int64_t offset) {
  if (offset < 0 || offset + 2 > data.size()) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(data.constData()) + offset;
  return (std::uint32_t(p[0]) << 8) | p[1];
}

std::int64_t PageProbe::Varint(const QByteArray& data, std::int64_t offset, int* length) {
  std::uint64_t value = 0;
  for (int i = 0; i < 9; ++i) {
    if (offset + i >= data.size()) {
      *length = 0;
      return 0;
    }
    const auto byte = static_cast<unsigned char>(data.at(qsizetype(offset + i)));
    if (i == 8) {
      value = (value << 8) | byte;
      *length = 9;
      return std::int64_t(value);
    }
    value = (value << 7) | (byte & 0x7F);
    if (!(byte & 0x80)) {
      *length = i + 1;
      return std::int64_t(value);
    }
  }
  *length = 0;
  return 0;
}

QByteArray PageProbe::Page(std::int64_t page) const {
  if (page < 1 || page > PageCount()) return {};
  return m_data.mid(PageOffset(page), m_pageSize);
}

int PageProbe::Type(std::int64_t page) const {
  if (page < 1 || page > PageCount()) return -1;
  return static_cast<unsigned char>(m_data.at(qsizetype(PageOffset(page) + HeaderStart(page))));
}

int PageProbe::CellCount(std::int64_t page) const {
  if (page < 1 || page > PageCount()) return 0;
  return int(Be16(m_data, PageOffset(page) + HeaderStart(page) + 3));
}

std::int64_t PageProbe::RightChild(std::int64_t page) const {
  const int type = Type(page);
  if (type != kInteriorIndex && type != kInteriorTable) return 0;
  return Be32(m_data, PageOffset(page) + HeaderStart(page) + 8);
}

int PageProbe::CellPointerOffset(std::int64_t page, int index) const {
  const int type = Type(page);
  const int headerSize = (type == kInteriorIndex || type == kInteriorTable) ? 12 : 8;
  return HeaderStart(page) + headerSize + 2 * index;
}

std::int64_t PageProbe::LocalPayload(std::int64_t p, int pageType) const {
  const std::int64_t u = UsableSize();
  const std::int64_t x = pageType == kLeafTable ? u - 35 : (u - 12) * 64 / 255 - 23;
  const std::int64_t m = (u - 12) * 32 / 255 - 23;
  if (p <= x) return p;
  const std::int64_t k = m + (p - m) % (u - 4);
  return k <= x ? k : m;
}

QList<CellInfo> PageProbe::Cells(std::int64_t page) const {
  QList<CellInfo> cells;
  const int type = Type(page);
  if (type != kInteriorIndex && type != kInteriorTable && type != kLeafIndex && type != kLeafTable)
    return cells;
  const QByteArray image = Page(page);
  const int count = CellCount(page);
  for (int i = 0; i < count; ++i) {
    CellInfo cell;
    cell.offset = int(Be16(image, CellPointerOffset(page, i)));
    if (cell.offset <= 0 || cell.offset >= image.size()) continue;
    std::int64_t pos = cell.offset;
    int len = 0;
    if (type == kInteriorIndex || type == kInteriorTable) {
      cell.leftChild = Be32(image, pos);
      pos += 4;
    }
    if (type == kInteriorTable) {
      cell.rowid = Varint(image, pos, &len);
      cells << cell;
      continue;
    }
    cell.payloadSize = Varint(image, pos, &len);
    if (len == 0) continue;
    pos += len;
    if (type == kLeafTable) {
      cell.rowid = Varint(image, pos, &len);
      if (len == 0) continue;
      pos += len;
    }
    cell.payloadOffset = int(pos);
    cell.localSize = LocalPayload(cell.payloadSize, type);
    if (cell.localSize < cell.payloadSize) cell.firstOverflow = Be32(image, pos + cell.localSize);
    cells << cell;
  }
  return cells;
}

QList<PageProbe::Field> PageProbe::LocalFields(std::int64_t page, const CellInfo& cell) const {
  QList<Field> fields;
  const QByteArray image = Page(page);
  const std::int64_t end = cell.payloadOffset + cell.localSize;
  if (cell.payloadSize == 0 || end > image.size()) return fields;
  int len = 0;
  const std::int64_t headerSize = Varint(image, cell.payloadOffset, &len);
  if (len == 0 || headerSize > cell.localSize) return fields;
  std::int64_t typePos = cell.payloadOffset + len;
  std::int64_t valuePos = cell.payloadOffset + headerSize;
  while (typePos < cell.payloadOffset + headerSize) {
    const std::int64_t type = Varint(image, typePos, &len);
    if (len == 0) break;
    typePos += len;
    static const int kFixed[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
    const std::int64_t size = type < 12 ? kFixed[type] : (type - 12) / 2;
    if (valuePos + size > end) break;
    fields << Field{int(valuePos), type, int(size)};
    valuePos += size;
  }
  return fields;
}

QList<std::int64_t> PageProbe::Children(std::int64_t page) const {
  QList<std::int64_t> children;
  const int type = Type(page);
  if (type != kInteriorIndex && type != kInteriorTable) return children;
  for (const CellInfo& cell : Cells(page)) children << cell.leftChild;
  children << RightChild(page);
  return children;
}

QList<std::int64_t> PageProbe::OverflowChain(std::int64_t first) const {
  QList<std::int64_t> chain;
  std::int64_t page = first;
  while (page >= 1 && page <= PageCount() && chain.size() < PageCount() && !chain.contains(page)) {
    chain << page;
    page = Be32(m_data, PageOffset(page));
  }
  return chain;
}

void PageProbe::Walk(std::int64_t page, int level, TreePages& out,
                     QList<std::int64_t>& seen) const {
  if (page < 1 || page > PageCount() || seen.contains(page)) return;
  seen << page;
  out.depth = std::max(out.depth, level);
  const int type = Type(page);
  if (type == kInteriorIndex || type == kInteriorTable) {
    out.interior << page;
    for (std::int64_t child : Children(page)) Walk(child, level + 1, out, seen);
  } else if (type == kLeafIndex || type == kLeafTable) {
    out.leaves << page;
  } else {
    return;
  }
  for (const CellInfo& cell : Cells(page))
    if (cell.firstOverflow) out.overflow << OverflowChain(cell.firstOverflow);
}

TreePages PageProbe::Tree(std::int64_t root) const {
  TreePages out;
  QList<std::int64_t> seen;
  Walk(root, 1, out, seen);
  return out;
}

std::int64_t PageProbe::RootPage(const QString& dbPath, const QString& name) {
  sqlite3* db = nullptr;
  std::int64_t root = 0;
  if (sqlite3_open_v2(QFile::encodeName(dbPath).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_schema WHERE name = ?1", -1, &stmt,
                           nullptr) == SQLITE_OK) {
      const QByteArray utf8 = name.toUtf8();
      sqlite3_bind_text(stmt, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
      if (sqlite3_step(stmt) == SQLITE_ROW) root = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return root;
}

}  // namespace velmora::test
