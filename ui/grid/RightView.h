// CRightView: the right pane. It holds the record grid and the statement
// edit; both always cover the whole pane, and the display decides which one
// is visible. It draws nothing itself.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QWidget>

#include "engine/session/Sinks.h"
#include "ui/grid/PageMapView.h"
#include "ui/grid/RecordGrid.h"

namespace velmora {

// The statement edit (child 401): the SQL of a view, index or trigger.
class CStatementEdit : public QPlainTextEdit, public IStatementEdit {
  Q_OBJECT
 public:
  explicit CStatementEdit(QWidget* parent = nullptr);

  // IStatementEdit. The statement arrives with CR LF line ends; it is shown
  // with one line break for each.
  void SetText(const QString& text) override;
  void SetFocus() override { setFocus(Qt::OtherFocusReason); }
  void SetVisible(bool visible) override { setVisible(visible); }
};

// The recovery summary (child 402): read-only text, shown for the tree's
// root item.
class CSummaryView : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit CSummaryView(QWidget* parent = nullptr);
};

class CRightView : public QWidget {
  Q_OBJECT
 public:
  explicit CRightView(QWidget* parent = nullptr);

  CListCtrlEx* Grid() const { return m_pGrid; }
  CStatementEdit* StatementEdit() const { return m_pEdit; }
  CSummaryView* Summary() const { return m_pSummary; }
  CPageMapView* PageMap() const { return m_pPageMap; }
  // Shows `text` in the summary view and, when `pages` is given, the page map
  // under it; the grid and the edit are hidden.
  void ShowSummary(const QString& text, const PagePicture* pages = nullptr);
  // Hides the summary and the page map (a table or statement display takes the pane).
  void HideSummary();
  // A line above the grid that says what of the shown table was lost
  // (plain text, wrapped); the grid and the edit move down under it.
  void ShowHint(const QString& text);
  void HideHint();
  QLabel* Hint() const { return m_pHint; }

 protected:
  bool event(QEvent* event) override;  // answers WMU_GET_LIST_CTRL and WMU_GET_TEXT_CTRL
  void resizeEvent(QResizeEvent* event) override;

 private:
  CListCtrlEx* m_pGrid;       // 400
  CStatementEdit* m_pEdit;    // 401
  QSplitter* m_pSummaryPane;  // the summary text over the page map
  CSummaryView* m_pSummary;   // 402
  CPageMapView* m_pPageMap;
  QLabel* m_pHint;
  void LayoutChildren();
};

}  // namespace velmora
