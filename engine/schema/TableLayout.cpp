#include "engine/schema/TableLayout.h"

#include <sqlite3.h>

#include <algorithm>
#include <utility>

#include "engine/schema/SqliteDb.h"
#include "engine/schema/WorkingDatabase.h"

namespace velmora {
namespace {

QString ColumnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  if (text == nullptr) return QString();
  return QString::fromUtf8(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt, column));
}

}  // namespace

ColumnAffinity AffinityOf(const QString& declaredType) {
  const QString type = declaredType.toUpper();
  auto has = [&type](const char* word) { return type.contains(QLatin1String(word)); };
  if (has("INT")) return ColumnAffinity::Integer;
  if (has("CHAR") || has("CLOB") || has("TEXT")) return ColumnAffinity::Text;
  if (has("BLOB") || type.trimmed().isEmpty()) return ColumnAffinity::Blob;
  if (has("REAL") || has("FLOA") || has("DOUB")) return ColumnAffinity::Real;
  return ColumnAffinity::Numeric;
}

void TableLayout::Derive() {
  recordToColumn.clear();
  rowidAlias = -1;
  rowidName.clear();
  autoIncrement = std::any_of(columns.begin(), columns.end(),
                              [](const TableColumn& c) { return c.autoIncrement; });
  const int count = ColumnCount();
  if (withoutRowid) {
    std::vector<std::pair<int, int>> keys;  // (key position, column)
    for (int c = 0; c < count; ++c)
      if (columns[size_t(c)].keyPosition > 0) keys.emplace_back(columns[size_t(c)].keyPosition, c);
    std::stable_sort(keys.begin(), keys.end());
    for (const auto& key : keys) recordToColumn.push_back(key.second);
    for (int c = 0; c < count; ++c)
      if (columns[size_t(c)].keyPosition <= 0) recordToColumn.push_back(c);
    return;
  }
  int keyColumns = 0;
  for (int c = 0; c < count; ++c) {
    recordToColumn.push_back(c);
    if (columns[size_t(c)].keyPosition > 0) {
      ++keyColumns;
      if (columns[size_t(c)].declaredType.compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) ==
          0)
        rowidAlias = c;
    }
  }
  // A key of several columns is no alias; INTEGER PRIMARY KEY DESC gets an
  // index of its own and its table keeps a rowid beside it.
  if (keyColumns != 1 || primaryKeyIndexed) rowidAlias = -1;
  if (rowidAlias >= 0) return;
  for (const char* candidate : {"rowid", "_rowid_", "oid"}) {
    const bool taken =
        std::any_of(columns.begin(), columns.end(), [candidate](const TableColumn& c) {
          return c.name.compare(QLatin1String(candidate), Qt::CaseInsensitive) == 0;
        });
    if (!taken) {
      rowidName = QLatin1String(candidate);
      return;
    }
  }
}

bool ReadTableLayout(sqlite3* db, const QString& name, TableLayout* layout) {
  *layout = TableLayout();
  layout->name = name;
  if (db == nullptr) return false;
  const QByteArray utf8 = name.toUtf8();
  Statement stmt;
  if (stmt.Prepare(db,
                   "SELECT cid, name, type, \"notnull\", dflt_value, pk, hidden "
                   "FROM pragma_table_xinfo(?1, 'main') ORDER BY cid") != SQLITE_OK) {
    ReportSqlError(db);
    return false;
  }
  sqlite3_bind_text(stmt, 1, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_STATIC);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    const int hidden = sqlite3_column_int(stmt, 6);
    // 1: a virtual table's hidden column, 2: a virtual generated column;
    // neither is stored in a record. 3: a stored generated column.
    if (hidden == 1 || hidden == 2) continue;
    TableColumn column;
    column.name = ColumnText(stmt, 1);
    column.declaredType = ColumnText(stmt, 2);
    column.affinity = AffinityOf(column.declaredType);
    column.notNull = sqlite3_column_int(stmt, 3) != 0;
    column.defaultValue = ColumnText(stmt, 4);
    column.keyPosition = sqlite3_column_int(stmt, 5);
    column.generated = hidden == 3;
    int autoIncrement = 0;
    const QByteArray columnName = column.name.toUtf8();
    sqlite3_table_column_metadata(db, "main", utf8.constData(), columnName.constData(), nullptr,
                                  nullptr, nullptr, nullptr, &autoIncrement);
    column.autoIncrement = autoIncrement != 0;
    layout->columns.push_back(std::move(column));
  }
  // A WITHOUT ROWID table is stored in its primary key's index, whose
  // columns hold no rowid (cid -1) as the index of a rowid table does. Both
  // pragmas look their object up by name; the table list would compile a
  // pass over every table of the schema for each table read.
  if (stmt.Prepare(db,
                   "SELECT NOT EXISTS (SELECT 1 FROM pragma_index_xinfo(l.name, 'main') "
                   "WHERE cid = -1) FROM pragma_index_list(?1, 'main') AS l "
                   "WHERE l.origin = 'pk'") == SQLITE_OK) {
    sqlite3_bind_text(stmt, 1, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_STATIC);
    if (sqlite3_step(stmt) == SQLITE_ROW) layout->withoutRowid = sqlite3_column_int(stmt, 0) != 0;
  }
  stmt.Finalize();
  layout->primaryKeyIndexed = PrimaryKeyHasIndex(db, utf8);
  layout->Derive();
  return !layout->columns.empty();
}

}  // namespace velmora
