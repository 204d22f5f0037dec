// velmora-make-manual IN.md OUT.pdf: turns the Markdown user manual into the
// PDF that the Help command opens.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextDocument>
#include <QUrl>
#include <cstdio>

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: velmora-make-manual IN.md OUT.pdf\n");
    return 2;
  }
  QFile in(QString::fromLocal8Bit(argv[1]));
  if (!in.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "velmora-make-manual: cannot read %s\n", argv[1]);
    return 1;
  }
  const QString markdown = QString::fromUtf8(in.readAll());

  QPdfWriter writer(QString::fromLocal8Bit(argv[2]));
  writer.setTitle(QStringLiteral("Velmora SQLite Database Recovery - User manual"));
  writer.setCreator(QStringLiteral("Velmora SQLite Database Recovery"));
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
  writer.setResolution(300);

  QTextDocument document;
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPointSizeF(10.5);
  document.setDefaultFont(font);
  document.setDefaultStyleSheet(QStringLiteral("h1 { color: #1f4e8c; } h2 { color: #1f4e8c; }"));
  document.setMarkdown(markdown);
  // Pictures are named relative to the manual's folder (docs/images/...).
  // They are handed to the document as resources, after the text (setting
  // the text empties the resources): printing works on a copy of the
  // document, which would not load them from files itself.
  const QDir folder = QFileInfo(in.fileName()).absoluteDir();
  static const QRegularExpression picture(QStringLiteral("!\\[[^\\]]*\\]\\(([^)\\s]+)\\)"));
  for (auto match = picture.globalMatch(markdown); match.hasNext();) {
    const QString name = match.next().captured(1);
    const QImage image(folder.filePath(name));
    if (image.isNull()) {
      std::fprintf(stderr, "velmora-make-manual: cannot read the picture %s\n", qPrintable(name));
      return 1;
    }
    document.addResource(QTextDocument::ImageResource, QUrl(name), image);
  }

  document.print(&writer);
  return 0;
}
