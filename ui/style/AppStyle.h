// The program's look: a blue, Office-2007-like style over Fusion, the look
// commands that install it, and the main toolbar's white background with the
// banner at its right end.
#pragma once

#include <QProxyStyle>
#include <QSettings>

class QPainter;
class QWidget;

namespace velmora {

// Look commands 210..218. Whatever is chosen, the blue look (215) is used.
inline constexpr int kLookFirstCommand = 210;
inline constexpr int kLookLastCommand = 218;
inline constexpr int kLookBlue = 215;
inline constexpr int kLookDefault = 214;  // what a missing "ApplicationLook" setting reads as

// Window text of the main toolbar; the style paints the banner on the toolbar
// that carries it as its object name.
inline constexpr const char* kMainToolbarName = "Standard";

// Toolbars wider than this many pixels show the banner.
inline constexpr int kBannerMinToolbarWidth = 400;
// Columns of the banner left visible at the toolbar's right end.
inline constexpr int kBannerVisibleWidth = 500;

class CAppVisualManager2007 : public QProxyStyle {
  Q_OBJECT
 public:
  CAppVisualManager2007();

  // The blue palette of the look.
  static QPalette BluePalette();

  // Fills the background of the main toolbar whose client rectangle is
  // `clientRect`: plain white when it is at most 400 pixels wide; otherwise
  // the banner (bitmap 334) unscaled with its bottom-right corner on the
  // rectangle's bottom-right corner, and white from the left edge up to 500
  // pixels before the right edge (covering the banner's leftmost columns).
  static void FillBarBackground(QPainter& painter, const QRect& clientRect);

  QPalette standardPalette() const override;
  void polish(QWidget* widget) override;
  void polish(QPalette& palette) override;
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget = nullptr) const override;
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
};

// The program's per-user settings (the look, the recent files).
QSettings AppSettings();

// True for the main frame's toolbar (object name "Standard").
bool IsMainToolbar(const QWidget* widget);

// The current look value, and the look stored in the settings ("ApplicationLook",
// 214 when absent), which the main frame loads when it is constructed.
int ApplicationLook();
int LoadApplicationLook();

// Runs look command `commandId` (210..218; other ids are ignored): shows the
// wait cursor, sets the look value to 215, installs CAppVisualManager2007 with
// its palette as the application's style, repaints `frame` and all its
// children, and writes 215 as "ApplicationLook". Returns false for an id
// outside the look commands.
bool OnApplicationLook(QWidget* frame, int commandId);

// Update handler of the look commands: the radio mark goes on the id equal to
// the current look value.
bool IsLookChecked(int commandId);

}  // namespace velmora
