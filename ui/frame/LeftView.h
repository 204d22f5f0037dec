// CLeftView: the left pane, the tree of the recovered objects with a check
// box on every item.
//
// The view holds no database data: the Open command fills and empties its
// tree, the Save command reads the ticks. A mouse click on an item asks the
// main window (message WMU_SHOW_RECORDS) to show that item in the right pane.
#pragma once

#include <QPointer>
#include <QTreeWidget>
#include <QWidget>

namespace velmora {

// The tree control. Check boxes follow these rules:
//  - a mouse click on an item's box gives the item and its whole branch the
//    new state; ticks never propagate upward;
//  - that click does not move the selection, but still requests the item's
//    records when it is not the selected item;
//  - the space bar toggles only the current item's own box;
//  - a key that moves the current item (arrows, Home, End, Page Up/Down,
//    a typed letter) requests the new current item's records, as a click does.
class CTreeCtrlEx : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CTreeCtrlEx(QWidget* parent = nullptr);

  // Where `item`'s check box is drawn, in viewport coordinates; empty when
  // the item is not visible.
  QRect CheckBoxRect(QTreeWidgetItem* item) const;

  // Image `index` of the tree's image list: 0 the root, 1 an object, 2 a
  // category.
  static QIcon TreeImage(int index);

  // Whether `item` counts as ticked.
  static bool IsTicked(const QTreeWidgetItem* item);

  // The object the item names: its real name (item data), else its text.
  static QString ObjectName(const QTreeWidgetItem* item);

  // Gives every descendant of `item` the tick state `ticked`, depth first in
  // tree order.
  static void SetChildrenCheck(QTreeWidgetItem* item, bool ticked);

  // Where clicks are reported (the main window); null: QApplication's
  // first top-level main window.
  void SetNotifyTarget(QObject* target) { m_pNotify = target; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void RequestRecords(QTreeWidgetItem* item);
  QObject* NotifyTarget() const;

  QPointer<QObject> m_pNotify;
  bool m_bSwallowRelease = false;
};

class CLeftView : public QWidget {
  Q_OBJECT
 public:
  explicit CLeftView(QWidget* parent = nullptr);

  CTreeCtrlEx* Tree() const { return m_wndTree; }

 protected:
  bool event(QEvent* event) override;  // answers WMU_GET_TREE_CTRL

 private:
  CTreeCtrlEx* m_wndTree;
};

}  // namespace velmora
