#include "platform/SystemError.h"

#include <cstring>

namespace velmora {

QString FormatSystemError(int errorCode) {
  if (errorCode == 0) return QString();
  char buffer[256] = {};
  // The GNU strerror_r may return a static text instead of filling buffer.
  const char* text = strerror_r(errorCode, buffer, sizeof buffer);
  if (text == nullptr || *text == '\0') return QString();
  return QString::fromLocal8Bit(text);
}

}  // namespace velmora
