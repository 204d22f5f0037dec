// Entry points of the output: show one object in the right pane, or write it
// into the recovered database; the save plan and the object names that the
// window and the tool share.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "engine/session/SQLiteRecovery.h"
#include "engine/session/Sinks.h"
#include "output/RecoveredDatabase.h"

struct sqlite3;

namespace velmora {

// The kind of a database object, decided from its category in the tree.
// Deleted: the deleted records of a table (output/DeletedOutput.h), saved as
// a table of their own.
enum class ObjectKind { Table = 8, View = 9, Index = 10, Trigger = 11, Deleted = 12 };

// What became of one object handed to DispatchObject in save mode.
struct ObjectOutcome {
  bool written = false;      // the object exists in the recovered database
  bool stopped = false;      // a stop request cut it short (or passed it over)
  std::int64_t records = 0;  // table: records inserted
  QString error;             // why it was not (fully) written; empty when it was
  bool incomplete = false;   // table: part of its b-tree could not be read (damage)
  QString note;  // what the user should know although it was written (stand-ins, CHECKs)
  // table: of `records`, those put back from orphan pages (the rest came from
  // its own tree)
  std::int64_t putBack = 0;
  bool lostAndFound = false;  // the table is the lost-and-found table
  // table: made from orphan trees without a schema row (every record came
  // from orphan pages)
  bool recoveredTree = false;
  // deleted records: the table they were written as; of `records`, the whole ones
  QString savedAs;
  std::int64_t whole = 0;
};

// One object of the tree: its kind and its name (for a table its real name
// as TableNames() holds it; for the other kinds the name field of its
// schema row).
struct ObjectRef {
  ObjectKind kind = ObjectKind::Table;
  QString name;
};

// The right pane and the status bar, where a display goes.
struct DisplayPane {
  IRecordGrid& grid;
  IStatementEdit& statement;
  IStatusText& status;
  IProgressBar& bar;
  IControl& stopButton;
};

// Writes `object` into the recovered database `target`.
// `progress` is told of the work and asked whether to stop.
ObjectOutcome DispatchObject(CSQLiteRecovery& engine, IProgress& progress, const ObjectRef& object,
                             RecoveredDatabase& target);
// Shows `object` in `pane`: a table's rows in the grid, any other object's
// statement in the statement edit (a virtual table's too).
ObjectOutcome DispatchObject(CSQLiteRecovery& engine, IProgress& progress, const ObjectRef& object,
                             const DisplayPane& pane);

// The statement of the view, index, trigger or virtual table `name` exactly
// as stored; empty when there is none (and for an ordinary table).
QString ObjectSql(const CSQLiteRecovery& engine, ObjectKind kind, const QString& name);
// The same with line feeds turned into CR LF, as the statement pane shows it.
QString ObjectSqlForDisplay(const CSQLiteRecovery& engine, ObjectKind kind, const QString& name);

// The real names of the objects of one tree category, in tree order: table
// names as the working database holds them; for the other kinds the name
// field of each schema row.
QStringList CategoryNames(const CSQLiteRecovery& engine, ObjectKind kind);
// The text the tree and the tool show for an object.
QString ObjectTreeText(ObjectKind kind, const QString& name);
// What marks an object in the tree (its tooltip) and in the tool's list:
// "virtual table (module M)" or "statement rebuilt: ..." for a table; empty
// for an object with nothing to mark.
QString ObjectTreeNote(const CSQLiteRecovery& engine, ObjectKind kind, const QString& name);

// One object of a save, in the order the save writes them.
using PlannedObject = ObjectRef;
// The save order: tables first, so that their records exist before any view,
// trigger or index is created (triggers do not fire during the inserts and
// indexes are built once); then views, triggers, indexes; the deleted
// records last, so that their tables take names no saved object holds. Each
// object once.
std::vector<PlannedObject> MakeSavePlan(const QStringList& tables, const QStringList& views,
                                        const QStringList& triggers, const QStringList& indexes,
                                        const QStringList& deleted = QStringList());

// The record-count texts of the status bar: "  Record : %d" when a table's
// display starts, "  Records : %d" when it has finished (the running text of
// a load is FormatRecordStatus in output/RecordOutput.h).
QString RecordCountText(std::int64_t count);
QString RecordsCountText(std::int64_t count);

// Runs a statement that returns no data; "SQL error: %s\n" on standard error
// and false when it fails.
bool ExecSql(sqlite3* db, const QByteArray& sqlUtf8);

}  // namespace velmora
