#include "keyfold/framework/FrameWnd.h"

#include "keyfold/framework/WinApp.h"

namespace kf {

LRESULT CALLBACK KfWndProc(HWND, UINT, WPARAM, LPARAM);

const char* FrameWndClassName() {
  static const char kName[] = "kfFrameWnd";
  static const bool registered = [] {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = KfWndProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
    wc.lpszClassName = kName;
    return ::RegisterClassExA(&wc) != 0;
  }();
  (void)registered;
  return kName;
}

bool CFrameWnd::LoadFrame(UINT nIDResource, DWORD dwStyle, CWnd* pParentWnd,
                          CCreateContext* pContext) {
  HINSTANCE hInst = ResourceHandle();
  UniqueMenu menu(::LoadMenuA(hInst, MAKEINTRESOURCEA(nIDResource)));
  m_hAccel = ::LoadAcceleratorsA(hInst, MAKEINTRESOURCEA(nIDResource));
  m_icon.reset(static_cast<HICON>(::LoadImageA(hInst, MAKEINTRESOURCEA(nIDResource), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXICON),
                                               ::GetSystemMetrics(SM_CYICON), 0)));
  m_iconSmall.reset(static_cast<HICON>(
      ::LoadImageA(hInst, MAKEINTRESOURCEA(nIDResource), IMAGE_ICON,
                   ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0)));

  const std::string title = AfxGetApp() ? AfxGetApp()->m_strAppName : std::string();
  m_pCreateContext = pContext;
  const bool ok = CreateEx(0, FrameWndClassName(), title.c_str(), dwStyle & ~WS_VISIBLE,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           pParentWnd ? pParentWnd->m_hWnd : nullptr, 0, menu.get());
  m_pCreateContext = nullptr;
  if (!ok) return false;
  // The window destroys its menu; we take it back at WM_DESTROY.
  m_menu = std::move(menu);
  if (m_icon) SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon.get()));
  if (m_iconSmall)
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_iconSmall.get()));
  return true;
}

int CFrameWnd::OnCreate(CREATESTRUCTA* pcs) {
  if (CWnd::OnCreate(pcs) == -1) return -1;
  return OnCreateClient(pcs, m_pCreateContext) ? 0 : -1;
}

bool CFrameWnd::OnCreateClient(CREATESTRUCTA*, CCreateContext*) { return true; }

void CFrameWnd::OnDestroy() {
  // Keep the menu alive past the window: it is freed by its owner object.
  if (m_menu) ::SetMenu(m_hWnd, nullptr);
  m_pActiveView = nullptr;
  CWnd::OnDestroy();
}

CView* CFrameWnd::GetActiveView() const {
  for (HWND h = ::GetFocus(); h && h != m_hWnd; h = ::GetParent(h)) {
    if (auto* pView = dynamic_cast<CView*>(FromHandlePermanent(h))) return pView;
  }
  return m_pActiveView;
}

void CFrameWnd::SetActiveView(CView* pView) { m_pActiveView = pView; }

void CFrameWnd::InitialUpdateFrame(CDocument* pDoc, bool bMakeVisible) {
  if (pDoc) pDoc->SendInitialUpdate();
  RecalcLayout();
  if (bMakeVisible) {
    const int nCmdShow = AfxGetApp() ? AfxGetApp()->m_nCmdShow : SW_SHOW;
    ShowWindow(nCmdShow);
    ::UpdateWindow(m_hWnd);
  }
}

void CFrameWnd::RecalcLayout() {
  HWND hPane = GetDlgItem(static_cast<int>(IDW_PANE_FIRST));
  if (hPane) {
    const RECT rc = GetClientRect();
    ::MoveWindow(hPane, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
  }
}

void CFrameWnd::OnSize(UINT nType, int, int) {
  if (nType != SIZE_MINIMIZED) RecalcLayout();
}

void CFrameWnd::OnSetFocus(HWND) {
  // The focus belongs in the active pane, not on the frame itself.
  if (auto* pWnd = dynamic_cast<CWnd*>(m_pActiveView); pWnd && pWnd->m_hWnd)
    ::SetFocus(pWnd->m_hWnd);
}

bool CFrameWnd::OnCmdMsg(UINT nID, CmdCode code, CCmdUI* pCmdUI) {
  if (CView* pView = GetActiveView()) {
    if (auto* pTarget = dynamic_cast<CCmdTarget*>(pView);
        pTarget && pTarget->OnCmdMsg(nID, code, pCmdUI))
      return true;
  }
  if (CWnd::OnCmdMsg(nID, code, pCmdUI)) return true;
  CWinApp* pApp = AfxGetApp();
  return pApp && pApp->OnCmdMsg(nID, code, pCmdUI);
}

void CFrameWnd::OnInitMenuPopup(HMENU hPopup, UINT, bool bSysMenu) {
  if (bSysMenu) return;
  const int count = ::GetMenuItemCount(hPopup);
  for (int i = 0; i < count; ++i) {
    const UINT nID = ::GetMenuItemID(hPopup, i);
    // Separators (0) and sub-menus (-1) are not commands.
    if (nID == 0 || nID == static_cast<UINT>(-1)) continue;
    CCmdUI ui;
    ui.m_nID = nID;
    ui.m_nIndex = static_cast<UINT>(i);
    ui.m_hMenu = hPopup;
    ui.DoUpdate(this, true);
  }
}

void CFrameWnd::OnIdleUpdateCmdUI(bool bDisableIfNoHandler) {
  SendMessageToDescendants(WM_IDLEUPDATECMDUI, bDisableIfNoHandler ? TRUE : FALSE, 0);
}

LRESULT CFrameWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ENDSESSION) {
    OnEndSession(wParam != FALSE);
    return 0;
  }
  return CWnd::WindowProc(message, wParam, lParam);
}

void CFrameWnd::OnEndSession(bool bEnding) {
  if (bEnding) DestroyWindow();
}

void CFrameWnd::PostNcDestroy() {
  CWinApp* pApp = AfxGetApp();
  if (pApp && pApp->m_pMainWnd == this) {
    pApp->m_pMainWnd = nullptr;
    ::PostQuitMessage(0);
  }
}

bool CFrameWnd::PreTranslateMessage(MSG* pMsg) {
  if (m_hAccel && pMsg->message >= WM_KEYFIRST && pMsg->message <= WM_KEYLAST)
    return ::TranslateAcceleratorA(m_hWnd, m_hAccel, pMsg) != 0;
  return false;
}

}  // namespace kf
