#include "ui/app/SQLiteApp.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>

#include "platform/MessageBox.h"
#include "platform/NativeFiles.h"
#include "platform/Text.h"
#include "res/ResourceIds.h"
#include "ui/frame/MainFrame.h"
#include "ui/frame/SQLiteOpenFile.h"
#include "ui/frame/WidgetMessageBox.h"
#include "ui/grid/CustomEvents.h"

namespace velmora {

QString DatabaseArgument(const QStringList& arguments) {
  bool options = true;
  for (const QString& argument : arguments) {
    if (options && argument == QLatin1String("--")) {
      options = false;
      continue;
    }
    if (options && argument.startsWith(QLatin1Char('-'))) continue;
    if (!argument.isEmpty()) return argument;
  }
  return {};
}

QString JoinCommandLine(const QStringList& arguments) {
  QStringList quoted;
  for (QString argument : arguments) {
    argument.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    argument.replace(QLatin1Char('"'), QLatin1String("\\\""));
    quoted << QLatin1Char('"') + argument + QLatin1Char('"');
  }
  return quoted.join(QLatin1Char(' '));
}

QStringList SplitCommandLine(const QString& commandLine) {
  QStringList arguments;
  QString current;
  bool inArgument = false, quoted = false;
  for (qsizetype i = 0; i < commandLine.size(); ++i) {
    const QChar c = commandLine.at(i);
    if (quoted) {
      if (c == QLatin1Char('\\') && i + 1 < commandLine.size()) {
        current += commandLine.at(++i);
      } else if (c == QLatin1Char('"')) {
        quoted = false;
      } else {
        current += c;
      }
    } else if (c == QLatin1Char('"')) {
      quoted = inArgument = true;
    } else if (c == QLatin1Char(' ')) {
      if (inArgument) arguments << current;
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) arguments << current;
  return arguments;
}

CSQLiteApp::CSQLiteApp() : m_pGuard(std::make_unique<CSingleInstance>()) {}

CSQLiteApp::~CSQLiteApp() {
  m_pFrame.reset();
  m_pGuard.reset();
}

bool CSQLiteApp::InitInstance(const QStringList& commandLine) {
  // VELMORA_MESSAGES_TO_STDERR=1 keeps the default hook (standard error), so
  // that scripted runs never wait on a message box.
  if (qEnvironmentVariableIntValue("VELMORA_MESSAGES_TO_STDERR") == 0)
    InstallWidgetMessageBoxHook();

  // The file named on the command line, made absolute: a running copy that
  // receives it works in another folder.
  QStringList arguments = commandLine;
  QString file = DatabaseArgument(arguments.mid(1));
  if (!file.isEmpty()) {
    const qsizetype at = arguments.indexOf(file, 1);
    file = NativeAbsolutePath(file);
    if (at > 0) arguments[at] = file;
  }
  if (!m_pGuard->Create(JoinCommandLine(arguments))) {
    ShowMessageBox(QStringLiteral("Velmora SQLite Database Recovery software is already running."),
                   MsgButtons::Ok, MsgIcon::Information);
    return false;
  }
  if (qEnvironmentVariableIntValue("VELMORA_TRACE_WAKEUP") != 0) {
    QObject::connect(m_pGuard.get(), &CSingleInstance::WokenUp, [](const QString& commandLine) {
      std::fprintf(stderr, "woken up: %s\n", NativePath(commandLine).constData());
      std::fflush(stderr);
    });
  }

  QApplication::setWindowIcon(LoadIcon(IDR_MAINFRAME));
  m_pFrame = std::make_unique<CMainFrame>();
  m_pFrame->show();
  // The file named on the command line is opened, otherwise the Open
  // command runs, as soon as the window is on screen.
  CMainFrame* frame = m_pFrame.get();
  QTimer::singleShot(0, frame, [frame, file] {
    if (file.isEmpty() || !frame->OpenDatabasePath(file)) SendCustom(frame, WMU_OPEN_DATABASE);
  });
  QObject::connect(m_pGuard.get(), &CSingleInstance::WokenUp, frame,
                   [this](const QString& commandLine) { OnWokenUp(commandLine); });
  return true;
}

void CSQLiteApp::OnWokenUp(const QString& commandLine) {
  CMainFrame* frame = m_pFrame.get();
  const QString file = DatabaseArgument(SplitCommandLine(commandLine).mid(1));
  if (frame == nullptr || file.isEmpty()) return;
  if (auto* dialog = qobject_cast<CSQLiteOpenFile*>(QApplication::activeModalWidget())) {
    // The user is choosing a file: the handed one is offered there.
    dialog->PathEdit()->setText(file);
    return;
  }
  if (QApplication::activeModalWidget() != nullptr) return;  // another dialog waits for an answer
  // From the event loop: the hand-over's socket is finished with first.
  QTimer::singleShot(0, frame, [frame, file] { frame->OpenDatabasePath(file); });
}

}  // namespace velmora
