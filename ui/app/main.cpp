// velmora-sqlite-recovery: the graphical program.
#include <QApplication>

#include "ui/app/SQLiteApp.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  // The application name stays the executable's name: the single-instance
  // lock records it to tell a live owner from a pid that was reused.
  velmora::CSQLiteApp app;
  if (!app.InitInstance()) return 0;
  return QApplication::exec();
}
