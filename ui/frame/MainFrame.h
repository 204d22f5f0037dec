// CMainFrame: the program's one top-level window.
//
// It owns the recovery engine (replaced at every Open), lays out the object
// tree and the right pane side by side, hosts the menu bar, the toolbar and
// the status bar with its record-count text, progress bar and Stop button,
// and starts every long operation. Everything runs on the interface thread;
// long work stays responsive through EngineProgressProc, which lets pending
// events through at most every 10 ms and reports whether the user asked to
// stop.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <memory>

#include "engine/SQLiteRecovery.h"
#include "output/RecoveredDatabase.h"
#include "ui/frame/StatusControls.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QSplitter;
class QToolBar;
class QTreeWidgetItem;

namespace velmora {

class CLeftView;
class CRecordDisplay;
class CRightView;
class CTreeCtrlEx;

// The progress callback handed to the engine: `owner` is the CMainFrame.
// True asks the caller to stop now.
bool EngineProgressProc(int unused, void* owner);

// Opens a document or web address with the desktop's default program
// (the help manual, the home page, the About box links); replaceable for
// tests. An empty opener restores the desktop's.
using UrlOpener = std::function<bool(const QUrl& url)>;
UrlOpener SetUrlOpener(UrlOpener opener);
bool OpenUrl(const QUrl& url);

// Name of the help manual, looked for in the current folder and then next to
// the executable.
inline constexpr const char* kHelpFileName = "Velmora SQLite Database Recovery.pdf";
// The home page opened by the Help menu.
inline constexpr const char* kHomePageUrl = "https://www.velmora-recovery.example/";

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  // Command ids.
  enum : int {
    ID_FILE_OPEN_DB = 32775,
    ID_FILE_SAVE_DB = 32774,
    ID_APP_EXIT = 57665,
    ID_HELP_DB = 32779,
    ID_HOME_PAGE = 32780,
    ID_APP_ABOUT = 57664,
    ID_TOOLBAR_CUSTOMIZE = 126,
    ID_VIEW_APPLOOK_FIRST = 210,
    ID_VIEW_APPLOOK_LAST = 218,
    IDC_STOP = 3033,
    IDC_PROGRESS = 3023,
    IDC_STATUS_TEXT = 3013,
  };

  explicit CMainFrame(QWidget* parent = nullptr);
  ~CMainFrame() override;

  // The action of command `id` (menus, toolbar, look menu); null if unknown.
  QAction* Action(int id) const;
  QToolBar* ToolBar() const { return m_wndToolBar; }
  QMenu* LookMenu() const { return m_pLookMenu; }

  // --- the engine and the panes ---
  CSQLiteRecovery& Recovery() { return *m_pRecovery; }
  CLeftView* LeftPane() const { return m_pLeftView; }
  CRightView* RightPane() const { return m_pRightView; }
  QSplitter* Splitter() const { return m_wndSplitter; }
  // The tree, the record grid and the statement edit, asked of the panes with
  // the pane messages; null when a pane cannot answer.
  CTreeCtrlEx* TreeCtrl() const;
  QWidget* ListCtrl() const;
  IRecordGrid* RecordGrid() const;
  QPlainTextEdit* TextCtrl() const;

  // --- the status bar ---
  QLabel* MessagePane() const { return m_pMessagePane; }
  QLabel* StatusTextCtl() const { return m_wndStatusText; }
  QProgressBar* ProgressCtl() const { return m_wndProgress; }
  CMFCButtonEx* StopButton() const { return m_btnStop; }
  IStatusText* StatusText() { return &m_statusTextAdapter; }
  IProgressBar* ProgressBar() { return &m_progressAdapter; }
  IControl* StopControl() { return &m_stopAdapter; }

  // --- long work ---
  // The body of EngineProgressProc.
  bool ProgressCallback();
  // Marks an engine call in progress for its lifetime. While one is active
  // the engine is never replaced, commands that would need it are refused,
  // and a confirmed close waits until the last one has returned.
  class EngineCall {
   public:
    explicit EngineCall(CMainFrame& frame);
    ~EngineCall();
    EngineCall(const EngineCall&) = delete;
    EngineCall& operator=(const EngineCall&) = delete;

   private:
    CMainFrame& m_frame;
  };
  bool EngineBusy() const { return m_nEngineCalls > 0; }
  bool ClosePending() const { return m_bCloseAfterWork; }

  // The application look (210-218), kept in the settings as "ApplicationLook".
  int AppLook() const { return m_nAppLook; }

  // --- state shared with the display and the save ---
  bool m_bStopRequested = false;
  bool m_bSaving = false;
  bool m_bShowingRecords = false;
  QString m_strDbName;
  QTreeWidgetItem* m_hRootItem = nullptr;
  QTreeWidgetItem* m_hTablesItem = nullptr;
  QTreeWidgetItem* m_hIndexesItem = nullptr;
  QTreeWidgetItem* m_hViewsItem = nullptr;
  QTreeWidgetItem* m_hTriggersItem = nullptr;
  QTreeWidgetItem* m_hRequestedItem = nullptr;
  QTreeWidgetItem* m_hShownItem = nullptr;
  // The modeless saving progress dialog (owned by the Save command's code).
  QPointer<QWidget> m_pSavingDlg;

 public slots:
  void OnFileOpen();
  // The Save command of the ticked objects.
  void OnFileSave();
  void OnHelp();
  void OnHomePage();
  void OnAbout();
  // Message WMU_SHOW_RECORDS: show `item` in the right pane.
  void OnShowRecords(QTreeWidgetItem* item);
  // The look commands 210-218.
  void OnApplicationLook(int id);
  void OnToolbarCustomize();

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void CreateClient();
  void LayoutStatusControls();
  void UpdateLockIndicators(Qt::KeyboardModifiers modifiers, quint32 nativeModifiers);
  void CreateEngine();
  void FillTree(CTreeCtrlEx* tree);
  void FinishPendingClose();
  void FocusPane(int step);
  bool IsWithin(QObject* object, QWidget* ancestor) const;

  // What one pump of the progress callback saw.
  struct PumpRecord {
    bool savingDialogKey = false;  // Esc, Enter or Ctrl+Break in the saving dialog
    bool lastInputWasEscape = false;
    bool anyInput = false;
  };

  std::unique_ptr<CSQLiteRecovery> m_pRecovery;
  std::unique_ptr<RecoveredDatabase> m_pTarget;  // the recovered database while a save runs
  // The display of the item clicked in the tree (WMU_SHOW_RECORDS).
  std::unique_ptr<CRecordDisplay> m_pDisplay;
  QToolBar* m_wndToolBar = nullptr;
  QSplitter* m_wndSplitter = nullptr;
  CLeftView* m_pLeftView = nullptr;
  CRightView* m_pRightView = nullptr;
  QLabel* m_pMessagePane = nullptr;
  QLabel* m_pCapsPane = nullptr;
  QLabel* m_pNumPane = nullptr;
  QLabel* m_pScrollPane = nullptr;
  QLabel* m_wndStatusText = nullptr;
  QProgressBar* m_wndProgress = nullptr;
  CMFCButtonEx* m_btnStop = nullptr;
  StatusTextAdapter m_statusTextAdapter{nullptr};
  ProgressBarAdapter m_progressAdapter{nullptr};
  ControlAdapter m_stopAdapter{nullptr};
  QMenu* m_pLookMenu = nullptr;
  QActionGroup* m_pLookGroup = nullptr;
  QHash<int, QAction*> m_actions;
  int m_nAppLook = 214;
  int m_nEngineCalls = 0;
  int m_nPumpDepth = 0;
  PumpRecord* m_pPump = nullptr;
  QElapsedTimer m_pumpTimer;
  bool m_bCloseAfterWork = false;
  bool m_bCloseConfirmed = false;
};

}  // namespace velmora
