// Rebuilding the CREATE TABLE statement of a table whose stored statement the
// library refuses (damaged bytes in its text), so that the table and its rows
// are not lost.
//
// What the text still says is kept where it can be trusted: the table's name
// from its schema row, every definition that still parses. Where the text
// cannot say how the record's values map to columns, the table is built from
// its records: as many columns as the widest record, each named from the text
// while the text is intact up to it, else c1..cN, typed from the storage class
// most of its values have. A column is never given a type that would change a
// value of another storage class on insert: such a column gets no type.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/core/RecordView.h"

namespace velmora {

// The storage classes one column's values have, counted over the records.
struct ColumnEvidence {
  std::int64_t nulls = 0, integers = 0, reals = 0, texts = 0, blobs = 0;
};

// What the records of one b-tree say about its table's shape.
struct RecordProfile {
  bool indexTree = false;               // the root is an index b-tree: a WITHOUT ROWID table
  std::int64_t records = 0;             // records counted
  int widest = 0;                       // values in the widest record (at most kMaxRebuiltColumns)
  bool cut = false;                     // records past kMaxProfiledRecords went uncounted
  std::vector<ColumnEvidence> columns;  // per value position, widest entries
};

// The most columns a rebuilt statement declares (the library's default limit).
inline constexpr int kMaxRebuiltColumns = 2000;
// The most records a profile counts; the rest of the tree is not read.
inline constexpr std::int64_t kMaxProfiledRecords = 200000;

// Adds one decoded record to `profile` (values past kMaxRebuiltColumns are
// not counted).
void AddToProfile(const RecordView& record, RecordProfile& profile);

// The declared type for a column with `evidence`: INTEGER, REAL or TEXT when
// every value that is not NULL already has that storage class (so the
// column's affinity converts none of them), BLOB when most are blobs, else
// empty (no affinity: every value is stored as it comes).
QString TypeFromEvidence(const ColumnEvidence& evidence);

// TypeFromEvidence for the column at `position` of `profile`; empty when the
// profile did not see every record (a value it missed could be converted).
QString TypeFromProfile(const RecordProfile& profile, int position);

// What other evidence than the statement's text says about the columns, by
// record position: a name (from an index whose entries hold that position's
// values; empty when none) and the rowid alias (an index entry holds the rowid
// where every record holds NULL; -1 when none is known).
struct ColumnHints {
  std::vector<QString> names;
  int rowidAlias = -1;
};

// The outcome of a repair.
struct SchemaRepairResult {
  bool ok = false;           // `sql` was accepted by `accepts`
  QString sql;               // the rebuilt CREATE TABLE statement
  bool fromRecords = false;  // the columns were built from the records
  QString note;              // how it was rebuilt, for the report
  // Per record position of `sql`'s columns: the name given, and whether it
  // is made up (cN) rather than read from the text or the hints.
  QStringList names;
  std::vector<bool> madeUp;
};

// Rebuilds the statement of the table `name` (its schema row's name field)
// from the refused text `damagedSql` and the records' `profile`. `accepts`
// tells whether the library takes a candidate statement (it is prepared,
// confined, never run); it is called a bounded number of times (about twice
// per definition). `hints` name columns the text no longer names. Returns ok
// false when no candidate was accepted.
SchemaRepairResult RepairTableStatement(const QString& name, const QString& damagedSql,
                                        const RecordProfile& profile,
                                        const std::function<bool(const QString&)>& accepts,
                                        const ColumnHints& hints = {});

}  // namespace velmora
