// The program's message boxes: the message-box hook answered with QMessageBox.
#pragma once

#include <QString>

namespace velmora {

// Installs the hook: a modal QMessageBox over the active window, captioned
// with the application title; an OK box gets the warning icon, a Yes/No box
// the question icon, unless another icon is asked for.
// The text is shown as plain text: a message may hold names read from the
// damaged file, and a name that looks like a tag must not be taken for HTML.
void InstallWidgetMessageBoxHook();

// A tooltip that shows `text` as it is. Qt takes a tooltip that looks like
// HTML for rich text (an <img> in it is loaded from its source), so the text
// is escaped and marked as rich text, with its blanks and lines kept.
QString PlainToolTip(const QString& text);

}  // namespace velmora
