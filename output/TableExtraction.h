// Table extraction: one recovered table, walked in the damaged file from its
// root page, into the record grid or into the recovered database.
#pragma once

#include <QString>

#include "engine/SQLiteRecovery.h"
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

// Runs `sql` on `db` when it is exactly one statement beginning with CREATE
// (a statement read from a damaged file never gets to run anything else).
// False with *error set otherwise, or when the library rejects it.
bool ExecCreateStatement(sqlite3* db, const QString& sql, QString* error);

// Shows (`target` null: into `grid`, which may be null) or saves (into
// `target`) the table `name`; the records inserted and what went wrong are in
// the result.
ObjectOutcome ExtractTable(CSQLiteRecovery& engine, const QString& name, RecoveredDatabase* target,
                           IRecordGrid* grid, IStatusText* statusText, IProgressBar* progressBar);

}  // namespace velmora
