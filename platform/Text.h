// Text conversions between the program's own texts (QString) and the byte
// strings handed to SQLite or read from the damaged file.
//
// The system's 8-bit ("ANSI") code page is UTF-8 on Linux, so ANSI decoding is
// UTF-8 decoding.
#pragma once

#include <QByteArray>
#include <QString>

namespace velmora {

// `text` as UTF-8, zero-terminated (QByteArray keeps the terminator after
// size()). A null QString gives a null QByteArray. Every SQL text and every
// path handed to the SQLite library goes through here.
QByteArray ToUtf8(const QString& text);

// `size` bytes decoded in the system's 8-bit code page (UTF-8). Invalid
// sequences become U+FFFD; embedded zero bytes are kept as U+0000.
QString AnsiToText(const char* bytes, qsizetype size);

// `size` bytes decoded as UTF-8 (same as AnsiToText on this system; kept
// separate so that callers say what they mean).
QString Utf8ToText(const char* bytes, qsizetype size);

}  // namespace velmora
