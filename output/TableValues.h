// Single values of a table, read again from the damaged file: the value
// viewer of the window takes one cell of the grid whole, without the grid's
// stores holding it.
//
// The grid's row index is the row's position in the table read
// (output/TableReader.h), which a fetch repeats up to that row.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "engine/schema/TableLayout.h"
#include "engine/session/SQLiteRecovery.h"
#include "output/TableReader.h"

namespace velmora {

// The value of declared column `column` in `view` as SQLite reads it: the
// record position that holds it, or null when the record is too short to
// hold it. `*scratch` is filled and returned instead where the stored value
// stands for another: a rowid table's INTEGER PRIMARY KEY column stored as
// NULL is the cell's rowid; an integer in a column of REAL affinity is a real.
const ValueView* ColumnValue(const TableLayout& layout, const RecordView& view, int column,
                             ValueView* scratch);

// A value read again from the file.
//
//  result     Found, or why not
//  storage    its storage class (Null also for a column the record lacks)
//  intValue   Integer: the value
//  realValue  Real: every bit of the stored double
//  length     Text/Blob: the bytes the value has in the file (fewer than the
//             record announced when damage cut it; see complete)
//  complete   false when damage cut the value short
//  head       Text/Blob: its first min(length, headLimit) bytes, texts in the
//             database's encoding
//  saved      the whole value was written to the file asked for
//  error      why a save or the read failed (empty otherwise)
//  rowid      the record's rowid (hasRowid false for a WITHOUT ROWID table)
struct FetchedValue {
  enum class Result { Found, NoSuchTable, NoSuchRow, Stopped };
  Result result = Result::NoSuchRow;
  StorageClass storage = StorageClass::Null;
  std::int64_t serialType = 0;
  std::int64_t intValue = 0;
  double realValue = 0.0;
  std::int64_t length = 0;
  bool complete = true;
  QByteArray head;
  bool saved = false;
  QString error;
  bool hasRowid = false;
  std::int64_t rowid = 0;
};

// Reads the table `table` (real name) of `engine` to its grid row `row`
// (0-based) and reads declared column `column` of it whole. Rows before it
// are decoded in display mode (long values skipped); the row itself in save
// mode, its long values through temporary files that are removed before
// returning, so memory stays within `headLimit` bytes plus a page whatever
// the value's size. When `saveTo` is given, the value's exact bytes (a text in
// the database's encoding; a number as SQLite prints it; NULL as no bytes)
// are written to that file, which is created or truncated. `progress` is
// polled between cells: a stop gives Stopped.
FetchedValue FetchValue(CSQLiteRecovery& engine, IProgress& progress, const QString& table,
                        std::int64_t row, int column, std::int64_t headLimit,
                        const QString& saveTo = QString());

// A number as SQLite prints it: integers in decimal, reals with "%!.15g".
QByteArray SqliteNumberText(const ValueView& value);

// Whether the bytes start like a picture the viewer can show: "PNG", "JPEG",
// "GIF", "BMP", "WebP"; empty when none.
QString PictureFormat(const QByteArray& head);

}  // namespace velmora
