// The program's message boxes: the message-box hook answered with QMessageBox.
#pragma once

namespace velmora {

// Installs the hook: a modal QMessageBox over the active window, captioned
// with the application title; an OK box gets the warning icon, a Yes/No box
// the question icon, unless another icon is asked for.
void InstallWidgetMessageBoxHook();

}  // namespace velmora
