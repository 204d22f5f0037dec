#include "ui/dialogs/SavingProcessDlg.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

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
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 16, 24, 16);
  layout->addLayout(row);
  layout->addSpacing(10);
  layout->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(447, 0)));

  connect(m_pStop, &QPushButton::clicked, this, &CSavingProcessDlg::OnStop);
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
