#include "output/TableExtraction.h"

#include <sqlite3.h>

#include <algorithm>
#include <exception>
#include <memory>

#include "engine/SqlQuote.h"
#include "engine/SqliteDb.h"
#include "engine/StandIns.h"
#include "engine/WorkingDatabase.h"
#include "output/VirtualTableSave.h"
#include "platform/TempFolder.h"

namespace velmora {
namespace {

QString ColumnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  if (text == nullptr) return QString();
  return QString::fromUtf8(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt, column));
}

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

bool TableExists(sqlite3* db, const QString& name) {
  Statement stmt;
  bool exists = false;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?1", -1,
                         stmt.Out(), nullptr) == SQLITE_OK) {
    const QByteArray utf8 = name.toUtf8();
    sqlite3_bind_text(stmt, 1, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    exists = sqlite3_step(stmt) == SQLITE_ROW;
  }
  return exists;
}

// Writes the rows of orphan pages that fit no table into the lost-and-found
// table: the page the cell is on, the cell's rowid and its field count, then
// its values as they are, each in its own column of no declared type.
class LostAndFoundWriter : public CRecordWriter {
 public:
  using CRecordWriter::CRecordWriter;
  CellUse VisitCell(const CellRef& cell) override {
    m_page = cell.pageNumber;
    return CRecordWriter::VisitCell(cell);
  }

 protected:
  bool OnRecord(const RecordView& record, const QString& recordStatus) override {
    if (record.values.empty()) return true;
    m_row.Clear();
    for (std::int64_t number : {m_page, record.rowid, std::int64_t{record.Size()}}) {
      ValueView value;
      value.storage = StorageClass::Integer;
      value.serialType = 6;
      value.intValue = number;
      m_row.values.push_back(value);
    }
    m_row.values.insert(m_row.values.end(), record.values.begin(), record.values.end());
    m_row.bytes = record.bytes;
    m_row.tempFiles = record.tempFiles;
    m_row.localPayload = record.localPayload;
    // No rowid of its own: the cell's rowid is a value here, and two tables'
    // rows may share one.
    m_row.hasRowid = false;
    return CRecordWriter::OnRecord(m_row, recordStatus);
  }

 private:
  std::int64_t m_page = 0;
  RecordView m_row;
};

// Counts the records a walk decodes, as the save would take them.
class RecordCounter : public CTableReader {
 public:
  RecordCounter(CSQLiteRecovery& engine, IProgress& progress)
      : CTableReader(engine, progress, false) {}
  std::int64_t count = 0;

 protected:
  bool OnRecord(const RecordView& record, const QString&) override {
    if (!record.values.empty()) ++count;
    return !m_progress.Poll();
  }
};

}  // namespace

TableRowCounts CountTableRows(CSQLiteRecovery& engine, IProgress& progress, const QString& name) {
  TableRowCounts counts;
  const SchemaObject* object = engine.Catalog().FindTable(name);
  if (object == nullptr) return counts;
  if (object->origin == SchemaOrigin::LostAndFound) {
    counts.lost = engine.Orphans().lostRows;
    return counts;
  }
  if (const PutBackPages* extra = engine.PutBack(name)) counts.putBack = extra->rows;
  if (object->origin == SchemaOrigin::RecoveredTree) {
    // Every row of a table made from orphan trees is on its pages.
    counts.own = counts.putBack;
    counts.putBack = 0;
    return counts;
  }
  if (object->rootPage <= 0) return counts;
  RecordCounter counter(engine, progress);
  counts.stopped = engine.WalkPage(object->rootPage, counter, counter).stopped;
  counts.own = counter.count;
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

bool ReadColumnInfo(sqlite3* workDb, const QString& tableName, TableLayout* layout) {
  *layout = TableLayout();
  layout->name = tableName;
  if (workDb == nullptr) return false;
  const QByteArray name = tableName.toUtf8();
  Statement stmt;
  if (sqlite3_prepare_v2(workDb,
                         "SELECT cid, name, type, \"notnull\", dflt_value, pk, hidden "
                         "FROM pragma_table_xinfo(?1, 'main') ORDER BY cid",
                         -1, stmt.Out(), nullptr) != SQLITE_OK) {
    ReportSqlError(workDb);
    return false;
  }
  sqlite3_bind_text(stmt, 1, name.constData(), static_cast<int>(name.size()), SQLITE_STATIC);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    const int hidden = sqlite3_column_int(stmt, 6);
    // 1: a virtual table's hidden column, 2: a virtual generated column;
    // neither is stored in a record.
    if (hidden == 1 || hidden == 2) continue;
    SQLiteColumnInfo info;
    info.name = ColumnText(stmt, 1);
    info.declaredType = ColumnText(stmt, 2);
    info.notNull = ColumnText(stmt, 3);
    info.defaultValue = ColumnText(stmt, 4);
    info.primaryKey = ColumnText(stmt, 5);
    int autoIncrement = 0;
    const QByteArray column = info.name.toUtf8();
    sqlite3_table_column_metadata(workDb, "main", name.constData(), column.constData(), nullptr,
                                  nullptr, nullptr, nullptr, &autoIncrement);
    info.autoIncrement = QString::number(autoIncrement);
    layout->columns.push_back(info);
    layout->hidden.push_back(hidden);
  }

  if (sqlite3_prepare_v2(workDb, "SELECT wr FROM pragma_table_list(?1) WHERE schema = 'main'", -1,
                         stmt.Out(), nullptr) == SQLITE_OK) {
    sqlite3_bind_text(stmt, 1, name.constData(), static_cast<int>(name.size()), SQLITE_STATIC);
    if (sqlite3_step(stmt) == SQLITE_ROW) layout->withoutRowid = sqlite3_column_int(stmt, 0) != 0;
  }
  layout->primaryKeyIndexed = PrimaryKeyHasIndex(workDb, name);
  layout->Derive();
  return !layout->columns.empty();
}

ObjectOutcome ExtractTable(CSQLiteRecovery& engine, IProgress& progress, const QString& name,
                           RecoveredDatabase* target, IRecordGrid* grid, IStatusText* statusText,
                           IProgressBar* progressBar) {
  ObjectOutcome outcome;
  const RecoveredDatabase::ProgressScope stopReplays(target, progress);
  const bool save = target != nullptr;
  const SchemaObject* object = engine.Catalog().FindTable(name);
  PlainTable plain;
  sqlite3* const db = save ? target->Db() : nullptr;
  if (save) {
    if (db == nullptr) {
      outcome.error = QStringLiteral("the recovered database is not open");
      return outcome;
    }
    const QString internal = InternalTableStatement(name);
    if (object == nullptr && internal.isEmpty() &&
        name.startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive) && TableExists(db, name)) {
      // Another internal table that the library made itself.
      outcome.written = true;
      return outcome;
    }
    if (object == nullptr && internal.isEmpty()) {
      outcome.error = QStringLiteral("its schema row was not found");
      return outcome;
    }
    if (object != nullptr && object->virtualTable)
      return SaveVirtualTable(engine, progress, *object, *target);
    if (const SchemaObject* owner = internal.isEmpty() ? OwningVirtualTable(engine, db, name) : nullptr) {
      // The module creates its shadow tables: this one is filled with its
      // virtual table. When the module could not make it, it is saved as a
      // plain table below.
      const ObjectOutcome shadow = SaveShadowTable(engine, progress, *owner, name, *target);
      if (shadow.written || shadow.stopped) return shadow;
    }
    if (!internal.isEmpty()) {
      // The AUTOINCREMENT counters and the planner's statistics are saved as
      // the file holds them: whatever the library put there while the other
      // tables were filled (counters recomputed from the saved rows) is
      // replaced by the file's rows. Later inserts into an AUTOINCREMENT
      // table only ever raise its counter.
      QString error;
      if (!TableExists(db, name) && !CreateInternalTable(db, internal, &error)) {
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
      if (!ExecCreateStatement(*target, SchemaKind::Table, name, plain.sql, &error)) {
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
      const QString rebuilt =
          QStringLiteral(
              "its statement was damaged and has been rebuilt (%1); the damaged "
              "original: %2")
              .arg(object->repairNote, PrintableSql(object->originalSql));
      outcome.note =
          outcome.note.isEmpty() ? rebuilt : rebuilt + QStringLiteral("; ") + outcome.note;
    }
  }

  if (grid != nullptr) grid->DeleteAllColumns();
  EmptyTempFolder();
  TableLayout layout;
  if (!ReadColumnInfo(engine.WorkingDb(), name, &layout)) {
    if (save)
      outcome.error = name.contains(QChar(0))
                          ? QStringLiteral(
                                "its name holds a zero byte, which no SQLite statement "
                                "can carry")
                          : QStringLiteral("its columns are not known");
    return outcome;
  }

  if (plain.changed) {
    // The plain table has its stored generated columns as ordinary columns:
    // they receive the stored values like any other.
    for (int& hidden : layout.hidden)
      if (hidden == 3) hidden = 0;
  }
  const int count = layout.ColumnCount();
  int handled = 0;
  for (int i = 1; i <= count; ++i) {
    if (grid != nullptr && progressBar != nullptr) {
      progressBar->SetPos((i + 1) * 100 / (count + 1));
      progressBar->SetBarColor(0x0000FF);
    }
    if (progress.Poll()) break;
    if (grid != nullptr) grid->AddGridColumn(i - 1, layout.columns[size_t(i - 1)].name.trimmed());
    ++handled;
  }
  if (statusText != nullptr) statusText->SetText(RecordCountText(0));
  if (handled < count) {
    outcome.stopped = true;
    return outcome;
  }
  if (grid != nullptr) grid->DeleteAllItems();

  std::int64_t root = object != nullptr ? object->rootPage : 0;
  if (root == 0 && !InternalTableStatement(name).isEmpty()) root = engine.InternalTableRoot(name);
  const bool lostAndFound = object != nullptr && object->origin == SchemaOrigin::LostAndFound;
  const bool recoveredTree = object != nullptr && object->origin == SchemaOrigin::RecoveredTree;
  std::unique_ptr<CRecordWriter> writerOwner =
      lostAndFound ? std::make_unique<LostAndFoundWriter>(engine, progress, layout, db, grid, statusText,
                                                          progressBar)
                   : std::make_unique<CRecordWriter>(engine, progress, layout, db, grid, statusText,
                                                     progressBar);
  CRecordWriter& writer = *writerOwner;
  auto taken = [&writer, save] { return save ? writer.RecordsWritten() : writer.RecordsShown(); };
  bool began = false;
  if (db != nullptr && sqlite3_get_autocommit(db) != 0) began = ExecSql(db, "BEGIN");
  bool complete = true;
  std::int64_t fromOwnTree = 0;
  try {
    if (lostAndFound) {
      // Its rows are on the orphan pages that fit no table.
      for (std::int64_t page : engine.Orphans().lostPages)
        if (engine.WalkLoosePage(page, writer, writer).stopped) break;
    } else if (recoveredTree) {
      // A table made from orphan trees: its rows are on their pages.
      if (const PutBackPages* pages = engine.PutBack(name)) {
        for (std::int64_t page : pages->pages) {
          if (progress.Poll()) break;
          if (engine.WalkLoosePage(page, writer, writer).stopped) break;
        }
      }
    } else if (root > 0) {
      complete = engine.WalkPage(root, writer, writer).complete;
      fromOwnTree = taken();
      // Then the orphan pages the orphan pass gave this table, with the same
      // writer: their rowids are ones the tree does not hold.
      if (const PutBackPages* extra = engine.PutBack(name)) {
        for (std::int64_t page : extra->pages) {
          if (progress.Poll()) break;
          if (engine.WalkLoosePage(page, writer, writer).stopped) break;
        }
      }
    } else {
      complete = false;
    }
  } catch (const std::exception&) {
    complete = false;
  }
  if (!lostAndFound && root > 0) outcome.putBack = std::max<std::int64_t>(0, taken() - fromOwnTree);
  outcome.lostAndFound = lostAndFound;
  outcome.recoveredTree = recoveredTree;
  // Committed at the end and at a stop alike: what was written stays, the
  // records held back for a multi-row INSERT included.
  writer.Flush();
  // A commit that fails (the file cannot grow: a full disk, an I/O error)
  // keeps none of the table's records.
  QString lost = writer.TransactionLostError();
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
    outcome.note =
        outcome.note.isEmpty() ? generated : outcome.note + QStringLiteral("; ") + generated;
  }
  if (grid != nullptr) grid->Redraw();

  outcome.records = !save ? writer.RecordsShown() : lost.isEmpty() ? writer.RecordsWritten() : 0;
  if (!lost.isEmpty()) outcome.putBack = 0;
  if (!complete && progress.Poll()) outcome.stopped = true;
  if (save) {
    QStringList problems;
    if (writer.RecordsRejected() > 0)
      problems << QStringLiteral("%1 records could not be inserted (%2)")
                      .arg(writer.RecordsRejected())
                      .arg(writer.FirstError());
    else if (!writer.FirstError().isEmpty())
      problems << writer.FirstError();
    if (!lost.isEmpty())
      problems << QStringLiteral(
                      "the recovered database could not be written (%1): none of its records "
                      "were kept")
                      .arg(lost);
    if (writer.RecordsSkipped() > 0)
      problems << QStringLiteral("%1 records held more values than the table has columns")
                      .arg(writer.RecordsSkipped());
    if (writer.RecordsBreakingChecks() > 0) {
      const QString checks =
          QStringLiteral("%1 records break a CHECK constraint and are saved as the file holds them")
              .arg(writer.RecordsBreakingChecks());
      outcome.note = outcome.note.isEmpty() ? checks : outcome.note + QStringLiteral("; ") + checks;
    }
    if (writer.ValuesCut() > 0)
      problems << QStringLiteral("%1 values could not be read completely").arg(writer.ValuesCut());
    outcome.error = problems.join(QStringLiteral("; "));
    outcome.incomplete =
        (!complete || writer.ValuesCut() > 0) && !outcome.stopped && lost.isEmpty();
  }
  return outcome;
}

}  // namespace velmora
