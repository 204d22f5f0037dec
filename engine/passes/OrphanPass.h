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

#include "engine/core/Progress.h"
#include "engine/core/RecordView.h"
#include "engine/passes/PassFindings.h"

namespace velmora {

struct RecoveryState;

// Runs the pass over `state` (scanned, working database built): its page
// map is completed, its holes recorded; `progress` is polled between units
// of work. On a stop the result says so and holds nothing to put back.
OrphanPassResult RunOrphanPass(RecoveryState& state, IProgress& progress);

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
