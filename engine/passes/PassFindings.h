// What the recovery passes find, as values: the claims of schema rows on
// root pages, the rows the catalog does not keep, the pages of the file by
// role, what the orphan pass put back or kept for lost and found, and the
// deleted records the file still holds. The
// recovery state (RecoveryState.h) holds one of each; the passes fill them.
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <vector>

#include "engine/core/Item.h"
#include "engine/core/PageLayout.h"
#include "engine/core/PageMap.h"

namespace velmora {

// One schema row's claim on a root page.
struct RootCandidate {
  std::int64_t rootPage = 0;
  bool indexTree = false;  // an index or a WITHOUT ROWID table: index pages
  int columns = 0;         // a table's columns from its statement; 0 when unknown
};

// What the reading of page 1 and of the schema tree found.
struct SchemaScan {
  PageLayout firstPage;         // page 1 read without its header, when firstPageLoose
  bool firstPageLoose = false;  // page 1's b-tree header is damaged
  // Schema-shaped cells of page 1 that no pointer lists, passed over for its
  // interior reading: they only fill objects no live schema row describes.
  std::vector<std::uint32_t> firstPageFragments;
  bool walkStopped = false;           // the walk of the schema tree was stopped
  bool walkComplete = false;          // ... and used every page under page 1
  std::vector<RootCandidate> claims;  // every schema row's claim on a root page
  bool searched = false;              // the whole file was searched for schema rows
  std::int64_t rowsFound = 0;         // schema rows taken from pages outside the schema tree
};

// A schema row of an automatic index (sqlite_autoindex_TABLE_N, no
// statement), which the catalog does not keep.
struct SchemaIndexRow {
  QString name;
  QString tableName;
  std::int64_t rootPage = 0;
};

// How many pages of the file have each role.
struct PageCounts {
  std::int64_t byRole[kPageRoleCount] = {};
  std::int64_t total = 0;  // pages counted (whole pages plus a cut last page)
  bool stopped = false;    // the progress asked to stop; counts are partial
  std::int64_t Of(PageRole role) const { return byRole[static_cast<int>(role)]; }
};

// The leaf pages put back into one table, in the order they are walked.
struct PutBackPages {
  std::vector<std::int64_t> pages;
  std::int64_t rows = 0;  // records those pages hold, as the pass decoded them
};

// One group of orphan pages whose rows went to lost and found: an orphan
// interior page with the orphan pages under it, or a single leaf.
struct LostGroup {
  std::int64_t top = 0;              // the page the group starts at
  std::vector<std::int64_t> leaves;  // its leaf pages, in key order
  std::int64_t rows = 0;
  std::int64_t minRowid = 0, maxRowid = 0;
  int minFields = 0, maxFields = 0;
  // Per record position, the storage classes its records hold there, one bit
  // each: 1 NULL, 2 integer, 4 real, 8 text, 16 blob.
  std::vector<std::uint8_t> classes;
  bool fitsNoTable = false;  // no table was even a candidate for it
  // The tables it may belong to (a hole of their tree holds its rowids and
  // their columns take its records), when evidence did not decide between
  // them or its rowids clashed with another group's; real names.
  std::vector<QString> candidateTables;
  // The root page the pointer map leads to from `top`; 0 when the file has
  // no pointer map or it leads nowhere.
  std::int64_t mapRoot = 0;
};

struct OrphanPassResult {
  bool ran = false;              // the pass ran to its end
  bool stopped = false;          // a stop request ended it; nothing was put back
  std::int64_t orphanPages = 0;  // orphan table pages found (interior and leaf)
  PageCounts pages;              // every page of the file by role, once classified
  // Per table (real name as the working database holds it).
  std::map<QString, PutBackPages> putBack;
  // Leaf pages whose rows fit no table, or more than one, in page order.
  std::vector<std::int64_t> lostPages;
  std::int64_t lostRows = 0;
  int lostWidth = 0;  // the most values a lost record holds (capped)
  // The groups behind lostPages, in the order they were decided.
  std::vector<LostGroup> lostGroups;
};

// Where a deleted record was found.
enum class DeletedSource : std::uint8_t {
  FreeSpace,     // the unallocated space of a live leaf, or of a free page
  Freeblock,     // a freeblock of a live leaf, or of a freed leaf
  FreelistPage,  // a cell of a freed leaf (or what a trunk page still holds)
  DroppedTable,  // a cell of a free page of a table that no longer exists
  WalFrame,      // an older page image of the write-ahead log: a frame replaced or never committed
  ReplacedPage,  // the database file's own image of a page that the log or a hot journal replaced
};

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
  std::int64_t dropped = 0;    // records found past the pass's cap (DeletedRecords.h), not kept
  std::int64_t ambiguous = 0;  // rebuilt cells that several readings fit, not kept
  std::int64_t pagesRead = 0;  // live leaves and free pages read
};

// The most value columns the lost-and-found table gets: the library's column
// limit less the three leading columns. A record with more values than that
// is counted by the save as not fitting.
inline constexpr int kLostAndFoundMaxWidth = 1997;

}  // namespace velmora
