#include "ui/grid/ValueViewer.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>

#include "engine/core/Values.h"

namespace velmora {

QString HexDump(const QByteArray& bytes, std::int64_t maxBytes) {
  const qsizetype n = static_cast<qsizetype>(std::min<std::int64_t>(bytes.size(), maxBytes));
  QString out;
  out.reserve(n / 16 * 80 + 80);
  for (qsizetype line = 0; line < n; line += 16) {
    out += QStringLiteral("%1  ").arg(quint64(line), 8, 16, QLatin1Char('0'));
    QString ascii;
    for (qsizetype i = line; i < line + 16; ++i) {
      if (i < n) {
        const auto b = static_cast<unsigned char>(bytes.at(i));
        out += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0'));
        ascii += (b >= 0x20 && b < 0x7f) ? QChar(b) : QLatin1Char('.');
      } else {
        out += QStringLiteral("   ");
      }
      if (i == line + 7) out += QLatin1Char(' ');
    }
    out += QLatin1Char('|') + ascii + QStringLiteral("|\n");
  }
  return out;
}

QString SizeText(std::int64_t bytes) {
  const QLocale c = QLocale::c();
  QString text = bytes == 1 ? QStringLiteral("1 byte")
                            : QStringLiteral("%1 bytes").arg(c.toString(qint64(bytes)));
  if (bytes >= 1024 * 1024)
    text += QStringLiteral(" (%1 MB)").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
  else if (bytes >= 1024)
    text += QStringLiteral(" (%1 KB)").arg(double(bytes) / 1024, 0, 'f', 1);
  return text;
}

QString SuggestedValueFileName(const QString& table, const QString& column, std::int64_t row,
                               const FetchedValue& value) {
  QString extension = QStringLiteral("txt");
  if (value.storage == StorageClass::Blob) {
    const QByteArray& h = value.head;
    const QString picture = PictureFormat(h).toLower();
    extension = !picture.isEmpty()
                    ? (picture == QLatin1String("jpeg") ? QStringLiteral("jpg") : picture)
                : h.startsWith("%PDF-")           ? QStringLiteral("pdf")
                : h.startsWith("PK\x03\x04")      ? QStringLiteral("zip")
                : h.startsWith("\x1f\x8b")        ? QStringLiteral("gz")
                : h.startsWith("SQLite format 3") ? QStringLiteral("db")
                                                  : QStringLiteral("bin");
  }
  QString name = QStringLiteral("%1_%2_%3")
                     .arg(table, column,
                          value.hasRowid ? QString::number(value.rowid)
                                         : QStringLiteral("row%1").arg(row + 1));
  // Only characters every file system takes; no hidden file.
  for (QChar& c : name)
    if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 ||
        c == QLatin1Char(':') || c == QLatin1Char('*') || c == QLatin1Char('?') ||
        c == QLatin1Char('"') || c == QLatin1Char('<') || c == QLatin1Char('>') ||
        c == QLatin1Char('|'))
      c = QLatin1Char('_');
  while (name.startsWith(QLatin1Char('.'))) name[0] = QLatin1Char('_');
  return name.left(200) + QLatin1Char('.') + extension;
}

CValueViewerDlg::CValueViewerDlg(QWidget* parent, const QString& caption, const FetchedValue& value,
                                 std::uint32_t encoding, SaveAs saveAs)
    : QDialog(parent) {
  setObjectName(QStringLiteral("valueViewer"));
  setWindowTitle(QStringLiteral("Value of ") + caption);
  auto* layout = new QVBoxLayout(this);
  m_pInfo = new QLabel(this);
  m_pInfo->setObjectName(QStringLiteral("valueInfo"));
  m_pInfo->setTextFormat(Qt::PlainText);
  m_pInfo->setWordWrap(true);
  layout->addWidget(m_pInfo);
  m_pText = new QPlainTextEdit(this);
  m_pText->setObjectName(QStringLiteral("valueText"));
  m_pText->setReadOnly(true);

  QString info;
  QString shown;
  const bool partial = value.length > value.head.size();
  switch (value.storage) {
    case StorageClass::Null:
      info = QStringLiteral("NULL");
      break;
    case StorageClass::Integer:
      info = QStringLiteral("Integer");
      shown = QString::fromLatin1(
          SqliteNumberText(ValueView{StorageClass::Integer, 0, value.intValue}));
      break;
    case StorageClass::Real: {
      ValueView real;
      real.storage = StorageClass::Real;
      real.realValue = value.realValue;
      info = QStringLiteral("Real");
      shown = QString::fromLatin1(SqliteNumberText(real)) +
              QStringLiteral("\n\nEvery digit: %1").arg(value.realValue, 0, 'g', 17);
      break;
    }
    case StorageClass::Text:
      info = QStringLiteral("Text, %1").arg(SizeText(value.length));
      shown = DecodeText(value.head, encoding);
      m_pText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
      if (partial)
        info += QStringLiteral("; the first %1 are shown, Save Value As... writes all of it")
                    .arg(SizeText(value.head.size()));
      break;
    case StorageClass::Blob: {
      info = QStringLiteral("Blob, %1").arg(SizeText(value.length));
      const QString format = PictureFormat(value.head);
      if (!format.isEmpty()) {
        info += QStringLiteral(", a %1 picture").arg(format);
        QImage image;
        if (!partial && image.loadFromData(value.head)) {
          m_pPicture = new QLabel(this);
          m_pPicture->setObjectName(QStringLiteral("valuePicture"));
          m_pPicture->setPixmap(QPixmap::fromImage(image));
          info += QStringLiteral(" of %1 x %2 pixels").arg(image.width()).arg(image.height());
        } else {
          info += partial ? QStringLiteral(" (too large to show here)")
                          : QStringLiteral(" (it cannot be read)");
        }
      }
      shown = HexDump(value.head, kHexDumpBytes);
      if (value.length > kHexDumpBytes)
        info += QStringLiteral("; the hex dump shows the first %1").arg(SizeText(kHexDumpBytes));
      m_pText->setLineWrapMode(QPlainTextEdit::NoWrap);
      m_pText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
      break;
    }
  }
  if (!value.complete)
    info += QStringLiteral(". Damage cut this value short: what could be read is shown");
  if (!value.error.isEmpty()) info += QStringLiteral(". ") + value.error;
  m_pInfo->setText(info);
  m_pText->setPlainText(shown);

  if (m_pPicture != nullptr) {
    auto* split = new QSplitter(Qt::Vertical, this);
    auto* scroll = new QScrollArea(split);
    scroll->setWidget(m_pPicture);
    scroll->setAlignment(Qt::AlignCenter);
    split->addWidget(scroll);
    split->addWidget(m_pText);
    layout->addWidget(split, 1);
  } else {
    layout->addWidget(m_pText, 1);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  m_pSave = buttons->addButton(QStringLiteral("&Save Value As..."), QDialogButtonBox::ActionRole);
  m_pSave->setObjectName(QStringLiteral("saveValue"));
  connect(m_pSave, &QPushButton::clicked, this, [saveAs] {
    if (saveAs) saveAs();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(720, 520);
}

}  // namespace velmora
