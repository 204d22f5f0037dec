#include "platform/Text.h"

namespace velmora {

QByteArray ToUtf8(const QString& text) {
  if (text.isNull()) return QByteArray();
  return text.toUtf8();
}

QString AnsiToText(const char* bytes, qsizetype size) {
  if (bytes == nullptr || size <= 0) return QString();
  return QString::fromUtf8(bytes, size);
}

QString Utf8ToText(const char* bytes, qsizetype size) {
  if (bytes == nullptr || size <= 0) return QString();
  return QString::fromUtf8(bytes, size);
}

}  // namespace velmora
