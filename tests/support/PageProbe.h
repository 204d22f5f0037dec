// Reads a database file directly (not through SQLite) to find where things
// are: page size, reserved bytes, page types, the pages of a table's tree and
// its overflow chains. Meant for intact files made by DbBuilder; on a damaged
// file it stays inside the file and visits each page at most once.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

namespace velmora::test {

// SQLite b-tree page types.
enum PageType : int {
  kInteriorIndex = 2,
  kInteriorTable = 5,
  kLeafIndex = 10,
  kLeafTable = 13,
};

// The pages of one b-tree, each list in the order of a depth-first walk
// (children left to right, the right-most child last).
struct TreePages {
  QList<std::int64_t> interior;  // types 2 and 5
  QList<std::int64_t> leaves;    // types 10 and 13
  QList<std::int64_t> overflow;  // overflow pages of the tree's cells, chain order
  int depth = 0;                 // levels: 1 for a root that is a leaf
};

// One cell of a b-tree page as the file holds it.
struct CellInfo {
  int offset = 0;                  // start of the cell in its page
  std::int64_t leftChild = 0;      // interior pages: child page number
  std::int64_t payloadSize = 0;    // record bytes (0 for type 5)
  std::int64_t rowid = 0;          // types 5 and 13
  int payloadOffset = 0;           // start of the payload in the page
  std::int64_t localSize = 0;      // payload bytes stored in the cell
  std::int64_t firstOverflow = 0;  // 0 when the payload is all local
};

class PageProbe {
 public:
  // Reads the whole file (test databases are small).
  explicit PageProbe(const QString& path);

  bool Ok() const { return m_pageSize >= 512 && !m_data.isEmpty(); }
  const QByteArray& Data() const { return m_data; }
  int PageSize() const { return m_pageSize; }
  int ReservedBytes() const { return m_reserved; }
  int UsableSize() const { return m_pageSize - m_reserved; }
  std::uint32_t TextEncoding() const;  // header bytes 56-59
  std::int64_t PageCount() const { return m_pageSize ? m_data.size() / m_pageSize : 0; }
  std::int64_t PageOffset(std::int64_t page) const { return (page - 1) * m_pageSize; }

  // The page image (empty when the page lies outside the file).
  QByteArray Page(std::int64_t page) const;
  // Where the b-tree page header starts: 100 on page 1, else 0.
  static int HeaderStart(std::int64_t page) { return page == 1 ? 100 : 0; }
  int Type(std::int64_t page) const;  // -1 outside the file
  int CellCount(std::int64_t page) const;
  std::int64_t RightChild(std::int64_t page) const;  // interior pages, else 0
  // Offset in the page of the cell pointer array entry of cell `index`.
  int CellPointerOffset(std::int64_t page, int index) const;
  QList<CellInfo> Cells(std::int64_t page) const;
  // Children of an interior page: every left child, then the right-most.
  QList<std::int64_t> Children(std::int64_t page) const;
  // The overflow chain starting at `first`, bounded by the page count.
  QList<std::int64_t> OverflowChain(std::int64_t first) const;

  TreePages Tree(std::int64_t root) const;

  // Number of payload bytes stored locally for a payload of `payloadSize`
  // bytes on a page of `pageType`, with this file's usable size.
  std::int64_t LocalPayload(std::int64_t payloadSize, int pageType) const;

  // The fields of the record in `cell` of `page` whose bytes lie in the
  // cell (local payload only): offset of each value in the page and its
  // serial type. Stops at the first value that runs past the local bytes.
  struct Field {
    int offset = 0;
    std::int64_t serialType = 0;
    int size = 0;
  };
  QList<Field> LocalFields(std::int64_t page, const CellInfo& cell) const;

  // Root page of the schema object `name`, read through SQLite from an intact
  // file; 0 when there is none.
  static std::int64_t RootPage(const QString& dbPath, const QString& name);

  static std::uint32_t Be32(const QByteArray& data, std::int64_t offset);
  static std::uint32_t Be16(const QByteArray& data, std::int64_t offset);
  // SQLite varint at `offset`; *length receives its byte count (0 when it
  // runs past the end).
  static std::int64_t Varint(const QByteArray& data, std::int64_t offset, int* length);

 private:
  void Walk(std::int64_t page, int level, TreePages& out, QList<std::int64_t>& seen) const;
  QByteArray m_data;
  int m_pageSize = 0;
  int m_reserved = 0;
};

}  // namespace velmora::test
