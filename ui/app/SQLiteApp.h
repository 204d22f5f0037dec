// CSQLiteApp: start-up of the program.
#pragma once

#include <memory>

#include "ui/app/SingleInstance.h"

namespace velmora {

class CMainFrame;

class CSQLiteApp {
 public:
  CSQLiteApp();
  ~CSQLiteApp();

  // Checks the single-instance guard, creates and shows the main window and
  // starts the Open command as soon as the event loop runs. False when the
  // program must end (another copy runs).
  bool InitInstance();

  CMainFrame* MainFrame() const { return m_pFrame.get(); }

 private:
  std::unique_ptr<CSingleInstance> m_pGuard;
  std::unique_ptr<CMainFrame> m_pFrame;
};

}  // namespace velmora
