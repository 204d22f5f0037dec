#include "ui/frame/LeftView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QVBoxLayout>

#include "res/ResourceIds.h"
#include "ui/grid/CustomEvents.h"

namespace velmora {

CTreeCtrlEx::CTreeCtrlEx(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("objectTree"));
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setMouseTracking(true);  // hot tracking
  setUniformRowHeights(true);
  setIconSize(QSize(16, 16));
  // Ticks are changed by the clicks handled below and by the space bar only.
  setEditTriggers(QAbstractItemView::NoEditTriggers);
}

QIcon CTreeCtrlEx::TreeImage(int index) { return QIcon(::velmora::TreeImage(index)); }

bool CTreeCtrlEx::IsTicked(const QTreeWidgetItem* item) {
  return item != nullptr && item->checkState(0) == Qt::Checked;
}

QString CTreeCtrlEx::ObjectName(const QTreeWidgetItem* item) {
  if (item == nullptr) return {};
  const QVariant real = item->data(0, Qt::UserRole);
  return real.isValid() ? real.toString() : item->text(0);
}

void CTreeCtrlEx::SetChildrenCheck(QTreeWidgetItem* item, bool ticked) {
  if (item == nullptr) return;
  // The tree has two levels under its root; an explicit stack keeps the
  // walk bounded by the item count whatever the depth.
  QList<QTreeWidgetItem*> pending;
  for (int i = item->childCount() - 1; i >= 0; --i) pending.append(item->child(i));
  while (!pending.isEmpty()) {
    QTreeWidgetItem* child = pending.takeLast();
    child->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    for (int i = child->childCount() - 1; i >= 0; --i) pending.append(child->child(i));
  }
}

QRect CTreeCtrlEx::CheckBoxRect(QTreeWidgetItem* item) const {
  if (item == nullptr) return {};
  const QModelIndex index = indexFromItem(item, 0);
  const QRect itemRect = visualRect(index);
  if (!index.isValid() || itemRect.isEmpty()) return {};
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = itemRect;
  option.index = index;
  option.features |= QStyleOptionViewItem::HasCheckIndicator;
  option.checkState = item->checkState(0);
  if (!item->icon(0).isNull()) {
    option.features |= QStyleOptionViewItem::HasDecoration;
    option.icon = item->icon(0);
    option.decorationSize = iconSize();
  }
  option.features |= QStyleOptionViewItem::HasDisplay;
  option.text = item->text(0);
  return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

QObject* CTreeCtrlEx::NotifyTarget() const {
  if (m_pNotify) return m_pNotify;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<QMainWindow*>(w) != nullptr) return w;
  return nullptr;
}

void CTreeCtrlEx::RequestRecords(QTreeWidgetItem* item) {
  SendCustom(NotifyTarget(), WMU_SHOW_RECORDS, item);
}

void CTreeCtrlEx::mousePressEvent(QMouseEvent* event) {
  m_bSwallowRelease = false;
  const QPoint pos = event->position().toPoint();
  QTreeWidgetItem* item = itemAt(pos);
  if (item == nullptr || !isEnabled() ||
      (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)) {
    QTreeWidget::mousePressEvent(event);
    return;
  }
  QTreeWidgetItem* selectedBefore = currentItem();
  if (event->button() == Qt::LeftButton && CheckBoxRect(item).contains(pos)) {
    // The box click: the item and its whole branch take the new state; the
    // selection stays where it is.
    const bool ticked = !IsTicked(item);
    SetChildrenCheck(item, ticked);
    item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    m_bSwallowRelease = true;
    event->accept();
    if (item != selectedBefore) RequestRecords(item);
    return;
  }
  // A click on the item's icon or label (the expand button lies outside
  // the item's rectangle and requests nothing).
  const QRect itemRect = visualItemRect(item);
  const bool onItem = itemRect.contains(pos);
  QTreeWidget::mousePressEvent(event);
  if (!onItem || item == selectedBefore) return;
  // Selecting a branch expands it and collapses the branch left behind.
  if (event->button() == Qt::LeftButton) {
    if (item->childCount() > 0) item->setExpanded(true);
    if (selectedBefore != nullptr && selectedBefore->childCount() > 0) {
      bool isAncestor = false;
      for (QTreeWidgetItem* p = item->parent(); p != nullptr; p = p->parent())
        if (p == selectedBefore) isAncestor = true;
      if (!isAncestor && selectedBefore->parent() != nullptr) selectedBefore->setExpanded(false);
    }
  }
  RequestRecords(item);
}

void CTreeCtrlEx::mouseReleaseEvent(QMouseEvent* event) {
  if (m_bSwallowRelease) {
    m_bSwallowRelease = false;
    event->accept();
    return;
  }
  QTreeWidget::mouseReleaseEvent(event);
}

void CTreeCtrlEx::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  QTreeWidgetItem* item = itemAt(pos);
  if (item != nullptr && event->button() == Qt::LeftButton && CheckBoxRect(item).contains(pos)) {
    // The second click of a double click on a box is one more box click.
    mousePressEvent(event);
    return;
  }
  QTreeWidget::mouseDoubleClickEvent(event);
}

void CTreeCtrlEx::keyPressEvent(QKeyEvent* event) {
  QTreeWidgetItem* before = currentItem();
  QTreeWidget::keyPressEvent(event);
  QTreeWidgetItem* after = currentItem();
  // The right pane follows the highlight.
  if (after != nullptr && after != before && isEnabled()) RequestRecords(after);
}

CLeftView::CLeftView(QWidget* parent) : QWidget(parent), m_wndTree(new CTreeCtrlEx(this)) {
  setObjectName(QStringLiteral("leftView"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_wndTree);
  resize(100, 350);
}

bool CLeftView::event(QEvent* event) {
  if (event->type() == static_cast<QEvent::Type>(WMU_GET_TREE_CTRL)) {
    static_cast<CustomEvent*>(event)->SetResult(m_wndTree);
    return true;
  }
  return QWidget::event(event);
}

}  // namespace velmora
