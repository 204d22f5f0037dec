// Deleted records as rows: what the grid shows and what a save writes for
// the records the deleted-records pass found (engine/passes/DeletedRecords.h),
// kept apart from the live rows of their tables.
//
// A deleted table's rows have the table's stored columns (c1, c2, ... for a
// dropped table whose statement was not found), then where each record was
// found: "old_rowid" (the rowid it had, NULL when it was overwritten),
// "page", "offset", "found_in" (free space, freeblock, freelist, dropped
// table, log frame N, journal) and "whole" (1, or 0 when some value was lost
// or cut). A value that was lost is NULL.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "engine/core/Progress.h"
#include "engine/passes/PassFindings.h"
#include "engine/session/SQLiteRecovery.h"
#include "engine/session/Sinks.h"

namespace velmora {

class RecoveredDatabase;

// The deleted records of table `name` (case-insensitive); null when none
// were found (or the pass did not run).
const DeletedTable* FindDeletedTable(const CSQLiteRecovery& engine, const QString& name);
// The names of the tables that have deleted records, in the pass's order.
QStringList DeletedTableNames(const CSQLiteRecovery& engine);

// The column names of `table`'s deleted rows: its value columns, then the
// five columns of where they were found (renamed found_page, ... when a
// value column already has that name).
QStringList DeletedColumnNames(const CSQLiteRecovery& engine, const DeletedTable& table);
// Where `record` was found, as the found_in column says it.
QString FoundInText(const DeletedRecord& record);
// How many of `table`'s records are whole and partial.
void CountDeleted(const DeletedTable& table, std::int64_t* whole, std::int64_t* partial);

// The name a save gives the deleted rows of `table`: "<table>_deleted", or
// "<table>_deleted_2", ... when an object of the recovered database or of
// the recovered file (case-insensitive) holds the name.
QString DeletedTargetName(const QString& table, const QStringList& taken);

// Shows the deleted rows of `table` in `grid` (columns replaced); the rows
// shown. Stops (with the rows shown so far) when `progress` asks.
std::int64_t ShowDeletedRows(const CSQLiteRecovery& engine, const DeletedTable& table,
                             IRecordGrid& grid, IProgress& progress);

struct DeletedSave {
  QString name;              // the table written
  bool written = false;      // the table exists in the recovered database
  bool stopped = false;      // a stop request cut it short
  std::int64_t records = 0;  // rows the table holds
  std::int64_t whole = 0;    // ... of them whole
  QString error;             // why it was not (fully) written
};
// Writes the deleted rows of `table` into the recovered database as a new
// table (DeletedTargetName), in one transaction: every value bound with its
// own storage class, the value columns without a declared type so that no
// affinity changes a value.
DeletedSave SaveDeletedRows(const CSQLiteRecovery& engine, const DeletedTable& table,
                            RecoveredDatabase& target, IProgress& progress);

}  // namespace velmora
