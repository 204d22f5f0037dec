// The stored columns of a table, read from the working database.
#include "engine/TableColumns.h"

#include <sqlite3.h>

#include "engine/SqliteDb.h"
#include "engine/WorkingDatabase.h"

namespace velmora {
namespace {

QString ColumnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  return text == nullptr ? QString()
                         : QString::fromUtf8(reinterpret_cast<const char*>(text),
                                             sqlite3_column_bytes(stmt, column));
}

}  // namespace

std::uint8_t ClassBit(StorageClass storage) {
  switch (storage) {
    case StorageClass::Null:
      return kClassNull;
    case StorageClass::Integer:
      return kClassInteger;
    case StorageClass::Real:
      return kClassReal;
    case StorageClass::Text:
      return kClassText;
    case StorageClass::Blob:
      return kClassBlob;
  }
  return kClassNull;
}

std::uint8_t AllowedClasses(const QString& declaredType, bool notNull, bool rowidAlias) {
  if (rowidAlias) return kClassNull;
  const QString type = declaredType.toUpper();
  std::uint8_t allowed = kAnyClass;
  if (!type.contains(QLatin1String("INT")) &&
      (type.contains(QLatin1String("CHAR")) || type.contains(QLatin1String("CLOB")) ||
       type.contains(QLatin1String("TEXT"))))
    allowed = kClassNull | kClassText | kClassBlob;
  if (notNull) allowed &= static_cast<std::uint8_t>(~kClassNull);
  return allowed;
}

bool ReadStoredColumns(sqlite3* db, const QString& name, StoredColumns* out) {
  out->columns.clear();
  out->alias = -1;
  if (db == nullptr) return false;
  const QByteArray utf8 = name.toUtf8();
  Statement stmt;
  bool withoutRowid = true;
  if (sqlite3_prepare_v2(db, "SELECT wr FROM pragma_table_list(?1) WHERE schema = 'main'", -1,
                         stmt.Out(), nullptr) == SQLITE_OK) {
    sqlite3_bind_text(stmt, 1, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_STATIC);
    if (sqlite3_step(stmt) == SQLITE_ROW) withoutRowid = sqlite3_column_int(stmt, 0) != 0;
  }
  if (withoutRowid) return false;
  if (sqlite3_prepare_v2(db,
                         "SELECT name, type, \"notnull\", pk, hidden FROM "
                         "pragma_table_xinfo(?1, 'main') ORDER BY cid",
                         -1, stmt.Out(), nullptr) != SQLITE_OK) {
    return false;
  }
  sqlite3_bind_text(stmt, 1, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_STATIC);
  std::vector<bool> notNull;
  int keys = 0, aliasCandidate = -1;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    const int hidden = sqlite3_column_int(stmt, 4);
    if (hidden == 1 || hidden == 2) continue;  // not stored in a record
    const QString type = ColumnText(stmt, 1);
    if (sqlite3_column_int(stmt, 3) > 0) {
      ++keys;
      if (type.compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0)
        aliasCandidate = static_cast<int>(out->columns.size());
    }
    out->columns.push_back({ColumnText(stmt, 0), type, kAnyClass});
    notNull.push_back(sqlite3_column_int(stmt, 2) != 0);
  }
  // An INTEGER key with an index of its own is a stored column beside the rowid.
  out->alias = keys == 1 && !PrimaryKeyHasIndex(db, utf8) ? aliasCandidate : -1;
  for (std::size_t c = 0; c < out->columns.size(); ++c)
    out->columns[c].allowed =
        AllowedClasses(out->columns[c].type, notNull[c], static_cast<int>(c) == out->alias);
  return !out->columns.empty();
}

}  // namespace velmora
