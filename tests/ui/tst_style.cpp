// The blue look, the look commands, the main toolbar's banner, and the sizes
// of the pictures the rest of the program relies on.
#include <QApplication>
#include <QMainWindow>
#include <QPainter>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QToolBar>

#include "res/ResourceIds.h"
#include "ui/style/AppStyle.h"

using namespace velmora;

namespace {
constexpr int kNoBanner = -100000;
}

class TestStyle : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

  void pictureSizes_data();
  void pictureSizes();
  void iconSizes();

  void toolbarBackground_data();
  void toolbarBackground();
  void bannerOnlyOnMainToolbar();

  void lookCommands_data();
  void lookCommands();
};

void TestStyle::pictureSizes_data() {
  QTest::addColumn<int>("id");
  QTest::addColumn<QSize>("size");
  QTest::newRow("toolbar strip") << int(IDB_TOOLBAR_PICTURES) << QSize(150, 50);
  QTest::newRow("tree images") << int(IDB_TREE_IMAGES) << QSize(96, 16);
  QTest::newRow("banner") << int(IDB_TOOLBAR_BANNER) << QSize(568, 54);
  QTest::newRow("about") << int(IDB_ABOUT_PICTURE) << QSize(337, 321);
  QTest::newRow("unknown id") << 999 << QSize();
}

void TestStyle::pictureSizes() {
  QFETCH(int, id);
  QFETCH(QSize, size);
  const QPixmap pm = LoadBitmap(id);
  QCOMPARE(pm.isNull(), !size.isValid());
  if (!size.isValid()) return;
  QCOMPARE(pm.size(), size);
  // Every picture has something drawn in each of its parts.
  const QImage image = pm.toImage();
  const int parts = id == IDB_TOOLBAR_PICTURES ? 3 : id == IDB_TREE_IMAGES ? 6 : 1;
  const int w = size.width() / parts;
  for (int part = 0; part < parts; ++part) {
    int opaque = 0;
    for (int y = 0; y < size.height(); ++y)
      for (int x = part * w; x < (part + 1) * w; ++x) opaque += qAlpha(image.pixel(x, y)) > 0;
    QVERIFY2(opaque > w * size.height() / 8, qPrintable(QString::number(part)));
  }
}

void TestStyle::iconSizes() {
  const QIcon icon = LoadIcon(IDR_MAINFRAME);
  QVERIFY(!icon.isNull());
  for (int s : {16, 32, 48, 128}) QCOMPARE(icon.pixmap(s, s).size(), QSize(s, s));
  QVERIFY(LoadIcon(1).isNull());
  for (int f = 0; f < kAnimationFrames; ++f) QCOMPARE(AnimationFrame(f).size(), QSize(60, 60));
  QVERIFY(AnimationFrame(22).isNull());
  QVERIFY(AnimationFrame(-1).isNull());
  QVERIFY(AnimationFrame(0) != AnimationFrame(11));
  QVERIFY(TreeImage(6).isNull());
  QCOMPARE(TreeImage(5).size(), QSize(16, 16));
  QCOMPARE(ToolbarPicture(2).size(), QSize(50, 50));
}

void TestStyle::toolbarBackground_data() {
  QTest::addColumn<int>("width");
  QTest::addColumn<int>("whiteUntil");  // first column not forced white (exclusive)
  QTest::addColumn<int>("bannerLeft");  // x of the banner's left edge; kNoBanner: none
  QTest::newRow("1000 wide") << 1000 << 500 << 432;
  QTest::newRow("401 wide") << 401 << -99 << -167;  // the banner starts left of the bar
  QTest::newRow("400 wide: plain white") << 400 << 400 << kNoBanner;
  QTest::newRow("200 wide: plain white") << 200 << 200 << kNoBanner;
}

void TestStyle::toolbarBackground() {
  QFETCH(int, width);
  QFETCH(int, whiteUntil);
  QFETCH(int, bannerLeft);
  const int height = 60;
  QImage image(width, height, QImage::Format_ARGB32);
  image.fill(Qt::black);
  {
    QPainter p(&image);
    CAppVisualManager2007::FillBarBackground(p, QRect(0, 0, width, height));
  }
  const QImage banner =
      LoadBitmap(IDB_TOOLBAR_BANNER).toImage().convertToFormat(QImage::Format_ARGB32);
  for (int x = 0; x < width; ++x) {
    for (int y : {0, height - 54, height - 1}) {
      const QRgb got = image.pixel(x, y);
      if (x < whiteUntil || bannerLeft == kNoBanner) {
        QVERIFY2(got == qRgb(255, 255, 255), qPrintable(QStringLiteral("x %1 y %2").arg(x).arg(y)));
      } else if (y >= height - 54) {
        QCOMPARE(got, banner.pixel(x - bannerLeft, y - (height - 54)));
      } else {
        QCOMPARE(got, qRgb(0, 0, 0));  // above the banner the base fill stays
      }
    }
  }
}

void TestStyle::bannerOnlyOnMainToolbar() {
  QApplication::setStyle(new CAppVisualManager2007);
  QMainWindow frame;
  auto* main = frame.addToolBar(QStringLiteral("Standard"));
  main->setObjectName(QString::fromLatin1(kMainToolbarName));
  main->addAction(QStringLiteral("Open"));
  frame.addToolBarBreak();
  auto* other = frame.addToolBar(QStringLiteral("Other"));
  other->addAction(QStringLiteral("x"));
  frame.resize(1000, 400);
  frame.show();
  QVERIFY(QTest::qWaitForWindowExposed(&frame));
  QVERIFY(IsMainToolbar(main));
  QVERIFY(!IsMainToolbar(other));
  const QImage a = main->grab().toImage();
  const QImage b = other->grab().toImage();
  QCOMPARE(a.pixel(a.width() - 30, a.height() / 2) == qRgb(255, 255, 255), false);  // the banner
  QCOMPARE(QColor(b.pixel(b.width() - 30, b.height() / 2)) == QColor(Qt::white), false);
  QCOMPARE(a.pixel(a.width() - 520, 2), qRgb(255, 255, 255));
}

void TestStyle::lookCommands_data() {
  QTest::addColumn<int>("command");
  QTest::addColumn<bool>("handled");
  QTest::newRow("blue") << 215 << true;
  QTest::newRow("black keeps blue") << 216 << true;
  QTest::newRow("first") << 210 << true;
  QTest::newRow("last") << 218 << true;
  QTest::newRow("not a look command") << 219 << false;
}

void TestStyle::lookCommands() {
  QFETCH(int, command);
  QFETCH(bool, handled);
  QSettings settings(QStringLiteral("Velmora SQLite Database Recovery"),
                     QStringLiteral("Velmora SQLite DataBase Recovery"));
  settings.remove(QStringLiteral("ApplicationLook"));
  settings.sync();
  QCOMPARE(LoadApplicationLook(), kLookDefault);
  QVERIFY(IsLookChecked(214));

  QMainWindow frame;
  QCOMPARE(OnApplicationLook(&frame, command), handled);
  settings.sync();
  if (!handled) {
    QCOMPARE(ApplicationLook(), kLookDefault);
    QVERIFY(!settings.contains(QStringLiteral("ApplicationLook")));
    return;
  }
  QCOMPARE(ApplicationLook(), 215);
  for (int id = 210; id <= 218; ++id) QCOMPARE(IsLookChecked(id), id == 215);
  QCOMPARE(settings.value(QStringLiteral("ApplicationLook")).toInt(), 215);
  QCOMPARE(QApplication::style()->objectName(), QStringLiteral("velmora-blue"));
  QCOMPARE(QApplication::palette().color(QPalette::Window),
           CAppVisualManager2007::BluePalette().color(QPalette::Window));
  QVERIFY(QGuiApplication::overrideCursor() == nullptr);
  QCOMPARE(LoadApplicationLook(), 215);
}

QTEST_MAIN(TestStyle)
#include "tst_style.moc"
