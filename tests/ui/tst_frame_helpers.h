// Helpers shared by the window tests: answering the database selection
// dialog, reaching the frame's panes, simulating long work.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidgetItem>
#include <functional>

#include "tests/support/TestSupport.h"
#include "ui/frame/LeftView.h"
#include "ui/frame/MainFrame.h"
#include "ui/frame/SQLiteOpenFile.h"
#include "ui/grid/CustomEvents.h"

namespace velmora::test {

// Answers the next database selection dialog: Browse picks `path` (an empty
// path cancels the dialog instead), then Recover. Runs from the modal loop.
inline void AnswerNextSelection(const QString& path) {
  auto* poll = new QTimer(qApp);
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, path] {
    auto* dialog = qobject_cast<CSQLiteOpenFile*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    poll->stop();
    poll->deleteLater();
    if (path.isEmpty()) {
      dialog->CancelButton()->click();
      return;
    }
    const OpenFileChooser previous = SetOpenFileChooser([path](QWidget*) { return path; });
    dialog->BrowseButton()->click();
    SetOpenFileChooser(previous);
    dialog->RecoverButton()->click();
  });
  poll->start();
}

// Runs the Open command of `frame` on `path` (as the start-up does).
inline void OpenThrough(CMainFrame& frame, const QString& path) {
  AnswerNextSelection(path);
  SendCustom(&frame, WMU_OPEN_DATABASE);
}

// Simulated long work: an engine call that calls the frame's progress for
// at most `ms` milliseconds, until it returns true or `until` holds.
// Returns whether the progress asked to stop.
inline bool LongWork(CMainFrame& frame, int ms, const std::function<bool()>& until = {}) {
  CMainFrame::EngineCall call(frame);
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    if (frame.EngineProgress().Poll()) return true;
    if (until && until()) return false;
    QTest::qSleep(1);
  }
  return false;
}

// Items of `tree` in tree order, as "depth:text".
inline QStringList TreeOutline(QTreeWidget* tree) {
  QStringList lines;
  std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* item, int depth) {
    lines << QStringLiteral("%1:%2").arg(depth).arg(item->text(0));
    for (int i = 0; i < item->childCount(); ++i) walk(item->child(i), depth + 1);
  };
  for (int i = 0; i < tree->topLevelItemCount(); ++i) walk(tree->topLevelItem(i), 0);
  return lines;
}

// Collects the WMU_SHOW_RECORDS requests sent by the tree.
class RequestRecorder : public QObject {
 public:
  QList<QTreeWidgetItem*> requests;

 protected:
  bool event(QEvent* event) override {
    if (int(event->type()) == WMU_SHOW_RECORDS) {
      requests << static_cast<CustomEvent*>(event)->Item();
      return true;
    }
    return QObject::event(event);
  }
};

}  // namespace velmora::test
