// The frame: a top-level window with its menu, icon and accelerators from
// one resource id, a pane (id IDW_PANE_FIRST) filling its client area, and
// the command route active view -> its document -> frame -> application.
// Menus are enabled through that route when they open; bars are enabled
// the same way at idle time (WM_IDLEUPDATECMDUI).
#pragma once

#include "keyfold/framework/Handles.h"
#include "keyfold/framework/View.h"
#include "keyfold/framework/Wnd.h"

namespace kf {

class CFrameWnd : public CWnd {
 public:
  // Loads menu, icon and accelerators of nIDResource (each may be missing)
  // and creates the frame hidden; the caption is the application title.
  bool LoadFrame(UINT nIDResource, DWORD dwStyle = WS_OVERLAPPEDWINDOW,
                 CWnd* pParentWnd = nullptr, CCreateContext* pContext = nullptr);

  // The view holding the focus, else the one last made active.
  CView* GetActiveView() const;
  void SetActiveView(CView* pView);
  // First update of every view of pDoc, then shows the frame if asked.
  void InitialUpdateFrame(CDocument* pDoc, bool bMakeVisible);
  // Lays out the pane in the client area.
  virtual void RecalcLayout();

  bool OnCmdMsg(UINT nID, CmdCode code, CCmdUI* pCmdUI) override;
  bool PreTranslateMessage(MSG* pMsg) override;

 protected:
  // The frame's children, after the window exists; false fails creation.
  virtual bool OnCreateClient(CREATESTRUCTA* pcs, CCreateContext* pContext);

  int OnCreate(CREATESTRUCTA* pcs) override;
  void OnDestroy() override;
  void OnSize(UINT nType, int cx, int cy) override;
  void OnSetFocus(HWND hOldFocus) override;
  void OnInitMenuPopup(HMENU hPopup, UINT nIndex, bool bSysMenu) override;
  void OnIdleUpdateCmdUI(bool bDisableIfNoHandler) override;
  // The end of the user's logon destroys the frame, so its destroy
  // handling runs before the process goes.
  virtual void OnEndSession(bool bEnding);
  // The main frame's end ends the message loop.
  void PostNcDestroy() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  UniqueMenu m_menu;
  UniqueIcon m_icon;      // LoadImage copies are ours to free
  UniqueIcon m_iconSmall;
  HACCEL m_hAccel = nullptr;  // resource accelerators need no freeing
  CView* m_pActiveView = nullptr;
  CCreateContext* m_pCreateContext = nullptr;
};

// Registers (once) and names the frame's window class.
const char* FrameWndClassName();

}  // namespace kf
