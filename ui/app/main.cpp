// velmora-sqlite-recovery: the graphical program.
#include <QApplication>
#include <csignal>

#include "platform/Text.h"
#include "ui/app/SQLiteApp.h"

int main(int argc, char* argv[]) {
  // Past the file size limit a write fails with EFBIG and the save reports
  // it, instead of the signal ending the program without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication application(argc, argv);
  // The application name stays the executable's name: the single-instance
  // lock records it to tell a live owner from a pid that was reused.
  velmora::CSQLiteApp app;
  // The arguments keep their bytes (a file name need not be UTF-8).
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << velmora::PathFromNative(QByteArray(argv[i]));
  if (!app.InitInstance(arguments)) return 0;
  return QApplication::exec();
}
