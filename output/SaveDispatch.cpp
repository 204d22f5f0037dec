#include "output/SaveDispatch.h"

#include "engine/SchemaRows.h"
#include "engine/StandIns.h"
#include "output/TableExtraction.h"
#include "platform/TempFolder.h"

namespace velmora {
namespace {

bool SchemaKindOf(int kind, SchemaKind* out) {
  switch (kind) {
    case kKindTable:
      *out = SchemaKind::Table;
      return true;
    case kKindView:
      *out = SchemaKind::View;
      return true;
    case kKindIndex:
      *out = SchemaKind::Index;
      return true;
    case kKindTrigger:
      *out = SchemaKind::Trigger;
      return true;
    default:
      return false;
  }
}

ObjectOutcome GetObjectSql(CSQLiteRecovery& engine, int kind, const QString& name,
                           RecoveredDatabase* target, IStatementEdit* statementEdit) {
  ObjectOutcome outcome;
  if (target == nullptr) {
    if (statementEdit != nullptr) {
      statementEdit->SetText(ObjectSqlForDisplay(engine, kind, name));
      statementEdit->SetFocus();
    }
    return outcome;
  }
  const QString sql = ObjectSql(engine, kind, name);
  if (target->Db() == nullptr) {
    outcome.error = QStringLiteral("the recovered database is not open");
  } else if (sql.isEmpty()) {
    outcome.error = QStringLiteral("its statement was not found");
  } else {
    SchemaKind schemaKind = SchemaKind::Table;
    SchemaKindOf(kind, &schemaKind);
    outcome.written =
        ExecCreateStatement(*target, schemaKind, name, sql, &outcome.error, &outcome.stopped);
    sqlite3* db = target->Db();
    if (outcome.written && kind == kKindIndex &&
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

QString ObjectSql(const CSQLiteRecovery& engine, int kind, const QString& name) {
  if (kind == kKindTable) {
    const SchemaObject* table = engine.Catalog().FindTable(name);
    return table != nullptr && table->virtualTable ? table->sql : QString();
  }
  SchemaKind schemaKind;
  if (!SchemaKindOf(kind, &schemaKind)) return QString();
  const SchemaObject* object = engine.Catalog().Find(schemaKind, name);
  return object != nullptr ? object->sql : QString();
}

QString ObjectSqlForDisplay(const CSQLiteRecovery& engine, int kind, const QString& name) {
  QString sql = ObjectSql(engine, kind, name);
  sql.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return sql;
}

QStringList CategoryNames(const CSQLiteRecovery& engine, int kind) {
  if (kind == kKindTable) return engine.TableNames();
  SchemaKind schemaKind;
  QStringList names;
  if (!SchemaKindOf(kind, &schemaKind)) return names;
  for (const SchemaObject* object : engine.Catalog().OfKind(schemaKind)) names << object->name;
  return names;
}

QString ObjectTreeText(int kind, const QString& name) {
  return kind == kKindTable ? TableTreeText(name) : name;
}

QString ObjectTreeNote(const CSQLiteRecovery& engine, int kind, const QString& name) {
  if (kind != kKindTable) return QString();
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
                                        const QStringList& triggers, const QStringList& indexes) {
  std::vector<PlannedObject> plan;
  const std::pair<const QStringList*, int> groups[] = {{&tables, kKindTable},
                                                       {&views, kKindView},
                                                       {&triggers, kKindTrigger},
                                                       {&indexes, kKindIndex}};
  for (const auto& [names, kind] : groups) {
    for (const QString& name : *names) {
      bool twice = false;
      for (const PlannedObject& p : plan) twice = twice || (p.kind == kind && p.name == name);
      if (!twice) plan.push_back({kind, name});
    }
  }
  return plan;
}

QString RecordCountText(std::int64_t count) { return QStringLiteral("  Record : %1").arg(count); }
QString RecordsCountText(std::int64_t count) { return QStringLiteral("  Records : %1").arg(count); }

ObjectOutcome DispatchObject(CSQLiteRecovery& engine, IProgress& progress, const QString& name,
                             int kind, RecoveredDatabase* target, IRecordGrid* grid,
                             IStatementEdit* statementEdit, IStatusText* statusText,
                             IProgressBar* progressBar, IControl* stopButton) {
  if (progress.Poll()) {
    ObjectOutcome outcome;
    outcome.stopped = true;
    outcome.error = QStringLiteral("the save was stopped before it");
    return outcome;
  }
  const RecoveredDatabase::ProgressScope stopReplays(target, progress);
  const bool saveMode = target != nullptr;
  if (saveMode) {
    grid = nullptr;
    statementEdit = nullptr;
  }
  const SchemaObject* table = kind == kKindTable ? engine.Catalog().FindTable(name) : nullptr;
  // A virtual table has no records of its own: the display shows its
  // statement; the save recreates it (TableExtraction).
  if (kind == kKindTable && (saveMode || table == nullptr || !table->virtualTable)) {
    if (!saveMode) {
      EmptyTempFolder();
      if (grid != nullptr) grid->SetVisible(true);
      if (statementEdit != nullptr) statementEdit->SetVisible(false);
      if (statusText != nullptr) statusText->SetVisible(true);
      if (progressBar != nullptr) progressBar->SetVisible(true);
      if (stopButton != nullptr) stopButton->SetVisible(true);
    }
    return ExtractTable(engine, progress, name, target, grid, statusText, progressBar);
  }
  if (!saveMode) {
    if (grid != nullptr) grid->SetVisible(false);
    if (statementEdit != nullptr) statementEdit->SetVisible(true);
    if (statusText != nullptr) statusText->SetVisible(false);
    if (progressBar != nullptr) progressBar->SetVisible(false);
  }
  return GetObjectSql(engine, kind, name, target, statementEdit);
}

}  // namespace velmora
