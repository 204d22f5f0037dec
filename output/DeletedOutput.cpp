// Deleted records as rows (see DeletedOutput.h).
#include "output/DeletedOutput.h"

#include <sqlite3.h>

#include <QSet>
#include <algorithm>

#include "engine/core/Format.h"
#include "engine/core/SqlQuote.h"
#include "engine/core/Values.h"
#include "engine/schema/SqliteDb.h"
#include "engine/schema/TableColumns.h"
#include "output/RecoveredDatabase.h"
#include "output/SaveDispatch.h"

namespace velmora {
namespace {

const char* const kPlaceColumns[] = {"old_rowid", "page", "offset", "found_in", "whole"};
constexpr int kPlaceCount = 5;

// The value columns of a deleted table: the live table's stored columns in
// record order, c1... past them and for a dropped table.
QStringList ValueColumns(const CSQLiteRecovery& engine, const DeletedTable& table, int* alias) {
  QStringList names;
  *alias = -1;
  StoredColumns stored;
  if (!table.dropped && ReadStoredColumns(engine.WorkingDb(), table.table, &stored)) {
    for (const StoredColumn& column : stored.columns) names << column.name;
    *alias = stored.alias;
  }
  int widest = table.columns;
  for (const DeletedRecord& record : table.records)
    widest = std::max(widest, static_cast<int>(record.values.size()));
  QSet<QString> used;
  for (const QString& name : names) used.insert(name.toLower());
  for (int c = static_cast<int>(names.size()); c < widest; ++c) {
    QString name = QStringLiteral("c%1").arg(c + 1);
    while (used.contains(name.toLower())) name += QLatin1Char('_');
    used.insert(name.toLower());
    names << name;
  }
  return names;
}

// The display text of a value kept by the pass, as the grid shows values.
QString ItemText(const ITEM& value, std::uint32_t encoding) {
  switch (value.storage) {
    case StorageClass::Null:
      return QStringLiteral("NULL");
    case StorageClass::Integer:
      return QString::number(value.intValue);
    case StorageClass::Real:
      return FormatReal(value.realValue);
    case StorageClass::Blob:
      return QStringLiteral("Blob");
    case StorageClass::Text:
      break;
  }
  QString text = DecodeText(value.bytes, encoding);
  const qsizetype zero = text.indexOf(QChar());
  if (zero >= 0) text.truncate(zero);
  text = text.trimmed();
  if (text.size() > kLongTextChars || !value.complete)
    text = text.left(kLongTextChars) + QLatin1String(kMoreDataMark);
  return text;
}

// Binds one kept value, byte for byte in the database's text encoding.
int BindItem(sqlite3_stmt* stmt, int index, const ITEM& value, std::uint32_t encoding) {
  switch (value.storage) {
    case StorageClass::Null:
      return sqlite3_bind_null(stmt, index);
    case StorageClass::Integer:
      return sqlite3_bind_int64(stmt, index, value.intValue);
    case StorageClass::Real:
      return sqlite3_bind_double(stmt, index, value.realValue);
    case StorageClass::Blob:
      return sqlite3_bind_blob64(stmt, index, value.bytes.constData(),
                                 static_cast<sqlite3_uint64>(value.bytes.size()), SQLITE_TRANSIENT);
    case StorageClass::Text:
      break;
  }
  const unsigned char textEncoding = encoding == format::kEncodingUtf16le   ? SQLITE_UTF16LE
                                     : encoding == format::kEncodingUtf16be ? SQLITE_UTF16BE
                                                                            : SQLITE_UTF8;
  return sqlite3_bind_text64(stmt, index, value.bytes.constData(),
                             static_cast<sqlite3_uint64>(value.bytes.size()), SQLITE_TRANSIENT,
                             textEncoding);
}

// Every name the recovered file's objects and the recovered database hold.
QStringList TakenNames(const CSQLiteRecovery& engine, sqlite3* target) {
  QStringList taken = engine.TableNames();
  for (const SchemaObject& object : engine.Catalog().Objects()) taken << object.name;
  Statement names(target, "SELECT name FROM sqlite_master");
  while (names.Ok() && names.Step() == SQLITE_ROW)
    taken << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(names, 0)));
  return taken;
}

}  // namespace

const DeletedTable* FindDeletedTable(const CSQLiteRecovery& engine, const QString& name) {
  for (const DeletedTable& table : engine.Deleted().tables)
    if (table.table.compare(name, Qt::CaseInsensitive) == 0) return &table;
  return nullptr;
}

QStringList DeletedTableNames(const CSQLiteRecovery& engine) {
  QStringList names;
  for (const DeletedTable& table : engine.Deleted().tables)
    if (!table.records.empty()) names << table.table;
  return names;
}

QStringList DeletedColumnNames(const CSQLiteRecovery& engine, const DeletedTable& table) {
  int alias = -1;
  QStringList names = ValueColumns(engine, table, &alias);
  QSet<QString> used;
  for (const QString& name : names) used.insert(name.toLower());
  for (const char* place : kPlaceColumns) {
    QString name = QLatin1String(place);
    if (used.contains(name.toLower())) name = QStringLiteral("found_") + name;
    while (used.contains(name.toLower())) name += QLatin1Char('_');
    used.insert(name.toLower());
    names << name;
  }
  return names;
}

QString FoundInText(const DeletedRecord& record) {
  switch (record.source) {
    case DeletedSource::FreeSpace:
      return QStringLiteral("free space");
    case DeletedSource::Freeblock:
      return QStringLiteral("freeblock");
    case DeletedSource::FreelistPage:
      return QStringLiteral("freelist");
    case DeletedSource::DroppedTable:
      return QStringLiteral("dropped table");
    case DeletedSource::WalFrame:
      return QStringLiteral("log frame %1").arg(record.walFrame);
    case DeletedSource::ReplacedPage:
      return QStringLiteral("replaced page image");
  }
  return QString();
}

void CountDeleted(const DeletedTable& table, std::int64_t* whole, std::int64_t* partial) {
  *whole = 0;
  *partial = 0;
  for (const DeletedRecord& record : table.records) (record.partial ? *partial : *whole) += 1;
}

QString DeletedTargetName(const QString& table, const QStringList& taken) {
  const QString base = table + QStringLiteral("_deleted");
  QString name = base;
  for (int n = 2; taken.contains(name, Qt::CaseInsensitive); ++n)
    name = base + QStringLiteral("_%1").arg(n);
  return name;
}

std::int64_t ShowDeletedRows(const CSQLiteRecovery& engine, const DeletedTable& table,
                             IRecordGrid& grid, IProgress& progress) {
  const QStringList columns = DeletedColumnNames(engine, table);
  const int values = static_cast<int>(columns.size()) - kPlaceCount;
  int alias = -1;
  ValueColumns(engine, table, &alias);
  grid.DeleteAllItems();
  grid.DeleteAllColumns();
  for (int c = 0; c < columns.size(); ++c) grid.AddGridColumn(c, columns.at(c));
  const std::uint32_t encoding = engine.geometry().textEncoding;
  std::int64_t shown = 0;
  for (const DeletedRecord& record : table.records) {
    if (shown % 64 == 0 && progress.Poll()) break;
    for (int c = 0; c < values; ++c) {
      CellSortKey key;
      QString text = QStringLiteral("NULL");
      key.kind = CellSortKey::Kind::Null;
      if (c < static_cast<int>(record.values.size())) {
        const ITEM& value = record.values[size_t(c)];
        if (c == alias && value.storage == StorageClass::Null && record.rowidKnown) {
          text = QString::number(record.rowid);
          key.kind = CellSortKey::Kind::Integer;
          key.intValue = record.rowid;
        } else {
          text = ItemText(value, encoding);
          key.kind = value.storage == StorageClass::Integer ? CellSortKey::Kind::Integer
                     : value.storage == StorageClass::Real  ? CellSortKey::Kind::Real
                     : value.storage == StorageClass::Text  ? CellSortKey::Kind::Text
                     : value.storage == StorageClass::Blob  ? CellSortKey::Kind::Blob
                                                            : CellSortKey::Kind::Null;
          key.intValue = value.intValue;
          key.realValue = value.realValue;
        }
      }
      grid.AddGridValue(c, text, key);
    }
    auto number = [&](int column, std::int64_t n) {
      CellSortKey key;
      key.kind = CellSortKey::Kind::Integer;
      key.intValue = n;
      grid.AddGridValue(column, QString::number(n), key);
    };
    if (record.rowidKnown) {
      number(values, record.rowid);
    } else {
      CellSortKey key;
      key.kind = CellSortKey::Kind::Null;
      grid.AddGridValue(values, QStringLiteral("NULL"), key);
    }
    number(values + 1, record.page);
    number(values + 2, record.offset);
    CellSortKey textKey;
    textKey.kind = CellSortKey::Kind::Text;
    grid.AddGridValue(values + 3, FoundInText(record), textKey);
    number(values + 4, record.partial ? 0 : 1);
    ++shown;
  }
  grid.Redraw();
  return shown;
}

DeletedSave SaveDeletedRows(const CSQLiteRecovery& engine, const DeletedTable& table,
                            RecoveredDatabase& target, IProgress& progress) {
  DeletedSave save;
  sqlite3* db = target.Db();
  if (db == nullptr) {
    save.error = QStringLiteral("the recovered database is not open");
    return save;
  }
  const QStringList columns = DeletedColumnNames(engine, table);
  const int values = static_cast<int>(columns.size()) - kPlaceCount;
  int alias = -1;
  ValueColumns(engine, table, &alias);
  save.name = DeletedTargetName(table.table, TakenNames(engine, db));
  QStringList definitions;
  for (int c = 0; c < columns.size(); ++c) {
    QString definition = QuoteIdentifier(columns.at(c));
    if (c == values) definition += QStringLiteral(" INTEGER");      // old_rowid
    if (c == values + 1) definition += QStringLiteral(" INTEGER");  // page
    if (c == values + 2) definition += QStringLiteral(" INTEGER");  // offset
    if (c == values + 3) definition += QStringLiteral(" TEXT");     // found_in
    if (c == values + 4) definition += QStringLiteral(" INTEGER");  // whole
    definitions << definition;
  }
  const bool began = sqlite3_get_autocommit(db) != 0 && ExecSql(db, "BEGIN");
  auto finish = [&](bool keep) {
    if (!began || sqlite3_get_autocommit(db) != 0) return;
    if (keep && ExecSql(db, "COMMIT")) return;
    ExecSql(db, "ROLLBACK");
    if (keep) {
      save.written = false;
      save.records = 0;
      save.whole = 0;
      save.error = QStringLiteral("the rows could not be committed");
    }
  };
  const QString create =
      QStringLiteral("CREATE TABLE %1(%2)")
          .arg(QuoteIdentifier(save.name), definitions.join(QLatin1String(", ")));
  if (!ExecSql(db, create.toUtf8())) {
    save.error = QStringLiteral("the table could not be created: %1")
                     .arg(QString::fromUtf8(sqlite3_errmsg(db)));
    finish(false);
    return save;
  }
  save.written = true;
  QStringList marks;
  for (int c = 0; c < columns.size(); ++c) marks << QStringLiteral("?");
  const QByteArray insert = QStringLiteral("INSERT INTO %1 VALUES(%2)")
                                .arg(QuoteIdentifier(save.name), marks.join(QLatin1Char(',')))
                                .toUtf8();
  Statement statement(db, insert.constData(), static_cast<int>(insert.size()));
  if (!statement.Ok()) {
    save.error = QString::fromUtf8(sqlite3_errmsg(db));
    finish(true);
    return save;
  }
  const std::uint32_t encoding = engine.geometry().textEncoding;
  for (const DeletedRecord& record : table.records) {
    if (save.records % 256 == 0 && progress.Poll()) {
      save.stopped = true;
      break;
    }
    statement.Reset();
    sqlite3_clear_bindings(statement);
    for (int c = 0; c < values && c < static_cast<int>(record.values.size()); ++c) {
      const ITEM& value = record.values[size_t(c)];
      if (c == alias && value.storage == StorageClass::Null && record.rowidKnown)
        sqlite3_bind_int64(statement, c + 1, record.rowid);
      else
        BindItem(statement, c + 1, value, encoding);
    }
    if (record.rowidKnown) sqlite3_bind_int64(statement, values + 1, record.rowid);
    sqlite3_bind_int64(statement, values + 2, record.page);
    sqlite3_bind_int64(statement, values + 3, record.offset);
    const QByteArray foundIn = FoundInText(record).toUtf8();
    sqlite3_bind_text(statement, values + 4, foundIn.constData(), static_cast<int>(foundIn.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_int(statement, values + 5, record.partial ? 0 : 1);
    if (statement.Step() != SQLITE_DONE) {
      save.error = QStringLiteral("a row could not be written: %1")
                       .arg(QString::fromUtf8(sqlite3_errmsg(db)));
      ReportSqlError(db);
      break;
    }
    ++save.records;
    if (!record.partial) ++save.whole;
  }
  statement.Finalize();
  finish(true);
  return save;
}

}  // namespace velmora
