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

// File names are the system's bytes, which need not be UTF-8. A path from
// the command line is decoded with PathFromNative: valid UTF-8 as text, and
// each byte of an invalid sequence as the lone surrogate U+DC80..U+DCFF
// (which valid UTF-8 can never produce). NativePath gives the exact bytes
// back; every path handed to open(), stat() or the SQLite library goes
// through it, so that such a file opens and names derived from it work.
QString PathFromNative(const QByteArray& bytes);
QByteArray NativePath(const QString& path);

// `text` made safe for a terminal or a log: every control character (C0,
// DEL, C1) and every byte kept by PathFromNative is written as \xHH, so
// that a name read from a damaged file can neither move the cursor, clear
// the screen or set the clipboard, nor start a line of its own. With
// `keepLines`, line feeds and tabs stay as they are (for messages of several
// lines). A backslash is not changed.
QString EscapeControls(const QString& text, bool keepLines = false);

// A tooltip that shows `text` as it is. Qt takes a tooltip that looks like
// HTML for rich text (an <img> in it is loaded from its source), so the text
// is escaped and marked as rich text, with its blanks and lines kept.
QString PlainToolTip(const QString& text);

// Writes `text` escaped (keeping lines) and a line feed to standard error.
void PrintErrorLine(const QString& text);

}  // namespace velmora
