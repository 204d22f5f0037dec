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
  return ShownCellText(row, column);
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

void CRecordGridModel::ClearSort() {
  if (m_order.empty() && m_sort == SortState::None) return;
  m_order.clear();
  m_order.shrink_to_fit();
  m_nSortColumn = -1;
  m_sort = SortState::None;
  emit sortCleared();
}

bool CRecordGridModel::SortByColumn(int column, SortState state, IProgress& progress) {
  FlushPendingRows();
  std::vector<int> order;
  if (state != SortState::None) {
    if (column < 0 || column >= m_nShownColumns) return false;
    order = SortedRows(column, state == SortState::Descending, progress);
    if (order.size() != size_t(ItemCount())) return false;  // stopped, or no store
  }
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  // Indexes the views hold (the current cell) follow their row.
  const QModelIndexList before = persistentIndexList();
  std::vector<int> storeRows;
  storeRows.reserve(size_t(before.size()));
  for (const QModelIndex& index : before) storeRows.push_back(StoreRow(index.row()));
  m_order = std::move(order);
  m_nSortColumn = state == SortState::None ? -1 : column;
  m_sort = state;
  if (!before.isEmpty()) {
    std::vector<int> viewRow(m_order.size());
    for (size_t i = 0; i < m_order.size(); ++i) viewRow[size_t(m_order[i])] = int(i);
    QModelIndexList after;
    for (qsizetype i = 0; i < before.size(); ++i) {
      const int store = storeRows[size_t(i)];
      const int row = store >= 0 && size_t(store) < viewRow.size() ? viewRow[size_t(store)] : store;
      after << index(row, before.at(i).column());
    }
    changePersistentIndexList(before, after);
  }
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
  return true;
}

void CRecordGridModel::OnColumnsChanged() {
  // Columns change only while a display starts (rows are then empty or
  // being thrown away), so a reset costs nothing worth saving.
  ClearSort();
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
  ClearSort();
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

QSize CGridCellDelegate::sizeHint(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
  QString text = index.data(Qt::DisplayRole).toString();
  // What one line can show: the start of a long text, line breaks as blanks.
  if (text.size() > 256) text.truncate(256);
  for (QChar& c : text)
    if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t'))
      c = QLatin1Char(' ');
  const int width = option.fontMetrics.horizontalAdvance(text) + 2 * kGridCellMargin + 8;
  return {std::min(width, kGridFitMaxWidth), option.fontMetrics.height() + 2 * kGridCellMargin + 2};
}

// ---------------------------------------------------------------------------
// CListCtrlEx

CListCtrlEx::CListCtrlEx(QWidget* parent)
    : QTableView(parent), m_pModel(new CRecordGridModel(this)) {
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
  // The last column reaches the pane's edge; a click on a caption sorts.
  columns->setStretchLastSection(true);
  columns->setSectionsClickable(true);
  columns->setSortIndicatorShown(false);
  columns->setHighlightSections(false);
  connect(columns, &QHeaderView::sectionClicked, this,
          [this](int column) { emit sortRequested(column); });
  connect(m_pModel, &CRecordGridModel::sortCleared, this,
          [this] { horizontalHeader()->setSortIndicatorShown(false); });
  // The widths follow the first rows' texts as they arrive.
  connect(m_pModel, &QAbstractItemModel::modelReset, this, [this] {
    m_nFittedRows = 0;
    FitColumns();
  });
  connect(m_pModel, &QAbstractItemModel::rowsInserted, this, [this] {
    if (m_nFittedRows < kGridFitRows) FitColumns();
  });

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
        if (!selection.contains(index)) {
          fields << QString();
          continue;
        }
        // A NULL is copied as an empty field, not as the word the grid shows.
        bool isNull = false;
        const QString cell = m_pModel->ShownCellText(r, c, &isNull);
        fields << (isNull ? QString() : TabSeparatedField(cell));
      }
      text += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
  }
  return text;
}

CListCtrlEx::FindOutcome CListCtrlEx::FindText(const QString& text, bool forward,
                                               IProgress& progress, QModelIndex* found,
                                               bool* wrapped) const {
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
    if (!m_pModel->ShownCellText(row, column).contains(text, Qt::CaseInsensitive)) continue;
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

CRecordGridModel::SortState CListCtrlEx::NextSortState(int column) const {
  using State = CRecordGridModel::SortState;
  if (column != m_pModel->SortColumn()) return State::Ascending;
  return m_pModel->Sort() == State::Ascending ? State::Descending : State::None;
}

bool CListCtrlEx::SortByColumn(int column, CRecordGridModel::SortState state, IProgress& progress) {
  // A selection of rows means nothing in another order.
  selectionModel()->clearSelection();
  if (!m_pModel->SortByColumn(column, state, progress)) return false;
  QHeaderView* header = horizontalHeader();
  header->setSortIndicatorShown(state != CRecordGridModel::SortState::None);
  if (state != CRecordGridModel::SortState::None)
    header->setSortIndicator(column, state == CRecordGridModel::SortState::Ascending
                                         ? Qt::AscendingOrder
                                         : Qt::DescendingOrder);
  if (m_pModel->rowCount() > 0) {
    const int current = currentIndex().isValid() ? currentIndex().column() : column;
    selectionModel()->setCurrentIndex(m_pModel->index(0, current), QItemSelectionModel::NoUpdate);
  }
  scrollToTop();
  return true;
}

void CListCtrlEx::FitColumns() {
  QHeaderView* header = horizontalHeader();
  const int columns = m_pModel->columnCount();
  const int rows = std::min(m_pModel->rowCount(), kGridFitRows);
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  for (int c = 0; c < columns; ++c) {
    int width = header->sectionSizeHint(c);
    for (int r = 0; r < rows; ++r)
      width = std::max(width, itemDelegate()->sizeHint(option, m_pModel->index(r, c)).width());
    header->resizeSection(c, std::min(width, kGridAutoMaxWidth));
  }
  m_nFittedRows = rows;
}

void CListCtrlEx::AddGridColumn(int index, const QString& caption) {
  m_pModel->AddGridColumn(index, caption);
}

}  // namespace velmora
