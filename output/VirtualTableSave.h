// Saving virtual tables: a table of a module that the library ships is
// recreated with its own statement in the recovered database, its shadow
// tables (which the module creates) are filled with the file's records, and
// the module's own check says whether it answers as before. A table of any
// other module, or one its module refuses (a tokenizer of the application's
// own), is never run: its schema row is written as the file holds it and its
// shadow tables are saved as plain tables with their own statements, so that
// the application that has the module finds its table whole.
#pragma once

#include <QString>

#include "engine/session/SQLiteRecovery.h"
#include "output/RecoveredDatabase.h"
#include "output/SaveDispatch.h"

namespace velmora {

// The virtual table of the catalog whose module keeps `table` as a shadow
// table and that can be recreated in `db`; null when there is none.
const SchemaObject* OwningVirtualTable(const CSQLiteRecovery& engine, sqlite3* db,
                                       const QString& table);

// Saves the virtual table `object` (a catalog entry with virtualTable set)
// into `target`, once per save: a second call returns what the first came
// to. written is false, with the reason and the statement in error, when the
// statement cannot be read or its schema row cannot be written; written with
// an error when a shadow table could not be filled or the module's check
// fails and the index is not rebuilt. records: the rows the table holds in
// the saved file (documents or boxes, counted in its content or rowid shadow
// table after the check; 0 for a table saved as stored).
ObjectOutcome SaveVirtualTable(CSQLiteRecovery& engine, IProgress& progress,
                               const SchemaObject& object, RecoveredDatabase& target);

// Saves the shadow table `table` of the virtual table `owner` by saving the
// virtual table (when not done yet); the outcome is the shadow table's share.
ObjectOutcome SaveShadowTable(CSQLiteRecovery& engine, IProgress& progress,
                              const SchemaObject& owner, const QString& table,
                              RecoveredDatabase& target);

// A statement from the file made fit for one line of a report: control
// characters shown as "?", at most `limit` characters (then "...").
QString PrintableSql(const QString& sql, int limit = 2000);

}  // namespace velmora
