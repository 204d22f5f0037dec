// CSQLiteApp: start-up of the program.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <memory>

#include "ui/app/SingleInstance.h"

namespace velmora {

class CMainFrame;

// The database file a command line names: the first of `arguments` (the
// program name left out) that is not an option ("-x", "--x"; after "--" every
// argument counts). Empty when there is none.
QString DatabaseArgument(const QStringList& arguments);

// The command line a later copy hands to the running one: every argument
// between double quotes, a backslash or double quote inside escaped with a
// backslash. SplitCommandLine undoes it; an unquoted word counts as one
// argument, and an unterminated quote ends at the end of the text.
QString JoinCommandLine(const QStringList& arguments);
QStringList SplitCommandLine(const QString& commandLine);

class CSQLiteApp {
 public:
  CSQLiteApp();
  ~CSQLiteApp();

  // Checks the single-instance guard, creates and shows the main window and,
  // as soon as the event loop runs, opens the file named on the command line,
  // or, when none is named (or it does not exist), starts the Open command.
  // A file named by a later copy is opened too. False when the program must
  // end (another copy runs; the file, made absolute, was handed to it).
  // `arguments` is the program's command line, the program name first.
  bool InitInstance(const QStringList& arguments = QCoreApplication::arguments());

  CMainFrame* MainFrame() const { return m_pFrame.get(); }

  // What a later copy's command line asks of the running one: opens the file
  // it names (or, while the selection dialog is up, puts it in its edit box).
  void OnWokenUp(const QString& commandLine);

 private:
  std::unique_ptr<CSingleInstance> m_pGuard;
  std::unique_ptr<CMainFrame> m_pFrame;
};

}  // namespace velmora
