// The stored layout of one table: which declared column each record position
// holds, which column (if any) is the rowid, each column's affinity, and the
// table's options. Read once from the working database, where the library
// itself has parsed the table's statement; every reader of records (the
// save, the grid, the CSV export, the orphan pass) takes it from here.
//
// How the library stores a row:
//   - a rowid table stores its columns in declaration order; a single
//     INTEGER PRIMARY KEY column is the rowid and is stored as NULL, unless
//     the key has an index of its own (INTEGER PRIMARY KEY DESC), in which
//     case the column is an ordinary stored column beside the rowid;
//   - a WITHOUT ROWID table stores its primary-key columns first, in key
//     order, then the other columns in declaration order;
//   - virtual generated columns (and a virtual table's hidden columns) are
//     not stored; stored generated columns are, and the library computes
//     them itself on insert.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

struct sqlite3;

namespace velmora {

// A column's affinity by the library's own rule on its declared type:
// INT anywhere gives Integer; else CHAR, CLOB or TEXT gives Text; else BLOB
// or no type gives Blob (no affinity); else REAL, FLOA or DOUB gives Real;
// anything else Numeric.
enum class ColumnAffinity { Blob, Text, Numeric, Integer, Real };
ColumnAffinity AffinityOf(const QString& declaredType);

struct TableColumn {
  QString name;
  QString declaredType;
  ColumnAffinity affinity = ColumnAffinity::Blob;
  bool notNull = false;
  QString defaultValue;  // the DEFAULT clause as SQL text; empty when none
  int keyPosition = 0;   // 1-based position in the primary key; 0 when not part of it
  bool autoIncrement = false;
  // A stored generated column: present in every record, but the library
  // computes it itself and refuses a value for it.
  bool generated = false;
};

struct TableLayout {
  QString name;                      // the table's real name
  std::vector<TableColumn> columns;  // stored columns, in declaration order
  bool withoutRowid = false;
  bool autoIncrement = false;      // the rowid alias is declared AUTOINCREMENT
  bool primaryKeyIndexed = false;  // the primary key has an index of its own
  // Record position k holds the value of columns[recordToColumn[k]].
  std::vector<int> recordToColumn;
  // The column that is the rowid of a rowid table (stored as NULL in its
  // records); -1 when there is none.
  int rowidAlias = -1;
  // The name under which a row's rowid can be written (rowid, _rowid_ or oid,
  // the first that no column shadows); empty when the table has no rowid,
  // when the alias carries it, or when every name is taken.
  QString rowidName;

  int ColumnCount() const { return static_cast<int>(columns.size()); }
  // Fills recordToColumn, rowidAlias, rowidName and autoIncrement from the
  // other fields (for a layout built by hand).
  void Derive();
};

// Reads the layout of table `name` (its real name, bound, never pasted) from
// the working database `db`. False when the table is unknown there or has no
// stored column; `layout` then holds what was read.
bool ReadTableLayout(sqlite3* db, const QString& name, TableLayout* layout);

}  // namespace velmora
