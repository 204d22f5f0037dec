#include "ui/app/SQLiteApp.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "platform/MessageBox.h"
#include "ui/frame/CustomEvents.h"
#include "ui/frame/MainFrame.h"
#include "res/ResourceIds.h"
#include "ui/frame/WidgetMessageBox.h"

namespace velmora {

CSQLiteApp::CSQLiteApp() : m_pGuard(std::make_unique<CSingleInstance>()) {}

CSQLiteApp::~CSQLiteApp() {
  m_pFrame.reset();
  m_pGuard.reset();
}

bool CSQLiteApp::InitInstance() {
  // VELMORA_MESSAGES_TO_STDERR=1 keeps the default hook (standard error), so
  // that scripted runs never wait on a message box.
  if (qEnvironmentVariableIntValue("VELMORA_MESSAGES_TO_STDERR") == 0) InstallWidgetMessageBoxHook();

  if (!m_pGuard->Create(QCoreApplication::arguments().join(QLatin1Char(' ')))) {
    ShowMessageBox(QStringLiteral("Velmora SQLite Database Recovery software is already running."),
                   MsgButtons::Ok, MsgIcon::Information);
    return false;
  }
  if (qEnvironmentVariableIntValue("VELMORA_TRACE_WAKEUP") != 0) {
    QObject::connect(m_pGuard.get(), &CSingleInstance::WokenUp, [](const QString& commandLine) {
      std::fprintf(stderr, "woken up: %s\n", commandLine.toUtf8().constData());
      std::fflush(stderr);
    });
  }

  QApplication::setWindowIcon(LoadIcon(IDR_MAINFRAME));
  m_pFrame = std::make_unique<CMainFrame>();
  m_pFrame->show();
  // The Open command runs at once, as soon as the window is on screen.
  CMainFrame* frame = m_pFrame.get();
  QTimer::singleShot(0, frame, [frame] { SendCustom(frame, WMU_OPEN_DATABASE); });
  return true;
}

}  // namespace velmora
