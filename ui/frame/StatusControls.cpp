#include "ui/frame/StatusControls.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <algorithm>

namespace velmora {

CMFCButtonEx::CMFCButtonEx(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setFlat(true);
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::NoFocus);
}

void CMFCButtonEx::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const bool highlighted = underMouse() || isDown();
  p.fillRect(rect(), highlighted ? QColor(64, 128, 128) : QColor(255, 0, 0));
  p.setPen(QColor(255, 255, 255));
  p.setFont(font());
  p.drawText(rect(), Qt::AlignCenter, text());
}

void StatusTextAdapter::SetText(const QString& text) {
  m_pLabel->setText(text);
  // A load sets the text once per record: the width is measured only when
  // the text's length changes.
  if (text.size() == m_nLastSize) return;
  m_nLastSize = text.size();
  if (m_nBaseWidth < 0) m_nBaseWidth = m_pLabel->width();
  const int wanted = m_pLabel->fontMetrics().horizontalAdvance(text) + 8;
  m_pLabel->resize(std::max(m_nBaseWidth, wanted), m_pLabel->height());
}

void ProgressBarAdapter::SetRange(int low, int high) {
  // A bar cannot run backwards; an inverted range is shown as an empty one.
  m_pBar->setRange(low, high < low ? low : high);
}

void ProgressBarAdapter::SetBarColor(std::uint32_t rgb) {
  const QColor color(int((rgb >> 16) & 0xFF), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
  m_pBar->setStyleSheet(
      QStringLiteral("QProgressBar::chunk { background-color: %1; }").arg(color.name()));
}

}  // namespace velmora
