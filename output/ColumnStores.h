// Column value stores: one small SQLite database per grid column in the
// private temporary folder, one row per grid row. The record grid holds no
// values; each visible cell is one primary-key read of its column's store.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "engine/core/Progress.h"
#include "engine/session/Sinks.h"

namespace velmora {

class ColumnStoreSet;

// The record grid's store logic, shared by every grid: the widget model of the
// right pane, the terminal grid of the command-line tool and the test grids
// derive from it and implement only the notifications.
class StoreBackedGrid : public IRecordGrid {
 public:
  StoreBackedGrid();
  ~StoreBackedGrid() override;

  // IRecordGrid
  int ItemCount() const override;
  int ColumnCount() const override;
  void DeleteAllColumns() override;
  void DeleteAllItems() override;
  void AddGridColumn(int index, const QString& caption) override;
  void AddGridCell(int column, const QString& text) override;
  void AddGridValue(int column, const QString& text, const CellSortKey& key) override;
  void Redraw() override {}
  void SetVisible(bool) override {}

  // Discards every column store (closes, deletes the files), then deletes
  // all rows. Columns are not touched.
  void ResetRecordGrid();

  // The text of cell (row, column) as stored; empty when there is none.
  // `*isNull` (when given) says whether the cell holds a NULL value (whose
  // text is "NULL").
  QString CellText(int row, int column, bool* isNull = nullptr) const;
  // The rows ordered by column `column` (ColumnStoreSet::SortedRows); empty
  // when stopped or when the column has no store.
  std::vector<int> SortedRows(int column, bool descending,
                              IProgress& progress = NoProgress()) const;
  QString ColumnCaption(int column) const;

  // Commits what the stores hold so far (writes are grouped in transactions).
  void Flush() const;

  // The text that cell (row, column) shows when `text` is handed to
  // AddGridCell: the text itself in column 0, CutStoreCellText of it in the
  // others, empty when the column has no open store.
  QString ShownText(int column, const QString& text) const;

  // The store file of each column, in column order (empty for a column whose
  // store could not be created).
  QStringList StorePaths() const;

 protected:
  // Notifications for views; called after the change.
  virtual void OnColumnsChanged() {}
  virtual void OnRowsAppended(int first, int last) {
    (void)first;
    (void)last;
  }
  virtual void OnRowsReset() {}

 private:
  std::unique_ptr<ColumnStoreSet> m_stores;
  QStringList m_captions;
  int m_nRows = 0;
  CellSortKey m_cellKey;  // the key of the cell AddGridValue is adding
};

}  // namespace velmora
