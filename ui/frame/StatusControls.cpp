#include "ui/frame/StatusControls.h"

#include <QPainter>
#include <QStyleOptionButton>

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

void ProgressBarAdapter::SetRange(int low, int high) {
  // A bar cannot run backwards; an inverted range is shown as an empty one.
  m_pBar->setRange(low, high < low ? low : high);
}

void ProgressBarAdapter::SetBarColor(std::uint32_t rgb) {
  const QColor color(int((rgb >> 16) & 0xFF), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
  m_pBar->setStyleSheet(QStringLiteral("QProgressBar::chunk { background-color: %1; }")
                            .arg(color.name()));
}

}  // namespace velmora
