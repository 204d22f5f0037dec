// velmora-paint-resources OUTDIR: writes every picture of the program as a PNG
// into OUTDIR (to look at them, and for the pictures of the tour).
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <cstdio>

#include "res/ResourceIds.h"

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmora-paint-resources OUTDIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(out.path())) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }
  bool ok = true;
  auto save = [&](const QImage& image, const QString& name) {
    if (!image.save(out.filePath(name))) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(out.filePath(name)));
      ok = false;
    }
  };
  using namespace velmora;
  save(LoadBitmap(IDB_TOOLBAR_PICTURES).toImage(), QStringLiteral("bitmap310-toolbar.png"));
  save(LoadBitmap(IDB_TREE_IMAGES).toImage(), QStringLiteral("bitmap316-tree.png"));
  save(LoadBitmap(IDB_TOOLBAR_BANNER).toImage(), QStringLiteral("bitmap334-banner.png"));
  save(LoadBitmap(IDB_ABOUT_PICTURE).toImage(), QStringLiteral("bitmap345-about.png"));
  for (int size : {16, 32, 48, 128, 256})
    save(LoadIcon(IDR_MAINFRAME).pixmap(size, size).toImage(),
         QStringLiteral("icon128-%1.png").arg(size));
  // The 22 animation frames side by side.
  QImage strip(kAnimationSize * kAnimationFrames, kAnimationSize,
               QImage::Format_ARGB32_Premultiplied);
  strip.fill(Qt::transparent);
  QPainter p(&strip);
  for (int i = 0; i < kAnimationFrames; ++i) p.drawImage(i * kAnimationSize, 0, AnimationFrame(i));
  p.end();
  save(strip, QStringLiteral("animation337.png"));

  // A contact sheet: the small pictures magnified four times, on a window
  // colour, to judge them by eye.
  QImage sheet(1400, 980, QImage::Format_ARGB32_Premultiplied);
  sheet.fill(QColor(0xDF, 0xE8, 0xF5));
  QPainter q(&sheet);
  auto big = [](const QPixmap& pm, int f) { return pm.toImage().scaled(pm.size() * f); };
  q.drawImage(10, 10, big(LoadBitmap(IDB_TOOLBAR_PICTURES), 3));
  q.drawImage(10, 10 + 160, big(LoadBitmap(IDB_TREE_IMAGES), 6));
  q.drawImage(10, 280, LoadBitmap(IDB_TOOLBAR_PICTURES).toImage());
  q.drawImage(200, 280, LoadBitmap(IDB_TREE_IMAGES).toImage());
  q.drawImage(10, 340, LoadBitmap(IDB_TOOLBAR_BANNER).toImage());
  q.drawImage(10, 400, LoadBitmap(IDB_TOOLBAR_BANNER).toImage().scaled(1136, 108));
  q.drawImage(10, 520, LoadBitmap(IDB_ABOUT_PICTURE).toImage());
  int x = 360;
  for (int size : {16, 32, 48, 128, 256}) {
    q.drawImage(x, 520, LoadIcon(IDR_MAINFRAME).pixmap(size, size).toImage());
    x += size + 10;
  }
  q.drawImage(360, 790, big(LoadIcon(IDR_MAINFRAME).pixmap(16, 16), 6));
  q.drawImage(480, 790, big(LoadIcon(IDR_MAINFRAME).pixmap(32, 32), 3));
  for (int i = 0; i < 11; ++i) q.drawImage(600 + i * 70, 790, AnimationFrame(i * 2));
  q.drawImage(600, 860, AnimationFrame(0).scaled(120, 120));
  q.end();
  save(sheet, QStringLiteral("sheet.png"));
  return ok ? 0 : 1;
}
