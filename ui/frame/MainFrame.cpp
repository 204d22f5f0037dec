#include "ui/frame/MainFrame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <tuple>

#include "engine/passes/SchemaSearch.h"
#include "engine/schema/SchemaRows.h"
#include "output/DeletedOutput.h"
#include "output/SaveDispatch.h"
#include "platform/Folders.h"
#include "platform/MessageBox.h"
#include "platform/NativeFiles.h"
#include "res/ResourceIds.h"
#include "ui/dialogs/AboutDlg.h"
#include "ui/dialogs/SaveCommand.h"
#include "ui/dialogs/SavingProcessDlg.h"
#include "ui/frame/LeftView.h"
#include "ui/frame/SQLiteOpenFile.h"
#include "ui/frame/WidgetMessageBox.h"
#include "ui/grid/CustomEvents.h"
#include "ui/grid/RecordDisplay.h"
#include "ui/grid/RightView.h"
#include "ui/style/AppStyle.h"

namespace velmora {
namespace {

constexpr int kPumpIntervalMs = 10;

bool DesktopOpener(const QUrl& url) { return QDesktopServices::openUrl(url); }

UrlOpener& Opener() {
  static UrlOpener opener = DesktopOpener;
  return opener;
}

bool IsCtrlBreak(const QKeyEvent* key) {
  return key->key() == Qt::Key_Cancel ||
         (key->key() == Qt::Key_Pause && (key->modifiers() & Qt::ControlModifier));
}

QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, const QString& text, int image) {
  auto* item = new QTreeWidgetItem(parent, QStringList{text});
  item->setIcon(0, CTreeCtrlEx::TreeImage(image));
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  item->setCheckState(0, Qt::Unchecked);
  return item;
}

}  // namespace

UrlOpener SetUrlOpener(UrlOpener opener) {
  UrlOpener previous = Opener();
  Opener() = opener ? std::move(opener) : UrlOpener(DesktopOpener);
  return previous;
}

bool OpenUrl(const QUrl& url) { return !url.isEmpty() && Opener()(url); }

CMainFrame::EngineCall::EngineCall(CMainFrame& frame) : m_frame(frame) {
  // The first callback of an operation lets pending events through at once.
  if (m_frame.m_nEngineCalls++ == 0) m_frame.m_pumpTimer.invalidate();
}

CMainFrame::EngineCall::~EngineCall() {
  if (--m_frame.m_nEngineCalls == 0 && m_frame.m_bCloseAfterWork) {
    // The close was confirmed while the engine was running: finish it once
    // the call stack has unwound.
    QTimer::singleShot(0, &m_frame, [frame = &m_frame] { frame->FinishPendingClose(); });
  }
}

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("mainFrame"));
  setWindowTitle(QStringLiteral("Velmora SQLite Database Recovery"));
  setWindowIcon(LoadIcon(IDR_MAINFRAME));
  setAttribute(Qt::WA_DeleteOnClose, false);

  m_nAppLook = LoadApplicationLook();

  m_pRecovery = std::make_unique<CSQLiteRecovery>();

  CreateActions();
  CreateEditCommands();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  CreateClient();
  CreateFindBar();
  setAcceptDrops(true);
  connect(m_pRightView->Grid(), &CListCtrlEx::copyRequested, this, &CMainFrame::OnEditCopy);
  connect(m_pRightView->Grid(), &CListCtrlEx::sortRequested, this, &CMainFrame::OnSortColumn);
  // Double-click or Enter on a cell opens its whole value (queued: the viewer
  // runs after the grid's own event handling).
  connect(m_pRightView->Grid(), &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex& index) {
            QTimer::singleShot(0, this, [this, row = index.row(), column = index.column()] {
              OnViewValue(m_pRightView->Grid()->model()->index(row, column));
            });
          });
  connect(m_pRightView->Grid(), &CListCtrlEx::valueRequested, this,
          [this](const QModelIndex& index) {
            QTimer::singleShot(0, this, [this, row = index.row(), column = index.column()] {
              OnViewValue(m_pRightView->Grid()->model()->index(row, column));
            });
          });

  m_pDisplay = std::make_unique<CRecordDisplay>(m_bStopRequested, TreeCtrl(), m_pRightView,
                                                StatusText(), ProgressBar(), StopControl());
  m_pDisplay->SetDispatch([this](const QString& name, ObjectKind kind) {
    // The engine is in use until the display has returned: no Open replaces
    // it meanwhile, and a confirmed close waits for it.
    EngineCall call(*this);
    m_bShowingRecords = true;
    m_pRightView->HideSummary();
    DispatchObject(*m_pRecovery, m_engineProgress, {kind, name},
                   DisplayPane{*m_pRightView->Grid(), *m_pRightView->StatementEdit(), *StatusText(),
                               *ProgressBar(), *StopControl()});
    m_bShowingRecords = false;
  });

  // The saving progress window lives as long as the frame, hidden between saves.
  m_pSavingDlg =
      new CSavingProcessDlg(this, [this] { return SendCustom(this, WMU_STOP_PROCESS) != nullptr; });
  m_pSavingDlg->hide();

  qApp->installEventFilter(this);
  // The stored look is applied as the window is made.
  ::velmora::OnApplicationLook(this, m_nAppLook);
  m_nAppLook = ApplicationLook();
  for (int id = ID_VIEW_APPLOOK_FIRST; id <= ID_VIEW_APPLOOK_LAST; ++id)
    if (QAction* action = Action(id)) action->setChecked(IsLookChecked(id));
  resize(1000, 700);
}

CMainFrame::~CMainFrame() {
  qApp->removeEventFilter(this);
  if (m_pSavingDlg) delete m_pSavingDlg.data();
}

QAction* CMainFrame::Action(int id) const { return m_actions.value(id, nullptr); }

void CMainFrame::CreateActions() {
  struct Command {
    int id;
    const char* text;
    const char* prompt;
    const char* tooltip;
    void (CMainFrame::*handler)();
  };
  static const Command kCommands[] = {
      {ID_FILE_OPEN_DB, "&Open...", "Select SQLite database objects ", "&Open (Ctrl+O)",
       &CMainFrame::OnFileOpen},
      {ID_FILE_SAVE_DB, "&Save", "Save SQLite database objects", "&Save ", &CMainFrame::OnFileSave},
      {ID_FILE_EXPORT_CSV, "&Export Table as CSV...", "Write the clicked table to a CSV file",
       "Export Table as CSV", &CMainFrame::OnFileExportCsv},
      {ID_APP_EXIT, "E&xit", "Quit the application; prompts to save documents", "Exit", nullptr},
      {ID_HELP_DB, "Velmora SQLite Database Recovery Help", "Display software help", "&Help",
       &CMainFrame::OnHelp},
      {ID_HOME_PAGE, "Velmora SQLite Database Recovery Home Page", "", "", &CMainFrame::OnHomePage},
      {ID_APP_ABOUT, "&About SQLite  Database Recovery",
       "Display program information, version number and copyright", "About", &CMainFrame::OnAbout},
  };
  for (const Command& c : kCommands) {
    auto* action = new QAction(QString::fromLatin1(c.text), this);
    action->setObjectName(QStringLiteral("command%1").arg(c.id));
    action->setData(c.id);
    action->setStatusTip(QString::fromLatin1(c.prompt));
    // Tool tips show the text without its mnemonic marker.
    action->setToolTip(QString::fromLatin1(c.tooltip).remove(QLatin1Char('&')).trimmed());
    if (c.handler != nullptr) connect(action, &QAction::triggered, this, c.handler);
    m_actions.insert(c.id, action);
  }
  Action(ID_FILE_OPEN_DB)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  Action(ID_FILE_OPEN_DB)->setShortcutContext(Qt::WindowShortcut);
  Action(ID_FILE_SAVE_DB)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  Action(ID_HELP_DB)->setShortcut(QKeySequence(Qt::Key_F1));
  connect(Action(ID_APP_EXIT), &QAction::triggered, this, &QWidget::close);
  Action(ID_FILE_OPEN_DB)->setIcon(QIcon(ToolbarPicture(0)));
  Action(ID_FILE_SAVE_DB)->setIcon(QIcon(ToolbarPicture(1)));
  Action(ID_HELP_DB)->setIcon(QIcon(ToolbarPicture(2)));
  // The toolbar pictures carry their captions; shrunk into a menu they
  // would only be smudges.
  for (int id : {ID_FILE_OPEN_DB, ID_FILE_SAVE_DB, ID_HELP_DB})
    Action(id)->setIconVisibleInMenu(false);

  // The look commands (menu 200, attached to no bar).
  m_pLookMenu = new QMenu(QStringLiteral("Application Look"), this);
  m_pLookGroup = new QActionGroup(this);
  m_pLookGroup->setExclusive(true);
  static const struct {
    int id;
    const char* text;
  } kLooks[] = {{215, "Office 2007 (&Blue Style)"},
                {216, "Office 2007 (B&lack Style)"},
                {217, "Office 2007 (&Silver Style)"},
                {218, "Office 2007 (&Aqua Style)"}};
  for (const auto& look : kLooks) {
    auto* action = m_pLookMenu->addAction(QString::fromLatin1(look.text));
    action->setData(look.id);
    action->setCheckable(true);
    m_pLookGroup->addAction(action);
    m_actions.insert(look.id, action);
    connect(action, &QAction::triggered, this, [this, id = look.id] { OnApplicationLook(id); });
  }
}

void CMainFrame::CreateMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("menuBar"));
  QMenu* file = bar->addMenu(QStringLiteral("&File"));
  file->addAction(Action(ID_FILE_OPEN_DB));
  file->addAction(Action(ID_FILE_SAVE_DB));
  file->addAction(Action(ID_FILE_EXPORT_CSV));
  file->addSeparator();
  m_pRecentMenu = file->addMenu(QStringLiteral("Recent &Files"));
  m_pRecentMenu->setObjectName(QStringLiteral("recentFiles"));
  UpdateRecentMenu();
  file->addSeparator();
  file->addAction(Action(ID_APP_EXIT));
  QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
  edit->addAction(Action(ID_EDIT_COPY));
  edit->addAction(Action(ID_EDIT_FIND));
  edit->addSeparator();
  // F6 and Tab move between the tree and the right pane; the menu shows F6.
  for (const auto& [id, text, key, step] :
       {std::tuple{int(ID_NEXT_PANE), "&Next Pane", QKeySequence(Qt::Key_F6), 1},
        std::tuple{int(ID_PREV_PANE), "&Previous Pane", QKeySequence(Qt::SHIFT | Qt::Key_F6),
                   -1}}) {
    auto* action = new QAction(QString::fromLatin1(text), this);
    action->setObjectName(QStringLiteral("command%1").arg(id));
    action->setData(id);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setStatusTip(
        QStringLiteral("Move the keyboard focus between the tree and the right pane (also Tab)"));
    connect(action, &QAction::triggered, this, [this, step = step] { FocusPane(step); });
    m_actions.insert(id, action);
    addAction(action);
    edit->addAction(action);
  }
  QMenu* help = bar->addMenu(QStringLiteral("&Help"));
  help->addAction(Action(ID_HELP_DB));
  help->addAction(Action(ID_HOME_PAGE));
  help->addSeparator();
  help->addAction(Action(ID_APP_ABOUT));
  for (QMenu* menu : {file, edit, help}) menu->setToolTipsVisible(false);
}

void CMainFrame::CreateToolBar() {
  m_wndToolBar = new QToolBar(QStringLiteral("Standard"), this);
  m_wndToolBar->setObjectName(QString::fromLatin1(kMainToolbarName));
  m_wndToolBar->setIconSize(QSize(50, 50));
  m_wndToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  m_wndToolBar->setMovable(true);
  m_wndToolBar->setContentsMargins(1, 1, 1, 1);
  m_wndToolBar->addAction(Action(ID_FILE_OPEN_DB));
  m_wndToolBar->addAction(Action(ID_FILE_SAVE_DB));
  m_wndToolBar->addAction(Action(ID_HELP_DB));
  addToolBar(Qt::TopToolBarArea, m_wndToolBar);
  m_wndToolBar->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* customize = new QAction(QStringLiteral("Customize..."), this);
  customize->setData(int(ID_TOOLBAR_CUSTOMIZE));
  m_actions.insert(ID_TOOLBAR_CUSTOMIZE, customize);
  connect(customize, &QAction::triggered, this, &CMainFrame::OnToolbarCustomize);
  connect(m_wndToolBar, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    QMenu menu(this);
    menu.addAction(m_wndToolBar->toggleViewAction());
    menu.addSeparator();
    menu.addAction(Action(ID_TOOLBAR_CUSTOMIZE));
    menu.exec(m_wndToolBar->mapToGlobal(pos));
  });
}

void CMainFrame::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("statusBar"));
  bar->setSizeGripEnabled(false);
  m_pMessagePane = new QLabel(QStringLiteral("Ready"), bar);
  m_pMessagePane->setObjectName(QStringLiteral("messagePane"));
  m_pMessagePane->setTextFormat(Qt::PlainText);
  bar->addWidget(m_pMessagePane, 1);
  const int indicatorWidth =
      m_pMessagePane->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 12;
  for (auto [pane, name] : {std::pair{&m_pCapsPane, "CAP"}, std::pair{&m_pNumPane, "NUM"},
                            std::pair{&m_pScrollPane, "SCRL"}}) {
    // The indicator's text is greyed while its lock is off (or unknown).
    *pane = new QLabel(QString::fromLatin1(name), bar);
    (*pane)->setEnabled(false);
    (*pane)->setObjectName(QStringLiteral("indicator%1").arg(QString::fromLatin1(name)));
    (*pane)->setAlignment(Qt::AlignCenter);
    (*pane)->setMinimumWidth(indicatorWidth);
    (*pane)->setFrameShape(QFrame::StyledPanel);
    (*pane)->setFrameShadow(QFrame::Sunken);
    bar->addPermanentWidget(*pane);
  }

  // The three progress controls sit over the panes at fixed places.
  m_wndStatusText = new QLabel(bar);
  m_wndStatusText->setObjectName(QStringLiteral("id%1").arg(int(IDC_STATUS_TEXT)));
  m_wndStatusText->setTextFormat(Qt::PlainText);
  m_wndStatusText->setGeometry(0, 2, 130, 16);
  m_wndStatusText->setAutoFillBackground(true);
  m_wndProgress = new QProgressBar(bar);
  m_wndProgress->setObjectName(QStringLiteral("id%1").arg(int(IDC_PROGRESS)));
  m_wndProgress->setTextVisible(false);
  m_wndProgress->setGeometry(132, 2, 1300 - 132, 16);
  m_btnStop = new CMFCButtonEx(QStringLiteral("Stop"), bar);
  m_btnStop->setObjectName(QStringLiteral("id%1").arg(int(IDC_STOP)));
  m_btnStop->setGeometry(1200, 2, 200, 17);
  for (QWidget* w : {static_cast<QWidget*>(m_wndStatusText), static_cast<QWidget*>(m_wndProgress),
                     static_cast<QWidget*>(m_btnStop)}) {
    w->hide();
    w->raise();
  }
  m_statusTextAdapter = StatusTextAdapter(m_wndStatusText);
  m_progressAdapter = ProgressBarAdapter(m_wndProgress);
  m_stopAdapter = ControlAdapter(m_btnStop);
}

void CMainFrame::CreateClient() {
  m_wndSplitter = new QSplitter(Qt::Horizontal, this);
  m_wndSplitter->setObjectName(QStringLiteral("splitter"));
  m_wndSplitter->setChildrenCollapsible(false);
  m_pLeftView = new CLeftView(m_wndSplitter);
  m_pLeftView->Tree()->SetNotifyTarget(this);
  m_pRightView = new CRightView(m_wndSplitter);
  m_pLeftView->setMinimumWidth(100);
  m_pRightView->setMinimumWidth(100);
  m_wndSplitter->addWidget(m_pLeftView);
  m_wndSplitter->addWidget(m_pRightView);
  m_wndSplitter->setStretchFactor(0, 0);
  m_wndSplitter->setStretchFactor(1, 1);
  m_wndSplitter->setSizes({310, 240});
  setCentralWidget(m_wndSplitter);
}

CTreeCtrlEx* CMainFrame::TreeCtrl() const {
  return static_cast<CTreeCtrlEx*>(SendCustom(m_pLeftView, WMU_GET_TREE_CTRL));
}

QWidget* CMainFrame::ListCtrl() const {
  if (void* answer = SendCustom(m_pRightView, WMU_GET_LIST_CTRL))
    return static_cast<QWidget*>(answer);
  return m_pRightView->Grid();
}

IRecordGrid* CMainFrame::RecordGrid() const { return dynamic_cast<IRecordGrid*>(ListCtrl()); }

QPlainTextEdit* CMainFrame::TextCtrl() const {
  if (void* answer = SendCustom(m_pRightView, WMU_GET_TEXT_CTRL))
    return static_cast<QPlainTextEdit*>(answer);
  return m_pRightView->StatementEdit();
}

void CMainFrame::LayoutStatusControls() {
  const int cx = width();
  m_wndProgress->setGeometry(132, 2, cx - 230, 16);
  m_btnStop->setGeometry(cx - 100, 2, 98, 16);
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  LayoutStatusControls();
}

bool CMainFrame::event(QEvent* event) {
  switch (int(event->type())) {
    case WMU_SHOW_RECORDS: {
      auto* custom = static_cast<CustomEvent*>(event);
      OnShowRecords(custom->Item());
      custom->SetResult(reinterpret_cast<void*>(quintptr(1)));
      return true;
    }
    case WMU_STOP_PROCESS:
      m_bStopRequested = true;
      static_cast<CustomEvent*>(event)->SetResult(reinterpret_cast<void*>(quintptr(1)));
      return true;
    case WMU_OPEN_DATABASE:
      static_cast<CustomEvent*>(event)->SetResult(reinterpret_cast<void*>(quintptr(1)));
      OnFileOpen();
      return true;
    default:
      return QMainWindow::event(event);
  }
}

// --- long work ---

bool CMainFrame::IsWithin(QObject* object, QWidget* ancestor) const {
  auto* widget = qobject_cast<QWidget*>(object);
  return widget != nullptr && ancestor != nullptr &&
         (widget == ancestor || ancestor->isAncestorOf(widget));
}

void CMainFrame::FrameProgress::RecordsSaved(std::int64_t records) {
  if (auto* saving = qobject_cast<CSavingProcessDlg*>(m_frame.m_pSavingDlg.data()))
    saving->SetTableRecords(records);
}

bool CMainFrame::ProgressCallback() {
  if (!m_pumpTimer.isValid() || m_pumpTimer.elapsed() >= kPumpIntervalMs) {
    PumpRecord record;
    PumpRecord* outer = m_pPump;
    m_pPump = &record;
    ++m_nPumpDepth;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    --m_nPumpDepth;
    m_pPump = outer;
    m_pumpTimer.restart();
    if (record.savingDialogKey) {
      // Keys that would close the saving dialog neither close it nor stop
      // the save.
      if (m_pSavingDlg && m_bSaving) m_pSavingDlg->show();
      return false;
    }
    if (record.escapeStopped) return true;
    if (record.anyInput && record.lastInputWasEscape) return false;
  }
  return m_bStopRequested;
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
    auto* key = static_cast<QKeyEvent*>(event);
    UpdateLockIndicators(key->modifiers(), key->nativeModifiers());
  }
  if (type == QEvent::KeyPress && m_nPumpDepth == 0) {
    // Tab and Shift+Tab in the tree or the right pane move to the other pane
    // (the grid would otherwise keep Tab for its cells).
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
        (mods == Qt::NoModifier || mods == Qt::ShiftModifier) &&
        (IsWithin(watched, m_pLeftView) || IsWithin(watched, m_pRightView))) {
      FocusPane(key->key() == Qt::Key_Backtab || mods == Qt::ShiftModifier ? -1 : 1);
      return true;
    }
  }
  if (m_nPumpDepth == 0 || m_pPump == nullptr) return false;

  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton) break;
      // Commands cannot start while long work runs.
      if (IsWithin(watched, menuBar()) || IsWithin(watched, m_wndToolBar)) return true;
      if (IsWithin(watched, m_btnStop)) m_bStopRequested = true;
      break;
    }
    case QEvent::ContextMenu:
      // Neither does the bars' context menu open.
      if (IsWithin(watched, menuBar()) || IsWithin(watched, m_wndToolBar)) return true;
      break;
    case QEvent::Shortcut:
      // Keyboard shortcuts of the commands wait for the work to end, too.
      return true;
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      auto* key = static_cast<QKeyEvent*>(event);
      const bool escapeLike = key->key() == Qt::Key_Escape || IsCtrlBreak(key);
      if (type != QEvent::KeyRelease && key->key() == Qt::Key_Escape && !m_bSaving &&
          !(m_pSavingDlg && IsWithin(watched, m_pSavingDlg))) {
        // Esc stops a display, an Open or a search (the save has its own
        // Stop): the work ends at this callback's return.
        m_bStopRequested = true;
        m_pPump->escapeStopped = true;
        return true;
      }
      if (type == QEvent::ShortcutOverride) break;
      m_pPump->anyInput = true;
      m_pPump->lastInputWasEscape = escapeLike;
      if (type == QEvent::KeyPress && m_pSavingDlg && IsWithin(watched, m_pSavingDlg) &&
          (escapeLike || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
        m_pPump->savingDialogKey = true;
        return true;
      }
      break;
    }
    default:
      break;
  }
  return false;
}

void CMainFrame::UpdateLockIndicators(Qt::KeyboardModifiers, quint32 nativeModifiers) {
  // On X11 the key event's native state carries the lock masks: Lock for
  // Caps Lock, Mod2 for Num Lock, Mod3 for Scroll Lock where it is mapped.
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
  const bool caps = nativeModifiers & 0x02;
  const bool num = nativeModifiers & 0x10;
  const bool scroll = nativeModifiers & 0x20;
  m_pCapsPane->setEnabled(caps);
  m_pNumPane->setEnabled(num);
  m_pScrollPane->setEnabled(scroll);
}

// --- commands ---

void CMainFrame::CreateEngine() { m_pRecovery = std::make_unique<CSQLiteRecovery>(); }

void CMainFrame::OnFileOpen() {
  // The engine in use by a display or a save is never replaced under it.
  if (EngineBusy() || m_bSaving || m_bCloseAfterWork) return;

  CSQLiteOpenFile dialog(this);
  if (dialog.exec() != QDialog::Accepted) return;
  OpenDatabasePath(dialog.m_strDbPath, !dialog.m_bMainFileOnly);
}

bool CMainFrame::OpenDatabasePath(const QString& path, bool useCompanions) {
  if (!CanOpen()) return false;
  // The name's bytes are kept: it need not be UTF-8.
  if (!IsNativeFile(path)) {
    ShowMessageBox(QStringLiteral("The file \"%1\" does not exist.").arg(path));
    return false;
  }
  const QString absolute = NativeAbsolutePath(path);
  const QFileInfo info(absolute);
  AddRecentFile(absolute);

  m_wndProgress->hide();
  m_btnStop->hide();
  m_wndStatusText->hide();
  m_bStopRequested = false;
  m_strDbName = info.fileName().trimmed();

  // Nothing of the previous database may be used while the new engine is
  // filled: the tree is emptied and disabled before the scan starts.
  CTreeCtrlEx* tree = TreeCtrl();
  if (tree != nullptr) {
    tree->clear();
    tree->setEnabled(false);
  }
  m_hRootItem = m_hTablesItem = m_hIndexesItem = m_hViewsItem = m_hTriggersItem = nullptr;
  m_hDeletedItem = nullptr;
  m_hRequestedItem = m_hShownItem = nullptr;
  if (IRecordGrid* grid = RecordGrid()) {
    grid->DeleteAllItems();
    grid->DeleteAllColumns();
  }
  if (QPlainTextEdit* edit = TextCtrl()) edit->clear();
  m_pRightView->HideHint();

  CreateEngine();
  m_summary.reset();
  m_pRightView->HideSummary();
  CSQLiteRecovery::ScanOutcome scan;
  {
    EngineCall call(*this);
    // The scan of a large schema takes a while: Stop (or Esc) ends it.
    m_btnStop->show();
    CSQLiteRecovery::ScanOptions options;
    options.useCompanions = useCompanions;
    // The deleted rows the file still holds are looked for too; they are
    // shown and saved apart, in their own category.
    options.findDeleted = true;
    scan = m_pRecovery->ScanDatabase(absolute, options, m_engineProgress);
    m_btnStop->hide();
  }
  if (scan != CSQLiteRecovery::ScanOutcome::Opened)
    ShowMessageBox(CSQLiteRecovery::ScanMessage(scan));
  const bool stopped = m_bStopRequested && !m_bCloseAfterWork;
  if (!m_bCloseAfterWork) {
    CSQLiteRecovery::WorkingDbOutcome working;
    {
      EngineCall call(*this);
      working = m_pRecovery->BuildWorkingDatabase(m_engineProgress);
    }
    if (!working.message.isEmpty()) ShowMessageBox(working.message);
  }
  if (tree != nullptr) tree->setEnabled(true);
  if (m_bCloseAfterWork) return true;

  if (m_pRecovery->TableNames().isEmpty()) {
    ShowMessageBox(stopped ? QString::fromLatin1(kOpenStoppedEmptyText)
                           : QStringLiteral("File Corrupted"));
    return true;
  }
  if (tree != nullptr) FillTree(tree);
  if (!stopped) {
    // Every table tree is walked once (pages only), so that the damaged
    // tables are marked before anything is clicked.
    RunEngineWork([this] { WalkTableTrees(*m_pRecovery, m_engineProgress, ProgressBar()); });
  }
  MarkLosses();
  if (stopped) ShowMessageBox(QString::fromLatin1(kOpenStoppedText));
  return true;
}

void CMainFrame::FillTree(CTreeCtrlEx* tree) {
  const CSQLiteRecovery& engine = *m_pRecovery;
  m_hRootItem = AddItem(tree->invisibleRootItem(), QStringLiteral("SQLite Database Objects"), 0);
  m_hRootItem->setExpanded(true);
  // Every object item carries its real name: displays and saves address the
  // object by it, not by the tree's text.
  auto addCategory = [&](const QString& text, ObjectKind kind) {
    QTreeWidgetItem* category = AddItem(m_hRootItem, text, 2);
    for (const QString& name : CategoryNames(engine, kind)) {
      QTreeWidgetItem* item = AddItem(category, ObjectTreeText(kind, name), 1);
      item->setData(0, Qt::UserRole, name);
      // Virtual tables and tables with a rebuilt statement keep their name as
      // the text; the tooltip says what they are.
      const QString note = ObjectTreeNote(engine, kind, name);
      if (!note.isEmpty()) {
        item->setToolTip(0,
                         PlainToolTip(ObjectTreeText(kind, name) + QStringLiteral(" — ") + note));
        QFont font = item->font(0);
        font.setItalic(true);
        item->setFont(0, font);
      }
    }
    return category;
  };
  m_hTablesItem = addCategory(QStringLiteral("Tables"), ObjectKind::Table);
  m_hTablesItem->setExpanded(true);
  m_hIndexesItem = addCategory(QStringLiteral("Indexes"), ObjectKind::Index);
  m_hViewsItem = addCategory(QStringLiteral("Views"), ObjectKind::View);
  m_hTriggersItem = addCategory(QStringLiteral("Triggers"), ObjectKind::Trigger);
  // One item per table whose deleted rows the file still holds; its tooltip
  // says how many came back whole. Only a file that holds some shows it.
  if (!CategoryNames(engine, ObjectKind::Deleted).isEmpty()) {
    m_hDeletedItem = addCategory(QStringLiteral("Deleted Records"), ObjectKind::Deleted);
    for (int i = 0; i < m_hDeletedItem->childCount(); ++i) {
      QTreeWidgetItem* item = m_hDeletedItem->child(i);
      const DeletedTable* table = FindDeletedTable(engine, item->data(0, Qt::UserRole).toString());
      if (table == nullptr) continue;
      std::int64_t whole = 0, partial = 0;
      CountDeleted(*table, &whole, &partial);
      item->setToolTip(0, PlainToolTip(QStringLiteral("%1: %2 deleted records found, %3 whole, "
                                                      "%4 partial")
                                           .arg(table->table)
                                           .arg(whole + partial)
                                           .arg(whole)
                                           .arg(partial)));
    }
  }
}

void CMainFrame::OnFileSave() {
  // Not while the engine is busy with a display or an Open, nor twice.
  if (EngineBusy() || m_bSaving || m_bCloseAfterWork) return;
  SaveContext context;
  context.stopRequested = &m_bStopRequested;
  context.saving = &m_bSaving;
  context.tree = TreeCtrl();
  context.tables = m_hTablesItem;
  context.views = m_hViewsItem;
  context.triggers = m_hTriggersItem;
  context.indexes = m_hIndexesItem;
  context.deleted = m_hDeletedItem;
  context.savingDialog = m_pSavingDlg;
  context.progress = [dialog = QPointer<QWidget>(m_pSavingDlg)](const SaveProgress& p) {
    if (auto* saving = qobject_cast<CSavingProcessDlg*>(dialog.data()))
      saving->SetProgress(p.done, p.total, p.name, p.kind, p.recordsBefore);
  };
  context.dbName = m_strDbName;
  if (m_pRecovery)
    context.sourceLines =
        DescribeSource(m_pRecovery->SourceInfo()) + DescribeSchemaRecovery(*m_pRecovery);

  SaveOperations ops;
  ops.hasDatabase = [this] { return !m_pRecovery->TableNames().isEmpty(); };
  ops.askFolder = [this](const QString& fileName) { return AskSaveDestination(this, fileName); };
  ops.open = [this](const QString& folder, const QString& fileName, QString* path, QString* error) {
    m_pTarget = std::make_unique<RecoveredDatabase>();
    if (!m_pTarget->Open(*m_pRecovery, folder, fileName, error)) {
      m_pTarget.reset();
      return false;
    }
    *path = NativeAbsolutePath(m_pTarget->Path());
    return true;
  };
  ops.dispatch = [this](const ObjectRef& object) {
    EngineCall call(*this);
    if (m_pTarget == nullptr) {
      ObjectOutcome outcome;
      outcome.error = QStringLiteral("the recovered database is not open");
      return outcome;
    }
    return DispatchObject(*m_pRecovery, m_engineProgress, object, *m_pTarget);
  };
  ops.close = [this] { m_pTarget.reset(); };
  ops.report = [this](const SaveReport& report) { ShowSaveReport(this, report); };
  RunSaveCommand(context, ops);
}

void CMainFrame::OnShowRecords(QTreeWidgetItem* item) {
  // During a save the tree is disabled; a request that slips through, or one
  // that comes while an Open fills a new engine, is not served.
  if (m_bSaving || m_bCloseAfterWork) return;
  if (EngineBusy() && !m_pDisplay->IsShowingRecords()) return;
  if (item != nullptr && item == m_hRootItem) {
    // The root item shows the recovery summary; a table that loads is
    // stopped first (a second click then shows the summary).
    if (m_pDisplay->IsShowingRecords()) {
      m_bStopRequested = true;
      return;
    }
    if (TreeCtrl() != nullptr) TreeCtrl()->setCurrentItem(item);
    // The record count of the last table does not describe the summary.
    m_wndStatusText->hide();
    ShowSummary();
    return;
  }
  m_pRightView->HideSummary();
  m_pRightView->HideHint();
  m_pDisplay->OnShowRecords(item);
  m_hRequestedItem = m_pDisplay->RequestedItem();
  m_hShownItem = m_pDisplay->ShownItem();
  ShowLossHint();
}

void CMainFrame::OnAbout() {
  CAboutDlg about(this, [](const QUrl& url) { return OpenUrl(url); });
  about.exec();
}

void CMainFrame::OnApplicationLook(int id) {
  if (id < ID_VIEW_APPLOOK_FIRST || id > ID_VIEW_APPLOOK_LAST) return;
  ::velmora::OnApplicationLook(this, id);
  m_nAppLook = ApplicationLook();
  for (int look = ID_VIEW_APPLOOK_FIRST; look <= ID_VIEW_APPLOOK_LAST; ++look)
    if (QAction* action = Action(look)) action->setChecked(IsLookChecked(look));
}

void CMainFrame::OnToolbarCustomize() {
  // Which of the toolbar's commands are shown.
  QDialog dialog(this);
  dialog.setWindowTitle(QStringLiteral("Customize"));
  auto* layout = new QVBoxLayout(&dialog);
  QList<QPair<QCheckBox*, QAction*>> boxes;
  for (QAction* action : m_wndToolBar->actions()) {
    auto* box = new QCheckBox(action->toolTip(), &dialog);
    box->setChecked(action->isVisible());
    layout->addWidget(box);
    boxes.append({box, action});
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (dialog.exec() != QDialog::Accepted) return;
  // Hiding an action would also hide it in the menus: toggle the toolbar's
  // own button instead.
  for (const auto& [box, action] : boxes)
    if (QWidget* button = m_wndToolBar->widgetForAction(action))
      button->setVisible(box->isChecked());
}

void CMainFrame::OnHelp() {
  const QString name = QString::fromLatin1(kHelpFileName);
  // The current folder, the program's folder, then where an installed
  // program's manual lies.
  QString path;
  for (const QString& folder : ManualFolders()) {
    path = QDir(folder).filePath(name);
    if (QFileInfo(path).isFile()) break;
  }
  if (!QFileInfo(path).isFile()) {
    ShowMessageBox(name + QStringLiteral(" file does not exist. Please, reinstall the software."));
    return;
  }
  const QString manual = QFileInfo(path).absoluteFilePath();
  if (OpenUrl(QUrl::fromLocalFile(manual))) return;
  // No program opens PDF files here: say where the manual is, and offer its folder.
  const QString folder = QFileInfo(manual).absolutePath();
  if (ShowMessageBox(QStringLiteral("The manual could not be opened: no program for PDF files "
                                    "was found.\n\nIt is %1\n\nOpen its folder?")
                         .arg(manual),
                     MsgButtons::YesNo) != MsgResult::Yes)
    return;
  if (!OpenUrl(QUrl::fromLocalFile(folder)))
    ShowMessageBox(QStringLiteral("The folder %1 could not be opened either.").arg(folder));
}

void CMainFrame::OnHomePage() { OpenUrl(QUrl(QString::fromLatin1(kHomePageUrl))); }

void CMainFrame::FocusPane(int step) {
  // The right pane is whichever of its views is shown: the summary, the
  // grid or the statement.
  QWidget* panes[2] = {TreeCtrl(), ListCtrl()};
  if (m_pRightView->Summary()->isVisible())
    panes[1] = m_pRightView->Summary();
  else if (panes[1] == nullptr || !panes[1]->isVisible())
    panes[1] = TextCtrl();
  int current = -1;
  for (int i = 0; i < 2; ++i)
    if (panes[i] != nullptr && (panes[i]->hasFocus() || panes[i]->isAncestorOf(focusWidget())))
      current = i;
  const int target = current < 0 ? (step > 0 ? 0 : 1) : (current + 2 + step) % 2;
  if (panes[target] != nullptr) panes[target]->setFocus(Qt::OtherFocusReason);
}

// --- closing ---

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (m_bSaving) {
    ShowMessageBox(QStringLiteral("Please confirm if you want to stop the current process?"));
    event->ignore();
    return;
  }
  if (!m_bCloseConfirmed) {
    if (m_bCloseAfterWork) {  // already confirmed, waiting for the engine
      event->ignore();
      return;
    }
    if (ShowMessageBox(QStringLiteral("Please confirm if you want to close the application?"),
                       MsgButtons::YesNo) != MsgResult::Yes) {
      event->ignore();
      return;
    }
    if (EngineBusy() || m_bSaving) {
      // The engine is inside a call that this close request interrupted:
      // ask it to stop and close once it has returned.
      m_bStopRequested = true;
      m_bCloseAfterWork = true;
      event->ignore();
      return;
    }
  }
  m_bCloseConfirmed = false;
  m_bCloseAfterWork = false;
  // The session closes its working database and deletes the file.
  CreateEngine();
  if (m_pSavingDlg) m_pSavingDlg->hide();
  event->accept();
  QMainWindow::closeEvent(event);
}

void CMainFrame::FinishPendingClose() {
  if (!m_bCloseAfterWork || EngineBusy()) return;
  if (m_bSaving) {  // a save started in between keeps the window open
    m_bCloseAfterWork = false;
    return;
  }
  m_bCloseConfirmed = true;
  if (!close()) m_bCloseConfirmed = false;
}

void CMainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !m_bSaving || !m_pSavingDlg) return;
  if (isMinimized()) {
    m_pSavingDlg->hide();
  } else if (isVisible() && !m_bStopRequested) {
    m_pSavingDlg->show();
  }
}

}  // namespace velmora
