#include "ui/style/AppStyle.h"

#include <QApplication>
#include <QLinearGradient>
#include <QMenuBar>
#include <QPainter>
#include <QSettings>
#include <QStatusBar>
#include <QStyleFactory>
#include <QStyleOption>
#include <QToolBar>

#include "res/ResourceIds.h"

namespace velmora {
namespace {

int g_nApplicationLook = kLookDefault;

QLinearGradient Vertical(const QRect& r, const QColor& top, const QColor& bottom) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0.0, top);
  g.setColorAt(1.0, bottom);
  return g;
}

// The warm highlight of a button under the pointer, and of a pressed one.
void DrawHotPanel(QPainter* p, const QRect& r, bool pressed) {
  p->save();
  p->setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  if (pressed) {
    g.setColorAt(0.0, QColor(0xF8, 0xB4, 0x6B));
    g.setColorAt(0.45, QColor(0xFB, 0x9C, 0x4A));
    g.setColorAt(1.0, QColor(0xFD, 0xD3, 0x7E));
  } else {
    g.setColorAt(0.0, QColor(0xFF, 0xF8, 0xD6));
    g.setColorAt(0.45, QColor(0xFF, 0xE5, 0x8E));
    g.setColorAt(1.0, QColor(0xFF, 0xD7, 0x5E));
  }
  p->setPen(QPen(pressed ? QColor(0xC2, 0x8A, 0x30) : QColor(0xDB, 0xCE, 0x99), 1.0));
  p->setBrush(g);
  p->drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 2.5, 2.5);
  p->restore();
}

}  // namespace

QSettings AppSettings() {
  return QSettings(QStringLiteral("Velmora SQLite Database Recovery"),
                   QStringLiteral("Velmora SQLite DataBase Recovery"));
}

CAppVisualManager2007::CAppVisualManager2007()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {
  setObjectName(QStringLiteral("velmora-blue"));
}

QPalette CAppVisualManager2007::BluePalette() {
  QPalette pal;
  const QColor window(0xD7, 0xE5, 0xF6);
  const QColor ink(0x1E, 0x39, 0x5B);
  pal.setColor(QPalette::Window, window);
  pal.setColor(QPalette::WindowText, ink);
  pal.setColor(QPalette::Base, Qt::white);
  pal.setColor(QPalette::AlternateBase, QColor(0xF3, 0xF7, 0xFC));
  pal.setColor(QPalette::Text, QColor(0x1A, 0x1A, 0x1A));
  pal.setColor(QPalette::Button, QColor(0xE6, 0xEF, 0xFA));
  pal.setColor(QPalette::ButtonText, ink);
  pal.setColor(QPalette::BrightText, Qt::white);
  pal.setColor(QPalette::Light, Qt::white);
  pal.setColor(QPalette::Midlight, QColor(0xEE, 0xF4, 0xFC));
  pal.setColor(QPalette::Mid, QColor(0xA7, 0xC3, 0xE8));
  pal.setColor(QPalette::Dark, QColor(0x65, 0x93, 0xCF));
  pal.setColor(QPalette::Shadow, QColor(0x4A, 0x6F, 0xA5));
  pal.setColor(QPalette::Highlight, QColor(0xFF, 0xE0, 0x8A));
  pal.setColor(QPalette::HighlightedText, QColor(0x1A, 0x1A, 0x1A));
  pal.setColor(QPalette::Link, QColor(0x1F, 0x5F, 0xC7));
  pal.setColor(QPalette::LinkVisited, QColor(0x6A, 0x3F, 0xB0));
  pal.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xFF));
  pal.setColor(QPalette::ToolTipText, QColor(0x4C, 0x4C, 0x4C));
  pal.setColor(QPalette::PlaceholderText, QColor(0x80, 0x8A, 0x99));
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    pal.setColor(QPalette::Disabled, role, QColor(0x8D, 0x9B, 0xB0));
  return pal;
}

QPalette CAppVisualManager2007::standardPalette() const { return BluePalette(); }

void CAppVisualManager2007::polish(QPalette& palette) { palette = BluePalette(); }

void CAppVisualManager2007::polish(QWidget* widget) {
  QProxyStyle::polish(widget);
  if (qobject_cast<QStatusBar*>(widget) != nullptr || qobject_cast<QMenuBar*>(widget) != nullptr) {
    // Bars get the pale blue gradient of the look behind their items.
    QLinearGradient g(0, 0, 0, 1);
    g.setCoordinateMode(QGradient::ObjectBoundingMode);
    g.setColorAt(0.0, QColor(0xE4, 0xEE, 0xFA));
    g.setColorAt(1.0, QColor(0xC6, 0xD9, 0xF1));
    QPalette pal = widget->palette();
    pal.setBrush(QPalette::Window, QBrush(g));
    widget->setPalette(pal);
    widget->setAutoFillBackground(true);
  }
}

void CAppVisualManager2007::FillBarBackground(QPainter& painter, const QRect& r) {
  const int right = r.left() + r.width();  // exclusive right edge
  const int bottom = r.top() + r.height();
  if (r.width() > kBannerMinToolbarWidth) {
    const QPixmap banner = LoadBitmap(IDB_TOOLBAR_BANNER);
    if (!banner.isNull())
      painter.drawPixmap(right - banner.width(), bottom - banner.height(), banner);
    painter.fillRect(
        QRect(QPoint(r.left(), r.top()), QPoint(right - kBannerVisibleWidth - 1, bottom - 1)),
        Qt::white);
  } else {
    painter.fillRect(r, Qt::white);
  }
}

void CAppVisualManager2007::drawControl(ControlElement element, const QStyleOption* option,
                                        QPainter* painter, const QWidget* widget) const {
  switch (element) {
    case CE_ToolBar:
      if (IsMainToolbar(widget)) {
        FillBarBackground(*painter, widget->rect());
      } else {
        painter->fillRect(option->rect, Vertical(option->rect, QColor(0xE4, 0xEE, 0xFA),
                                                 QColor(0xC4, 0xD8, 0xF1)));
        painter->setPen(QColor(0x9E, 0xBE, 0xE5));
        painter->drawLine(option->rect.bottomLeft(), option->rect.bottomRight());
      }
      return;
    case CE_MenuBarEmptyArea:
      painter->fillRect(option->rect,
                        Vertical(option->rect, QColor(0xE4, 0xEE, 0xFA), QColor(0xC6, 0xD9, 0xF1)));
      return;
    case CE_MenuBarItem:
      if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option)) {
        QStyleOptionMenuItem plain = *item;
        const bool hot = (item->state & State_Selected) && (item->state & State_Enabled);
        if (hot)
          DrawHotPanel(painter, item->rect.adjusted(0, 1, 0, -1), item->state & State_Sunken);
        plain.state &= ~(State_Selected | State_Sunken);
        // The bar's own gradient shows through the item.
        plain.palette.setBrush(QPalette::Window, Qt::NoBrush);
        plain.palette.setBrush(QPalette::Button, Qt::NoBrush);
        QCommonStyle::drawControl(element, &plain, painter, widget);
        return;
      }
      break;
    case CE_HeaderSection: {
      const QRect r = option->rect;
      const bool down = option->state & State_Sunken;
      painter->fillRect(r, Vertical(r, down ? QColor(0xDC, 0xE8, 0xF7) : Qt::white,
                                    down ? QColor(0xC3, 0xD6, 0xEF) : QColor(0xE3, 0xEC, 0xF8)));
      painter->setPen(QColor(0xB5, 0xC8, 0xE2));
      painter->drawLine(r.topRight(), r.bottomRight());
      painter->drawLine(r.bottomLeft(), r.bottomRight());
      return;
    }
    case CE_Splitter:
      painter->fillRect(option->rect, QColor(0xC3, 0xD7, 0xF1));
      return;
    default:
      break;
  }
  QProxyStyle::drawControl(element, option, painter, widget);
}

void CAppVisualManager2007::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                          QPainter* painter, const QWidget* widget) const {
  if (element == PE_PanelButtonTool && (option->state & State_Enabled) &&
      (option->state & (State_MouseOver | State_Sunken | State_On))) {
    DrawHotPanel(painter, option->rect, option->state & (State_Sunken | State_On));
    return;
  }
  if (element == PE_FrameStatusBarItem) return;  // no sunken boxes around status texts
  QProxyStyle::drawPrimitive(element, option, painter, widget);
}

bool IsMainToolbar(const QWidget* widget) {
  return qobject_cast<const QToolBar*>(widget) != nullptr &&
         widget->objectName() == QLatin1String(kMainToolbarName);
}

int ApplicationLook() { return g_nApplicationLook; }

int LoadApplicationLook() {
  g_nApplicationLook = AppSettings().value(QStringLiteral("ApplicationLook"), kLookDefault).toInt();
  return g_nApplicationLook;
}

bool OnApplicationLook(QWidget* frame, int commandId) {
  if (commandId < kLookFirstCommand || commandId > kLookLastCommand) return false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  g_nApplicationLook = kLookBlue;
  QStyle* current = QApplication::style();
  if (current == nullptr || current->objectName() != QLatin1String("velmora-blue")) {
    QApplication::setStyle(new CAppVisualManager2007);
  }
  QApplication::setPalette(CAppVisualManager2007::BluePalette());
  if (frame != nullptr) {
    frame->update();
    for (QWidget* child : frame->findChildren<QWidget*>()) child->update();
  }
  AppSettings().setValue(QStringLiteral("ApplicationLook"), kLookBlue);
  QApplication::restoreOverrideCursor();
  return true;
}

bool IsLookChecked(int commandId) { return commandId == g_nApplicationLook; }

}  // namespace velmora
