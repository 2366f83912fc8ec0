#include "keyfold/framework/WinApp.h"

#include "keyfold/framework/Wnd.h"

namespace kf {

namespace {

CWinApp* g_pApp = nullptr;

// Messages that do not end an idle period: mouse moves on the spot, paints
// and the caret's timer would otherwise keep idle work running forever.
bool IsIdleMessage(const MSG& msg, POINT* pLastMouse, UINT* pLastMouseMsg) {
  if (msg.message == WM_MOUSEMOVE || msg.message == WM_NCMOUSEMOVE) {
    if (msg.message == *pLastMouseMsg && msg.pt.x == pLastMouse->x && msg.pt.y == pLastMouse->y)
      return false;
    *pLastMouse = msg.pt;
    *pLastMouseMsg = msg.message;
    return true;
  }
  return msg.message != WM_PAINT && msg.message != 0x0118 /* WM_SYSTIMER */;
}

}  // namespace

CWinApp::CWinApp() {
  m_hInstance = ::GetModuleHandleA(nullptr);
  char title[256] = {};
  if (::LoadStringA(ResourceHandle(), IDS_FRAMEWORK_APP_TITLE, title, sizeof(title)) > 0)
    m_strAppName = title;
  if (!g_pApp) g_pApp = this;
}

CWinApp::~CWinApp() {
  if (g_pApp == this) g_pApp = nullptr;
}

CWinApp* AfxGetApp() { return g_pApp; }

CWnd* AfxGetMainWnd() { return g_pApp ? g_pApp->m_pMainWnd : nullptr; }

bool CWinApp::InitInstance() { return true; }

int CWinApp::ExitInstance() { return static_cast<int>(m_msgCur.wParam); }

bool CWinApp::OnIdle(LONG lCount) {
  if (lCount == 0) {
    // A hidden or minimised frame shows no bars worth refreshing.
    CWnd* pMain = m_pMainWnd;
    if (pMain && pMain->m_hWnd && ::IsWindowVisible(pMain->m_hWnd) &&
        !::IsIconic(pMain->m_hWnd)) {
      ::SendMessageA(pMain->m_hWnd, WM_IDLEUPDATECMDUI, TRUE, 0);
    }
  }
  return false;
}

bool CWinApp::PreTranslateMessage(MSG* pMsg) {
  HWND hStop = m_pMainWnd ? m_pMainWnd->m_hWnd : nullptr;
  for (HWND h = pMsg->hwnd; h; h = ::GetParent(h)) {
    if (CWnd* pWnd = CWnd::FromHandlePermanent(h); pWnd && pWnd->PreTranslateMessage(pMsg))
      return true;
    if (h == hStop) return false;
  }
  // A message of a window outside the main window's tree: the main window
  // still sees it (its accelerators work everywhere in the program).
  if (m_pMainWnd && m_pMainWnd->m_hWnd) return m_pMainWnd->PreTranslateMessage(pMsg);
  return false;
}

bool CWinApp::PumpMessage() {
  if (::GetMessageA(&m_msgCur, nullptr, 0, 0) <= 0) return false;
  if (!PreTranslateMessage(&m_msgCur)) {
    ::TranslateMessage(&m_msgCur);
    ::DispatchMessageA(&m_msgCur);
  }
  return true;
}

int CWinApp::Run() {
  POINT lastMouse = {-1, -1};
  UINT lastMouseMsg = 0;
  bool bIdle = true;
  LONG lIdleCount = 0;
  MSG peek;
  for (;;) {
    while (bIdle && !::PeekMessageA(&peek, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle(lIdleCount++)) bIdle = false;
    }
    do {
      if (!PumpMessage()) return ExitInstance();
      if (IsIdleMessage(m_msgCur, &lastMouse, &lastMouseMsg)) {
        bIdle = true;
        lIdleCount = 0;
      }
    } while (::PeekMessageA(&peek, nullptr, 0, 0, PM_NOREMOVE));
  }
}

int AfxWinMain(HINSTANCE hInstance, int nCmdShow) {
  CWinApp* pApp = AfxGetApp();
  if (!pApp) return -1;
  if (hInstance) pApp->m_hInstance = hInstance;
  pApp->m_nCmdShow = nCmdShow;
  try {
    if (!pApp->InitInstance()) return pApp->ExitInstance();
    return pApp->Run();
  } catch (...) {
    return -1;
  }
}

}  // namespace kf
