// The column value stores behind StoreBackedGrid: one SQLite database per grid
// column, one row per grid row, in the stores sub-folder of the private
// temporary folder (which the emptying of long-value files skips).
//
// Store table: CREATE TABLE "table" ("id" INTEGER PRIMARY KEY ,"Column" TEXT, "Key");
// id is the 0-based grid row, Column the cell text, Key what the grid sorts the
// cell by, a value whose storage class SQLite orders as the cell's value: NULL
// for NULL, the number for an integer or a real, an empty text for a text, an
// empty blob for a blob. Texts are always bound,
// never pasted into SQL. Cells are written in batches of rows by one
// statement and grouped in transactions; a store's own reads see what it has
// not written or committed yet.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "engine/core/Progress.h"
#include "engine/schema/SqliteDb.h"
#include "engine/session/Sinks.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

// A cell of any column but the first keeps at most this many characters...
inline constexpr int kStoreCellMaxChars = 1000;
// ...followed by this marker when it had more.
inline constexpr const char* kStoreCellMoreMarker = "<more data>...";

// The text a store of a column other than the first keeps for `text`: the text
// itself, or its first 1000 characters followed by "<more data>..." when it is
// longer (a surrogate pair is never split: the cut then keeps 999).
QString CutStoreCellText(const QString& text);

class ColumnStoreSet {
 public:
  ColumnStoreSet();
  ~ColumnStoreSet();  // Discard()
  ColumnStoreSet(const ColumnStoreSet&) = delete;
  ColumnStoreSet& operator=(const ColumnStoreSet&) = delete;

  // Creates the store file "<index>SQlite.db" of this set and inserts it at
  // list position `position` (clamped to 0..Count()). True when the store
  // opened; otherwise the position holds a closed store, whose cells stay
  // empty, and the reason is on standard error.
  bool CreateColumnStore(int index, int position);

  // Stores `text` whole as row `row` of store 0.
  void StoreCellNewRow(int row, const QString& text, const CellSortKey& key = {});
  // Stores CutStoreCellText(text) as row `row` of store `column`.
  void StoreCell(int column, int row, const QString& text, const CellSortKey& key = {});
  // The text stored as row `row` of store `column`; empty when there is none
  // (no such store or row, a NULL, a closed store). `*isNull` (when given) says
  // whether the cell holds a NULL value.
  QString QueryStoreText(int column, int row, bool* isNull = nullptr) const;

  // The rows 0..rowCount-1 ordered by the cells of store `column`: by Key as
  // SQLite orders values, then by text, then by row (rows the store lacks
  // count as empty and come first, last when `descending`). `progress` is
  // polled while the library sorts; a stop, or a closed store, gives an
  // empty list.
  std::vector<int> SortedRows(int column, bool descending, int rowCount, IProgress& progress);

  // Commits what every store holds so far.
  void Flush();
  // Deletes every row of every store (the stores stay open).
  void ClearRows();
  // Closes every store, deletes its file and this set's folder.
  void Discard();

  int Count() const { return static_cast<int>(m_stores.size()); }
  bool IsOpen(int column) const;
  QStringList Paths() const;

 private:
  struct Store {
    sqlite3* db = nullptr;
    Statement insert;       // one row
    Statement insertBatch;  // kBatchRows rows in one statement
    Statement select;
    QString path;
    int uncommitted = 0;  // rows written since the last commit
    // Cells not written yet, in the order they came (rows never decrease);
    // reads look here first.
    struct Cell {
      int row;
      QString text;
      CellSortKey key;
    };
    std::vector<Cell> pending;
  };

  void Write(Store& store, int row, const QString& text, const CellSortKey& key);
  static void WritePending(Store& store);
  static void Commit(Store& store);
  static void Close(Store& store);

  std::vector<Store> m_stores;
  QString m_folder;  // this set's folder, with a trailing "/"; empty until needed
};

}  // namespace velmora
