// The custom messages between the main frame and its two panes.
//
// Each is a QEvent of its own type number, sent synchronously with
// QCoreApplication::sendEvent; the receiver writes its answer into the event.
// The same number means different things for different receivers:
//
//   1325 WMU_GET_TREE_CTRL  to CLeftView   result: the object tree (QTreeWidget*)
//   1326 WMU_SHOW_RECORDS   to CMainFrame  param: the tree item; runs or queues the display
//   1327 WMU_STOP_PROCESS   to CMainFrame  sets the stop flag
//   1327 WMU_GET_LIST_CTRL  to CRightView  result: the record grid (a QWidget* that
//                                          also implements IRecordGrid)
//   1328 WMU_GET_TEXT_CTRL  to CRightView  result: the statement edit (QPlainTextEdit*)
//
// When the right pane leaves 1327/1328 unanswered the frame takes its grid
// and edit directly.
//   1329 WMU_OPEN_DATABASE  to CMainFrame  runs the Open command
//
// A pane that cannot answer leaves the result null.
#pragma once

#include <QCoreApplication>
#include <QEvent>

class QTreeWidgetItem;

namespace velmora {

enum : int {
  WMU_GET_TREE_CTRL = 1325,
  WMU_SHOW_RECORDS = 1326,
  WMU_STOP_PROCESS = 1327,
  WMU_GET_LIST_CTRL = 1327,
  WMU_GET_TEXT_CTRL = 1328,
  WMU_OPEN_DATABASE = 1329,
};

class CustomEvent : public QEvent {
 public:
  explicit CustomEvent(int type, QTreeWidgetItem* item = nullptr)
      : QEvent(static_cast<QEvent::Type>(type)), m_pItem(item) {}

  QTreeWidgetItem* Item() const { return m_pItem; }
  void* Result() const { return m_pResult; }
  void SetResult(void* result) {
    m_pResult = result;
    m_bAnswered = true;
  }
  bool Answered() const { return m_bAnswered; }

 private:
  QTreeWidgetItem* m_pItem;
  void* m_pResult = nullptr;
  bool m_bAnswered = false;
};

// Sends message `type` to `receiver` and returns what it answered (null when
// the receiver is null or does not know the message).
inline void* SendCustom(QObject* receiver, int type, QTreeWidgetItem* item = nullptr) {
  if (receiver == nullptr) return nullptr;
  CustomEvent event(type, item);
  QCoreApplication::sendEvent(receiver, &event);
  return event.Result();
}

}  // namespace velmora
