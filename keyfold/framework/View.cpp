#include "keyfold/framework/View.h"

#include "keyfold/framework/FrameWnd.h"

#include <algorithm>
#include <vector>

namespace kf {

namespace {

void InitListControls() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
    return ::InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)done;
}

// Views take a client edge instead of a plain border, as panes do.
void BorderToClientEdge(CREATESTRUCTA& cs) {
  if (cs.style & WS_BORDER) {
    cs.dwExStyle |= WS_EX_CLIENTEDGE;
    cs.style &= ~static_cast<LONG>(WS_BORDER);
  }
}

}  // namespace

// ---- CListCtrl ----

bool CListCtrl::PreCreateWindow(CREATESTRUCTA& cs) {
  InitListControls();
  cs.lpszClass = WC_LISTVIEWA;
  return CWnd::PreCreateWindow(cs);
}

bool CListCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
  return CreateEx(0, WC_LISTVIEWA, "", dwStyle | WS_CHILD, rect,
                  pParentWnd ? pParentWnd->m_hWnd : nullptr, nID);
}

int CListCtrl::InsertColumn(int nCol, const char* lpszHeading, int nFormat, int nWidth) {
  LVCOLUMNA col = {};
  col.mask = LVCF_FMT | LVCF_TEXT | LVCF_SUBITEM;
  col.fmt = nFormat;
  col.pszText = const_cast<char*>(lpszHeading);
  col.iSubItem = nCol;
  if (nWidth >= 0) {
    col.mask |= LVCF_WIDTH;
    col.cx = nWidth;
  }
  return static_cast<int>(SendMessage(LVM_INSERTCOLUMNA, static_cast<WPARAM>(nCol),
                                      reinterpret_cast<LPARAM>(&col)));
}

bool CListCtrl::SetColumnWidth(int nCol, int cx) {
  return SendMessage(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(nCol), MAKELPARAM(cx, 0)) != 0;
}

int CListCtrl::GetColumnWidth(int nCol) const {
  return static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(nCol), 0));
}

int CListCtrl::GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }

int CListCtrl::InsertItem(int nItem, const char* lpszItem) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.iItem = nItem;
  item.pszText = const_cast<char*>(lpszItem);
  return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

bool CListCtrl::SetItemText(int nItem, int nSubItem, const char* lpszText) {
  LVITEMA item = {};
  item.iSubItem = nSubItem;
  item.pszText = const_cast<char*>(lpszText);
  return SendMessage(LVM_SETITEMTEXTA, static_cast<WPARAM>(nItem),
                     reinterpret_cast<LPARAM>(&item)) != 0;
}

std::string CListCtrl::GetItemText(int nItem, int nSubItem) const {
  // The control truncates to the buffer; grow until the text fits.
  std::vector<char> buf(256);
  for (;;) {
    LVITEMA item = {};
    item.iSubItem = nSubItem;
    item.pszText = buf.data();
    item.cchTextMax = static_cast<int>(buf.size());
    const int len = static_cast<int>(SendMessage(
        LVM_GETITEMTEXTA, static_cast<WPARAM>(nItem), reinterpret_cast<LPARAM>(&item)));
    if (len < 0) return {};
    if (static_cast<size_t>(len) + 1 < buf.size() || buf.size() >= (1u << 20)) {
      buf.back() = '\0';
      return std::string(buf.data(), std::min(static_cast<size_t>(len), buf.size() - 1));
    }
    buf.assign(buf.size() * 2, '\0');
  }
}

bool CListCtrl::DeleteAllItems() { return SendMessage(LVM_DELETEALLITEMS) != 0; }

int CListCtrl::GetNextItem(int nItem, UINT nFlags) const {
  return static_cast<int>(
      SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(nItem), MAKELPARAM(nFlags, 0)));
}

DWORD CListCtrl::SetExtendedStyle(DWORD dwNewStyle) {
  return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, dwNewStyle));
}

DWORD CListCtrl::GetExtendedStyle() const {
  return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE));
}

bool CListCtrl::SetTextBkColor(COLORREF cr) { return SendMessage(LVM_SETTEXTBKCOLOR, 0, cr) != 0; }

COLORREF CListCtrl::GetTextBkColor() const {
  return static_cast<COLORREF>(SendMessage(LVM_GETTEXTBKCOLOR));
}

// ---- CListView ----

bool CListView::PreCreateWindow(CREATESTRUCTA& cs) {
  BorderToClientEdge(cs);
  return CListCtrl::PreCreateWindow(cs);
}

bool CListView::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID,
                       CCreateContext* pContext) {
  if (!CListCtrl::Create(dwStyle, rect, pParentWnd, nID)) return false;
  if (pContext && pContext->m_pCurrentDoc) pContext->m_pCurrentDoc->AddView(this);
  return true;
}

bool CListView::OnCmdMsg(UINT nID, CmdCode code, CCmdUI* pCmdUI) {
  return CListCtrl::OnCmdMsg(nID, code, pCmdUI) || RouteCmdToDocument(nID, code, pCmdUI);
}

void CListView::OnUpdate(CView*, LPARAM, void*) {
  if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

bool CListView::OnNotifyReflect(NMHDR*, LRESULT*) { return false; }

bool CListView::OnChildNotify(UINT message, WPARAM, LPARAM lParam, LRESULT* pResult) {
  if (message != WM_NOTIFY) return false;
  return OnNotifyReflect(reinterpret_cast<NMHDR*>(lParam), pResult);
}

// ---- CFormView ----

bool CFormView::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID,
                       CCreateContext* pContext) {
  if (m_hWnd || !pParentWnd || !pParentWnd->m_hWnd) return false;
  HWND hwnd = ::CreateDialogParamA(ResourceHandle(), MAKEINTRESOURCEA(m_nIDTemplate),
                                   pParentWnd->m_hWnd, &CWnd::DialogProc,
                                   reinterpret_cast<LPARAM>(this));
  if (!hwnd || hwnd != m_hWnd) {
    if (hwnd) ::DestroyWindow(hwnd);
    return false;
  }
  if (!(GetStyle() & WS_CHILD)) {
    // A form must be a child; a pop-up template is a resource fault.
    DestroyWindow();
    return false;
  }
  ::SetWindowLongPtrA(hwnd, GWLP_ID, static_cast<LONG_PTR>(nID));
  MoveWindow(rect, false);
  if (dwStyle & WS_VISIBLE) ShowWindow(SW_SHOWNOACTIVATE);
  if (pContext && pContext->m_pCurrentDoc) pContext->m_pCurrentDoc->AddView(this);
  return true;
}

LRESULT CFormView::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  // A pane does not take the focus when it is created.
  if (message == WM_INITDIALOG) return FALSE;
  return CWnd::WindowProc(message, wParam, lParam);
}

void CFormView::OnInitialUpdate() {
  UpdateData(false);
  CView::OnInitialUpdate();
}

void CFormView::OnUpdate(CView*, LPARAM, void*) {
  if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

bool CFormView::OnCmdMsg(UINT nID, CmdCode code, CCmdUI* pCmdUI) {
  return CWnd::OnCmdMsg(nID, code, pCmdUI) || RouteCmdToDocument(nID, code, pCmdUI);
}

bool CFormView::PreTranslateMessage(MSG* pMsg) {
  if (pMsg->message < WM_KEYFIRST || pMsg->message > WM_KEYLAST) return false;
  if (pMsg->hwnd != m_hWnd && !::IsChild(m_hWnd, pMsg->hwnd)) return false;
  // IsDialogMessage takes every key it sees, the frame's accelerators
  // included, so the frames get their look first.
  for (CFrameWnd* pFrame = GetParentFrame(); pFrame; pFrame = pFrame->GetParentFrame())
    if (pFrame->PreTranslateMessage(pMsg)) return true;
  return ::IsDialogMessageA(m_hWnd, pMsg) != FALSE;
}

}  // namespace kf
