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
//     32      4   first freelist trunk page
//     36      4   number of freelist pages (not used)
//     40      4   schema cookie
//     44      4   schema format number
//     48      4   default page cache size
//     52      4   largest root page; not 0 in an auto-vacuum file, which has a pointer map
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
//
// A RECORD FITS ITS CELL when the payload bytes the cell keeps on its page lie
// inside the space the page leaves the cell (up to the next cell) and inside
// the page: a record that runs past that space overlaps its neighbour.
//
// LOCK-BYTE PAGE: the page that holds the byte at offset 0x40000000 (1 GiB)
// of the file. The library locks bytes there and never writes the page: it
// holds no b-tree content, no pointer map and no journal record.
//
// FREELIST TRUNK PAGE (page numbers big-endian)
//
//   OFFSET  SIZE  DESCRIPTION
//      0      4   next trunk page (0 on the last one)
//      4      4   number L of leaf page numbers on this trunk
//      8     4*L  the leaf page numbers; at most (usable size - 8) / 4 of them
//
// POINTER MAP (auto-vacuum files only). Page 2 is the first pointer-map page;
// each one holds a 5-byte entry for each of the usable size / 5 pages after
// it, then the next pointer-map page follows. When a pointer-map page would
// fall on the lock-byte page, it is the page after it. The entry of page P on
// pointer-map page M is at offset 5 * (P - M - 1):
//
//   OFFSET  SIZE  DESCRIPTION
//      0      1   kind: 1 root page, 2 free page, 3 first overflow page of a
//                 cell, 4 later overflow page, 5 non-root b-tree page
//      1      4   parent: the b-tree page of the cell (3), the previous
//                 overflow page (4), the parent b-tree page (5); else 0
//
// WRITE-AHEAD LOG HEADER (the first 32 bytes of the -wal file; big-endian)
//
//   OFFSET  SIZE  DESCRIPTION
//      0      4   magic 0x377f0682 or 0x377f0683 (low bit set: the checksums
//                 sum big-endian words, else little-endian)
//      4      4   format version 3007000
//      8      4   page size
//     12      4   checkpoint sequence number
//     16      8   salt: copied into every frame of this generation of the log
//     24      8   checksum of the first 24 bytes (two 32-bit sums)
//
// WRITE-AHEAD LOG FRAME: a 24-byte header, then one page image
//
//   OFFSET  SIZE  DESCRIPTION
//      0      4   page number
//      4      4   commit frames: the database size in pages after the commit; else 0
//      8      8   salt, equal to the log header's
//     16      8   checksum of the log so far: the header, then every frame's
//                 first 8 bytes and page image
//
// ROLLBACK JOURNAL HEADER (at offset 0 and again at every sector boundary
// where a new group of records starts; big-endian)
//
//   OFFSET  SIZE  DESCRIPTION
//      0      8   magic d9 d5 05 f9 20 a1 63 d7
//      8      4   number of records that follow (0xFFFFFFFF: up to the end of the file)
//     12      4   checksum initializer
//     16      4   database size in pages before the transaction
//     20      4   sector size (the header takes a whole sector)
//     24      4   page size (0: the database's)
//
// JOURNAL RECORD: page number (4), the page image, checksum (4): the
// initializer plus every 200th byte of the image counted from its end.
//
// SUPER-JOURNAL NAME (at the end of a journal of a transaction over several
// databases): the name, then its length (4), its checksum (4: the sum of its
// bytes) and the journal magic (8).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora::format {

// Database header.
inline constexpr int kHeaderSize = 100;
inline constexpr int kHeaderPageSize = 16;
inline constexpr int kHeaderReservedBytes = 20;
inline constexpr int kHeaderFreelistTrunk = 32;
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

// Lock-byte page.
inline constexpr std::int64_t kLockByteOffset = 0x40000000;

// Freelist trunk page.
inline constexpr int kTrunkNext = 0;
inline constexpr int kTrunkLeafCount = 4;
inline constexpr int kTrunkLeaves = 8;

// Pointer map: entry size and kinds.
inline constexpr int kPointerMapEntrySize = 5;
inline constexpr std::uint8_t kPointerMapRoot = 1;
inline constexpr std::uint8_t kPointerMapFree = 2;
inline constexpr std::uint8_t kPointerMapOverflow1 = 3;
inline constexpr std::uint8_t kPointerMapOverflow2 = 4;
inline constexpr std::uint8_t kPointerMapBtree = 5;

// Write-ahead log header and frame header.
inline constexpr std::uint32_t kWalMagic = 0x377f0682;  // the low bit chooses big-endian checksums
inline constexpr std::uint32_t kWalVersion = 3007000;
inline constexpr int kWalHeaderSize = 32;
inline constexpr int kWalVersionField = 4;
inline constexpr int kWalPageSize = 8;
inline constexpr int kWalSalt = 16;
inline constexpr int kWalChecksum = 24;
inline constexpr int kWalFrameHeaderSize = 24;
inline constexpr int kWalFramePage = 0;
inline constexpr int kWalFrameCommitSize = 4;
inline constexpr int kWalFrameSalt = 8;
inline constexpr int kWalFrameChecksum = 16;

// Rollback journal header, records and super-journal name.
inline constexpr std::uint8_t kJournalMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
inline constexpr int kJournalRecordCount = 8;
inline constexpr int kJournalChecksumInit = 12;
inline constexpr int kJournalOriginalPages = 16;
inline constexpr int kJournalSectorSize = 20;
inline constexpr int kJournalPageSize = 24;
inline constexpr int kJournalHeaderFields = 28;
inline constexpr int kJournalRecordPage = 4;      // before the image
inline constexpr int kJournalRecordChecksum = 4;  // after the image
inline constexpr int kJournalChecksumStride = 200;
inline constexpr int kSuperJournalTrailer = 16;  // length, checksum, magic

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

// The lock-byte page for pages of `pageSize` bytes; 0 when the size is not
// positive.
inline std::int64_t LockBytePage(std::int64_t pageSize) {
  return pageSize > 0 ? kLockByteOffset / pageSize + 1 : 0;
}

// Whether a file with database header `header` and usable size `usableSize`
// keeps a pointer map: the largest root page is set and the usable size is
// one the format allows.
inline bool HasPointerMap(const std::uint8_t* header, std::int64_t usableSize) {
  return ReadBigEndian32(header + kHeaderLargestRoot) != 0 && usableSize >= kMinUsableSize;
}

// The pointer-map page that holds the entry of `page` (which is that
// pointer-map page itself when `page` is one); 0 for pages 0 and 1 or an
// unusable geometry. Pages after each pointer-map page: usableSize / 5.
inline std::int64_t PointerMapPageOf(std::int64_t page, std::int64_t pageSize,
                                     std::int64_t usableSize) {
  const std::int64_t span = usableSize / kPointerMapEntrySize + 1;
  if (page < 2 || span <= 1) return 0;
  std::int64_t map = (page - 2) / span * span + 2;
  if (map == LockBytePage(pageSize)) ++map;
  return map;
}
inline bool IsPointerMapPage(std::int64_t page, std::int64_t pageSize, std::int64_t usableSize) {
  return page >= 2 && PointerMapPageOf(page, pageSize, usableSize) == page;
}
// The offset of the entry of `page` on its pointer-map page; -1 when it has
// none there (it is the map page itself, the lock-byte page, or the entry
// does not lie inside the usable size).
inline std::int64_t PointerMapEntryOffset(std::int64_t page, std::int64_t pageSize,
                                          std::int64_t usableSize) {
  const std::int64_t map = PointerMapPageOf(page, pageSize, usableSize);
  if (map <= 0 || page <= map || page == LockBytePage(pageSize)) return -1;
  const std::int64_t offset = kPointerMapEntrySize * (page - map - 1);
  return offset + kPointerMapEntrySize <= usableSize ? offset : -1;
}

// The number of leaf page numbers a freelist trunk page can hold.
inline std::int64_t TrunkCapacity(std::int64_t usableSize) {
  return usableSize > kTrunkLeaves ? (usableSize - kTrunkLeaves) / 4 : 0;
}

// Whether a record whose cell keeps `localPayload` bytes on its page fits
// the `space` the page leaves the cell (see PageLayout; negative when not
// known: then only the page bounds it) on a page of `pageSize` bytes.
inline bool RecordFitsCell(std::int64_t localPayload, std::int64_t space, std::int64_t pageSize) {
  return localPayload <= pageSize && (space < 0 || localPayload <= space);
}

}  // namespace velmora::format
