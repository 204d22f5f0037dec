// The program's message boxes: the message-box hook answered with QMessageBox.
#pragma once

#include <QString>

#include "platform/Text.h"  // PlainToolTip

namespace velmora {

// Installs the hook: a modal QMessageBox over the active window, captioned
// with the application title; an OK box gets the warning icon, a Yes/No box
// the question icon, unless another icon is asked for.
// The text is shown as plain text: a message may hold names read from the
// damaged file, and a name that looks like a tag must not be taken for HTML.
void InstallWidgetMessageBoxHook();

}  // namespace velmora
