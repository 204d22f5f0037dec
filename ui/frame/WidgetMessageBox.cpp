#include "ui/frame/WidgetMessageBox.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/MessageBox.h"

namespace velmora {

void InstallWidgetMessageBoxHook() {
  SetMessageBoxHook([](const QString& text, MsgButtons buttons, MsgIcon icon) {
    QMessageBox::Icon shown =
        buttons == MsgButtons::YesNo ? QMessageBox::Question : QMessageBox::Warning;
    if (icon == MsgIcon::Warning) shown = QMessageBox::Warning;
    if (icon == MsgIcon::Question) shown = QMessageBox::Question;
    if (icon == MsgIcon::Information) shown = QMessageBox::Information;
    QWidget* parent = QApplication::activeModalWidget();
    if (parent == nullptr) parent = QApplication::activeWindow();
    QMessageBox box(
        shown, QString::fromLatin1(kAppTitle), text,
        buttons == MsgButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
        parent);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setTextFormat(Qt::PlainText);
    const int answer = box.exec();
    if (buttons == MsgButtons::Ok) return MsgResult::Ok;
    return answer == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
  });
}

}  // namespace velmora
