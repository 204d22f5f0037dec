// The stored columns of a table and the storage classes each can hold, from
// the table's layout in the working database.
#include "engine/schema/TableColumns.h"

#include "engine/schema/TableLayout.h"

namespace velmora {

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

std::uint8_t AllowedClasses(const TableColumn& column, bool rowidAlias) {
  if (rowidAlias) return kClassNull;
  std::uint8_t allowed = kAnyClass;
  if (column.affinity == ColumnAffinity::Text) allowed = kClassNull | kClassText | kClassBlob;
  if (column.notNull) allowed &= static_cast<std::uint8_t>(~kClassNull);
  return allowed;
}

bool ReadStoredColumns(sqlite3* db, const QString& name, StoredColumns* out) {
  out->columns.clear();
  out->alias = -1;
  TableLayout layout;
  if (!ReadTableLayout(db, name, &layout) || layout.withoutRowid) return false;
  // A rowid table stores its columns in declaration order.
  for (int c = 0; c < layout.ColumnCount(); ++c) {
    const TableColumn& column = layout.columns[size_t(c)];
    out->columns.push_back(
        {column.name, column.declaredType, AllowedClasses(column, c == layout.rowidAlias)});
  }
  out->alias = layout.rowidAlias;
  return !out->columns.empty();
}

}  // namespace velmora
