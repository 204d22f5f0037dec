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

#include "engine/core/Progress.h"
#include "engine/passes/PassFindings.h"

namespace velmora {

struct RecoveryState;

// Values longer than this are kept cut (their first kMaxDeletedValueBytes
// bytes) and marked incomplete; once the pass holds kMaxDeletedBytes bytes of
// values in all, the texts and blobs of later records are kept empty and
// incomplete. A damaged or huge file cannot make the pass hold more.
inline constexpr std::int64_t kMaxDeletedValueBytes = std::int64_t{1} << 20;
inline constexpr std::int64_t kMaxDeletedBytes = std::int64_t{256} << 20;
// No more records than this are kept (further ones are counted as dropped).
inline constexpr std::int64_t kMaxDeletedRecords = 2000000;

// Finds the deleted records of the file `state` holds (its page map
// completed by the orphan pass, its working database built); `progress` is
// polled between pages. On a stop the result says so and holds nothing.
DeletedRecords FindDeletedRecords(RecoveryState& state, IProgress& progress);

}  // namespace velmora
