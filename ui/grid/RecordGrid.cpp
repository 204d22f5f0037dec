#include "ui/grid/RecordGrid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <map>

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
  // A selected cell shows in its inside only; the margins and a focused
  // cell look like the others.
  const QRect inner = InnerRect(option.rect);
  if (!inner.isValid()) return;
  painter->save();
  painter->setClipRect(inner);
  painter->fillRect(inner, (option.state & QStyle::State_Selected)
                               ? QColor::fromRgb(kGridSelectionRgb)
                               : QColor(Qt::white));
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
  // Cells are selected (click, drag, Shift and Ctrl, Ctrl+A) for copying.
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
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

  // The view paints a selected cell's background before the delegate paints
  // it; with the highlight equal to the background, the selection shows only
  // where the delegate paints it, never in the cell margins.
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

QString TabSeparatedField(const QString& text) {
  bool quote = false;
  for (const QChar c : text) {
    if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r') ||
        c == QLatin1Char('"')) {
      quote = true;
      break;
    }
  }
  if (!quote) return text;
  QString quoted = text;
  quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString CListCtrlEx::SelectionText(IProgress& progress, bool* stopped) const {
  if (stopped != nullptr) *stopped = false;
  // Works on the selection's ranges, never on a list of every selected
  // index: Ctrl+A on a large table is one range.
  const QItemSelection selection = selectionModel()->selection();
  if (selection.isEmpty()) return {};
  // Rows as merged intervals (first -> last), columns as a set.
  std::map<int, int> rows;
  QList<int> columns;
  for (const QItemSelectionRange& range : selection) {
    if (!range.isValid()) continue;
    for (int c = range.left(); c <= range.right(); ++c)
      if (!columns.contains(c)) columns << c;
    rows[range.top()] = std::max(rows[range.top()], range.bottom());
  }
  std::sort(columns.begin(), columns.end());
  std::map<int, int> merged;
  for (const auto& [first, last] : rows) {
    if (!merged.empty() && first <= std::prev(merged.end())->second + 1) {
      auto& back = std::prev(merged.end())->second;
      back = std::max(back, last);
    } else {
      merged[first] = last;
    }
  }

  QString text;
  QStringList fields;
  for (int c : columns) fields << TabSeparatedField(m_pModel->ColumnCaption(c));
  text += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
  qint64 cells = 0;
  for (const auto& [first, last] : merged) {
    for (int r = first; r <= last; ++r) {
      fields.clear();
      for (int c : columns) {
        if (++cells % kGridCellsPerStopCheck == 0 && progress.Poll()) {
          if (stopped != nullptr) *stopped = true;
          return {};
        }
        const QModelIndex index = m_pModel->index(r, c);
        fields << (selection.contains(index) ? TabSeparatedField(m_pModel->CellText(r, c))
                                             : QString());
      }
      text += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
  }
  return text;
}

CListCtrlEx::FindOutcome CListCtrlEx::FindText(const QString& text, bool forward,
                                               IProgress& progress,
                                               QModelIndex* found, bool* wrapped) const {
  if (wrapped != nullptr) *wrapped = false;
  const qint64 rowCount = m_pModel->rowCount(), columnCount = m_pModel->columnCount();
  const qint64 total = rowCount * columnCount;
  if (text.isEmpty() || total == 0) return FindOutcome::NotFound;
  const QModelIndex current = currentIndex();
  const bool hasCurrent =
      current.isValid() && current.row() < rowCount && current.column() < columnCount;
  const qint64 origin = hasCurrent ? qint64(current.row()) * columnCount + current.column()
                                   : (forward ? total - 1 : 0);
  qint64 at = origin;
  for (qint64 k = 1; k <= total; ++k) {
    if (k % kGridCellsPerStopCheck == 0 && progress.Poll()) return FindOutcome::Stopped;
    at = forward ? (at + 1 == total ? 0 : at + 1) : (at == 0 ? total - 1 : at - 1);
    const int row = int(at / columnCount), column = int(at % columnCount);
    if (!m_pModel->CellText(row, column).contains(text, Qt::CaseInsensitive)) continue;
    if (found != nullptr) *found = m_pModel->index(row, column);
    if (wrapped != nullptr) *wrapped = hasCurrent && (forward ? at <= origin : at >= origin);
    return FindOutcome::Found;
  }
  return FindOutcome::NotFound;
}

void CListCtrlEx::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    emit copyRequested();
    event->accept();
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      currentIndex().isValid()) {
    emit valueRequested(currentIndex());
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_Space && event->modifiers() == Qt::ShiftModifier) {
    QItemSelection rows;
    const int last = m_pModel->columnCount() - 1;
    for (const QItemSelectionRange& range : selectionModel()->selection())
      rows.select(m_pModel->index(range.top(), 0), m_pModel->index(range.bottom(), last));
    if (rows.isEmpty() && currentIndex().isValid())
      rows.select(m_pModel->index(currentIndex().row(), 0),
                  m_pModel->index(currentIndex().row(), last));
    if (last >= 0) selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

void CListCtrlEx::Redraw() { m_pModel->Redraw(); }

void CListCtrlEx::AddGridColumn(int index, const QString& caption) {
  m_pModel->AddGridColumn(index, caption);
}

}  // namespace velmora
