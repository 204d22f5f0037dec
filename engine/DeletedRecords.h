// Deleted records: table rows that a DELETE (or an UPDATE, or a DROP TABLE)
// freed but whose bytes the file still holds.
//
// SQLite rarely erases what it frees. A deleted cell stays in its page: as a
// freeblock, whose first four bytes now hold the freeblock header (next
// freeblock, size) in place of the cell's payload size, rowid and record
// header size; or untouched in the unallocated space between the cell
// pointer array and the cell content area, when it lay at the start of that
// area. A leaf freed whole goes to the freelist with its b-tree header and
// cells; the pages of a dropped table go there too; an overflow chain's
// pages are freed as they were.
//
// The pass runs after the live recovery, when the page map gives every page
// its final role, and reads each page once: the live table leaves (their
// freeblocks and unallocated space), the freelist trunk pages (the bytes
// after their used entries) and the freelist leaf pages (their old cells,
// freeblocks and unallocated space). A cell whose first bytes were
// overwritten is rebuilt from what is left against the columns of the table
// it may belong to; it is taken only when exactly one reading fits.
// Overflow chains are followed only through pages the page map calls free.
//
// A record goes to the table whose live leaf held it, or to the one live
// table whose columns take every record of its free page; the records of
// free pages that no live table takes (a dropped table) are grouped by the
// tree they came from, under the name of that table's deleted schema row
// when one is found, else deleted_table_N. A record equal to a live row of
// its table is not a deleted record. Deleted records are never mixed into a
// table's live rows.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "engine/Item.h"
#include "engine/Progress.h"
#include "engine/RecoveryPasses.h"

namespace velmora {

struct RecoveryState;

// Where a deleted record was found.
enum class DeletedSource : std::uint8_t {
  FreeSpace,     // the unallocated space of a live leaf, or of a free page
  Freeblock,     // a freeblock of a live leaf, or of a freed leaf
  FreelistPage,  // a cell of a freed leaf (or what a trunk page still holds)
  DroppedTable,  // a cell of a free page of a table that no longer exists
  WalFrame,      // an older page image of the write-ahead log (not searched yet)
  Journal,       // an original page image of a rollback journal (not searched yet)
};

// Values longer than this are kept cut (their first kMaxDeletedValueBytes
// bytes) and marked incomplete; once the pass holds kMaxDeletedBytes bytes of
// values in all, the texts and blobs of later records are kept empty and
// incomplete. A damaged or huge file cannot make the pass hold more.
inline constexpr std::int64_t kMaxDeletedValueBytes = std::int64_t{1} << 20;
inline constexpr std::int64_t kMaxDeletedBytes = std::int64_t{256} << 20;
// No more records than this are kept (further ones are counted as dropped).
inline constexpr std::int64_t kMaxDeletedRecords = 2000000;

struct DeletedRecord {
  std::int64_t page = 0;  // the page whose bytes held the cell
  int offset = 0;         // the cell's offset in that page
  DeletedSource source = DeletedSource::Freeblock;
  int walFrame = -1;  // the log frame, for WalFrame; else -1
  // Some value is not known (its bytes were overwritten, or several readings
  // of the cell disagree on it: kept as NULL with complete false) or was
  // kept cut (complete false, the bytes that survive held).
  bool partial = false;
  // The cell's rowid survived. A freed cell's rowid is usually overwritten
  // by the freeblock header; for a table whose INTEGER PRIMARY KEY is the
  // rowid, that key is then lost too (its column reads NULL, complete false).
  bool rowidKnown = false;
  std::int64_t rowid = 0;
  RecordValues values;  // in the table's record order; display texts left empty
};

struct DeletedTable {
  // The live table's real name, the dropped table's name from its deleted
  // schema row, or deleted_table_N.
  QString table;
  bool dropped = false;  // no live table of that name
  int columns = 0;       // the table's stored columns (the most values a record has, for N)
  QString sql;           // a dropped table's statement when its schema row was found
  // For deleted_table_N only: the live tables whose columns take its records
  // as well, when evidence did not decide between them.
  std::vector<QString> candidates;
  std::vector<DeletedRecord> records;
};

struct DeletedRecords {
  bool ran = false;      // the pass ran to its end
  bool stopped = false;  // a stop request ended it; nothing is kept
  std::vector<DeletedTable> tables;
  std::int64_t whole = 0, partial = 0;
  std::int64_t dropped = 0;    // records found past kMaxDeletedRecords, not kept
  std::int64_t ambiguous = 0;  // rebuilt cells that several readings fit, not kept
  std::int64_t pagesRead = 0;  // live leaves and free pages read
};

// The pass: fills state.deleted. Skipped when the working database is
// missing (no table layouts) or the orphan pass did not complete the page map.
PassResult FindDeletedRecords(RecoveryState& state, IProgress& progress);

}  // namespace velmora
