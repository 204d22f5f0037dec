#include "ui/grid/RecordDisplay.h"

#include <QTreeWidget>

#include "output/SaveDispatch.h"  // ObjectKind
#include "ui/grid/RightView.h"

namespace velmora {

QString RecordsCountText(int count) { return QStringLiteral("  Records : %1").arg(count); }

QString RecordsStoppedText(int count) {
  return RecordsCountText(count) + QStringLiteral(" (load stopped)");
}

ObjectKind KindFromCategory(const QString& categoryText) {
  QString category = categoryText;
  const qsizetype paren = category.lastIndexOf(QLatin1Char('('));
  if (paren >= 0) category.truncate(paren);
  if (category == QLatin1String("Tables")) return ObjectKind::Table;
  if (category == QLatin1String("Views")) return ObjectKind::View;
  if (category == QLatin1String("Triggers")) return ObjectKind::Trigger;
  if (category == QLatin1String("Indexes")) return ObjectKind::Index;
  if (category == QLatin1String("Deleted Records")) return ObjectKind::Deleted;
  return ObjectKind::Table;
}

QString ObjectNameOfItem(const QTreeWidgetItem* item) {
  if (item == nullptr) return {};
  const QVariant real = item->data(0, Qt::UserRole);
  if (real.isValid() && real.canConvert<QString>() && !real.toString().isEmpty())
    return real.toString();
  return item->text(0);
}

CRecordDisplay::CRecordDisplay(bool& stopRequested, QTreeWidget* tree, CRightView* rightView,
                               IStatusText* statusText, IProgressBar* progressBar,
                               IControl* stopButton)
    : m_bStopRequested(stopRequested),
      m_pTree(tree),
      m_pRightView(rightView),
      m_pStatusText(statusText),
      m_pProgress(progressBar),
      m_pStopButton(stopButton) {}

QPersistentModelIndex CRecordDisplay::IndexOf(QTreeWidgetItem* item) const {
  if (item == nullptr || m_pTree == nullptr || item->treeWidget() != m_pTree) return {};
  return QPersistentModelIndex(m_pTree->indexFromItem(item));
}

QTreeWidgetItem* CRecordDisplay::ItemAt(const QPersistentModelIndex& index) const {
  if (!index.isValid() || m_pTree == nullptr) return nullptr;
  return m_pTree->itemFromIndex(index);
}

QTreeWidgetItem* CRecordDisplay::RequestedItem() const { return ItemAt(m_hRequestedItem); }
QTreeWidgetItem* CRecordDisplay::ShownItem() const { return ItemAt(m_hShownItem); }

int CRecordDisplay::OnShowRecords(QTreeWidgetItem* item) {
  if (item == nullptr) return 1;
  const QPersistentModelIndex requested = IndexOf(item);
  if (!requested.isValid()) return 1;  // not an item of our tree
  m_hRequestedItem = requested;
  if (!m_bShowingRecords) {
    ShowObjectRecords(item);
  } else if (requested != m_hShownItem) {
    // The running load stops at its next progress call; ShowObjectRecords
    // then serves this request.
    m_bStopRequested = true;
  }
  return 1;
}

int CRecordDisplay::ShowObjectRecords(QTreeWidgetItem* item) {
  if (m_pProgress) m_pProgress->SetVisible(false);
  if (m_pStatusText) {
    m_pStatusText->SetVisible(false);
    m_pStatusText->SetText(QString::fromLatin1(kRecordsIdleText));
  }
  if (m_pStopButton) m_pStopButton->SetVisible(false);
  if (item == nullptr) return 0;

  // Requests that arrive while an item loads are served one after the other
  // here, not by nesting displays.
  while (item != nullptr) {
    if (!ShowOne(item)) return 1;
    if (m_hRequestedItem == m_hShownItem) break;
    item = ItemAt(m_hRequestedItem);
    if (item == nullptr) break;  // the requested item no longer exists
    if (m_pProgress) m_pProgress->SetVisible(false);
    if (m_pStatusText) {
      m_pStatusText->SetVisible(false);
      m_pStatusText->SetText(QString::fromLatin1(kRecordsIdleText));
    }
    if (m_pStopButton) m_pStopButton->SetVisible(false);
  }
  // No load runs any more: a stray progress call is told to stop.
  m_bStopRequested = true;
  return 1;
}

bool CRecordDisplay::ShowOne(QTreeWidgetItem* item) {
  m_hShownItem = IndexOf(item);
  m_bStopRequested = false;

  QTreeWidgetItem* parent = item->parent();
  if (parent == nullptr || parent->parent() == nullptr) return false;  // root or category
  const QString name = ObjectNameOfItem(item);
  const QString category = parent->text(0);

  CListCtrlEx* grid = m_pRightView ? m_pRightView->Grid() : nullptr;
  CStatementEdit* edit = m_pRightView ? m_pRightView->StatementEdit() : nullptr;
  if (grid) grid->ResetRecordGrid();
  if (edit) edit->SetText(QString());
  if (grid) grid->DeleteAllColumns();

  const ObjectKind kind = KindFromCategory(category);

  m_bShowingRecords = true;
  if (m_pTree) m_pTree->setCurrentItem(item);
  if (m_pStopButton) m_pStopButton->SetVisible(true);

  if (m_dispatch) m_dispatch(name, kind);

  if (m_pProgress) {
    m_pProgress->SetPos(0);
    m_pProgress->SetVisible(false);
  }
  if (m_pStopButton) m_pStopButton->SetVisible(false);
  m_bShowingRecords = false;

  // The stop flag set while this item is still the one wanted came from
  // Stop or Esc, not from a click on another item.
  const bool stopped = m_bStopRequested && m_hRequestedItem == m_hShownItem;
  if (grid) grid->Redraw();  // every row received is now in the view
  const int n = grid ? grid->ItemCount() : 0;
  if ((n > 0 || stopped) && m_pStatusText) {
    m_pStatusText->SetVisible(true);
    m_pStatusText->SetText(stopped ? RecordsStoppedText(n) : RecordsCountText(n));
  }
  return true;
}

}  // namespace velmora
