// Table extraction: one recovered table, walked in the damaged file from its
// root page, into the record grid or into the recovered database.
#pragma once

#include <QString>

#include "engine/schema/SchemaRows.h"
#include "engine/session/SQLiteRecovery.h"
#include "engine/session/Sinks.h"
#include "output/RecordOutput.h"
#include "output/SaveDispatch.h"

struct sqlite3;

namespace velmora {

// Runs `sql`, read from the damaged file, on the recovered database when it
// is exactly one statement beginning with CREATE, confined: it may create
// only the object of kind `kind` named `name` (case-insensitive) in the main
// database (a table also its automatic indexes and sqlite_sequence), never a
// TEMP object, never run a query; its work is bounded (see
// RecoveredDatabase::Guard) and a stop request ends it (*stopped set, when
// given). False with *error set otherwise, or when the library rejects it.
bool ExecCreateStatement(RecoveredDatabase& target, SchemaKind kind, const QString& name,
                         const QString& sql, QString* error, bool* stopped = nullptr);

// Saves the table `name` (real name) into `target`: creates it, then
// inserts every row a table read gives (output/TableReader.h). The records
// inserted and what went wrong are in the result. `progress` is told of the
// work and asked whether to stop.
ObjectOutcome SaveTable(CSQLiteRecovery& engine, IProgress& progress, const QString& name,
                        RecoveredDatabase& target);

// Shows the table `name` (real name) in `grid`: its columns, then every row
// a table read gives, the record-count text and the bar kept as it goes.
ObjectOutcome ShowTable(CSQLiteRecovery& engine, IProgress& progress, const QString& name,
                        IRecordGrid& grid, IStatusText& statusText, IProgressBar& progressBar);

// Rows of one table as a save would take them: from its own tree, put back
// from orphan pages, and (the lost-and-found table) kept there.
struct TableRowCounts {
  std::int64_t own = 0;
  std::int64_t putBack = 0;
  std::int64_t lost = 0;
  bool stopped = false;
};
// Counts the rows of table `name` (real name) by a table read, as the save
// takes them: `own` from its tree (for a table made from orphan trees, its
// pages), `putBack` from the pages put back into it; the lost-and-found
// table's rows are `lost`.
TableRowCounts CountTableRows(CSQLiteRecovery& engine, IProgress& progress, const QString& name);

}  // namespace velmora
