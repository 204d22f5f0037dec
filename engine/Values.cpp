#include "engine/Values.h"

#include "engine/Format.h"
#include "platform/Text.h"

namespace velmora {
namespace {

QString DecodeUtf16(const QByteArray& bytes, bool bigEndian) {
  const qsizetype units = bytes.size() / 2;
  QString text(units, Qt::Uninitialized);
  QChar* out = text.data();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
  for (qsizetype i = 0; i < units; ++i) {
    const unsigned hi = bigEndian ? p[2 * i] : p[2 * i + 1];
    const unsigned lo = bigEndian ? p[2 * i + 1] : p[2 * i];
    out[i] = QChar(static_cast<char16_t>((hi << 8) | lo));
  }
  return text;
}

}  // namespace

QString DecodeText(const QByteArray& bytes, std::uint32_t encoding) {
  if (bytes.isEmpty()) return QString(QLatin1String(""));
  switch (encoding) {
    case format::kEncodingUtf16le:
      return DecodeUtf16(bytes, false);
    case format::kEncodingUtf16be:
      return DecodeUtf16(bytes, true);
    default:
      return AnsiToText(bytes.constData(), bytes.size());
  }
}

QString DisplayText(const QByteArray& bytes, std::uint32_t encoding) {
  QString text = DecodeText(bytes, encoding);
  const qsizetype zero = text.indexOf(QChar(0));
  if (zero >= 0) text.truncate(zero);
  return std::move(text).trimmed();
}

QString FormatReal(double value) { return QString::asprintf("%f", value); }

QString RenderDisplay(const ITEM& item, std::uint32_t encoding) {
  switch (item.storage) {
    case StorageClass::Null:
      return item.serialType == 0 ? QStringLiteral("NULL") : QString(QLatin1String(""));
    case StorageClass::Integer:
      return QString::number(item.intValue);
    case StorageClass::Real:
      return FormatReal(item.realValue);
    case StorageClass::Blob:
      return QStringLiteral("Blob");
    case StorageClass::Text:
      return DisplayText(item.bytes, encoding);
  }
  return QString();
}

QString ExactText(const ITEM& item, std::uint32_t encoding) {
  switch (item.storage) {
    case StorageClass::Integer:
      return QString::number(item.intValue);
    case StorageClass::Real:
      return FormatReal(item.realValue);
    case StorageClass::Text:
      return DecodeText(item.bytes, encoding);
    default:
      return QString(QLatin1String(""));
  }
}

}  // namespace velmora
