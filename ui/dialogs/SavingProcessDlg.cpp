#include "ui/dialogs/SavingProcessDlg.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "output/RecordOutput.h"
#include "output/SaveDispatch.h"
#include "platform/MessageBox.h"
#include "res/ResourceIds.h"

namespace velmora {

CAnimateCtrl::CAnimateCtrl(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("animate1012"));
  setFixedSize(kAnimationSize, kAnimationSize);
  setAttribute(Qt::WA_TranslucentBackground);
  // The frame shown follows the clock, so the clip keeps its 16 frames per
  // second even when timer events arrive late (the save pumps events only
  // between its steps).
  m_timer.setTimerType(Qt::PreciseTimer);
  m_timer.setInterval(kAnimationFrameMicroseconds / 2000);
  connect(&m_timer, &QTimer::timeout, this, &CAnimateCtrl::Tick);
}

QSize CAnimateCtrl::sizeHint() const { return {kAnimationSize, kAnimationSize}; }

void CAnimateCtrl::Tick() {
  const qint64 elapsedUs = m_clock.nsecsElapsed() / 1000;
  const int frame = static_cast<int>((elapsedUs / kAnimationFrameMicroseconds) % kAnimationFrames);
  if (frame != m_nFrame) {
    m_nFrame = frame;
    update();
  }
}

void CAnimateCtrl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, AnimationFrame(m_nFrame));
}

void CAnimateCtrl::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  m_nFrame = 0;
  m_clock.start();
  m_timer.start();
}

void CAnimateCtrl::hideEvent(QHideEvent* event) {
  m_timer.stop();
  QWidget::hideEvent(event);
}

CSavingProcessDlg::CSavingProcessDlg(QWidget* parent, std::function<bool()> requestStop)
    : QDialog(parent), m_requestStop(std::move(requestStop)) {
  setWindowTitle(QStringLiteral("Please wait while the current process finish..."));
  setModal(false);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* label = new QLabel(QStringLiteral("Saving database objects"));
  m_pAnimate = new CAnimateCtrl;
  m_pStop = new QPushButton(QStringLiteral("Stop"));
  m_pStop->setObjectName(QStringLiteral("button1013"));
  m_pStop->setAutoDefault(false);
  m_pStop->setMinimumWidth(80);

  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(label);
  row->addSpacing(24);
  row->addWidget(m_pAnimate);
  row->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_pStop);
  buttons->addStretch(1);
  // What is being written and how far the save has come. Object names come
  // from the damaged file: shown as plain text.
  m_pObject = new QLabel;
  m_pObject->setObjectName(QStringLiteral("savingObject"));
  m_pObject->setTextFormat(Qt::PlainText);
  m_pObject->setMinimumWidth(380);
  m_pCounts = new QLabel;
  m_pCounts->setObjectName(QStringLiteral("savingCounts"));
  m_pCounts->setTextFormat(Qt::PlainText);
  m_pBar = new QProgressBar;
  m_pBar->setObjectName(QStringLiteral("savingBar"));
  m_pBar->setRange(0, 1);
  m_pBar->setValue(0);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 16, 24, 16);
  layout->addLayout(row);
  layout->addSpacing(6);
  layout->addWidget(m_pObject);
  layout->addWidget(m_pCounts);
  layout->addWidget(m_pBar);
  layout->addSpacing(10);
  layout->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(447, 0)));

  connect(m_pStop, &QPushButton::clicked, this, &CSavingProcessDlg::OnStop);
  // The record count grows while a table is written; the save pumps events.
  m_refresh.setInterval(200);
  connect(&m_refresh, &QTimer::timeout, this, &CSavingProcessDlg::RefreshCounts);
}

void CSavingProcessDlg::SetProgress(int done, int total, const QString& name, int kind,
                                    std::int64_t recordsBefore) {
  m_nDone = done;
  m_nTableRecords = 0;  // a new object: its own count starts from nothing
  m_nTotal = total;
  m_nRecordsBefore = recordsBefore;
  const auto objectKind = static_cast<ObjectKind>(kind);
  const char* what = objectKind == ObjectKind::View      ? "view"
                     : objectKind == ObjectKind::Index   ? "index"
                     : objectKind == ObjectKind::Trigger ? "trigger"
                     : objectKind == ObjectKind::Deleted ? "the deleted records of"
                                                         : "table";
  m_pObject->setText(
      name.isEmpty() ? QStringLiteral("Closing the recovered database")
                     : QStringLiteral("Saving %1 \"%2\"").arg(QLatin1String(what), name.left(200)));
  m_pBar->setRange(0, std::max(total, 1));
  m_pBar->setValue(std::min(done, std::max(total, 1)));
  RefreshCounts();
  if (!m_refresh.isActive()) m_refresh.start();
}

void CSavingProcessDlg::RefreshCounts() {
  if (!isVisible()) {
    m_refresh.stop();
    return;
  }
  // The running count belongs to the table being written; it restarts
  // at each table and is not part of recordsBefore until the table ends.
  const std::int64_t records =
      m_nRecordsBefore +
      (m_pObject->text().startsWith(QLatin1String("Saving table")) ? m_nTableRecords : 0);
  m_pCounts->setText(QStringLiteral("%1 of %2 objects done, %3 records written")
                         .arg(m_nDone)
                         .arg(m_nTotal)
                         .arg(records));
}

void CSavingProcessDlg::OnStop() {
  if (ShowMessageBox(QStringLiteral("Please confirm if you want to stop the current process?"),
                     MsgButtons::YesNo, MsgIcon::Question) != MsgResult::Yes) {
    return;
  }
  if (m_requestStop && m_requestStop()) hide();
}

void CSavingProcessDlg::reject() {
  // Esc must not hide the window while the save goes on; stopping is the
  // Stop button's job.
}

void CSavingProcessDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      event->accept();  // neither closes the window nor stops the save
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void CSavingProcessDlg::closeEvent(QCloseEvent* event) {
  // The close box asks like the Stop button does; the window only goes away
  // through a confirmed stop or when the save hides it.
  if (!isVisible()) {
    event->accept();
    return;
  }
  event->ignore();
  OnStop();
}

}  // namespace velmora
