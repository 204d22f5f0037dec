#include "engine/core/Values.h"

#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "engine/core/Format.h"
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

static QString DecodeBytes(const std::uint8_t* data, std::int64_t size, std::uint32_t encoding) {
  if (data == nullptr || size <= 0) return QString(QLatin1String(""));
  return DecodeText(
      QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
      encoding);
}

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

QString EncodingText(std::uint32_t encoding) {
  switch (encoding) {
    case format::kEncodingUtf16le:
      return QStringLiteral("UTF-16le");
    case format::kEncodingUtf16be:
      return QStringLiteral("UTF-16be");
    default:
      return QStringLiteral("UTF-8");
  }
}

namespace {

// Whether the "%f" text `text` of the non-zero finite `value` misstates it:
// it reads as zero, or it spells out more than 15 significant digits (from
// the first non-zero digit to the last), more than a double holds, so its
// last digits are noise of the binary value.
bool FixedTextMisleads(const QString& text) {
  qsizetype first = -1, last = -1, digits = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text.at(i).unicode();
    if (c < '1' || c > '9') continue;
    if (first < 0) first = i;
    last = i;
  }
  if (first < 0) return true;
  for (qsizetype i = first; i <= last; ++i)
    if (text.at(i).isDigit()) ++digits;
  return digits > 15;
}

}  // namespace

QString FormatReal(double value) {
  QString text = FormatFixedReal(value);
  if (value == 0 || !std::isfinite(value) || !FixedTextMisleads(text)) return text;
  // The shortest text that reads back as the same double.
  return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString FormatFixedReal(double value) {
  // Most values, without any formatter: below 1e9 the value times a million
  // is within 0.11 of the exact product, so unless its fraction lies near
  // one half (a tie or close to one: left to the paths below) rounding it
  // gives the six decimals the formatter writes.
  if (value != 0 && std::fabs(value) < 1e9) {
    const double scaled = std::fabs(value) * 1e6;
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) > 0.25) {
      std::uint64_t units = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
      char buffer[32];
      char* const end = buffer + sizeof buffer;
      char* p = end;
      for (int i = 0; i < 6; ++i, units /= 10) *--p = static_cast<char>('0' + units % 10);
      *--p = '.';
      do {
        *--p = static_cast<char>('0' + units % 10);
        units /= 10;
      } while (units != 0);
      if (value < 0) *--p = '-';
      return QString::fromLatin1(p, static_cast<qsizetype>(end - p));
    }
  }
  // Then without the general formatter: six decimals of the exact
  // binary value. The formatter rounds an exact tie (a value with exactly seven
  // decimals, the last a 5: a multiple of 1/128 that is not one of 1/64) away
  // from zero and writes negative zero without its sign, where the shortcut
  // would round to even and keep the sign: those, values of sixteen digits and
  // more, infinities and NaN go through the formatter.
  const double eighths = value * 128.0;
  const bool tie = eighths == std::floor(eighths) && std::fmod(std::fabs(eighths), 2.0) == 1.0;
  if (value != 0 && std::fabs(value) < 1e15 && !tie) {
    char buffer[40];  // fifteen digits, the point, six decimals, a sign
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    if (result.ec == std::errc())
      return QString::fromLatin1(buffer, static_cast<qsizetype>(result.ptr - buffer));
  }
  return QString::asprintf("%f", value);
}

static QString LongTextDisplay(const QString& decoded) {
  QString text = decoded;
  const qsizetype zero = text.indexOf(QChar(0));
  if (zero >= 0) text.truncate(zero);
  // Leading white space goes; the end of the prefix is not the end of the text.
  qsizetype start = 0;
  while (start < text.size() && text.at(start).isSpace()) ++start;
  text.remove(0, start);
  qsizetype keep = std::min<qsizetype>(text.size(), kLongTextChars);
  if (keep > 0 && keep < text.size() && text.at(keep - 1).isHighSurrogate()) --keep;
  text.truncate(keep);
  return text + QLatin1String(kMoreDataMark);
}

QString RenderDisplay(const RecordView& view, const ValueView& value, std::uint32_t encoding) {
  switch (value.storage) {
    case StorageClass::Null:
      return value.serialType == 0 ? QStringLiteral("NULL") : QString(QLatin1String(""));
    case StorageClass::Integer:
      return QString::number(value.intValue);
    case StorageClass::Real:
      return FormatReal(value.realValue);
    case StorageClass::Blob:
      return QStringLiteral("Blob");
    case StorageClass::Text: {
      const QString decoded = DecodeBytes(view.Data(value), value.held, encoding);
      if (value.prefixOnly) return LongTextDisplay(decoded);
      const qsizetype zero = decoded.indexOf(QChar(0));
      return (zero >= 0 ? decoded.left(zero) : decoded).trimmed();
    }
  }
  return QString();
}

QString ExactText(const RecordView& view, const ValueView& value, std::uint32_t encoding) {
  switch (value.storage) {
    case StorageClass::Integer:
      return QString::number(value.intValue);
    case StorageClass::Real:
      return FormatReal(value.realValue);
    case StorageClass::Text:
      return DecodeBytes(view.Data(value), value.held, encoding);
    default:
      return QString(QLatin1String(""));
  }
}

ITEM MakeItem(const RecordView& view, const ValueView& value, std::uint32_t encoding,
              bool withDisplay) {
  ITEM item;
  item.storage = value.storage;
  item.serialType = value.serialType;
  item.intValue = value.intValue;
  item.realValue = value.realValue;
  item.length = value.length;
  item.complete = value.complete;
  if (value.storage == StorageClass::Text || value.storage == StorageClass::Blob) {
    if (const QString* path = view.TempFile(value)) {
      item.inTempFile = true;
      item.tempFilePath = *path;
    } else if (!value.prefixOnly) {
      item.bytes = view.Bytes(value);
    }
  }
  if (withDisplay) item.display = RenderDisplay(view, value, encoding);
  return item;
}

RecordValues MakeItems(const RecordView& view, std::uint32_t encoding, bool withDisplay) {
  RecordValues values;
  values.reserve(view.values.size());
  for (const ValueView& v : view.values) values.push_back(MakeItem(view, v, encoding, withDisplay));
  return values;
}

}  // namespace velmora
