// The application object: one per process, constructed before start-up.
// Run() is the message loop; when the queue runs dry it gives the main
// window's bars their idle-time enabling.
#pragma once

#include <windows.h>

#include <string>

#include "keyfold/framework/CmdTarget.h"

namespace kf {

class CWnd;

// The string resource the application title is read from.
constexpr UINT IDS_FRAMEWORK_APP_TITLE = 0xE000;

class CWinApp : public CCmdTarget {
 public:
  CWinApp();
  ~CWinApp() override;

  HINSTANCE m_hInstance = nullptr;
  CWnd* m_pMainWnd = nullptr;
  std::string m_strAppName;  // from string IDS_FRAMEWORK_APP_TITLE
  int m_nCmdShow = SW_SHOWNORMAL;

  // Start-up; false ends the program (after ExitInstance).
  virtual bool InitInstance();
  // Returns the program's exit code: the WM_QUIT code.
  virtual int ExitInstance();
  // The message loop, until WM_QUIT; returns ExitInstance().
  virtual int Run();
  // Idle-time work; lCount counts the calls since the last message. True
  // asks for more idle calls.
  virtual bool OnIdle(LONG lCount);
  // Gives the windows from the message's window up to the main window a
  // look at it (dialog keys, accelerators).
  virtual bool PreTranslateMessage(MSG* pMsg);
  // Takes one message and dispatches it; false on WM_QUIT.
  bool PumpMessage();

 protected:
  MSG m_msgCur = {};
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();

// The program entry's body: InitInstance, then Run.
int AfxWinMain(HINSTANCE hInstance, int nCmdShow);

}  // namespace kf
