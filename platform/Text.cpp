#include "platform/Text.h"

#include <cstdio>

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

QString PathFromNative(const QByteArray& bytes) {
  QString out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
  const qsizetype n = bytes.size();
  qsizetype i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      out += QChar(c);
      ++i;
      continue;
    }
    // The length of the sequence and the smallest code point it may carry
    // (overlong forms are invalid).
    int length = 0;
    char32_t min = 0, code = 0;
    if (c >= 0xC2 && c <= 0xDF)
      length = 2, min = 0x80, code = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
      length = 3, min = 0x800, code = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
      length = 4, min = 0x10000, code = c & 0x07;
    bool valid = length > 0 && i + length <= n;
    for (int k = 1; valid && k < length; ++k) {
      if ((p[i + k] & 0xC0) != 0x80)
        valid = false;
      else
        code = (code << 6) | (p[i + k] & 0x3F);
    }
    valid = valid && code >= min && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    if (!valid) {
      out += QChar(char16_t(0xDC00 + c));
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      out += QChar(QChar::highSurrogate(code));
      out += QChar(QChar::lowSurrogate(code));
    } else {
      out += QChar(char16_t(code));
    }
    i += length;
  }
  return out;
}

QByteArray NativePath(const QString& path) {
  QByteArray out;
  out.reserve(path.size());
  const qsizetype n = path.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t u = path.at(i).unicode();
    char32_t code = u;
    if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(path.at(i + 1).unicode())) {
      code = QChar::surrogateToUcs4(u, path.at(i + 1).unicode());
      ++i;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      out += char(u - 0xDC00);  // a byte PathFromNative kept
      continue;
    } else if (QChar::isSurrogate(u)) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      out += char(code);
    } else if (code < 0x800) {
      out += char(0xC0 | (code >> 6));
      out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += char(0xE0 | (code >> 12));
      out += char(0x80 | ((code >> 6) & 0x3F));
      out += char(0x80 | (code & 0x3F));
    } else {
      out += char(0xF0 | (code >> 18));
      out += char(0x80 | ((code >> 12) & 0x3F));
      out += char(0x80 | ((code >> 6) & 0x3F));
      out += char(0x80 | (code & 0x3F));
    }
  }
  return out;
}

QString EscapeControls(const QString& text, bool keepLines) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    const bool control = u < 0x20 || (u >= 0x7F && u <= 0x9F);
    if (keepLines && (u == u'\n' || u == u'\t')) {
      out += c;
    } else if (control) {
      out += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
    } else if (u >= 0xDC80 && u <= 0xDCFF &&
               !(out.size() > 0 && QChar::isHighSurrogate(out.back().unicode()))) {
      out += QStringLiteral("\\x%1").arg(unsigned(u - 0xDC00), 2, 16, QLatin1Char('0'));
    } else {
      out += c;
    }
  }
  return out;
}

QString PlainToolTip(const QString& text) {
  if (text.isEmpty()) return text;
  return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() +
         QStringLiteral("</p>");
}

void PrintErrorLine(const QString& text) {
  const QByteArray line = EscapeControls(text, true).toUtf8() + '\n';
  std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
  std::fflush(stderr);
}

}  // namespace velmora
