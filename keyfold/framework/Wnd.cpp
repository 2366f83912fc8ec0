#include "keyfold/framework/Wnd.h"

#include <vector>

#include "keyfold/framework/DataExchange.h"
#include "keyfold/framework/FrameWnd.h"

namespace kf {

namespace {

const char kPropName[] = "kf.CWnd";

// The object whose window is being created by CreateEx on this thread: our
// window procedure attaches it at the window's first message, which comes
// before WM_NCCREATE for top-level windows.
thread_local CWnd* t_pWndInit = nullptr;

// What a message returns when its handler threw: creation fails, anything
// else is treated as handled with nothing done.
LRESULT FailedResult(UINT message) {
  if (message == WM_CREATE) return -1;
  return 0;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lParam) {
  reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
  return TRUE;
}

}  // namespace

HINSTANCE ResourceHandle() { return ::GetModuleHandleA(nullptr); }

LRESULT CALLBACK KfWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* pWnd = CWnd::FromHandlePermanent(hwnd);
  if (!pWnd && t_pWndInit) {
    pWnd = t_pWndInit;
    t_pWndInit = nullptr;
    pWnd->Attach(hwnd);
  }
  if (!pWnd) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  try {
    return pWnd->Dispatch(message, wParam, lParam, nullptr);
  } catch (...) {
    if (message == WM_NCCREATE) return FALSE;
    return FailedResult(message);
  }
}

// Subclassed controls keep a Unicode procedure: an ANSI one would turn the
// control into an ANSI window, and typed double-byte characters would then
// reach it split into bytes it cannot join. Text messages sent with the A
// functions are converted before they arrive here and passed on unchanged.
LRESULT CALLBACK KfSubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* pWnd = CWnd::FromHandlePermanent(hwnd);
  if (!pWnd) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  try {
    return pWnd->Dispatch(message, wParam, lParam, nullptr);
  } catch (...) {
    return FailedResult(message);
  }
}

const char* WndClassName() {
  static const char kName[] = "kfWnd";
  static const bool registered = [] {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = KfWndProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kName;
    return ::RegisterClassExA(&wc) != 0;
  }();
  (void)registered;
  return kName;
}

CWnd::~CWnd() {
  if (m_hWnd) {
    HWND hwnd = m_hWnd;
    Detach();
    ::DestroyWindow(hwnd);
  }
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
  if (!hwnd) return nullptr;
  return static_cast<CWnd*>(::GetPropA(hwnd, kPropName));
}

void CWnd::Attach(HWND hwnd) {
  m_hWnd = hwnd;
  ::SetPropA(hwnd, kPropName, this);
}

void CWnd::Detach() {
  if (!m_hWnd) return;
  if (m_pfnSuper) {
    // Only put the old procedure back if nobody subclassed after us.
    if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC)) == KfSubclassProc)
      ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_pfnSuper = nullptr;
  }
  ::RemovePropA(m_hWnd, kPropName);
  m_hWnd = nullptr;
}

bool CWnd::CreateEx(DWORD dwExStyle, const char* lpszClassName, const char* lpszWindowName,
                    DWORD dwStyle, const RECT& rect, HWND hWndParent, UINT nID, HMENU hMenu) {
  return CreateEx(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top,
                  rect.right - rect.left, rect.bottom - rect.top, hWndParent, nID, hMenu);
}

bool CWnd::CreateEx(DWORD dwExStyle, const char* lpszClassName, const char* lpszWindowName,
                    DWORD dwStyle, int x, int y, int cx, int cy, HWND hWndParent, UINT nID,
                    HMENU hMenu) {
  if (m_hWnd) return false;
  CREATESTRUCTA cs = {};
  cs.dwExStyle = dwExStyle;
  cs.lpszClass = lpszClassName ? lpszClassName : WndClassName();
  cs.lpszName = lpszWindowName;
  cs.style = dwStyle;
  cs.x = x;
  cs.y = y;
  cs.cx = cx;
  cs.cy = cy;
  cs.hwndParent = hWndParent;
  cs.hMenu = (dwStyle & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)) : hMenu;
  cs.hInstance = ::GetModuleHandleA(nullptr);
  if (!PreCreateWindow(cs)) return false;

  CWnd* const pPrevInit = t_pWndInit;
  t_pWndInit = this;
  HWND hwnd = ::CreateWindowExA(cs.dwExStyle, cs.lpszClass, cs.lpszName, cs.style, cs.x, cs.y,
                                cs.cx, cs.cy, cs.hwndParent, cs.hMenu, cs.hInstance, nullptr);
  const bool attachedByProc = (t_pWndInit == nullptr);
  t_pWndInit = pPrevInit;
  if (!hwnd) {
    // A failed creation already ran WM_NCDESTROY, which detached us.
    m_hWnd = nullptr;
    return false;
  }
  if (!attachedByProc || FromHandlePermanent(hwnd) != this) {
    // A system class: its procedure saw the creation; take over now.
    if (!SubclassWindow(hwnd)) {
      ::DestroyWindow(hwnd);
      return false;
    }
  }
  return true;
}

bool CWnd::SubclassWindow(HWND hwnd) {
  if (m_hWnd || !hwnd || FromHandlePermanent(hwnd)) return false;
  Attach(hwnd);
  m_pfnSuper = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(KfSubclassProc)));
  if (!m_pfnSuper) {
    Detach();
    return false;
  }
  return true;
}

bool CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
  return pParent && SubclassWindow(::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID)));
}

HWND CWnd::UnsubclassWindow() {
  HWND hwnd = m_hWnd;
  Detach();
  return hwnd;
}

bool CWnd::DestroyWindow() {
  if (!m_hWnd) return false;
  return ::DestroyWindow(m_hWnd) != FALSE;
}

LRESULT CWnd::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool* pDefaulted) {
  CurrentMessage current{message, wParam, lParam, false};
  CurrentMessage* const pPrev = m_pCurrent;
  m_pCurrent = &current;
  struct Restore {
    CWnd* self;
    CurrentMessage* prev;
    ~Restore() { self->m_pCurrent = prev; }
  } restore{this, pPrev};

  LRESULT result = 0;
  if (message == WM_NCDESTROY) {
    // The object lets go of the window before its last message ends, so a
    // handler can never reach a dead handle.
    HWND hwnd = m_hWnd;
    WNDPROC super = m_pfnSuper;
    const bool dialog = m_bDialog;
    Detach();
    if (super)
      result = ::CallWindowProcW(super, hwnd, message, wParam, lParam);
    else if (!dialog)
      result = ::DefWindowProcA(hwnd, message, wParam, lParam);
    else
      current.bDefaulted = true;
    PostNcDestroy();
  } else {
    result = WindowProc(message, wParam, lParam);
  }
  if (pDefaulted) *pDefaulted = current.bDefaulted;
  return result;
}

LRESULT CWnd::Default() {
  if (!m_pCurrent) return 0;
  return DefWindowProc(m_pCurrent->message, m_pCurrent->wParam, m_pCurrent->lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_bDialog) {
    // The dialog manager acts once the dialog procedure returns FALSE.
    if (m_pCurrent) m_pCurrent->bDefaulted = true;
    return 0;
  }
  if (m_pfnSuper) return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
  return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(reinterpret_cast<CREATESTRUCTA*>(lParam));
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_SIZE:
      OnSize(static_cast<UINT>(wParam), static_cast<short>(LOWORD(lParam)),
             static_cast<short>(HIWORD(lParam)));
      return 0;
    case WM_SETFOCUS:
      OnSetFocus(reinterpret_cast<HWND>(wParam));
      return 0;
    case WM_CONTEXTMENU:
      OnContextMenu(reinterpret_cast<HWND>(wParam),
                    POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
      return 0;
    case WM_INITMENUPOPUP:
      OnInitMenuPopup(reinterpret_cast<HMENU>(wParam), LOWORD(lParam), HIWORD(lParam) != 0);
      return 0;
    case WM_IDLEUPDATECMDUI:
      OnIdleUpdateCmdUI(wParam != 0);
      return 0;
    case WM_COMMAND: {
      HWND hCtl = reinterpret_cast<HWND>(lParam);
      CWnd* pChild = FromHandlePermanent(hCtl);
      LRESULT result = 0;
      if (pChild && pChild != this && pChild->OnChildNotify(message, wParam, lParam, &result))
        return result;
      if (OnCommand(wParam, lParam)) return 0;
      return Default();
    }
    case WM_NOTIFY: {
      const NMHDR* pHdr = reinterpret_cast<const NMHDR*>(lParam);
      LRESULT result = 0;
      CWnd* pChild = pHdr ? FromHandlePermanent(pHdr->hwndFrom) : nullptr;
      if (pChild && pChild != this && pChild->OnChildNotify(message, wParam, lParam, &result))
        return result;
      result = 0;
      if (OnNotify(wParam, lParam, &result)) return result;
      return Default();
    }
    default:
      return Default();
  }
}

bool CWnd::PreCreateWindow(CREATESTRUCTA&) { return true; }
void CWnd::DoDataExchange(CDataExchange*) {}
int CWnd::OnCreate(CREATESTRUCTA*) { return static_cast<int>(Default()); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnClose() { Default(); }
void CWnd::OnSize(UINT, int, int) { Default(); }
void CWnd::OnSetFocus(HWND) { Default(); }
void CWnd::OnContextMenu(HWND, POINT) { Default(); }
void CWnd::OnInitMenuPopup(HMENU, UINT, bool) { Default(); }
void CWnd::OnIdleUpdateCmdUI(bool) {}
bool CWnd::OnNotify(WPARAM, LPARAM, LRESULT*) { return false; }
bool CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return false; }
void CWnd::PostNcDestroy() {}
bool CWnd::PreTranslateMessage(MSG*) { return false; }

bool CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
  const UINT nID = LOWORD(wParam);
  const UINT nCode = HIWORD(wParam);
  if (lParam == 0) {
    // A menu item or accelerator: a command that was disabled since the
    // menu was shown (or that an accelerator reaches directly) must not run.
    struct Tracker : CCmdUI {
      bool enabled = true;
      void Enable(bool bOn) override {
        enabled = bOn;
        m_bEnableChanged = true;
      }
    } tracker;
    tracker.m_nID = nID;
    OnCmdMsg(nID, CmdCode::UpdateUI, &tracker);
    if (!tracker.enabled) return true;
  } else if (nCode != BN_CLICKED) {
    return false;
  }
  return OnCmdMsg(nID, CmdCode::Command, nullptr);
}

INT_PTR CALLBACK CWnd::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* pWnd = FromHandlePermanent(hwnd);
  if (message == WM_INITDIALOG && !pWnd && lParam) {
    pWnd = reinterpret_cast<CWnd*>(lParam);
    pWnd->m_bDialog = true;
    pWnd->Attach(hwnd);
  }
  if (!pWnd) return FALSE;
  bool defaulted = false;
  LRESULT result = 0;
  try {
    result = pWnd->Dispatch(message, wParam, lParam, &defaulted);
  } catch (...) {
    // A dialog whose set-up threw still needs to be closable.
    return FALSE;
  }
  if (defaulted) return FALSE;
  switch (message) {
    // These return their result directly rather than in DWLP_MSGRESULT.
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
      return static_cast<INT_PTR>(result);
    default:
      break;
  }
  if (message != WM_NCDESTROY) ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}

CFrameWnd* CWnd::GetParentFrame() const {
  for (HWND h = ::GetParent(m_hWnd); h; h = ::GetParent(h))
    if (auto* pFrame = dynamic_cast<CFrameWnd*>(FromHandlePermanent(h))) return pFrame;
  return nullptr;
}

std::string CWnd::GetWindowText() const {
  const int len = ::GetWindowTextLengthA(m_hWnd);
  if (len <= 0) return {};
  std::vector<char> buf(static_cast<size_t>(len) + 1, '\0');
  const int got = ::GetWindowTextA(m_hWnd, buf.data(), static_cast<int>(buf.size()));
  return std::string(buf.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

void CWnd::SetWindowText(const std::string& text) { ::SetWindowTextA(m_hWnd, text.c_str()); }

RECT CWnd::GetClientRect() const {
  RECT rc = {};
  ::GetClientRect(m_hWnd, &rc);
  return rc;
}

bool CWnd::MoveWindow(const RECT& rc, bool bRepaint) {
  return ::MoveWindow(m_hWnd, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                      bRepaint ? TRUE : FALSE) != FALSE;
}

int CWnd::MessageBox(const char* lpszText, const char* lpszCaption, UINT nType) {
  return ::MessageBoxA(m_hWnd, lpszText, lpszCaption, nType);
}

void CWnd::SendMessageToDescendants(UINT msg, WPARAM wParam, LPARAM lParam) const {
  // Collect first: a handler may create or destroy windows.
  std::vector<HWND> hwnds;
  ::EnumChildWindows(m_hWnd, CollectChild, reinterpret_cast<LPARAM>(&hwnds));
  for (HWND h : hwnds)
    if (::IsWindow(h)) ::SendMessageA(h, msg, wParam, lParam);
}

}  // namespace kf
