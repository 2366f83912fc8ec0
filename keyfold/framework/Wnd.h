// The window base: one C++ object per window, found from its handle, with
// the window's messages dispatched to virtual handlers. Our own window
// classes attach the object at the first message of the window; system
// controls (list view, edit) are subclassed right after creation; dialogs
// and form views attach at WM_INITDIALOG. No exception leaves a window
// procedure: the message fails quietly instead.
#pragma once

#include <windows.h>

#include <string>

#include "keyfold/framework/CmdTarget.h"

namespace kf {

class CDataExchange;
class CFrameWnd;

// Sent to a frame and its descendants when the application goes idle, so
// bars can refresh their items' enabling; wParam nonzero: disable items
// without a handler.
constexpr UINT WM_IDLEUPDATECMDUI = 0x0363;

// Control ids the framework gives its own windows.
constexpr UINT IDW_PANE_FIRST = 0xE900;
constexpr UINT IDW_TOOLBAR = 0xE800;

// The resource module: the program's own module unless set otherwise.
HINSTANCE ResourceHandle();

class CWnd : public CCmdTarget {
 public:
  CWnd() = default;
  // Destroys a window that still exists, after detaching it, so no handler
  // of a half-destroyed object runs.
  ~CWnd() override;

  HWND m_hWnd = nullptr;

  HWND GetSafeHwnd() const { return m_hWnd; }
  // Our object for hwnd, or null for a window no CWnd owns.
  static CWnd* FromHandlePermanent(HWND hwnd);

  // Creates the window; for a system class the new window is subclassed.
  // nID is the control id of a child window.
  bool CreateEx(DWORD dwExStyle, const char* lpszClassName, const char* lpszWindowName,
                DWORD dwStyle, const RECT& rect, HWND hWndParent, UINT nID,
                HMENU hMenu = nullptr);
  bool CreateEx(DWORD dwExStyle, const char* lpszClassName, const char* lpszWindowName,
                DWORD dwStyle, int x, int y, int cx, int cy, HWND hWndParent, UINT nID,
                HMENU hMenu = nullptr);
  bool SubclassWindow(HWND hwnd);
  bool SubclassDlgItem(UINT nID, CWnd* pParent);
  // Gives the window back to its original procedure and forgets it.
  HWND UnsubclassWindow();
  bool DestroyWindow();

  // Text exchange between the window's controls and members.
  bool UpdateData(bool bSaveAndValidate = true);

  // Thin helpers over the window's handle.
  std::string GetWindowText() const;
  void SetWindowText(const std::string& text);
  HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
  int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
  CWnd* GetParent() const { return FromHandlePermanent(::GetParent(m_hWnd)); }
  CFrameWnd* GetParentFrame() const;
  DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE)); }
  DWORD GetExStyle() const {
    return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE));
  }
  RECT GetClientRect() const;
  bool MoveWindow(const RECT& rc, bool bRepaint = true);
  bool ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow) != FALSE; }
  LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageA(m_hWnd, msg, wParam, lParam);
  }
  int MessageBox(const char* lpszText, const char* lpszCaption, UINT nType = MB_OK);
  // Sends msg to every descendant window (our objects or not).
  void SendMessageToDescendants(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;

  // Gives the window a look at a message before it is dispatched
  // (accelerators, dialog keys); true when it was consumed.
  virtual bool PreTranslateMessage(MSG* pMsg);

 protected:
  // Every message of the window comes here first.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The platform's handling of a message: the class's own procedure, the
  // subclassed procedure, or the dialog manager's.
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The platform's handling of the message now being dispatched.
  LRESULT Default();

  virtual bool PreCreateWindow(CREATESTRUCTA& cs);
  virtual void DoDataExchange(CDataExchange* pDX);

  // Handlers. Each default does the platform's handling (Default()).
  virtual int OnCreate(CREATESTRUCTA* pcs);
  virtual void OnDestroy();
  virtual void OnClose();
  virtual void OnSize(UINT nType, int cx, int cy);
  virtual void OnSetFocus(HWND hOldFocus);
  virtual void OnContextMenu(HWND hWnd, POINT ptScreen);
  virtual void OnInitMenuPopup(HMENU hPopup, UINT nIndex, bool bSysMenu);
  virtual void OnIdleUpdateCmdUI(bool bDisableIfNoHandler);
  // A command: menu, accelerator or button click. True when handled.
  virtual bool OnCommand(WPARAM wParam, LPARAM lParam);
  // A notification from a child that did not handle it itself.
  virtual bool OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  // A notification or command of this window, reflected by its parent.
  virtual bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  // Last message of the window; the object is already detached.
  virtual void PostNcDestroy();

  // Attaches at WM_INITDIALOG; used by dialogs and form views.
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  // Whether Default() goes to the dialog manager.
  bool m_bDialog = false;

 private:
  friend LRESULT CALLBACK KfWndProc(HWND, UINT, WPARAM, LPARAM);
  friend LRESULT CALLBACK KfSubclassProc(HWND, UINT, WPARAM, LPARAM);

  struct CurrentMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool bDefaulted;  // dialogs: the dialog manager should handle it
  };

  void Attach(HWND hwnd);
  void Detach();
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool* pDefaulted);

  WNDPROC m_pfnSuper = nullptr;  // the procedure we subclassed, if any
  CurrentMessage* m_pCurrent = nullptr;
};

// Registers (once) and names the class our plain windows are created with.
const char* WndClassName();

// Thin wrappers over controls; they add no state of their own.
class CEdit : public CWnd {
 public:
  void SetLimitText(UINT nMax) { SendMessage(EM_LIMITTEXT, nMax, 0); }
  UINT GetLimitText() const { return static_cast<UINT>(SendMessage(EM_GETLIMITTEXT)); }
  void SetSel(int nStart, int nEnd) { SendMessage(EM_SETSEL, nStart, nEnd); }
};

}  // namespace kf
