// Window views: a form view is a child dialog made from a dialog resource;
// a list view is a list-view control that is also a view of a document.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "keyfold/framework/Document.h"
#include "keyfold/framework/Wnd.h"

namespace kf {

// A list-view control; adds no state to the window.
class CListCtrl : public CWnd {
 public:
  bool Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);

  int InsertColumn(int nCol, const char* lpszHeading, int nFormat = LVCFMT_LEFT,
                   int nWidth = -1);
  bool SetColumnWidth(int nCol, int cx);
  int GetColumnWidth(int nCol) const;
  int GetItemCount() const;
  int InsertItem(int nItem, const char* lpszItem);
  bool SetItemText(int nItem, int nSubItem, const char* lpszText);
  std::string GetItemText(int nItem, int nSubItem) const;
  bool DeleteAllItems();
  int GetNextItem(int nItem, UINT nFlags) const;
  DWORD SetExtendedStyle(DWORD dwNewStyle);
  DWORD GetExtendedStyle() const;
  bool SetTextBkColor(COLORREF cr);
  COLORREF GetTextBkColor() const;

 protected:
  bool PreCreateWindow(CREATESTRUCTA& cs) override;
};

class CListView : public CListCtrl, public CView {
 public:
  // The view's window is the list control itself.
  CListCtrl& GetListCtrl() { return *this; }
  bool Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID,
              CCreateContext* pContext = nullptr);

  bool OnCmdMsg(UINT nID, CmdCode code, CCmdUI* pCmdUI) override;
  void OnUpdate(CView* pSender, LPARAM lHint, void* pHint) override;

 protected:
  bool PreCreateWindow(CREATESTRUCTA& cs) override;
  // A notification of the list control, reflected by the parent.
  virtual bool OnNotifyReflect(NMHDR* pNMHDR, LRESULT* pResult);
  bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};

class CFormView : public CWnd, public CView {
 public:
  explicit CFormView(UINT nIDTemplate) : m_nIDTemplate(nIDTemplate) {}

  // Creates the form from its template as a child of pParentWnd; WS_VISIBLE
  // in dwStyle shows it.
  bool Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID,
              CCreateContext* pContext = nullptr);
  UINT GetTemplateID() const { return m_nIDTemplate; }

  // Controls take the members' values, then the view's first update.
  void OnInitialUpdate() override;
  void OnUpdate(CView* pSender, LPARAM lHint, void* pHint) override;
  bool OnCmdMsg(UINT nID, CmdCode code, CCmdUI* pCmdUI) override;
  // Keyboard navigation between the form's controls.
  bool PreTranslateMessage(MSG* pMsg) override;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  UINT m_nIDTemplate;
};

}  // namespace kf
