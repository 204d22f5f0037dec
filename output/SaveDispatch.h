// Entry points of the output: show one object in the right pane, or write it
// into the recovered database.
#pragma once

#include <QString>
#include <cstdint>

#include "engine/SQLiteRecovery.h"
#include "engine/Sinks.h"

struct sqlite3;

namespace velmora {

// Kind code of a database object, decided from its category in the tree.
enum ObjectKind : int { kKindTable = 8, kKindView = 9, kKindIndex = 10, kKindTrigger = 11 };

// What became of one object handed to DispatchObject in save mode.
struct ObjectOutcome {
  bool written = false;      // the object exists in the recovered database
  bool stopped = false;      // a stop request cut it short (or passed it over)
  std::int64_t records = 0;  // table: records inserted
  QString error;             // why it was not (fully) written; empty when it was
  bool incomplete = false;   // table: part of its b-tree could not be read (damage)
};

// The recovered database of the Save command in progress (null otherwise).
extern sqlite3* g_dbRecovered;

// Displays (saveMode false) or saves (true) the object `name` of kind `kind`.
// For a table, `name` is its real name as m_lstTableNames holds it; for the
// other kinds it is the name field of its schema row. Display mode talks to
// the grid, edit and status controls; save mode writes into g_dbRecovered.
ObjectOutcome DispatchObject(CSQLiteRecovery& engine, const QString& name, int kind, bool saveMode,
                             IRecordGrid* grid, IStatementEdit* statementEdit,
                             IStatusText* statusText, IProgressBar* progressBar,
                             IControl* stopButton);

// The SQL statement of the object `name` in one list of schema rows (line
// feeds turned into CR LF), or the empty text.
QString FindObjectSql(const QStringList& rows, const QString& name);

// Opens the recovered database `fileName` in `folder` (created again when it
// has vanished) and publishes it as g_dbRecovered. Refuses a destination
// where a file of that name exists already (the damaged file in particular).
// On failure returns false, sets *error to a message for the user, writes the
// can't-open line to standard error when the library refused, and leaves
// g_dbRecovered null. Never ends the process.
bool OpenRecoveredDatabase(CSQLiteRecovery& engine, const QString& folder,
                           const QString& fileName, QString* error);

// Closes g_dbRecovered (committing what was written) and sets it to null.
void CloseRecoveredDatabase();

// Runs a statement that returns no data; "SQL error: %s\n" on standard error
// and false when it fails.
bool ExecSql(sqlite3* db, const QByteArray& sqlUtf8);

}  // namespace velmora
