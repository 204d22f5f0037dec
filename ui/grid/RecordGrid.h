// The record grid of the right pane: a QTableView over a model that holds no
// values. The model knows how many rows and columns there are; every cell it
// is asked for is one primary-key read of that column's value store. The
// delegate paints each cell white inside a 2-pixel margin (a selected cell
// light blue), on one line, clipped, with no focus frame.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <functional>
#include <vector>

#include "engine/core/Progress.h"
#include "output/ColumnStores.h"

namespace velmora {

inline constexpr int kGridColumnWidth = 90;
// Columns fitted to their content are at most this wide when a table is
// shown (a double click on a column's border fits it up to kGridFitMaxWidth).
inline constexpr int kGridAutoMaxWidth = 320;
inline constexpr int kGridFitMaxWidth = 2000;
// How many first rows the widths are fitted to.
inline constexpr int kGridFitRows = 50;
inline constexpr int kGridCellMargin = 2;
// The inside of a selected cell.
inline constexpr QRgb kGridSelectionRgb = 0xFFCCE4FF;
// How many cells a search or a copy reads between two calls of its stop
// function.
inline constexpr int kGridCellsPerStopCheck = 256;

// Quotes one cell text for tab-separated text: a text holding a tab, a line
// break or a double quote is put between double quotes, its quotes doubled
// (as spreadsheets read it); any other text stays as it is.
QString TabSeparatedField(const QString& text);

// The model: column stores underneath (StoreBackedGrid), Qt's model interface
// on top. Rows are announced to views in batches: every row appended is
// counted at once by ItemCount(), and reaches rowCount() at the next
// FlushPendingRows(), which runs from the event loop (the table walk pumps
// events between records), on Redraw() and before any reset.
class CRecordGridModel : public QAbstractTableModel, public StoreBackedGrid {
  Q_OBJECT
 public:
  explicit CRecordGridModel(QObject* parent = nullptr);

  // QAbstractItemModel
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // IRecordGrid
  void Redraw() override;

  // Discards the stores and all rows (columns stay).
  void ResetGrid();

  // Tells the views about the rows appended since the last call.
  void FlushPendingRows();

  // --- sorting ---
  // The model never moves values: a sort is a permutation of row numbers.
  // View row r shows store row StoreRow(r); rows appended after a sort keep
  // their place at the end.
  int StoreRow(int viewRow) const {
    return viewRow >= 0 && viewRow < int(m_order.size()) ? m_order[size_t(viewRow)] : viewRow;
  }
  // The text (and whether it is a NULL) that view row `row` shows in `column`.
  QString ShownCellText(int row, int column, bool* isNull = nullptr) const {
    return CellText(StoreRow(row), column, isNull);
  }
  enum class SortState { None, Ascending, Descending };
  // Orders the rows by column `column` (None: back to the order the table
  // was read in). False, changing nothing, when stopped or not possible.
  bool SortByColumn(int column, SortState state, IProgress& progress = NoProgress());
  int SortColumn() const { return m_nSortColumn; }
  SortState Sort() const { return m_sort; }

 signals:
  void redrawRequested();
  // The sort was undone by a reset of the rows or columns.
  void sortCleared();

 protected:
  void OnColumnsChanged() override;
  void OnRowsAppended(int first, int last) override;
  void OnRowsReset() override;

 private:
  void ClearSort();

  int m_nShownRows = 0;     // rows the views know of
  int m_nShownColumns = 0;  // columns the views know of
  QTimer m_flushTimer;
  std::vector<int> m_order;  // view row -> store row; empty: the reading order
  int m_nSortColumn = -1;
  SortState m_sort = SortState::None;
};

// Paints one cell as the grid shows it.
class CGridCellDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  // As wide as the cell's text (what fits on one line, at most
  // kGridFitMaxWidth), as high as a row.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // The cell rectangle `cell` less the margin; the part that is painted white.
  static QRect InnerRect(const QRect& cell);
};

// The grid list (child 400 of the right pane). It is the IRecordGrid that the
// table extraction fills in display mode.
class CListCtrlEx : public QTableView, public IRecordGrid {
  Q_OBJECT
 public:
  explicit CListCtrlEx(QWidget* parent = nullptr);

  CRecordGridModel* GridModel() const { return m_pModel; }

  // Discards every column store, then deletes all rows (columns stay).
  void ResetRecordGrid();

  // The selected cells as tab-separated text: the captions of the columns
  // that hold a selected cell, then one line per row that holds one, each
  // line ending with a line break; a cell of those rows and columns that is
  // not selected is empty. The texts are the stored cell texts the grid shows.
  // Empty when nothing is selected. `progress` is polled every
  // kGridCellsPerStopCheck cells; when it asks to stop the copy ends, the
  // result is empty and `*stopped` (when given) is set.
  QString SelectionText(IProgress& progress = NoProgress(), bool* stopped = nullptr) const;

  enum class FindOutcome { Found, NotFound, Stopped };
  // Looks for `text` (case-insensitive, anywhere in a cell's stored text) in
  // every cell the view shows, row by row, starting after the current cell
  // (`forward`) or before it, from the first (or last) cell when there is no
  // current cell, wrapping round once. On Found, `*found` is the cell and
  // `*wrapped` says whether the search passed the end (or start). NotFound
  // for an empty text or grid. `progress` as in SelectionText.
  FindOutcome FindText(const QString& text, bool forward, IProgress& progress, QModelIndex* found,
                       bool* wrapped = nullptr) const;

  // The state a click on the header of `column` moves to: ascending for a
  // column not sorted yet, then descending, then the reading order again.
  CRecordGridModel::SortState NextSortState(int column) const;
  // Sorts by `column` and shows the header's sort mark; the current cell
  // goes to the top. False when stopped.
  bool SortByColumn(int column, CRecordGridModel::SortState state,
                    IProgress& progress = NoProgress());
  // Fits every column to its caption and the texts of the first
  // kGridFitRows rows, at most kGridAutoMaxWidth wide; the last column
  // stretches to the pane's edge.
  void FitColumns();

  // IRecordGrid
  int ItemCount() const override { return m_pModel->ItemCount(); }
  int ColumnCount() const override { return m_pModel->ColumnCount(); }
  void DeleteAllColumns() override { m_pModel->DeleteAllColumns(); }
  void DeleteAllItems() override { m_pModel->DeleteAllItems(); }
  void Redraw() override;
  void AddGridColumn(int index, const QString& caption) override;
  void AddGridCell(int column, const QString& text) override {
    m_pModel->AddGridCell(column, text);
  }
  void AddGridValue(int column, const QString& text, const CellSortKey& key) override {
    m_pModel->AddGridValue(column, text, key);
  }
  void SetVisible(bool visible) override { setVisible(visible); }

 signals:
  // Ctrl+C (the platform's Copy key) was pressed in the grid.
  void copyRequested();
  // Enter or Return was pressed on the current cell `index`: its whole
  // value is wanted (the value viewer).
  void valueRequested(const QModelIndex& index);
  // The header of `column` was clicked: the frame sorts (with a way to stop).
  void sortRequested(int column);

 protected:
  // Copy is handed to copyRequested (the frame copies with a way to stop);
  // Shift+Space widens the selection to whole rows.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  CRecordGridModel* m_pModel;
  int m_nFittedRows = 0;  // rows the column widths were last fitted to
};

}  // namespace velmora
