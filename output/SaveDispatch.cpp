#include "output/SaveDispatch.h"

#include <QSet>

#include "engine/schema/SchemaRows.h"
#include "engine/schema/StandIns.h"
#include "output/DeletedOutput.h"
#include "output/TableExtraction.h"
#include "platform/TempFolder.h"

namespace velmora {
namespace {

bool SchemaKindOf(ObjectKind kind, SchemaKind* out) {
  switch (kind) {
    case ObjectKind::Table:
      *out = SchemaKind::Table;
      return true;
    case ObjectKind::View:
      *out = SchemaKind::View;
      return true;
    case ObjectKind::Index:
      *out = SchemaKind::Index;
      return true;
    case ObjectKind::Trigger:
      *out = SchemaKind::Trigger;
      return true;
    case ObjectKind::Deleted:
      return false;
  }
  return false;
}

// Runs the statement of a view, index or trigger in the recovered database.
ObjectOutcome SaveObjectSql(CSQLiteRecovery& engine, ObjectKind kind, const QString& name,
                            RecoveredDatabase& target) {
  ObjectOutcome outcome;
  const QString sql = ObjectSql(engine, kind, name);
  sqlite3* db = target.Db();
  if (db == nullptr) {
    outcome.error = QStringLiteral("the recovered database is not open");
  } else if (sql.isEmpty()) {
    outcome.error = QStringLiteral("its statement was not found");
  } else {
    SchemaKind schemaKind = SchemaKind::Table;
    SchemaKindOf(kind, &schemaKind);
    outcome.written =
        ExecCreateStatement(target, schemaKind, name, sql, &outcome.error, &outcome.stopped);
    if (outcome.written && kind == ObjectKind::Index &&
        IndexesNeedingReindex(db, StandInCollations(db), StandInFunctions(db)).contains(name)) {
      outcome.note =
          QStringLiteral(
              "built with a stand-in for a collation or function that only the database's own "
              "application has; run REINDEX \"%1\" where it exists")
              .arg(name);
    }
  }
  return outcome;
}

}  // namespace

QString ObjectSql(const CSQLiteRecovery& engine, ObjectKind kind, const QString& name) {
  if (kind == ObjectKind::Table) {
    const SchemaObject* table = engine.Catalog().FindTable(name);
    return table != nullptr && table->virtualTable ? table->sql : QString();
  }
  SchemaKind schemaKind;
  if (!SchemaKindOf(kind, &schemaKind)) return QString();
  const SchemaObject* object = engine.Catalog().Find(schemaKind, name);
  return object != nullptr ? object->sql : QString();
}

QString ObjectSqlForDisplay(const CSQLiteRecovery& engine, ObjectKind kind, const QString& name) {
  QString sql = ObjectSql(engine, kind, name);
  sql.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return sql;
}

QStringList CategoryNames(const CSQLiteRecovery& engine, ObjectKind kind) {
  if (kind == ObjectKind::Table) return engine.TableNames();
  if (kind == ObjectKind::Deleted) return DeletedTableNames(engine);
  SchemaKind schemaKind;
  QStringList names;
  if (!SchemaKindOf(kind, &schemaKind)) return names;
  for (const SchemaObject* object : engine.Catalog().OfKind(schemaKind)) names << object->name;
  return names;
}

QString ObjectTreeText(ObjectKind kind, const QString& name) {
  return kind == ObjectKind::Table ? TableTreeText(name) : name;
}

QString ObjectTreeNote(const CSQLiteRecovery& engine, ObjectKind kind, const QString& name) {
  if (kind != ObjectKind::Table) return QString();
  const SchemaObject* table = engine.Catalog().FindTable(name);
  if (table == nullptr) return QString();
  if (table->virtualTable)
    return table->module.isEmpty() ? QStringLiteral("virtual table (its statement cannot be read)")
                                   : QStringLiteral("virtual table (module %1)").arg(table->module);
  if (table->sqlRebuilt) return QStringLiteral("statement rebuilt: the stored one is damaged");
  if (table->origin == SchemaOrigin::RecoveredTree)
    return QStringLiteral("made from orphan pages: its schema row is lost");
  return QString();
}

std::vector<PlannedObject> MakeSavePlan(const QStringList& tables, const QStringList& views,
                                        const QStringList& triggers, const QStringList& indexes,
                                        const QStringList& deleted) {
  std::vector<PlannedObject> plan;
  const std::pair<const QStringList*, ObjectKind> groups[] = {{&tables, ObjectKind::Table},
                                                              {&views, ObjectKind::View},
                                                              {&triggers, ObjectKind::Trigger},
                                                              {&indexes, ObjectKind::Index},
                                                              {&deleted, ObjectKind::Deleted}};
  for (const auto& [names, kind] : groups) {
    QSet<QString> planned;  // a name given twice is saved once
    for (const QString& name : *names) {
      if (planned.contains(name)) continue;
      planned.insert(name);
      plan.push_back({kind, name});
    }
  }
  return plan;
}

QString RecordCountText(std::int64_t count) { return QStringLiteral("  Record : %1").arg(count); }
QString RecordsCountText(std::int64_t count) { return QStringLiteral("  Records : %1").arg(count); }

ObjectOutcome DispatchObject(CSQLiteRecovery& engine, IProgress& progress, const ObjectRef& object,
                             RecoveredDatabase& target) {
  if (progress.Poll()) {
    ObjectOutcome outcome;
    outcome.stopped = true;
    outcome.error = QStringLiteral("the save was stopped before it");
    return outcome;
  }
  if (object.kind == ObjectKind::Table) return SaveTable(engine, progress, object.name, target);
  if (object.kind == ObjectKind::Deleted) {
    ObjectOutcome outcome;
    const DeletedTable* table = FindDeletedTable(engine, object.name);
    if (table == nullptr) {
      outcome.error = QStringLiteral("no deleted records were found for it");
      return outcome;
    }
    const DeletedSave save = SaveDeletedRows(engine, *table, target, progress);
    outcome.written = save.written;
    outcome.stopped = save.stopped;
    outcome.records = save.records;
    outcome.whole = save.whole;
    outcome.savedAs = save.name;
    outcome.error = save.error;
    progress.RecordsSaved(save.records);
    return outcome;
  }
  const RecoveredDatabase::ProgressScope stopReplays(&target, progress);
  return SaveObjectSql(engine, object.kind, object.name, target);
}

ObjectOutcome DispatchObject(CSQLiteRecovery& engine, IProgress& progress, const ObjectRef& object,
                             const DisplayPane& pane) {
  if (progress.Poll()) {
    ObjectOutcome outcome;
    outcome.stopped = true;
    return outcome;
  }
  if (object.kind == ObjectKind::Deleted) {
    EmptyTempFolder();
    pane.grid.SetVisible(true);
    pane.statement.SetVisible(false);
    pane.status.SetVisible(true);
    pane.bar.SetVisible(false);
    pane.stopButton.SetVisible(false);
    ObjectOutcome outcome;
    const DeletedTable* deleted = FindDeletedTable(engine, object.name);
    if (deleted == nullptr) {
      pane.grid.DeleteAllItems();
      pane.grid.DeleteAllColumns();
      outcome.error = QStringLiteral("no deleted records were found for it");
    } else {
      outcome.records = ShowDeletedRows(engine, *deleted, pane.grid, progress);
      outcome.written = true;
    }
    pane.status.SetText(RecordsCountText(outcome.records));
    return outcome;
  }
  const SchemaObject* table =
      object.kind == ObjectKind::Table ? engine.Catalog().FindTable(object.name) : nullptr;
  // A virtual table has no records of its own: the display shows its statement.
  if (object.kind == ObjectKind::Table && (table == nullptr || !table->virtualTable)) {
    EmptyTempFolder();
    pane.grid.SetVisible(true);
    pane.statement.SetVisible(false);
    pane.status.SetVisible(true);
    pane.bar.SetVisible(true);
    pane.stopButton.SetVisible(true);
    return ShowTable(engine, progress, object.name, pane.grid, pane.status, pane.bar);
  }
  pane.grid.SetVisible(false);
  pane.statement.SetVisible(true);
  pane.status.SetVisible(false);
  pane.bar.SetVisible(false);
  pane.statement.SetText(ObjectSqlForDisplay(engine, object.kind, object.name));
  pane.statement.SetFocus();
  return ObjectOutcome();
}

}  // namespace velmora
