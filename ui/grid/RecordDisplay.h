// The display of the object clicked in the tree: the handler of
// WMU_SHOW_RECORDS and ShowObjectRecords.
//
// While a table loads, the progress callback pumps events, so a click on
// another item can arrive in the middle of a load. Such a request only sets
// the stop flag and is remembered; once the running load has unwound, the
// remembered item is shown. A display therefore never runs inside another.
#pragma once

#include <QPersistentModelIndex>
#include <QString>
#include <functional>

#include "engine/session/Sinks.h"
#include "output/SaveDispatch.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace velmora {

class CRightView;

// Status texts of a display.
inline constexpr const char* kRecordsIdleText = "Records:";
QString RecordsCountText(int count);  // "  Records : %d"
// The count of a load ended by Stop or Esc, saying so.
QString RecordsStoppedText(int count);

// The ObjectKind of a tree category text: "Tables" 8, "Views" 9, "Triggers" 11,
// "Indexes" 10 (after cutting the text before its last "("); anything else 8.
ObjectKind KindFromCategory(const QString& categoryText);

// The name a tree item stands for: a table item's real name (Qt::UserRole
// data) when it carries one, otherwise its text.
QString ObjectNameOfItem(const QTreeWidgetItem* item);

class CRecordDisplay {
 public:
  // Runs one object through the output's dispatch in display mode.
  using Dispatch = std::function<void(const QString& name, ObjectKind kind)>;

  // `stopRequested` is the frame's stop flag (the progress callback returns
  // it). The controls are the status bar's record-count text, progress bar and
  // Stop button; any may be null.
  CRecordDisplay(bool& stopRequested, QTreeWidget* tree, CRightView* rightView,
                 IStatusText* statusText, IProgressBar* progressBar, IControl* stopButton);

  // The dispatch: the frame passes one that calls DispatchObject on its
  // current engine in display mode with the right pane's grid and edit and the
  // status-bar controls; tests pass recorders. Without one (no database
  // opened), a display only resets the pane.
  void SetDispatch(Dispatch dispatch) { m_dispatch = std::move(dispatch); }

  // WMU_SHOW_RECORDS: shows `item`, or, while a display runs, stops it and
  // remembers `item`. Returns 1.
  int OnShowRecords(QTreeWidgetItem* item);

  // Shows `item` in the right pane; 0 when `item` is null, else 1.
  int ShowObjectRecords(QTreeWidgetItem* item);

  bool IsShowingRecords() const { return m_bShowingRecords; }
  QTreeWidgetItem* RequestedItem() const;
  QTreeWidgetItem* ShownItem() const;

 private:
  // One pass of ShowObjectRecords; returns false when it ended early
  // (root or category item), so no hand-over follows.
  bool ShowOne(QTreeWidgetItem* item);
  QTreeWidgetItem* ItemAt(const QPersistentModelIndex& index) const;
  QPersistentModelIndex IndexOf(QTreeWidgetItem* item) const;

  bool& m_bStopRequested;
  QTreeWidget* m_pTree;
  CRightView* m_pRightView;
  IStatusText* m_pStatusText;
  IProgressBar* m_pProgress;
  IControl* m_pStopButton;
  Dispatch m_dispatch;

  bool m_bShowingRecords = false;
  // Tree items are held as persistent indexes: an item deleted meanwhile (a
  // new Open empties the tree) reads back as none instead of dangling.
  QPersistentModelIndex m_hRequestedItem;
  QPersistentModelIndex m_hShownItem;
};

}  // namespace velmora
