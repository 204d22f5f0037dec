#include "platform/MessageBox.h"

#include "platform/Text.h"

namespace velmora {
namespace {

MsgResult DefaultHook(const QString& text, MsgButtons buttons, MsgIcon) {
  PrintErrorLine(text);
  return buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::No;
}

MessageBoxHook& Hook() {
  static MessageBoxHook hook = DefaultHook;
  return hook;
}

}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  MessageBoxHook previous = Hook();
  Hook() = hook ? std::move(hook) : MessageBoxHook(DefaultHook);
  return previous;
}

MsgResult ShowMessageBox(const QString& text, MsgButtons buttons, MsgIcon icon) {
  return Hook()(text, buttons, icon);
}

}  // namespace velmora
