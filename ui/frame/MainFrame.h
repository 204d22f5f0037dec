// CMainFrame: the program's one top-level window.
//
// It owns the recovery engine (replaced at every Open), lays out the object
// tree and the right pane side by side, hosts the menu bar, the toolbar and
// the status bar with its record-count text, progress bar and Stop button,
// and starts every long operation. Everything runs on the interface thread;
// long work stays responsive through the frame's engine progress, which lets
// pending events through at most every 10 ms and reports whether the user
// asked to stop.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

#include "engine/session/SQLiteRecovery.h"
#include "output/RecoveredDatabase.h"
#include "output/RecoverySummary.h"
#include "ui/frame/StatusControls.h"

class QAction;
class QActionGroup;
class QLabel;
class QModelIndex;
class QLineEdit;
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

// Messages of an Open that was stopped.
inline constexpr const char* kOpenStoppedText =
    "The Open was stopped. The tree shows only the objects read before the stop.";
inline constexpr const char* kOpenStoppedEmptyText =
    "The Open was stopped before any table was recovered.";

// What an export came to, as the window reports it.
struct CsvOutcomeText {
  bool ok = false;  // written whole, not stopped
  QString text;     // the message shown
};

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  // Command ids.
  enum : int {
    ID_FILE_OPEN_DB = 32775,
    ID_FILE_SAVE_DB = 32774,
    ID_FILE_EXPORT_CSV = 32781,
    ID_APP_EXIT = 57665,
    ID_HELP_DB = 32779,
    ID_HOME_PAGE = 32780,
    ID_APP_ABOUT = 57664,
    ID_EDIT_COPY = 57634,
    ID_EDIT_FIND = 57636,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_FILE_MRU_FIRST = 57616,  // the recent files, 57616..57623
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
  // The progress handed to every long operation of the engine and the
  // output (Open, display, save, summary, export, value view) and to the
  // grid's search and copy: each step goes to ProgressCallback.
  IProgress& EngineProgress() { return m_engineProgress; }
  // Lets pending events through (at most every 10 ms); true when the user
  // asked the running work to stop.
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

  // --- opening ---
  // Opens the damaged database at `path` (a dialog's choice, a recent file,
  // the command line, a dropped file): empties the tree and the right pane,
  // scans the file read-only with a new engine and fills the tree, as the
  // Open command does once its dialog was accepted. Esc or Stop ends the scan;
  // the tree then shows what was read. Returns false, changing nothing, while
  // other work runs or when `path` is not an existing file (that one with a
  // message box); true once the file was scanned, whatever was recovered.
  // `useCompanions` false reads the file without FILE-wal and FILE-journal.
  bool OpenDatabasePath(const QString& path, bool useCompanions = true);
  // The recent files, newest first, at most kMaxRecentFiles, as stored in the
  // settings ("RecentFiles").
  static constexpr int kMaxRecentFiles = 8;
  static QStringList RecentFiles();
  QMenu* RecentMenu() const { return m_pRecentMenu; }

  // --- find and copy ---
  QToolBar* FindBar() const { return m_pFindBar; }
  QLineEdit* FindEdit() const { return m_pFindEdit; }
  QLabel* FindStatus() const { return m_pFindStatus; }
  // Moves the grid's current cell to the next (previous) cell holding `text`
  // and selects it; the find bar's status says when there is none, when the
  // search wrapped, or when it was stopped. False when no cell was found.
  bool FindInGrid(const QString& text, bool forward = true);

  // --- summary, value viewer, export ---
  // The recovery summary of the open file: counted on the first click on the
  // root item (with the progress bar and Stop), then kept until the next
  // Open; null before, or when the counting was stopped.
  const RecoverySummary* Summary() const { return m_summary ? &*m_summary : nullptr; }
  // Shows the summary in the right pane, counting it first when needed; marks
  // the tables with lost pages in the tree. False when nothing is open, other
  // work runs, or the counting was stopped.
  bool ShowSummary();
  // The real name of the table shown in the grid; empty when the grid shows none.
  QString ShownTableName() const;
  // Reads the value of grid cell `index` of the shown table again from the
  // file and opens it in the value viewer (modal). False when there is no
  // value to show (no table, other work running, stopped, row not found).
  bool OnViewValue(const QModelIndex& index);
  // Writes the value of record `row` (its place in the order the table is
  // read, which is the grid's row while the grid is not sorted), column `column`, of the shown
  // table whole to `path`; the error text when it could not be (empty on success).
  QString SaveValueTo(std::int64_t row, int column, const QString& path);
  // Writes table `table` as CSV to `path` (replacing an existing file only
  // when `overwrite`), with the progress bar and Stop.
  CsvOutcomeText ExportCsvTo(const QString& table, const QString& path, bool overwrite);

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
  QTreeWidgetItem* m_hDeletedItem = nullptr;  // "Deleted Records", when the file holds some
  QTreeWidgetItem* m_hRequestedItem = nullptr;
  QTreeWidgetItem* m_hShownItem = nullptr;
  // The modeless saving progress dialog (owned by the Save command's code).
  QPointer<QWidget> m_pSavingDlg;

 public slots:
  void OnFileOpen();
  // The Save command of the ticked objects.
  void OnFileSave();
  // File > Export Table as CSV...: the clicked table into a file the user picks.
  void OnFileExportCsv();
  void OnHelp();
  void OnHomePage();
  void OnAbout();
  // Message WMU_SHOW_RECORDS: show `item` in the right pane.
  void OnShowRecords(QTreeWidgetItem* item);
  // The look commands 210-218.
  void OnApplicationLook(int id);
  void OnToolbarCustomize();
  // Ctrl+C: the grid's selected cells to the clipboard as tab-separated text.
  void OnEditCopy();
  // Ctrl+F: shows the find bar with its edit focused.
  void OnEditFind();
  // A click on a grid caption: sorts by that column (ascending, descending,
  // then the reading order again), with Stop; refused while other work runs.
  bool OnSortColumn(int column);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  // A local file dropped on the window is opened.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

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
  // Whether an Open may start now (no engine call, save or pending close).
  bool CanOpen() const { return !EngineBusy() && !m_bSaving && !m_bCloseAfterWork; }
  void CreateEditCommands();
  void CreateFindBar();
  void UpdateRecentMenu();
  void AddRecentFile(const QString& path);
  void OnRecentFile(const QString& path);
  // Runs `work` as long work of the grid (a search, a copy): commands wait,
  // Esc and Stop end it through `stop`, a close waits for it.
  void RunGridWork(const std::function<void(IProgress& progress)>& work);

  // What one pump of the progress callback saw.
  struct PumpRecord {
    bool savingDialogKey = false;  // Esc, Enter or Ctrl+Break in the saving dialog
    bool lastInputWasEscape = false;
    bool anyInput = false;
    bool escapeStopped = false;  // Esc asked a display, an Open or a search to stop
  };

  // Marks the tables with losses in the tree (warning picture, tooltip
  // saying what was lost and what came back): from the summary when it was
  // counted, else from what the open found.
  void MarkLosses();
  TableSummary TableLosses(const QString& table) const;
  // The hint above the grid when the shown table is damaged.
  void ShowLossHint();
  // Runs `work` as long engine work with the progress bar and Stop.
  void RunEngineWork(const std::function<void()>& work);

  // The frame as the progress of engine work.
  class FrameProgress : public IProgress {
   public:
    explicit FrameProgress(CMainFrame& frame) : m_frame(frame) {}
    bool Step(const WalkStep&) override { return m_frame.ProgressCallback(); }
    // The running count of the table being saved, for the saving window.
    void RecordsSaved(std::int64_t records) override;

   private:
    CMainFrame& m_frame;
  };
  FrameProgress m_engineProgress{*this};

  std::optional<RecoverySummary> m_summary;
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
  QMenu* m_pRecentMenu = nullptr;
  QToolBar* m_pFindBar = nullptr;
  QLineEdit* m_pFindEdit = nullptr;
  QLabel* m_pFindStatus = nullptr;
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
