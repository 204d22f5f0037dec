#include "output/TableExtraction.h"

#include <sqlite3.h>

#include <algorithm>
#include <exception>
#include <memory>

#include "engine/core/SqlQuote.h"
#include "engine/schema/SqliteDb.h"
#include "engine/schema/StandIns.h"
#include "engine/schema/WorkingDatabase.h"
#include "output/VirtualTableSave.h"
#include "platform/TempFolder.h"

namespace velmora {
namespace {

// Skips white space and SQL comments from `at`; the position after them.
int SkipBlanks(const QString& sql, int at) {
  while (at < sql.size()) {
    if (sql.at(at).isSpace() || sql.at(at) == QLatin1Char(';')) {
      ++at;
    } else if (sql.mid(at, 2) == QLatin1String("--")) {
      const int end = sql.indexOf(QLatin1Char('\n'), at);
      at = end < 0 ? int(sql.size()) : end + 1;
    } else if (sql.mid(at, 2) == QLatin1String("/*")) {
      const int end = sql.indexOf(QLatin1String("*/"), at + 2);
      at = end < 0 ? int(sql.size()) : end + 2;
    } else {
      break;
    }
  }
  return at;
}

// Adds `more` to the note `note`, after a "; ".
void AddNote(QString& note, const QString& more) {
  note = note.isEmpty() ? more : note + QStringLiteral("; ") + more;
}

}  // namespace

TableRowCounts CountTableRows(CSQLiteRecovery& engine, IProgress& progress, const QString& name) {
  TableRowCounts counts;
  TableLayout layout;
  if (!engine.HasTable(name) || !ReadTableLayout(engine.WorkingDb(), name, &layout)) return counts;
  RowCounter counter;
  const TableRead read = ReadTable(engine, layout, counter, progress);
  counts.stopped = read.stopped;
  if (const SchemaObject* lost = engine.LostAndFound(); lost != nullptr && lost->name == name) {
    counts.lost = counter.tree;
    return counts;
  }
  counts.own = counter.tree;
  counts.putBack = counter.putBack;
  return counts;
}

namespace {

// What a statement replayed from the file may create: the one object of its
// schema row's kind and name, in the main database.
struct ReplayScope {
  SchemaKind kind = SchemaKind::Table;
  QByteArray name;  // UTF-8
};

bool SameName(const char* a, const QByteArray& b) {
  return a != nullptr && sqlite3_stricmp(a, b.constData()) == 0;
}

int ConfinedAuthorizer(void* data, int action, const char* arg1, const char* arg2,
                       const char* database, const char*) {
  const auto& scope = *static_cast<const ReplayScope*>(data);
  const bool mainDb = database == nullptr || qstrcmp(database, "main") == 0;
  const auto allowIf = [&](bool allowed) { return mainDb && allowed ? SQLITE_OK : SQLITE_DENY; };
  switch (action) {
    case SQLITE_CREATE_TABLE:
      // An AUTOINCREMENT table brings sqlite_sequence with it.
      return allowIf(scope.kind == SchemaKind::Table &&
                     (SameName(arg1, scope.name) || SameName(arg1, "sqlite_sequence")));
    case SQLITE_CREATE_INDEX:
      // An index row's own index, or the automatic index of a table's
      // PRIMARY KEY or UNIQUE constraint.
      return allowIf(scope.kind == SchemaKind::Index
                         ? SameName(arg1, scope.name)
                         : scope.kind == SchemaKind::Table && arg1 != nullptr &&
                               qstrncmp(arg1, "sqlite_autoindex_", 17) == 0 &&
                               SameName(arg2, scope.name));
    case SQLITE_REINDEX:  // CREATE INDEX fills the new index
      return allowIf(scope.kind == SchemaKind::Index && SameName(arg1, scope.name));
    case SQLITE_CREATE_VIEW:
      return allowIf(scope.kind == SchemaKind::View && SameName(arg1, scope.name));
    case SQLITE_CREATE_TRIGGER:
      return allowIf(scope.kind == SchemaKind::Trigger && SameName(arg1, scope.name));
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
      // The library's own bookkeeping when it records the new object.
      return allowIf(SameName(arg1, "sqlite_master") || SameName(arg1, "sqlite_schema") ||
                     SameName(arg1, "sqlite_sequence"));
    case SQLITE_READ:      // columns named by a CHECK, a key or an index
    case SQLITE_FUNCTION:  // bounded by the length limit and the statement budget
      return SQLITE_OK;
    default:  // SELECT (CREATE TABLE ... AS SELECT), TEMP objects, ATTACH, PRAGMA, ...
      return SQLITE_DENY;
  }
}

}  // namespace

bool ExecCreateStatement(RecoveredDatabase& target, SchemaKind kind, const QString& name,
                         const QString& sql, QString* error, bool* stopped) {
  if (stopped != nullptr) *stopped = false;
  sqlite3* const db = target.Db();
  const int start = SkipBlanks(sql, 0);
  if (sql.mid(start, 6).compare(QLatin1String("CREATE"), Qt::CaseInsensitive) != 0) {
    *error = QStringLiteral("the statement is not a CREATE statement");
    return false;
  }
  const ReplayScope scope{kind, name.toUtf8()};
  sqlite3_set_authorizer(db, ConfinedAuthorizer, const_cast<ReplayScope*>(&scope));
  const QByteArray utf8 = sql.toUtf8();
  Statement stmt;
  const char* tail = nullptr;
  bool ok = false;
  if (PrepareWithStandIns(db, utf8, stmt.Out(), &tail, nullptr) != SQLITE_OK || stmt == nullptr) {
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    ReportSqlError(sqlite3_errmsg(db));
  } else if (const QString rest =
                 QString::fromUtf8(tail, int(utf8.constData() + utf8.size() - tail));
             SkipBlanks(rest, 0) < rest.size()) {
    *error = QStringLiteral("the statement is followed by another statement");
  } else {
    // Only an index has work that grows with the saved rows; any other
    // CREATE finishes in a few instructions.
    target.BeginReplay(kind == SchemaKind::Index);
    const int rc = sqlite3_step(stmt);
    const RecoveredDatabase::Guard guard = target.EndReplay();
    ok = rc == SQLITE_DONE;
    if (kind == SchemaKind::Trigger) target.NoteTrigger();
    if (!ok) {
      if (guard.stopped) {
        *error = QStringLiteral("the save was stopped while it was created");
        if (stopped != nullptr) *stopped = true;
      } else if (guard.exhausted) {
        *error = QStringLiteral(
            "its statement did not finish within the work allowed for one "
            "statement");
      } else {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
      }
      ReportSqlError(error->toUtf8().constData());
    }
  }
  sqlite3_set_authorizer(db, nullptr, nullptr);
  return ok;
}

ObjectOutcome SaveTable(CSQLiteRecovery& engine, IProgress& progress, const QString& name,
                        RecoveredDatabase& target) {
  ObjectOutcome outcome;
  const RecoveredDatabase::ProgressScope stopReplays(&target, progress);
  const SchemaObject* object = engine.Catalog().FindTable(name);
  PlainTable plain;
  sqlite3* const db = target.Db();
  if (db == nullptr) {
    outcome.error = QStringLiteral("the recovered database is not open");
    return outcome;
  }
  const QString internal = InternalTableStatement(name);
  if (object == nullptr && internal.isEmpty() &&
      name.startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive) && HasTable(db, name)) {
    // Another internal table that the library made itself.
    outcome.written = true;
    return outcome;
  }
  if (object == nullptr && internal.isEmpty()) {
    outcome.error = QStringLiteral("its schema row was not found");
    return outcome;
  }
  if (object != nullptr && object->virtualTable)
    return SaveVirtualTable(engine, progress, *object, target);
  if (const SchemaObject* owner =
          internal.isEmpty() ? OwningVirtualTable(engine, db, name) : nullptr) {
    // The module creates its shadow tables: this one is filled with its
    // virtual table. When the module could not make it, it is saved as a
    // plain table below.
    const ObjectOutcome shadow = SaveShadowTable(engine, progress, *owner, name, target);
    if (shadow.written || shadow.stopped) return shadow;
  }
  if (!internal.isEmpty()) {
    // The AUTOINCREMENT counters and the planner's statistics are saved as
    // the file holds them: whatever the library put there while the other
    // tables were filled (counters recomputed from the saved rows) is
    // replaced by the file's rows. Later inserts into an AUTOINCREMENT
    // table only ever raise its counter.
    QString error;
    if (!HasTable(db, name) && !CreateInternalTable(db, internal, &error)) {
      outcome.error = QStringLiteral("the table could not be created: ") + error;
      return outcome;
    }
    ExecSql(db, "DELETE FROM " + QuoteIdentifier(name).toUtf8());
  } else {
    // A table with generated columns is created first with its stored
    // generated columns as ordinary ones (the virtual ones left out), so
    // that it receives the values the file holds; its own statement is put
    // back once it is filled.
    plain = PlainTableForFilling(object->sql);
    const QStringList collationsBefore = StandInCollations(db);
    const QStringList functionsBefore = StandInFunctions(db);
    QString error;
    if (!ExecCreateStatement(target, SchemaKind::Table, name, plain.sql, &error)) {
      outcome.error = QStringLiteral("the table could not be created: ") + error;
      return outcome;
    }
    QStringList standIns;
    for (const QString& c : StandInCollations(db))
      if (!collationsBefore.contains(c)) standIns << QStringLiteral("collation ") + c;
    for (const QString& f : StandInFunctions(db))
      if (!functionsBefore.contains(f)) standIns << QStringLiteral("function ") + f;
    if (!standIns.isEmpty())
      outcome.note = QStringLiteral(
                         "created with stand-ins for %1, which only the database's "
                         "own application has; its statement is kept as written")
                         .arg(standIns.join(QStringLiteral(", ")));
  }
  outcome.written = true;
  if (object != nullptr && object->origin == SchemaOrigin::RecoveredTree) {
    const QString made = QStringLiteral("made from orphan pages: ") + object->repairNote;
    outcome.note = outcome.note.isEmpty() ? made : made + QStringLiteral("; ") + outcome.note;
  }
  if (object != nullptr && object->sqlRebuilt) {
    const QString rebuilt = QStringLiteral(
                                "its statement was damaged and has been rebuilt (%1); the damaged "
                                "original: %2")
                                .arg(object->repairNote, PrintableSql(object->originalSql));
    outcome.note = outcome.note.isEmpty() ? rebuilt : rebuilt + QStringLiteral("; ") + outcome.note;
  }

  EmptyTempFolder();
  TableLayout layout;
  if (!ReadTableLayout(engine.WorkingDb(), name, &layout)) {
    outcome.error =
        name.contains(QChar(0))
            ? QStringLiteral("its name holds a zero byte, which no SQLite statement can carry")
            : QStringLiteral("its columns are not known");
    return outcome;
  }
  if (plain.changed) {
    // The plain table has its stored generated columns as ordinary columns:
    // they receive the stored values like any other.
    for (TableColumn& column : layout.columns) column.generated = false;
  }
  if (progress.Poll()) {
    outcome.stopped = true;
    return outcome;
  }

  TableSaver saver(engine, progress, layout, db);
  // The statement just run is the one sqlite_schema holds; with no trigger
  // made yet, nothing else decides how the rows go in.
  if (!target.HasTriggers()) saver.KnowSchema(internal.isEmpty() ? plain.sql : internal);
  const bool strict = IsStrictTable(plain.changed       ? plain.sql
                                    : object != nullptr ? object->sql
                                                        : QString());
  if (internal.isEmpty()) saver.HoldForeignValues(strict);
  bool began = false;
  if (sqlite3_get_autocommit(db) != 0) began = ExecSql(db, "BEGIN");
  const TableRead read = ReadTable(engine, layout, saver, progress);
  outcome.lostAndFound = object != nullptr && object->origin == SchemaOrigin::LostAndFound;
  outcome.recoveredTree = object != nullptr && object->origin == SchemaOrigin::RecoveredTree;
  // Committed at the end and at a stop alike: what was written stays, the
  // records held back for a multi-row INSERT included.
  saver.Flush();
  // Records holding values their column's declared type would convert (or
  // a STRICT table refuse) go in while the table's statement declares no
  // type for those columns; its own statement is then put back, the values
  // staying as the file holds them.
  QString heldBackNote;
  if (saver.RecordsHeldBack() > 0 || saver.RecordsNotHeld() > 0) {
    const QString made = plain.changed ? plain.sql : (object != nullptr ? object->sql : QString());
    const std::int64_t held = std::int64_t(saver.RecordsHeldBack()) + saver.RecordsNotHeld();
    QString why;
    if (made.isEmpty()) {
      why = QStringLiteral("the table's statement is not known");
    } else if (strict) {
      why = QStringLiteral("a STRICT table does not take them");
    } else if (saver.RecordsNotHeld() > 0) {
      why = QStringLiteral("too many to hold back");
    } else {
      const QString untyped = StatementWithoutTypes(made, saver.ForeignColumns());
      QString error;
      if (untyped == made || !RestoreOriginalStatement(db, name, untyped, &error, true)) {
        why = error.isEmpty() ? QStringLiteral("the statement could not be changed") : error;
      } else {
        saver.InsertHeldBack();
        if (!RestoreOriginalStatement(db, name, made, &error, true))
          heldBackNote = QStringLiteral(
                             "its columns %1 are saved without their declared types, which "
                             "could not be put back (%2)")
                             .arg(saver.ForeignColumns().join(QStringLiteral(", ")), error);
      }
    }
    if (!why.isEmpty()) {
      AddNote(heldBackNote,
              QStringLiteral("%1 records are not kept: they hold values of a type their column "
                             "does not declare (%2)")
                  .arg(held)
                  .arg(why));
    } else {
      AddNote(heldBackNote, QStringLiteral("%1 values of a type their column does not declare, "
                                           "saved as the file holds them")
                                .arg(saver.ForeignValues()));
    }
  }
  // A commit that fails (the file cannot grow: a full disk, an I/O error)
  // keeps none of the table's records.
  QString lost = saver.TransactionLostError();
  if (began && sqlite3_get_autocommit(db) == 0 && !ExecSql(db, "COMMIT")) {
    lost = QString::fromUtf8(sqlite3_errmsg(db));
    if (sqlite3_get_autocommit(db) == 0) ExecSql(db, "ROLLBACK");
  }
  if (plain.changed) {
    QString error;
    const QString generated =
        RestoreOriginalStatement(db, name, object->sql, &error)
            ? QStringLiteral("its generated columns keep the values the file holds")
            : QStringLiteral("saved with its generated columns as ordinary columns (%1)")
                  .arg(error);
    AddNote(outcome.note, generated);
  }

  if (!heldBackNote.isEmpty()) AddNote(outcome.note, heldBackNote);
  outcome.records = lost.isEmpty() ? saver.RecordsWritten() : 0;
  outcome.putBack = lost.isEmpty() ? saver.RecordsWrittenPutBack() : 0;
  if (read.stopped && progress.Poll()) outcome.stopped = true;
  QStringList problems;
  if (saver.RecordsRejected() > 0)
    problems << QStringLiteral("%1 records could not be inserted (%2)")
                    .arg(saver.RecordsRejected())
                    .arg(saver.FirstError());
  else if (!saver.FirstError().isEmpty())
    problems << saver.FirstError();
  if (!lost.isEmpty())
    problems << QStringLiteral(
                    "the recovered database could not be written (%1): none of its records "
                    "were kept")
                    .arg(lost);
  if (read.recordsSkipped > 0)
    problems << QStringLiteral("%1 records held more values than the table has columns")
                    .arg(read.recordsSkipped);
  if (saver.RecordsBreakingChecks() > 0)
    AddNote(
        outcome.note,
        QStringLiteral("%1 records break a CHECK constraint and are saved as the file holds them")
            .arg(saver.RecordsBreakingChecks()));
  if (saver.ValuesCut() > 0)
    problems << QStringLiteral("%1 values could not be read completely").arg(saver.ValuesCut());
  outcome.error = problems.join(QStringLiteral("; "));
  outcome.incomplete =
      (!read.complete || saver.ValuesCut() > 0) && !outcome.stopped && lost.isEmpty();
  return outcome;
}

ObjectOutcome ShowTable(CSQLiteRecovery& engine, IProgress& progress, const QString& name,
                        IRecordGrid& grid, IStatusText& statusText, IProgressBar& progressBar) {
  ObjectOutcome outcome;
  grid.DeleteAllColumns();
  EmptyTempFolder();
  TableLayout layout;
  if (!ReadTableLayout(engine.WorkingDb(), name, &layout)) return outcome;
  const int count = layout.ColumnCount();
  int handled = 0;
  for (int i = 1; i <= count; ++i) {
    progressBar.SetPos((i + 1) * 100 / (count + 1));
    progressBar.SetBarColor(0x0000FF);
    if (progress.Poll()) break;
    grid.AddGridColumn(i - 1, layout.columns[size_t(i - 1)].name.trimmed());
    ++handled;
  }
  statusText.SetText(RecordCountText(0));
  if (handled < count) {
    outcome.stopped = true;
    return outcome;
  }
  grid.DeleteAllItems();
  GridSink sink(engine, progress, layout, grid, statusText, progressBar);
  const TableRead read = ReadTable(engine, layout, sink, progress);
  grid.Redraw();
  outcome.records = sink.RecordsShown();
  outcome.putBack = read.rowsPutBack;
  outcome.lostAndFound = engine.LostAndFound() != nullptr && engine.LostAndFound()->name == name;
  outcome.stopped = read.stopped && progress.Poll();
  outcome.incomplete = !read.complete && !outcome.stopped;
  return outcome;
}

}  // namespace velmora
