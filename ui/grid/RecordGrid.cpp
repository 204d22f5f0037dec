#include "ui/grid/RecordGrid.h"

#include <QHeaderView>
#include <QPainter>

namespace velmora {

// ---------------------------------------------------------------------------
// CRecordGridModel

CRecordGridModel::CRecordGridModel(QObject* parent) : QAbstractTableModel(parent) {
  // Rows that arrive during a load are announced at most every 100 ms: each
  // announcement makes the view lay out and repaint its page, which would
  // otherwise take as long as the load itself. The first 50 rows come at
  // once through Redraw().
  m_flushTimer.setSingleShot(true);
  m_flushTimer.setInterval(100);
  connect(&m_flushTimer, &QTimer::timeout, this, &CRecordGridModel::FlushPendingRows);
}

int CRecordGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_nShownRows;
}

int CRecordGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_nShownColumns;
}

QVariant CRecordGridModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.model() != this) return {};
  const int row = index.row(), column = index.column();
  if (row < 0 || row >= m_nShownRows || column < 0 || column >= m_nShownColumns) return {};
  return CellText(row, column);
}

QVariant CRecordGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= m_nShownColumns) return {};
  if (role == Qt::DisplayRole) return ColumnCaption(section);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
  return {};
}

Qt::ItemFlags CRecordGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void CRecordGridModel::Redraw() {
  FlushPendingRows();
  emit redrawRequested();
}

void CRecordGridModel::ResetGrid() { StoreBackedGrid::ResetRecordGrid(); }

void CRecordGridModel::FlushPendingRows() {
  m_flushTimer.stop();
  const int known = std::min(ItemCount(), INT_MAX);
  if (known <= m_nShownRows || m_nShownColumns == 0) return;
  beginInsertRows(QModelIndex(), m_nShownRows, known - 1);
  m_nShownRows = known;
  endInsertRows();
}

void CRecordGridModel::OnColumnsChanged() {
  // Columns change only while a display starts (rows are then empty or
  // being thrown away), so a reset costs nothing worth saving.
  beginResetModel();
  m_nShownColumns = ColumnCount();
  m_nShownRows = m_nShownColumns == 0 ? 0 : std::min(m_nShownRows, ItemCount());
  endResetModel();
  if (ItemCount() > m_nShownRows) m_flushTimer.start();
}

void CRecordGridModel::OnRowsAppended(int, int) {
  if (!m_flushTimer.isActive()) m_flushTimer.start();
}

void CRecordGridModel::OnRowsReset() {
  m_flushTimer.stop();
  beginResetModel();
  m_nShownRows = 0;
  m_nShownColumns = ColumnCount();
  endResetModel();
}

// ---------------------------------------------------------------------------
// CGridCellDelegate

QRect CGridCellDelegate::InnerRect(const QRect& cell) {
  return cell.adjusted(kGridCellMargin, kGridCellMargin, -kGridCellMargin, -kGridCellMargin);
}

void CGridCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  // Selected and focused rows look exactly like the others.
  const QRect inner = InnerRect(option.rect);
  if (!inner.isValid()) return;
  painter->save();
  painter->setClipRect(inner);
  painter->fillRect(inner, Qt::white);
  QString text = index.data(Qt::DisplayRole).toString();
  // Only the start of a long text can be seen in the cell; laying out more
  // (a first-column value may be megabytes long) would only cost time.
  const qsizetype visibleChars = std::max<qsizetype>(256, qsizetype(inner.width()) * 4);
  if (text.size() > visibleChars) text.truncate(visibleChars);
  // One line: line breaks and tabs are drawn as blanks.
  for (QChar& c : text) {
    const char16_t u = c.unicode();
    if (u == '\n' || u == '\r' || u == '\t' || u == 0x2028 || u == 0x2029) c = QLatin1Char(' ');
  }
  painter->setFont(option.font);
  painter->setPen(option.palette.color(QPalette::Active, QPalette::Text));
  // Drawing at a baseline point takes the painter's fast path for one line;
  // the clip cuts what does not fit, without an ellipsis.
  const QFontMetrics fm = painter->fontMetrics();
  const int baseline = inner.top() + (inner.height() - fm.height()) / 2 + fm.ascent();
  painter->drawText(QPoint(inner.left(), baseline), text);
  painter->restore();
}

QSize CGridCellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return {kGridColumnWidth, option.fontMetrics.height() + 2 * kGridCellMargin + 2};
}

// ---------------------------------------------------------------------------
// CListCtrlEx

CListCtrlEx::CListCtrlEx(QWidget* parent) : QTableView(parent), m_pModel(new CRecordGridModel(this)) {
  setObjectName(QStringLiteral("list400"));
  setModel(m_pModel);
  setItemDelegate(new CGridCellDelegate(this));
  setShowGrid(true);
  setGridStyle(Qt::SolidLine);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setTextElideMode(Qt::ElideNone);
  setCornerButtonEnabled(false);
  setSortingEnabled(false);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

  // Fixed row heights and column widths: the view never measures cells, so
  // its cost does not depend on how many rows there are.
  QHeaderView* rows = verticalHeader();
  rows->setVisible(false);
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setMinimumSectionSize(1);
  rows->setDefaultSectionSize(fontMetrics().height() + 2 * kGridCellMargin + 2);
  QHeaderView* columns = horizontalHeader();
  columns->setSectionResizeMode(QHeaderView::Interactive);
  columns->setDefaultSectionSize(kGridColumnWidth);
  columns->setDefaultAlignment(Qt::AlignCenter);
  columns->setStretchLastSection(false);
  columns->setSectionsClickable(false);
  columns->setHighlightSections(false);

  // The view paints a selected row's background before the delegate paints
  // its cells; with the highlight equal to the background, selection shows
  // nowhere, not even in the cell margins.
  QPalette pal = palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    pal.setBrush(group, QPalette::Highlight, pal.brush(group, QPalette::Base));
    pal.setBrush(group, QPalette::HighlightedText, pal.brush(group, QPalette::Text));
  }
  setPalette(pal);

  connect(m_pModel, &CRecordGridModel::redrawRequested, this, [this] {
    if (isVisible()) viewport()->repaint();
  });
}

void CListCtrlEx::ResetRecordGrid() { m_pModel->ResetGrid(); }

void CListCtrlEx::Redraw() { m_pModel->Redraw(); }

void CListCtrlEx::AddGridColumn(int index, const QString& caption) {
  m_pModel->AddGridColumn(index, caption);
}

}  // namespace velmora
