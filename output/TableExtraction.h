// Table extraction: one recovered table, walked in the damaged file from its
// root page, into the record grid or into the recovered database.
#pragma once

#include <QString>

#include "engine/SQLiteRecovery.h"
#include "engine/SchemaRows.h"
#include "engine/Sinks.h"
#include "output/RecordOutput.h"
#include "output/SaveDispatch.h"

struct sqlite3;

namespace velmora {

// Fills `layout` with the columns that the working database `workDb` reports
// for the table `tableName` (its real name, bound, never pasted). Virtual
// generated columns are not stored in records and are left out. False when
// the table is unknown there or has no columns.
bool ReadColumnInfo(sqlite3* workDb, const QString& tableName, TableLayout* layout);

// Runs `sql`, read from the damaged file, on the recovered database when it
// is exactly one statement beginning with CREATE, confined: it may create
// only the object of kind `kind` named `name` (case-insensitive) in the main
// database (a table also its automatic indexes and sqlite_sequence), never a
// TEMP object, never run a query; its work is bounded (see
// RecoveredDatabase::Guard) and a stop request ends it (*stopped set, when
// given). False with *error set otherwise, or when the library rejects it.
bool ExecCreateStatement(RecoveredDatabase& target, SchemaKind kind, const QString& name,
                         const QString& sql, QString* error, bool* stopped = nullptr);

// Shows (`target` null: into `grid`, which may be null) or saves (into
// `target`) the table `name`; the records inserted and what went wrong are in
// the result.
ObjectOutcome ExtractTable(CSQLiteRecovery& engine, const QString& name, RecoveredDatabase* target,
                           IRecordGrid* grid, IStatusText* statusText, IProgressBar* progressBar);

// Rows of one table as a save would take them: from its own tree, put back
// from orphan pages, and (the lost-and-found table) kept there.
struct TableRowCounts {
  std::int64_t own = 0;
  std::int64_t putBack = 0;
  std::int64_t lost = 0;
  bool stopped = false;
};
// Counts the rows of table `name` (real name): its own tree is walked and
// its records counted; the other two come from the orphan pass. A table made
// from orphan trees (no schema row) counts the rows of its pages as `own`.
TableRowCounts CountTableRows(CSQLiteRecovery& engine, const QString& name);

}  // namespace velmora
