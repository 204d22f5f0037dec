// The program's pictures, drawn with QPainter at the sizes the resources have.
//
// One palette runs through all of them: the blues of the window style
// (ui/style), a steel-blue database drum as the program's emblem, and a green
// "recovery" arrow on the program icon. Everything is antialiased and drawn
// on a transparent background unless the picture is a background itself
// (banner, About picture).
#include <QFont>
#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

#include "res/ResourceIds.h"

namespace velmora {
namespace {

const QColor kInk(0x15, 0x42, 0x8B);       // captions and titles
const QColor kDrumDark(0x1D, 0x4F, 0x91);  // drum outline and shadow side
const QColor kDrumMid(0x4A, 0x86, 0xD0);
const QColor kDrumLight(0xB9, 0xD7, 0xF7);

QImage NewImage(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

QFont UiFont(qreal pixelSize, bool bold = false) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
  font.setBold(bold);
  font.setHintingPreference(QFont::PreferFullHinting);
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

// A database drum: a cylinder of stacked platters seen slightly from above.
void DrawDrum(QPainter& p, const QRectF& r, qreal penWidth = 1.0) {
  const qreal eh = r.width() * 0.34;  // height of the top and bottom ellipses
  const QRectF top(r.left(), r.top(), r.width(), eh);
  const QRectF bottom(r.left(), r.bottom() - eh, r.width(), eh);

  QPainterPath body;
  body.moveTo(r.left(), r.top() + eh / 2);
  body.lineTo(r.left(), r.bottom() - eh / 2);
  body.arcTo(bottom, 180, 180);
  body.lineTo(r.right(), r.top() + eh / 2);
  body.arcTo(top, 0, -180);
  body.closeSubpath();

  QLinearGradient side(r.left(), 0, r.right(), 0);
  side.setColorAt(0.0, kDrumDark);
  side.setColorAt(0.35, kDrumMid.lighter(125));
  side.setColorAt(0.55, kDrumMid);
  side.setColorAt(1.0, kDrumDark.darker(115));
  p.setPen(QPen(kDrumDark.darker(130), penWidth));
  p.setBrush(side);
  p.drawPath(body);

  // Platter seams: the lower halves of two ellipses across the body.
  const qreal span = r.height() - eh;
  p.setBrush(Qt::NoBrush);
  QPen seam(QColor(0xE8, 0xF2, 0xFF, 150), penWidth);
  for (int i = 1; i <= 2; ++i) {
    const QRectF ring(r.left(), r.top() + span * i / 3.0, r.width(), eh);
    p.setPen(seam);
    p.drawArc(ring, 180 * 16, 180 * 16);
  }

  QRadialGradient lid(top.center() - QPointF(top.width() * 0.15, top.height() * 0.2),
                      top.width() * 0.6);
  lid.setColorAt(0.0, Qt::white);
  lid.setColorAt(0.6, kDrumLight);
  lid.setColorAt(1.0, kDrumMid);
  p.setPen(QPen(kDrumDark.darker(130), penWidth));
  p.setBrush(lid);
  p.drawEllipse(top);
}

// A 3.5-inch diskette: dark blue shell with a cut corner, metal shutter, label.
void DrawDiskette(QPainter& p, const QRectF& r) {
  const qreal cut = r.width() * 0.16;
  QPainterPath shell;
  shell.moveTo(r.left() + 2, r.top());
  shell.lineTo(r.right() - cut, r.top());
  shell.lineTo(r.right(), r.top() + cut);
  shell.lineTo(r.right(), r.bottom() - 2);
  shell.quadTo(r.right(), r.bottom(), r.right() - 2, r.bottom());
  shell.lineTo(r.left() + 2, r.bottom());
  shell.quadTo(r.left(), r.bottom(), r.left(), r.bottom() - 2);
  shell.lineTo(r.left(), r.top() + 2);
  shell.quadTo(r.left(), r.top(), r.left() + 2, r.top());
  QLinearGradient shellFill(r.topLeft(), r.bottomRight());
  shellFill.setColorAt(0.0, QColor(0x3C, 0x6F, 0xC2));
  shellFill.setColorAt(1.0, QColor(0x16, 0x3B, 0x7A));
  p.setPen(QPen(QColor(0x0E, 0x2A, 0x5A), 1.0));
  p.setBrush(shellFill);
  p.drawPath(shell);

  // Shutter.
  const QRectF shutter(r.left() + r.width() * 0.24, r.top(), r.width() * 0.50, r.height() * 0.34);
  QLinearGradient metal(shutter.topLeft(), shutter.topRight());
  metal.setColorAt(0.0, QColor(0xC8, 0xCF, 0xD8));
  metal.setColorAt(0.5, QColor(0xF4, 0xF6, 0xF9));
  metal.setColorAt(1.0, QColor(0xA9, 0xB3, 0xC0));
  p.setPen(QPen(QColor(0x6F, 0x7A, 0x88), 0.8));
  p.setBrush(metal);
  p.drawRect(shutter);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x2B, 0x3B, 0x55));
  p.drawRect(QRectF(shutter.left() + shutter.width() * 0.58,
                    shutter.top() + shutter.height() * 0.18, shutter.width() * 0.2,
                    shutter.height() * 0.62));

  // Label.
  const QRectF label(r.left() + r.width() * 0.14, r.top() + r.height() * 0.48, r.width() * 0.72,
                     r.height() * 0.46);
  p.setPen(QPen(QColor(0xB8, 0xC6, 0xDA), 0.8));
  p.setBrush(QColor(0xFB, 0xFC, 0xFE));
  p.drawRoundedRect(label, 1.5, 1.5);
  p.setPen(QPen(QColor(0x7F, 0xA4, 0xD8), std::max<qreal>(0.8, r.height() / 32.0)));
  for (int i = 1; i <= 3; ++i) {
    const qreal y = label.top() + label.height() * i / 4.0;
    p.drawLine(QPointF(label.left() + label.width() * 0.12, y),
               QPointF(label.right() - label.width() * 0.12, y));
  }
}

// A glossy blue disc with a white question mark.
void DrawQuestion(QPainter& p, const QRectF& r) {
  QRadialGradient disc(r.center() - QPointF(r.width() * 0.18, r.height() * 0.22), r.width() * 0.7);
  disc.setColorAt(0.0, QColor(0x8F, 0xC1, 0xFA));
  disc.setColorAt(0.55, QColor(0x2F, 0x72, 0xD0));
  disc.setColorAt(1.0, QColor(0x14, 0x44, 0x92));
  p.setPen(QPen(QColor(0x10, 0x35, 0x73), std::max<qreal>(0.8, r.width() / 32.0)));
  p.setBrush(disc);
  p.drawEllipse(r);
  p.setPen(Qt::white);
  p.setFont(UiFont(r.height() * 0.74, true));
  p.drawText(r.translated(0, r.height() * 0.02), Qt::AlignCenter, QStringLiteral("?"));
  // Gloss on the upper half.
  QLinearGradient gloss(r.topLeft(), QPointF(r.left(), r.center().y()));
  gloss.setColorAt(0.0, QColor(255, 255, 255, 120));
  gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(gloss);
  p.drawEllipse(QRectF(r.left() + r.width() * 0.15, r.top() + r.height() * 0.05, r.width() * 0.7,
                       r.height() * 0.45));
}

// A green disc with a white circular arrow: "brought back".
void DrawRecoveryBadge(QPainter& p, const QRectF& r) {
  QRadialGradient disc(r.center() - QPointF(r.width() * 0.15, r.height() * 0.2), r.width() * 0.7);
  disc.setColorAt(0.0, QColor(0x9B, 0xE3, 0x7E));
  disc.setColorAt(0.6, QColor(0x3B, 0xA5, 0x2E));
  disc.setColorAt(1.0, QColor(0x1F, 0x6E, 0x1A));
  p.setPen(QPen(QColor(0xFF, 0xFF, 0xFF), std::max<qreal>(1.0, r.width() * 0.07)));
  p.setBrush(disc);
  p.drawEllipse(
      r.adjusted(r.width() * 0.03, r.height() * 0.03, -r.width() * 0.03, -r.height() * 0.03));
  if (r.width() < 10) return;
  const QRectF arc =
      r.adjusted(r.width() * 0.27, r.height() * 0.27, -r.width() * 0.27, -r.height() * 0.27);
  QPen arrow(Qt::white, r.width() * 0.11, Qt::SolidLine, Qt::FlatCap);
  p.setPen(arrow);
  p.setBrush(Qt::NoBrush);
  p.drawArc(arc, 110 * 16, 280 * 16);
  // Arrow head at the start of the arc (angle 110 degrees), pointing along it.
  const qreal a = 110.0 * M_PI / 180.0;
  const QPointF tip(arc.center().x() + std::cos(a) * arc.width() / 2,
                    arc.center().y() - std::sin(a) * arc.height() / 2);
  const qreal s = r.width() * 0.2;
  QPolygonF head;
  head << tip + QPointF(-s * 0.55, -s * 0.6) << tip + QPointF(s * 0.75, -s * 0.05)
       << tip + QPointF(-s * 0.45, s * 0.7);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawPolygon(head);
}

// A small application window with a blue title bar and list lines.
void DrawListWindow(QPainter& p, const QRectF& r) {
  p.setPen(QPen(QColor(0x3A, 0x67, 0xA8), 1.0));
  p.setBrush(Qt::white);
  p.drawRect(r);
  QLinearGradient title(r.topLeft(), QPointF(r.left(), r.top() + 3));
  title.setColorAt(0.0, QColor(0x6C, 0x9E, 0xE3));
  title.setColorAt(1.0, QColor(0x2F, 0x62, 0xB6));
  p.setPen(Qt::NoPen);
  p.setBrush(title);
  p.drawRect(QRectF(r.left() + 0.5, r.top() + 0.5, r.width() - 1, 3));
  for (int i = 0; i < 3; ++i) {
    const qreal y = r.top() + 5.5 + i * 2.5;
    p.setBrush(QColor(0x4A, 0x86, 0xD0));
    p.drawRect(QRectF(r.left() + 2, y, 1.5, 1.5));
    p.setBrush(QColor(0x9A, 0xA8, 0xBA));
    p.drawRect(QRectF(r.left() + 4.5, y, r.width() - 6.5, 1.5));
  }
}

void DrawFolder(QPainter& p, const QRectF& r) {
  const QColor edge(0xB0, 0x7F, 0x12);
  QPainterPath back;
  back.moveTo(r.left(), r.top() + 2);
  back.lineTo(r.left() + r.width() * 0.38, r.top() + 2);
  back.lineTo(r.left() + r.width() * 0.48, r.top() + 3.5);
  back.lineTo(r.right(), r.top() + 3.5);
  back.lineTo(r.right(), r.bottom());
  back.lineTo(r.left(), r.bottom());
  back.closeSubpath();
  p.setPen(QPen(edge, 1.0));
  p.setBrush(QColor(0xE9, 0xB8, 0x45));
  p.drawPath(back);
  // Sheet of paper peeking out.
  p.setPen(QPen(QColor(0xC8, 0xC8, 0xC8), 0.8));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(r.left() + 1.5, r.top() + 4.5, r.width() - 3, 4));
  QLinearGradient front(QPointF(0, r.top() + 6), QPointF(0, r.bottom()));
  front.setColorAt(0.0, QColor(0xFD, 0xE5, 0x8E));
  front.setColorAt(1.0, QColor(0xF2, 0xC1, 0x4E));
  QPainterPath flap;
  flap.moveTo(r.left(), r.top() + 6.5);
  flap.lineTo(r.right(), r.top() + 6.5);
  flap.lineTo(r.right(), r.bottom());
  flap.lineTo(r.left(), r.bottom());
  flap.closeSubpath();
  p.setPen(QPen(edge, 1.0));
  p.setBrush(front);
  p.drawPath(flap);
}

// A rounded box with a symbol in it: the "=" and "!--" images.
void DrawSymbolBox(QPainter& p, const QRectF& r, const QColor& tint) {
  QLinearGradient fill(r.topLeft(), r.bottomLeft());
  fill.setColorAt(0.0, Qt::white);
  fill.setColorAt(1.0, tint.lighter(170));
  p.setPen(QPen(tint.darker(120), 1.0));
  p.setBrush(fill);
  p.drawRoundedRect(r, 2.5, 2.5);
}

QPixmap PaintTreeImage(int index) {
  QImage image = NewImage(kTreeImageSize, kTreeImageSize);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  switch (index) {
    case kTreeImageDatabase:
      DrawDrum(p, QRectF(2.5, 0.5, 11, 15), 0.9);
      break;
    case kTreeImageObject:
      DrawListWindow(p, QRectF(1.5, 2.5, 13, 11));
      break;
    case kTreeImageFolder:
      DrawFolder(p, QRectF(0.5, 1.5, 15, 12));
      break;
    case kTreeImageQuestion:
      DrawQuestion(p, QRectF(1, 1, 14, 14));
      break;
    case kTreeImageEquals: {
      const QRectF box(1.5, 1.5, 13, 13);
      DrawSymbolBox(p, box, QColor(0x4A, 0x86, 0xD0));
      p.setPen(QPen(kInk, 1.6, Qt::SolidLine, Qt::FlatCap));
      p.drawLine(QPointF(4.5, 6.3), QPointF(11.5, 6.3));
      p.drawLine(QPointF(4.5, 9.7), QPointF(11.5, 9.7));
      break;
    }
    case kTreeImageComment: {
      const QRectF box(0.5, 1.5, 15, 13);
      DrawSymbolBox(p, box, QColor(0xD0, 0x7A, 0x2A));
      const QColor mark(0xB0, 0x4A, 0x10);
      p.setPen(QPen(mark, 1.6, Qt::SolidLine, Qt::FlatCap));
      p.drawLine(QPointF(3.5, 4.2), QPointF(3.5, 9.2));
      p.drawPoint(QPointF(3.5, 11.6));
      p.drawLine(QPointF(6.0, 8.0), QPointF(8.8, 8.0));
      p.drawLine(QPointF(10.3, 8.0), QPointF(13.1, 8.0));
      break;
    }
    default:
      return {};
  }
  p.end();
  return QPixmap::fromImage(image);
}

QPixmap PaintToolbarPicture(int index) {
  static const char* const kCaptions[kToolbarPictureCount] = {"Open", "Save", "Help"};
  if (index < 0 || index >= kToolbarPictureCount) return {};
  const int s = kToolbarPictureSize;
  QImage image = NewImage(s, s);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const QRectF art(10.5, 1.5, 29, 31);
  switch (index) {
    case kToolbarOpen:
      DrawDrum(p, QRectF(art.left() + 3, art.top(), art.width() - 6, art.height()), 1.0);
      break;
    case kToolbarSave:
      DrawDiskette(p, QRectF(art.left() + 0.5, art.top() + 1.5, 28, 28));
      break;
    default:
      DrawQuestion(p, QRectF(art.left() + 0.5, art.top() + 1.5, 28, 28));
      break;
  }
  p.setFont(UiFont(11));
  p.setPen(kInk);
  p.drawText(QRectF(0, 35, s, 14), Qt::AlignHCenter | Qt::AlignVCenter,
             QString::fromLatin1(kCaptions[index]));
  p.end();
  return QPixmap::fromImage(image);
}

QPixmap PaintBanner() {
  QImage image(kBannerWidth, kBannerHeight, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  // White at the left (it meets the white toolbar), soft blue at the right.
  QLinearGradient sky(0, 0, kBannerWidth, 0);
  sky.setColorAt(0.0, Qt::white);
  sky.setColorAt(0.30, Qt::white);
  sky.setColorAt(0.75, QColor(0xE3, 0xEE, 0xFB));
  sky.setColorAt(1.0, QColor(0xC4, 0xDA, 0xF5));
  p.fillRect(image.rect(), sky);

  // Two swooshes behind the text.
  QPainterPath wave;
  wave.moveTo(200, kBannerHeight);
  wave.cubicTo(330, 30, 430, 62, kBannerWidth, 8);
  wave.lineTo(kBannerWidth, kBannerHeight);
  wave.closeSubpath();
  QLinearGradient waveFill(200, 0, kBannerWidth, 0);
  waveFill.setColorAt(0.0, QColor(0x9C, 0xC2, 0xEE, 0));
  waveFill.setColorAt(1.0, QColor(0x9C, 0xC2, 0xEE, 150));
  p.setPen(Qt::NoPen);
  p.setBrush(waveFill);
  p.drawPath(wave);
  QPainterPath line;
  line.moveTo(160, kBannerHeight - 4);
  line.cubicTo(320, 26, 440, 52, kBannerWidth, 2);
  p.setPen(QPen(QColor(255, 255, 255, 200), 1.6));
  p.setBrush(Qt::NoBrush);
  p.drawPath(line);

  DrawDrum(p, QRectF(kBannerWidth - 48, 7, 32, 40), 1.2);
  DrawRecoveryBadge(p, QRectF(kBannerWidth - 30, 27, 22, 22));

  const QRectF text(100, 4, kBannerWidth - 160, kBannerHeight - 8);
  p.setFont(UiFont(19, true));
  QFontMetricsF titleMetrics(p.font());
  const QString title = QStringLiteral("Velmora SQLite Database Recovery");
  p.setPen(QColor(255, 255, 255, 180));
  p.drawText(text.translated(1, 1), Qt::AlignRight | Qt::AlignTop, title);
  p.setPen(kInk);
  p.drawText(text, Qt::AlignRight | Qt::AlignTop, title);
  p.setFont(UiFont(11));
  p.setPen(QColor(0x3B, 0x5F, 0x95));
  p.drawText(QRectF(text.left(), text.top() + titleMetrics.height() + 3, text.width(), 16),
             Qt::AlignRight | Qt::AlignTop,
             QStringLiteral("Tables, views, indexes and triggers back from damaged files"));
  p.end();
  return QPixmap::fromImage(image);
}

QPixmap PaintAboutPicture() {
  const int w = kAboutWidth, h = kAboutHeight;
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  QLinearGradient body(0, 0, 0, h);
  body.setColorAt(0.0, Qt::white);
  body.setColorAt(1.0, QColor(0xF1, 0xF6, 0xFD));
  p.fillRect(image.rect(), body);

  // Header band with the program's name.
  const int header = 62;
  QLinearGradient band(0, 0, w, header);
  band.setColorAt(0.0, QColor(0x17, 0x45, 0x90));
  band.setColorAt(1.0, QColor(0x3F, 0x7F, 0xD6));
  p.fillRect(QRect(0, 0, w, header), band);
  QPainterPath sheen;
  sheen.moveTo(0, header * 0.55);
  sheen.cubicTo(w * 0.35, header * 0.2, w * 0.65, header * 0.9, w, header * 0.35);
  sheen.lineTo(w, 0);
  sheen.lineTo(0, 0);
  sheen.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 28));
  p.drawPath(sheen);
  p.fillRect(QRect(0, header, w, 2), QColor(0x9C, 0xC2, 0xEE));
  p.setPen(Qt::white);
  p.setFont(UiFont(17, true));
  p.drawText(QRectF(0, 9, w, 26), Qt::AlignCenter, QStringLiteral("Velmora SQLite"));
  p.setFont(UiFont(12));
  p.setPen(QColor(0xDC, 0xE9, 0xFA));
  p.drawText(QRectF(0, 34, w, 18), Qt::AlignCenter, QStringLiteral("Database Recovery"));

  // Watermark drum in the body.
  p.setOpacity(0.07);
  DrawDrum(p, QRectF(w - 120, 118, 96, 126), 2.0);
  DrawDrum(p, QRectF(18, 150, 60, 80), 1.5);
  p.setOpacity(1.0);

  // Button strip at the bottom.
  const int strip = h - 52;
  QLinearGradient foot(0, strip, 0, h);
  foot.setColorAt(0.0, QColor(0xE4, 0xEE, 0xFA));
  foot.setColorAt(1.0, QColor(0xC9, 0xDC, 0xF3));
  p.fillRect(QRect(0, strip, w, h - strip), foot);
  p.fillRect(QRect(0, strip, w, 1), QColor(0xA9, 0xC5, 0xEA));
  p.end();
  return QPixmap::fromImage(image);
}

QPixmap PaintIcon(int size) {
  QImage image = NewImage(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  DrawDrum(p, QRectF(s * 0.12, s * 0.04, s * 0.60, s * 0.80), std::max<qreal>(0.8, s / 48.0));
  DrawRecoveryBadge(p, QRectF(s * 0.48, s * 0.48, s * 0.50, s * 0.50));
  p.end();
  return QPixmap::fromImage(image);
}

QImage PaintAnimationFrame(int frame) {
  const int s = kAnimationSize;
  QImage image = NewImage(s, s);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // Eleven dots on a ring; a bright head runs round once every 22 frames and
  // the dots behind it fade.
  const int dots = 11;
  const qreal head = 360.0 * frame / kAnimationFrames;
  const QPointF centre(s / 2.0, s / 2.0);
  for (int k = 0; k < dots; ++k) {
    const qreal angle = 360.0 * k / dots;
    qreal lag = std::fmod(head - angle + 720.0, 360.0);
    const qreal strength = 1.0 - lag / 360.0;
    const qreal a = (90.0 - angle) * M_PI / 180.0;
    const QPointF at(centre.x() + std::cos(a) * 24.0, centre.y() - std::sin(a) * 24.0);
    QColor c = kDrumMid;
    c.setAlphaF(0.18 + 0.82 * strength * strength);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    const qreal radius = 2.4 + 1.6 * strength;
    p.drawEllipse(at, radius, radius);
  }
  DrawDrum(p, QRectF(19, 16, 22, 28), 1.0);
  p.end();
  return image;
}

QHash<int, QPixmap>& BitmapCache() {
  static QHash<int, QPixmap> cache;
  return cache;
}

}  // namespace

QPixmap ToolbarPicture(int index) {
  if (index < 0 || index >= kToolbarPictureCount) return {};
  const QPixmap strip = LoadBitmap(IDB_TOOLBAR_PICTURES);
  return strip.copy(index * kToolbarPictureSize, 0, kToolbarPictureSize, kToolbarPictureSize);
}

QPixmap TreeImage(int index) {
  if (index < 0 || index >= kTreeImageCount) return {};
  const QPixmap strip = LoadBitmap(IDB_TREE_IMAGES);
  return strip.copy(index * kTreeImageSize, 0, kTreeImageSize, kTreeImageSize);
}

QImage AnimationFrame(int frame) {
  if (frame < 0 || frame >= kAnimationFrames) return {};
  static QHash<int, QImage> frames;
  auto it = frames.find(frame);
  if (it == frames.end()) it = frames.insert(frame, PaintAnimationFrame(frame));
  return *it;
}

QPixmap LoadBitmap(int id) {
  auto& cache = BitmapCache();
  if (auto it = cache.find(id); it != cache.end()) return *it;
  QPixmap pixmap;
  switch (id) {
    case IDB_TOOLBAR_PICTURES: {
      QImage strip = NewImage(kToolbarPictureSize * kToolbarPictureCount, kToolbarPictureSize);
      QPainter p(&strip);
      for (int i = 0; i < kToolbarPictureCount; ++i)
        p.drawPixmap(i * kToolbarPictureSize, 0, PaintToolbarPicture(i));
      p.end();
      pixmap = QPixmap::fromImage(strip);
      break;
    }
    case IDB_TREE_IMAGES: {
      QImage strip = NewImage(kTreeImageSize * kTreeImageCount, kTreeImageSize);
      QPainter p(&strip);
      for (int i = 0; i < kTreeImageCount; ++i)
        p.drawPixmap(i * kTreeImageSize, 0, PaintTreeImage(i));
      p.end();
      pixmap = QPixmap::fromImage(strip);
      break;
    }
    case IDB_TOOLBAR_BANNER:
      pixmap = PaintBanner();
      break;
    case IDB_ABOUT_PICTURE:
      pixmap = PaintAboutPicture();
      break;
    default:
      return {};
  }
  cache.insert(id, pixmap);
  return pixmap;
}

QIcon LoadIcon(int id) {
  if (id != IDR_MAINFRAME) return {};
  static QIcon icon;
  if (icon.isNull()) {
    for (int size : {16, 20, 24, 32, 48, 64, 128, 256}) icon.addPixmap(PaintIcon(size));
  }
  return icon;
}

}  // namespace velmora
