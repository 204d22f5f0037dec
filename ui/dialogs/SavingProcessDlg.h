// CSavingProcessDlg: the modeless window shown while a save runs, with an
// animation and a Stop button. The save runs on the interface thread; this
// window stays alive because the save's progress callback pumps events.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace velmora {

// The saving animation (resource 337): 22 frames of 60x60 pixels at 62.5 ms
// a frame, played in a loop while the widget is shown.
class CAnimateCtrl : public QWidget {
  Q_OBJECT
 public:
  explicit CAnimateCtrl(QWidget* parent = nullptr);
  int CurrentFrame() const { return m_nFrame; }
  bool IsPlaying() const { return m_timer.isActive(); }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Tick();
  QTimer m_timer;
  QElapsedTimer m_clock;
  int m_nFrame = 0;
};

class CSavingProcessDlg : public QDialog {
  Q_OBJECT
 public:
  // `requestStop` delivers WMU_STOP_PROCESS to the main window and returns
  // whether the main window acknowledged it.
  explicit CSavingProcessDlg(QWidget* parent, std::function<bool()> requestStop);

  QPushButton* StopButton() const { return m_pStop; }
  CAnimateCtrl* Animation() const { return m_pAnimate; }
  QLabel* ObjectLabel() const { return m_pObject; }
  QLabel* CountLabel() const { return m_pCounts; }
  QProgressBar* Bar() const { return m_pBar; }

  // Shows which object is being written (`kind` an ObjectKind), how many of
  // all are done and the records written so far: `recordsBefore` plus the
  // running count of the table being written, refreshed while the window is
  // shown.
  void SetProgress(int done, int total, const QString& name, int kind, std::int64_t recordsBefore);
  // The records the table being saved has written so far (shown with the
  // next refresh of the counts).
  void SetTableRecords(std::int64_t records) { m_nTableRecords = records; }

 public slots:
  // Stop (command 1013): asks for confirmation, then requests the stop and
  // hides the window when the main window acknowledged it.
  void OnStop();
  // Esc and the close box do not end the save by themselves.
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void RefreshCounts();

  std::function<bool()> m_requestStop;
  CAnimateCtrl* m_pAnimate = nullptr;
  QPushButton* m_pStop = nullptr;
  QLabel* m_pObject = nullptr;
  QLabel* m_pCounts = nullptr;
  QProgressBar* m_pBar = nullptr;
  QTimer m_refresh;
  int m_nDone = 0, m_nTotal = 0;
  std::int64_t m_nRecordsBefore = 0;
  std::int64_t m_nTableRecords = 0;  // of the table being saved
};

}  // namespace velmora
