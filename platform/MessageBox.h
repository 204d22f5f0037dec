// Message boxes behind a hook.
//
// The engine and the output code never hold a widget. When they must tell the
// user something they call ShowMessageBox(); what that does depends on who
// installed the hook: the graphical program shows a QMessageBox, the
// command-line tool writes the text to standard error, tests record the text
// and answer with a prepared button.
#pragma once

#include <QString>
#include <functional>

namespace velmora {

// Caption of every message box of the program.
inline constexpr const char* kAppTitle = "Velmora SQLite DataBase Recovery";

enum class MsgButtons { Ok, YesNo };
// Default: warning for an OK box, question for a Yes/No box.
enum class MsgIcon { Default, Warning, Question, Information };
enum class MsgResult { Ok, Yes, No };

using MessageBoxHook =
    std::function<MsgResult(const QString& text, MsgButtons buttons, MsgIcon icon)>;

// Installs the hook; returns the previous one. An empty hook restores the
// default (standard error; OK boxes answer Ok, Yes/No boxes answer No).
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// Shows `text` through the installed hook and returns the button chosen.
MsgResult ShowMessageBox(const QString& text, MsgButtons buttons = MsgButtons::Ok,
                         MsgIcon icon = MsgIcon::Default);

}  // namespace velmora
