// The record grid of the right pane: a QTableView over a model that holds no
// values. The model knows how many rows and columns there are; every cell it
// is asked for is one primary-key read of that column's value store. The
// delegate paints each cell white inside a 2-pixel margin, on one line,
// clipped, with no selection or focus shown.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>

#include "output/ColumnStores.h"

namespace velmora {

inline constexpr int kGridColumnWidth = 90;
inline constexpr int kGridCellMargin = 2;

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

 signals:
  void redrawRequested();

 protected:
  void OnColumnsChanged() override;
  void OnRowsAppended(int first, int last) override;
  void OnRowsReset() override;

 private:
  int m_nShownRows = 0;     // rows the views know of
  int m_nShownColumns = 0;  // columns the views know of
  QTimer m_flushTimer;
};

// Paints one cell as the grid shows it.
class CGridCellDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
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

  // IRecordGrid
  int ItemCount() const override { return m_pModel->ItemCount(); }
  int ColumnCount() const override { return m_pModel->ColumnCount(); }
  void DeleteAllColumns() override { m_pModel->DeleteAllColumns(); }
  void DeleteAllItems() override { m_pModel->DeleteAllItems(); }
  void Redraw() override;
  void AddGridColumn(int index, const QString& caption) override;
  void AddGridCell(int column, const QString& text) override { m_pModel->AddGridCell(column, text); }
  void SetVisible(bool visible) override { setVisible(visible); }

 private:
  CRecordGridModel* m_pModel;
};

}  // namespace velmora
