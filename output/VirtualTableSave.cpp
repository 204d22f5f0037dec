// The save of virtual tables and their shadow tables.
#include "output/VirtualTableSave.h"

#include <sqlite3.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "engine/core/SqlQuote.h"
#include "engine/schema/SqliteDb.h"
#include "engine/schema/VirtualTables.h"
#include "output/RecordOutput.h"
#include "output/TableExtraction.h"

namespace velmora {
namespace {

// Runs `sql` (our own statement, no value pasted from the file) and returns
// the first column of its first row as text; *ok false when it fails, with
// the library's message returned instead.
QString QueryText(sqlite3* db, const QByteArray& sql, bool* ok) {
  Statement stmt;
  QString text;
  *ok = false;
  if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), stmt.Out(), nullptr) == SQLITE_OK) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
      *ok = true;
      if (rc == SQLITE_ROW && sqlite3_column_type(stmt, 0) != SQLITE_NULL)
        text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    }
  }
  if (!*ok) text = QString::fromUtf8(sqlite3_errmsg(db));
  return text;
}

// An fts table's command: INSERT INTO t(t) VALUES('command'). Empty on
// success, else the library's message.
QString FtsCommand(sqlite3* db, const QString& table, const char* command) {
  const QString quoted = QuoteIdentifier(table);
  const QByteArray sql = (QStringLiteral("INSERT INTO %1(%1) VALUES('").arg(quoted) +
                          QLatin1String(command) + QStringLiteral("')"))
                             .toUtf8();
  bool ok = false;
  const QString message = QueryText(db, sql, &ok);
  return ok ? QString() : message;
}

bool IsFts(const QString& module) {
  return module == QLatin1String("fts3") || module == QLatin1String("fts4") ||
         module == QLatin1String("fts5");
}

// Checks the recreated table with its module's own check; an fts index that
// does not match its documents is rebuilt from them when the table keeps
// them. Adds to the save's note or error.
void CheckVirtualTable(sqlite3* db, const VirtualTableStatement& statement, bool documentsWhole,
                       QStringList& notes, QStringList& problems) {
  if (IsFts(statement.module)) {
    const QString check = FtsCommand(db, statement.name, "integrity-check");
    if (check.isEmpty()) {
      notes << QStringLiteral("its full-text index passed the integrity check");
      return;
    }
    const QString external = ExternalContent(statement);
    if (!external.isEmpty()) {
      problems << QStringLiteral(
                      "its full-text index does not match the recovered rows (%1) and "
                      "cannot be rebuilt: the table keeps its documents elsewhere (%2)")
                      .arg(check, external);
      return;
    }
    if (!documentsWhole) {
      // A rebuild makes the index from the documents recovered only: the
      // file's index rows of the documents that were lost would be dropped.
      problems << QStringLiteral(
                      "its full-text index does not match the recovered rows (%1); it is kept "
                      "as the file holds it, since some of its documents could not be read and "
                      "a rebuild would drop their index")
                      .arg(check);
      return;
    }
    const QString rebuild = FtsCommand(db, statement.name, "rebuild");
    const QString again =
        rebuild.isEmpty() ? FtsCommand(db, statement.name, "integrity-check") : rebuild;
    if (again.isEmpty())
      notes << QStringLiteral("its full-text index was rebuilt from the recovered documents");
    else
      problems << QStringLiteral("its full-text index could not be rebuilt: %1").arg(again);
    return;
  }
  // R*Tree and geopoly.
  Statement stmt;
  QString answer;
  if (sqlite3_prepare_v2(db, "SELECT rtreecheck(?1)", -1, stmt.Out(), nullptr) == SQLITE_OK) {
    const QByteArray name = statement.name.toUtf8();
    sqlite3_bind_text(stmt, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(stmt) == SQLITE_ROW)
      answer = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    else
      answer = QString::fromUtf8(sqlite3_errmsg(db));
  } else {
    answer = QString::fromUtf8(sqlite3_errmsg(db));
  }
  if (answer == QLatin1String("ok"))
    notes << QStringLiteral("its R*Tree check passed");
  else
    problems << QStringLiteral("its R*Tree check reports: %1").arg(answer.left(500));
}

// Fills the shadow table `shadow` (created by the module) with the records of
// its b-tree in the file. Returns the records written; adds what went wrong.
// *whole is false when part of its tree could not be read or a record not
// inserted.
std::int64_t FillShadowTable(CSQLiteRecovery& engine, IProgress& progress, sqlite3* db,
                             const SchemaObject& shadow, QStringList& problems, bool* incomplete,
                             bool* whole, QString* lost) {
  *whole = false;
  TableLayout layout;
  if (!ReadTableLayout(engine.WorkingDb(), shadow.name, &layout)) {
    problems << QStringLiteral("the columns of %1 are not known").arg(shadow.name);
    return 0;
  }
  // The module writes first rows of its own (a version, an empty index);
  // the file's rows take their place.
  ExecSql(db, (QStringLiteral("DELETE FROM ") + QuoteIdentifier(shadow.name)).toUtf8());
  TableSaver writer(engine, progress, layout, db);
  const bool complete = ReadTable(engine, layout, writer, progress).complete;
  if (!complete || writer.ValuesCut() > 0) *incomplete = true;
  *whole = complete && writer.ValuesCut() == 0 && writer.RecordsRejected() == 0;
  *lost = writer.TransactionLostError();
  if (writer.RecordsRejected() > 0)
    problems << QStringLiteral("%1 records of %2 could not be inserted (%3)")
                    .arg(writer.RecordsRejected())
                    .arg(shadow.name, writer.FirstError());
  return writer.RecordsWritten();
}

// The statement sqlite_schema holds for the table `table` of db (empty when
// there is none).
QString StoredStatement(sqlite3* db, const QString& table) {
  Statement stmt;
  QString sql;
  if (sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_schema WHERE type = 'table' AND name = ?1", -1,
                         stmt.Out(), nullptr) == SQLITE_OK) {
    const QByteArray name = table.toUtf8();
    sqlite3_bind_text(stmt, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_type(stmt, 0) != SQLITE_NULL)
      sql = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  }
  return sql;
}

// The rows `table` holds in db, or -1 when it cannot be read.
std::int64_t CountRows(sqlite3* db, const QString& table) {
  const QByteArray sql =
      (QStringLiteral("SELECT count(*) FROM ") + QuoteIdentifier(table)).toUtf8();
  bool ok = false;
  const QString text = QueryText(db, sql, &ok);
  return ok ? text.toLongLong() : -1;
}

}  // namespace

QString PrintableSql(const QString& sql, int limit) {
  QString text = sql.left(limit);
  for (QChar& c : text)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
      c = QLatin1Char(c == QLatin1Char('\n') ? ' ' : '?');
  if (sql.size() > limit) text += QLatin1String("...");
  return text;
}

const SchemaObject* OwningVirtualTable(const CSQLiteRecovery& engine, sqlite3* db,
                                       const QString& table) {
  for (const SchemaObject* object : engine.Catalog().VirtualTables()) {
    if (IsShadowTableOf(table, object->name, object->module) &&
        IsRecreatableModule(db, object->module))
      return object;
  }
  return nullptr;
}

ObjectOutcome SaveVirtualTable(CSQLiteRecovery& engine, IProgress& progress,
                               const SchemaObject& object, RecoveredDatabase& target) {
  ObjectOutcome outcome;
  sqlite3* const db = target.Db();
  if (db == nullptr) {
    outcome.error = QStringLiteral("the recovered database is not open");
    return outcome;
  }
  const RecoveredDatabase::VirtualSave* done = target.FindVirtualSave(object.name);
  if (done == nullptr) {
    RecoveredDatabase::VirtualSave save;
    const VirtualTableStatement statement = ParseVirtualTable(object.sql);
    QStringList notes, problems;
    QString error;
    // The schema row as the file holds it, the module not run: its shadow
    // tables are saved as plain tables with their own statements and rows.
    auto writeAsStored = [&](const QString& why) {
      if (!WriteVirtualTableRow(db, object.name, object.tableName, object.sql, &error)) {
        save.error = QStringLiteral(
                         "%1; its schema row could not be written as the file holds "
                         "it either (%2). Its statement: %3")
                         .arg(why, error, PrintableSql(object.sql));
        return;
      }
      save.written = true;
      save.asStored = true;
      notes << QStringLiteral(
                   "%1; its schema row is saved as the file holds it and its shadow tables with "
                   "their own statements and rows, for the application that has it")
                   .arg(why);
    };
    if (!statement.found) {
      save.error = QStringLiteral(
                       "a virtual table whose statement cannot be read; it was not "
                       "recreated. Its statement: %1")
                       .arg(PrintableSql(object.sql));
    } else if (!IsRecreatableModule(db, statement.module)) {
      writeAsStored(QStringLiteral("a virtual table of the module \"%1\", which this program "
                                   "does not run")
                        .arg(statement.module));
    } else {
      const bool began = sqlite3_get_autocommit(db) != 0 && ExecSql(db, "BEGIN");
      QString lost;  // the library's message when the transaction was rolled back
      if (!CreateVirtualTableConfined(db, object.sql, object.name, &error)) {
        // A tokenizer or option of the application's own, or a statement the
        // module refuses.
        writeAsStored(QStringLiteral("the module %1 could not recreate it (%2)")
                          .arg(statement.module, error));
      } else {
        save.written = true;
        QStringList filled;
        std::vector<const SchemaObject*> shadows;
        bool documentsWhole = true;
        for (const QString& suffix : ShadowTableSuffixes(statement.module)) {
          const QString shadowName = object.name + QLatin1Char('_') + suffix;
          const SchemaObject* shadow = engine.Catalog().FindTable(shadowName);
          const bool documents = suffix == QLatin1String("content");
          if (shadow == nullptr || shadow->virtualTable) {
            // A table the module did not make (fts4 x_docsize without
            // matchinfo, ...) or one that the file lost.
            if (documents && !StoredStatement(db, shadowName).isEmpty()) documentsWhole = false;
            continue;
          }
          bool whole = false;
          FillShadowTable(engine, progress, db, *shadow, problems, &save.incomplete, &whole, &lost);
          if (!lost.isEmpty()) break;
          if (documents && !whole) documentsWhole = false;
          shadows.push_back(shadow);
          // A shadow table that an older library made keeps the statement the
          // file holds, when it stores the same columns.
          if (!shadow->sqlRebuilt && shadow->origin == SchemaOrigin::SchemaTree &&
              StoredStatement(db, shadow->name) != shadow->sql) {
            QString why;
            if (!RestoreShadowStatement(db, shadow->name, shadow->sql, &why))
              notes << QStringLiteral("%1 keeps the statement its module gives it (%2)")
                           .arg(shadow->name, why);
          }
          if (progress.Poll()) break;
        }
        // A transaction the library rolled back, or a COMMIT that fails (the
        // file cannot grow), keeps nothing: not even the virtual table.
        if (began && lost.isEmpty() && sqlite3_get_autocommit(db) == 0 && !ExecSql(db, "COMMIT")) {
          lost = QString::fromUtf8(sqlite3_errmsg(db));
          if (sqlite3_get_autocommit(db) == 0) ExecSql(db, "ROLLBACK");
        }
        if (!lost.isEmpty()) {
          save.written = false;
          save.records = 0;
          save.shadowRecords.clear();
          save.error = QStringLiteral(
                           "the recovered database could not be written (%1): none of its "
                           "records were kept")
                           .arg(lost);
        } else {
          CheckVirtualTable(db, statement, documentsWhole, notes, problems);
          // The counts are taken after the check, which may rebuild the
          // index: they are what the saved file holds.
          for (const SchemaObject* shadow : shadows) {
            const std::int64_t n = std::max<std::int64_t>(CountRows(db, shadow->name), 0);
            save.shadowRecords.insert(shadow->name.toLower(), n);
            filled << QStringLiteral("%1 %2").arg(shadow->name).arg(n);
            const QString suffix = shadow->name.mid(object.name.size() + 1).toLower();
            if (suffix == QLatin1String("content") || suffix == QLatin1String("rowid"))
              save.records = n;
          }
          notes.prepend(QStringLiteral("recreated with the module %1; shadow tables filled: %2")
                            .arg(statement.module, filled.isEmpty()
                                                       ? QStringLiteral("none found in the file")
                                                       : filled.join(QStringLiteral(", "))));
        }
      }
      if (began && sqlite3_get_autocommit(db) == 0) ExecSql(db, "COMMIT");
    }
    save.note = notes.join(QStringLiteral("; "));
    if (!problems.isEmpty())
      save.error = save.error.isEmpty()
                       ? problems.join(QStringLiteral("; "))
                       : save.error + QStringLiteral("; ") + problems.join(QStringLiteral("; "));
    target.AddVirtualSave(object.name, save);
    done = target.FindVirtualSave(object.name);
  }
  outcome.written = done->written;
  outcome.records = done->records;
  outcome.error = done->error;
  outcome.note = done->note;
  outcome.incomplete = done->incomplete;
  outcome.stopped = progress.Poll();
  return outcome;
}

ObjectOutcome SaveShadowTable(CSQLiteRecovery& engine, IProgress& progress,
                              const SchemaObject& owner, const QString& table,
                              RecoveredDatabase& target) {
  const ObjectOutcome whole = SaveVirtualTable(engine, progress, owner, target);
  ObjectOutcome outcome;
  const RecoveredDatabase::VirtualSave* save = target.FindVirtualSave(owner.name);
  if (save != nullptr && save->asStored) {
    // Not written here: the caller saves it as a plain table.
    outcome.stopped = whole.stopped;
    return outcome;
  }
  outcome.written = whole.written;
  outcome.stopped = whole.stopped;
  outcome.incomplete = whole.incomplete;
  outcome.records = save != nullptr ? save->shadowRecords.value(table.toLower(), 0) : 0;
  outcome.note =
      QStringLiteral("a shadow table of the virtual table \"%1\", filled with it").arg(owner.name);
  if (!whole.written) outcome.error = whole.error;
  return outcome;
}

}  // namespace velmora
