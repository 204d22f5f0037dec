// The main frame's commands around the recovery itself: the recent files,
// files dropped on the window, and the record grid's Find and Copy.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QShortcut>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "platform/MessageBox.h"
#include "platform/NativeFiles.h"
#include "platform/Text.h"
#include "ui/frame/MainFrame.h"
#include "ui/frame/WidgetMessageBox.h"
#include "ui/grid/RightView.h"
#include "ui/style/AppStyle.h"

namespace velmora {
namespace {

constexpr const char* kRecentFilesKey = "RecentFiles";

// The first local file among the dropped URLs, with its name's exact bytes;
// empty when there is none.
QString DroppedFile(const QMimeData* mime) {
  if (mime == nullptr || !mime->hasUrls()) return {};
  for (const QUrl& url : mime->urls())
    if (const QString path = PathFromFileUrl(url); !path.isEmpty()) return path;
  return {};
}

// Whether `path` holds bytes that are not UTF-8 (kept by PathFromNative as
// lone surrogates, which a settings file does not keep).
bool HoldsRawBytes(const QString& path) {
  for (qsizetype i = 0; i < path.size(); ++i) {
    const char16_t u = path.at(i).unicode();
    if (QChar::isHighSurrogate(u) && i + 1 < path.size() &&
        QChar::isLowSurrogate(path.at(i + 1).unicode())) {
      ++i;
    } else if (QChar::isSurrogate(u)) {
      return true;
    }
  }
  return false;
}

// The recent files are kept as texts; a path holding bytes that are not
// UTF-8 is kept as its bytes instead, so that it comes back exactly.
void StoreRecentFiles(const QStringList& files) {
  QVariantList items;
  for (const QString& file : files)
    items << (HoldsRawBytes(file) ? QVariant(NativePath(file)) : QVariant(file));
  AppSettings().setValue(QString::fromLatin1(kRecentFilesKey), items);
}

}  // namespace

// --- recent files ---

QStringList CMainFrame::RecentFiles() {
  // A list of one text may come back as that text alone.
  const QVariant stored = AppSettings().value(QString::fromLatin1(kRecentFilesKey));
  const QVariantList items =
      stored.typeId() == QMetaType::QString || stored.typeId() == QMetaType::QByteArray
          ? QVariantList{stored}
          : stored.toList();
  QStringList files;
  for (const QVariant& item : items)
    files << (item.typeId() == QMetaType::QByteArray ? PathFromNative(item.toByteArray())
                                                     : item.toString());
  files.removeAll(QString());
  files.removeDuplicates();
  return files.mid(0, kMaxRecentFiles);
}

void CMainFrame::AddRecentFile(const QString& path) {
  QStringList files = RecentFiles();
  files.removeAll(path);
  files.prepend(path);
  StoreRecentFiles(files.mid(0, kMaxRecentFiles));
  UpdateRecentMenu();
}

void CMainFrame::UpdateRecentMenu() {
  if (m_pRecentMenu == nullptr) return;
  m_pRecentMenu->clear();
  const QStringList files = RecentFiles();
  for (int i = 0; i < files.size(); ++i) {
    // The number is the entry's mnemonic; an ampersand in a path is shown as one.
    // Bytes that are not UTF-8 are shown as \xHH.
    QString text = EscapeControls(files.at(i));
    text.replace(QLatin1Char('&'), QLatin1String("&&"));
    QAction* action = m_pRecentMenu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(text));
    action->setData(int(ID_FILE_MRU_FIRST) + i);
    action->setToolTip(PlainToolTip(EscapeControls(files.at(i))));
    const QString path = files.at(i);
    // Queued: the Open runs after the menu has closed, not inside its loop.
    connect(action, &QAction::triggered, this,
            [this, path] { QTimer::singleShot(0, this, [this, path] { OnRecentFile(path); }); });
  }
  m_pRecentMenu->setEnabled(!files.isEmpty());
}

void CMainFrame::OnRecentFile(const QString& path) {
  if (!CanOpen()) return;
  if (!IsNativeFile(path)) {
    QStringList files = RecentFiles();
    files.removeAll(path);
    StoreRecentFiles(files);
    UpdateRecentMenu();
    ShowMessageBox(
        QStringLiteral("The file \"%1\" no longer exists. It was removed from the recent files.")
            .arg(path));
    return;
  }
  OpenDatabasePath(path);
}

// --- drag and drop ---

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  if (CanOpen() && !DroppedFile(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
    return;
  }
  event->ignore();
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* event) {
  if (CanOpen() && !DroppedFile(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
    return;
  }
  event->ignore();
}

void CMainFrame::dropEvent(QDropEvent* event) {
  const QString path = DroppedFile(event->mimeData());
  if (path.isEmpty() || !CanOpen()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  // The drag ends before the scan starts: the source program is not held.
  QTimer::singleShot(0, this, [this, path] { OpenDatabasePath(path); });
}

// --- find and copy ---

void CMainFrame::CreateEditCommands() {
  auto* copy = new QAction(QStringLiteral("&Copy"), this);
  copy->setData(int(ID_EDIT_COPY));
  copy->setObjectName(QStringLiteral("command%1").arg(int(ID_EDIT_COPY)));
  copy->setStatusTip(QStringLiteral("Copy the selected cells with their column names"));
  // Shown in the menu only: Ctrl+C reaches the grid (and the statement edit,
  // which copies its own text) as a key.
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  connect(copy, &QAction::triggered, this, &CMainFrame::OnEditCopy);
  m_actions.insert(ID_EDIT_COPY, copy);

  auto* find = new QAction(QStringLiteral("&Find..."), this);
  find->setData(int(ID_EDIT_FIND));
  find->setObjectName(QStringLiteral("command%1").arg(int(ID_EDIT_FIND)));
  find->setStatusTip(QStringLiteral("Find a text in the shown table"));
  find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  find->setShortcutContext(Qt::WindowShortcut);
  connect(find, &QAction::triggered, this, &CMainFrame::OnEditFind);
  m_actions.insert(ID_EDIT_FIND, find);
  addAction(find);
}

void CMainFrame::CreateFindBar() {
  m_pFindBar = new QToolBar(QStringLiteral("Find"), this);
  m_pFindBar->setObjectName(QStringLiteral("findBar"));
  m_pFindBar->setMovable(false);
  m_pFindBar->setFloatable(false);
  m_pFindBar->addWidget(new QLabel(QStringLiteral(" Find: "), m_pFindBar));
  m_pFindEdit = new QLineEdit(m_pFindBar);
  m_pFindEdit->setObjectName(QStringLiteral("findEdit"));
  m_pFindEdit->setClearButtonEnabled(true);
  m_pFindEdit->setMaximumWidth(320);
  m_pFindBar->addWidget(m_pFindEdit);
  QAction* next = m_pFindBar->addAction(QStringLiteral("Next"));
  next->setObjectName(QStringLiteral("findNext"));
  QAction* previous = m_pFindBar->addAction(QStringLiteral("Previous"));
  previous->setObjectName(QStringLiteral("findPrevious"));
  m_pFindStatus = new QLabel(m_pFindBar);
  m_pFindStatus->setObjectName(QStringLiteral("findStatus"));
  m_pFindStatus->setTextFormat(Qt::PlainText);
  m_pFindStatus->setContentsMargins(8, 0, 8, 0);
  m_pFindBar->addWidget(m_pFindStatus);
  QAction* close = m_pFindBar->addAction(QStringLiteral("Close"));
  addToolBar(Qt::BottomToolBarArea, m_pFindBar);
  m_pFindBar->hide();

  connect(m_pFindEdit, &QLineEdit::returnPressed, this, [this] {
    FindInGrid(m_pFindEdit->text(), !(QApplication::keyboardModifiers() & Qt::ShiftModifier));
  });
  connect(next, &QAction::triggered, this, [this] { FindInGrid(m_pFindEdit->text(), true); });
  connect(previous, &QAction::triggered, this, [this] { FindInGrid(m_pFindEdit->text(), false); });
  connect(close, &QAction::triggered, m_pFindBar, &QWidget::hide);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_pFindBar);
  escape->setContext(Qt::WidgetWithChildrenShortcut);
  connect(escape, &QShortcut::activated, this, [this] {
    m_pFindBar->hide();
    if (QWidget* grid = ListCtrl()) grid->setFocus(Qt::OtherFocusReason);
  });
}

void CMainFrame::OnEditFind() {
  m_pFindBar->show();
  m_pFindEdit->setFocus(Qt::ShortcutFocusReason);
  m_pFindEdit->selectAll();
}

void CMainFrame::RunGridWork(const std::function<void(IProgress& progress)>& work) {
  EngineCall call(*this);
  m_bStopRequested = false;
  m_btnStop->show();
  QApplication::setOverrideCursor(Qt::BusyCursor);
  work(m_engineProgress);
  QApplication::restoreOverrideCursor();
  m_btnStop->hide();
}

bool CMainFrame::FindInGrid(const QString& text, bool forward) {
  CListCtrlEx* grid = m_pRightView->Grid();
  if (EngineBusy() || m_bSaving || m_bCloseAfterWork) {
    m_pFindStatus->setText(QStringLiteral("Wait until the current work has ended."));
    return false;
  }
  if (!grid->isVisible() || grid->ColumnCount() == 0) {
    m_pFindStatus->setText(QStringLiteral("Click a table in the tree first."));
    return false;
  }
  if (text.isEmpty()) {
    m_pFindStatus->setText(QStringLiteral("Type the text to find."));
    return false;
  }
  grid->GridModel()->FlushPendingRows();
  QModelIndex found;
  bool wrapped = false;
  CListCtrlEx::FindOutcome outcome = CListCtrlEx::FindOutcome::NotFound;
  RunGridWork([&](IProgress& progress) {
    outcome = grid->FindText(text, forward, progress, &found, &wrapped);
  });
  switch (outcome) {
    case CListCtrlEx::FindOutcome::Found:
      grid->selectionModel()->setCurrentIndex(found, QItemSelectionModel::ClearAndSelect);
      grid->scrollTo(found);
      m_pFindStatus->setText(!wrapped  ? QString()
                             : forward ? QStringLiteral("Passed the end; continued from the top.")
                                       : QStringLiteral("Passed the top; continued from the end."));
      return true;
    case CListCtrlEx::FindOutcome::Stopped:
      m_pFindStatus->setText(QStringLiteral("The search was stopped."));
      return false;
    case CListCtrlEx::FindOutcome::NotFound:
      break;
  }
  m_pFindStatus->setText(QStringLiteral("\"%1\" was not found.").arg(text));
  return false;
}

bool CMainFrame::OnSortColumn(int column) {
  CListCtrlEx* grid = m_pRightView->Grid();
  if (EngineBusy() || m_bSaving || m_bCloseAfterWork) {
    m_pMessagePane->setText(QStringLiteral("The grid can be sorted once the table has loaded."));
    return false;
  }
  bool sorted = false;
  RunGridWork([&](IProgress& progress) {
    sorted = grid->SortByColumn(column, grid->NextSortState(column), progress);
  });
  m_pMessagePane->setText(sorted ? QStringLiteral("Ready")
                                 : QStringLiteral("The sort was stopped."));
  return sorted;
}

void CMainFrame::OnEditCopy() {
  CListCtrlEx* grid = m_pRightView->Grid();
  if (EngineBusy() || m_bSaving || m_bCloseAfterWork || !grid->isVisible()) return;
  QString text;
  bool stopped = false;
  RunGridWork([&](IProgress& progress) { text = grid->SelectionText(progress, &stopped); });
  if (stopped || text.isEmpty()) return;
  QGuiApplication::clipboard()->setText(text);
}

}  // namespace velmora
