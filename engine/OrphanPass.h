// The orphan pass: table pages that no live tree reaches, put back into the
// one table they belong to, or kept for the lost-and-found table.
//
// Run by the session once the schema is scanned and the working database is
// built. In order:
//   1. the page map is completed (ClassifyPages): every live tree walked once
//      without decoding, its holes recorded (the rowid ranges of the pages its
//      validated walk refused), the freelist followed with bounds; what is
//      left is orphan;
//   2. the orphan table pages are the orphan pages that read as table pages
//      and that neither the pointer map (free pages: deleted rows never come
//      back) nor the lock-byte page rule out;
//   3. they are grouped: an orphan interior page with the orphan pages under
//      it, else each leaf on its own;
//   4. each group goes to a table by evidence, strongest first: the pointer
//      map (auto-vacuum files) naming the group's root; a hole of the table's
//      tree holding every rowid of the group, where no surviving leaf has a
//      rowid; the record shape (field count and storage classes that the
//      columns allow); the table's own indexes (the group's entries found in
//      them, or missing from a complete index). A group goes to a table only
//      when exactly one fits; two groups of one table whose rowids overlap
//      both stay out;
//   5. the rest is kept for the lost-and-found table.
// The pass holds a few numbers per orphan page and per leaf of a damaged
// tree, never a structure per cell of a live tree.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <vector>

#include "engine/PagePasses.h"
#include "engine/RecordView.h"

namespace velmora {

class CSQLiteRecovery;
class IWalkProgress;

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

// The most value columns the lost-and-found table gets: the library's column
// limit less the three leading columns. A record with more values than that
// is counted by the save as not fitting.
inline constexpr int kLostAndFoundMaxWidth = 1997;

// Runs the pass over `session` (scanned, working database built); `progress`
// is polled between units of work. On a stop the result says so and holds
// nothing to put back.
OrphanPassResult RunOrphanPass(CSQLiteRecovery& session, IWalkProgress* progress);

// The CREATE TABLE statement of the lost-and-found table `name` with `width`
// value columns: page, id (the cell's rowid), nfield, then c1..cN without
// declared type.
QString LostAndFoundSql(const QString& name, int width);

// "lost_and_found", or with the first suffix _1, _2, ... that no name of
// `taken` uses (compared without regard to ASCII case, as SQLite does).
QString LostAndFoundName(const QStringList& taken);

// The hashes the index evidence compares: one value of a record (a real
// with an integral value hashes as that integer, as the library may store
// it either way), and an integer (a rowid).
std::uint64_t HashRecordValue(const RecordView& record, const ValueView& value);
std::uint64_t HashRowid(std::int64_t rowid);

}  // namespace velmora
