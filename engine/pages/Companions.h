// The companion files of a database: the write-ahead log (FILE-wal) and the
// rollback journal (FILE-journal). Both are only read, never written; each
// reader returns where the page images it accepts lie in its file, and the
// page source puts them in place of the database file's own pages.
//
// WRITE-AHEAD LOG (integers big-endian)
//
//   header, 32 bytes:
//     0  4  magic 0x377f0682 (checksums of little-endian words) or 0x377f0683 (big-endian words)
//     4  4  format version 3007000
//     8  4  page size (512..65536, a power of two)
//    12  4  checkpoint sequence number
//    16  8  salt-1, salt-2 (a new pair for every generation of the log)
//    24  8  checksum of bytes 0..23
//   frames, 24 + page size bytes each:
//     0  4  page number
//     4  4  for a commit frame, the database size in pages after the commit; else 0
//     8  8  salt-1, salt-2 (equal to the header's in a frame of this generation)
//    16  8  checksum, running from the header's over every frame so far: its
//           first 8 bytes and its page image
//
// ROLLBACK JOURNAL (integers big-endian)
//
//   header, padded to the sector size:
//     0  8  magic d9 d5 05 f9 20 a1 63 d7
//     8  4  number of records that follow (0xFFFFFFFF: as many as the file holds)
//    12  4  initial value of the record checksums
//    16  4  database size in pages before the transaction
//    20  4  sector size (first header only)
//    24  4  page size (first header only)
//   records, page size + 8 bytes each:
//     0  4  page number
//     4  P  the page's original image
//   4+P  4  checksum: the initial value plus every 200th byte of the image counted from its end
//   another header may follow at the next sector boundary after the records;
//   a super-journal name may end the file.
#pragma once

#include <QString>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace velmora {

class CFile64;

// Page number -> offset of that page's image in the companion file.
using PageImageOffsets = std::unordered_map<std::int64_t, std::int64_t>;

// What the write-ahead log holds that a reader of the database would see.
struct WalIndex {
  bool headerValid = false;          // magic, version, page size and header checksum are right
  bool used = false;                 // at least one committed transaction: its pages count
  std::int64_t pageSize = 0;         // from a valid header
  std::int64_t validFrames = 0;      // frames whose salts and running checksum are right
  std::int64_t committedFrames = 0;  // frames up to and including the last commit frame
  std::int64_t databasePages = 0;    // database size that the last commit frame records
  PageImageOffsets pages;            // per page, the latest committed frame's image
  // Every valid frame in log order (committed or not), as (page, offset of
  // its image); at most kMaxListedFrames. The older images of a page, that
  // the deleted-records pass reads.
  std::vector<std::pair<std::int64_t, std::int64_t>> frames;
  QString note;  // why the log is ignored, or what of it is left out
};
inline constexpr std::int64_t kMaxListedFrames = std::int64_t{1} << 20;

// Reads the write-ahead log `file`, `fileSize` bytes long. Returns the
// committed state: frames are taken in order while their salts equal the
// header's and their running checksum is right; only frames up to the last
// commit frame among them count, and of those the latest frame of a page
// wins. A log with an invalid header, or without a committed frame of its
// generation, comes back with used == false and a note. Reads nothing past
// `fileSize`; allocates one page and one entry per committed page.
WalIndex ReadWal(const CFile64& file, std::int64_t fileSize);

// What a hot rollback journal restores: the database as it was before the
// interrupted transaction.
struct JournalIndex {
  bool used = false;          // a valid header and at least one record that passed its checksum
  std::int64_t pageSize = 0;  // the page size the journal records
  std::int64_t originalPages = 0;  // database size in pages before the transaction
  std::int64_t records = 0;        // records taken
  PageImageOffsets pages;          // page -> its original image (pages past originalPages left out)
  QString note;                    // why the journal is ignored, or where reading stopped
};

// Reads the rollback journal `file` (`fileSize` bytes) beside a database
// whose page size is `databasePageSize` (used when the journal's header
// gives none; 0 when unknown). Follows the rollback of an interrupted
// transaction: headers in sequence, each padded to the sector size; records
// until the count a header gives (all that fit when it is 0xFFFFFFFF);
// reading stops at the first record with page number 0, the lock-byte page
// or a wrong checksum, or at the end of the file. A journal that names a
// super-journal that does not exist belongs to a transaction that committed
// and is ignored; `superJournalExists` answers for a name (null: none
// exists). Reads nothing past `fileSize`; never writes.
JournalIndex ReadHotJournal(const CFile64& file, std::int64_t fileSize,
                            std::int64_t databasePageSize,
                            bool (*superJournalExists)(const QString& name) = nullptr);

}  // namespace velmora
