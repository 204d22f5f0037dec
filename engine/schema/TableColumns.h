// The stored columns of a table as the working database reports them, and
// the storage classes each can hold in a record: what the passes that weigh
// records against tables (orphan pages, deleted records) compare with.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "engine/core/Item.h"

struct sqlite3;

namespace velmora {
struct TableColumn;
}

namespace velmora {

// One bit per storage class, for the classes a record position holds.
inline constexpr std::uint8_t kClassNull = 1, kClassInteger = 2, kClassReal = 4, kClassText = 8,
                              kClassBlob = 16;
inline constexpr std::uint8_t kAnyClass =
    kClassNull | kClassInteger | kClassReal | kClassText | kClassBlob;

std::uint8_t ClassBit(StorageClass storage);

// The storage classes a column can hold in a record, from its affinity: a
// TEXT column turns numbers into text, so it never stores an integer or a
// real; the INTEGER PRIMARY KEY of a rowid table is stored as NULL (the rowid
// carries it); a NOT NULL column holds no NULL. Every other affinity can hold
// any class.
std::uint8_t AllowedClasses(const TableColumn& column, bool rowidAlias);

struct StoredColumn {
  QString name;
  QString type;  // as declared
  std::uint8_t allowed = kAnyClass;
};

struct StoredColumns {
  std::vector<StoredColumn>
      columns;     // in record order (generated columns that are not stored left out)
  int alias = -1;  // the INTEGER PRIMARY KEY that is the rowid; -1 when none
};

// The stored columns of table `name` in the database `db` (the working
// database), in record order, and its rowid alias, from its layout
// (engine/schema/TableLayout.h). False for a WITHOUT
// ROWID table (its rows live in index pages), an unknown table or one
// without columns.
bool ReadStoredColumns(sqlite3* db, const QString& name, StoredColumns* out);

}  // namespace velmora
