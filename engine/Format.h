// The parts of the SQLite 3 file format that the engine reads, and bounded
// decoders for its integers.
//
// DATABASE HEADER (first 100 bytes of page 1; integers big-endian)
//
//   OFFSET  SIZE  DESCRIPTION
//      0     16   magic "SQLite format 3\0" (not checked: a damaged magic is walked anyway)
//     16      2   page size in bytes; 1 means 65536
//     18      1   file format write version
//     19      1   file format read version
//     20      1   bytes of reserved space at the end of every page
//     21      1   maximum embedded payload fraction (64)
//     22      1   minimum embedded payload fraction (32)
//     23      1   leaf payload fraction (32)
//     24      4   file change counter
//     28      4   database size in pages (not used: the page count comes from the file size)
//     32      4   first freelist trunk page (not used)
//     36      4   number of freelist pages (not used)
//     40      4   schema cookie
//     44      4   schema format number
//     48      4   default page cache size
//     52      4   largest root page (auto-vacuum)
//     56      4   text encoding: 1 UTF-8, 2 UTF-16le, 3 UTF-16be
//     60      4   user version
//     64      4   incremental vacuum mode
//     68      4   application id
//     72     20   reserved for expansion
//     92      4   version-valid-for number
//     96      4   SQLITE_VERSION_NUMBER
//
// B-TREE PAGE HEADER (at offset 100 on page 1, at offset 0 on every other page)
//
//   OFFSET  SIZE  DESCRIPTION
//      0      1   page type: 2 interior index, 5 interior table, 10 leaf index, 13 leaf table
//      1      2   first freeblock (not used)
//      3      2   number of cells
//      5      2   start of the cell content area (not used)
//      7      1   fragmented free bytes (not used)
//      8      4   right-most child page number (interior pages only)
//
//   The cell pointer array follows the header: 12 bytes after its start on
//   interior pages, 8 bytes on leaf pages; two big-endian bytes per cell, each
//   the offset of the cell from the start of the page.
//
// CELL LAYOUTS
//
//   leaf table (13):     payload size P (varint), rowid (varint), the first
//                        local bytes of the payload, overflow page number (4)
//                        when P does not fit
//   interior table (5):  left child page number (4), rowid (varint); no payload
//   leaf index (10):     P (varint), local payload, overflow page number (4)
//   interior index (2):  left child page number (4), P (varint), local payload,
//                        overflow page number (4)
//
// OVERFLOW PAGE: next overflow page number (4; 0 on the last page), then
// usable size - 4 bytes of payload.
//
// RECORD: header size (varint, counting itself), one serial type (varint) per
// value, then the values one after another in header order.
//
//   SERIAL TYPE   SIZE          VALUE
//      0           0            NULL
//      1..4        1..4         big-endian two's complement integer
//      5           6            big-endian 48-bit two's complement integer
//      6           8            big-endian 64-bit two's complement integer
//      7           8            big-endian IEEE 754 double
//      8, 9        0            the integers 0 and 1
//      10, 11      0            reserved for internal use
//      N >= 12 even (N-12)/2    blob
//      N >= 13 odd  (N-13)/2    text in the database's encoding
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora::format {

// Database header.
inline constexpr int kHeaderSize = 100;
inline constexpr int kHeaderPageSize = 16;
inline constexpr int kHeaderReservedBytes = 20;
inline constexpr int kHeaderLargestRoot = 52;
inline constexpr int kHeaderTextEncoding = 56;
inline constexpr int kHeaderUserVersion = 60;
inline constexpr int kHeaderIncremental = 64;
inline constexpr int kHeaderApplicationId = 68;
inline constexpr std::int64_t kMinPageSize = 512;
inline constexpr std::int64_t kMaxPageSize = 65536;
// The smallest usable size the format allows (page size minus reserved bytes).
inline constexpr std::int64_t kMinUsableSize = 480;

inline constexpr std::uint32_t kEncodingUtf8 = 1;
inline constexpr std::uint32_t kEncodingUtf16le = 2;
inline constexpr std::uint32_t kEncodingUtf16be = 3;

// B-tree page header.
inline constexpr int kPageType = 0;
inline constexpr int kPageCellCount = 3;
inline constexpr int kPageRightChild = 8;
inline constexpr int kInteriorHeaderSize = 12;
inline constexpr int kLeafHeaderSize = 8;

inline constexpr std::uint8_t kInteriorIndex = 2;
inline constexpr std::uint8_t kInteriorTable = 5;
inline constexpr std::uint8_t kLeafIndex = 10;
inline constexpr std::uint8_t kLeafTable = 13;

// Overflow page: the next page number, then payload.
inline constexpr int kOverflowHeaderSize = 4;

// A b-tree deeper than this is damaged (SQLite itself refuses more than 20
// levels); the walk treats a deeper child like an unusable one.
inline constexpr int kMaxTreeDepth = 40;

// The largest varint: 8 bytes of 7 bits and one byte of 8 bits.
inline constexpr int kMaxVarintSize = 9;

inline bool IsPageType(std::uint8_t type) {
  return type == kInteriorIndex || type == kInteriorTable || type == kLeafIndex ||
         type == kLeafTable;
}
inline bool IsInterior(std::uint8_t type) {
  return type == kInteriorIndex || type == kInteriorTable;
}

// Reads one varint from [p, limit). Returns the number of bytes it used
// (1..9) and stores the value in *value; returns 0 and leaves *value alone
// when the varint does not end before `limit`. Never reads past `limit` nor
// more than 9 bytes.
inline int ReadVarint(const std::uint8_t* p, const std::uint8_t* limit, std::uint64_t* value) {
  if (p == nullptr || limit == nullptr || p >= limit) return 0;
  std::uint64_t v = 0;
  const std::ptrdiff_t avail = limit - p;
  for (int i = 0; i < 8; ++i) {
    if (i >= avail) return 0;
    v = (v << 7) | (p[i] & 0x7Fu);
    if ((p[i] & 0x80u) == 0) {
      *value = v;
      return i + 1;
    }
  }
  if (avail < 9) return 0;
  v = (v << 8) | p[8];
  *value = v;
  return 9;
}

// Big-endian unsigned integers of 2 and 4 bytes; the caller guarantees that
// the bytes are inside its buffer.
inline std::uint32_t ReadBigEndian16(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 8) | p[1];
}
inline std::uint32_t ReadBigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// Byte size of the value of serial type `t`; huge for a damaged type (the
// caller compares it with what the payload holds).
inline std::uint64_t SerialTypeSize(std::uint64_t t) {
  static constexpr std::uint8_t kSizes[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
  if (t < 12) return kSizes[t];
  return (t - 12) / 2;
}

// Number of payload bytes that a cell of `pageType` keeps on its own page
// when the whole payload is `payloadSize` bytes, for a usable page size of
// `usableSize` bytes (page size minus reserved bytes). The rest goes to the
// overflow chain.
inline std::int64_t LocalPayloadSize(std::uint64_t payloadSize, int pageType,
                                     std::int64_t usableSize) {
  const std::int64_t u = usableSize;
  const std::int64_t maxLocal = pageType == kLeafTable ? u - 35 : (u - 12) * 64 / 255 - 23;
  const std::int64_t minLocal = (u - 12) * 32 / 255 - 23;
  if (maxLocal < 0 || minLocal < 0 || u <= 4) return 0;
  if (payloadSize <= static_cast<std::uint64_t>(maxLocal))
    return static_cast<std::int64_t>(payloadSize);
  const std::uint64_t surplus =
      static_cast<std::uint64_t>(minLocal) +
      (payloadSize - static_cast<std::uint64_t>(minLocal)) % static_cast<std::uint64_t>(u - 4);
  return surplus <= static_cast<std::uint64_t>(maxLocal) ? static_cast<std::int64_t>(surplus)
                                                         : minLocal;
}

}  // namespace velmora::format
