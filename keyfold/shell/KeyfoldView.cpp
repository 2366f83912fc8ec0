#include "keyfold/shell/KeyfoldView.h"

#include "keyfold/shell/KeyfoldDoc.h"

namespace {

// The row whose list text is only the key's algorithm; a click on it shows
// the whole key instead.
constexpr int kPublicKeyRow = 7;

}  // namespace

CKeyfoldDoc* CKeyfoldView::GetDocument() const {
  return dynamic_cast<CKeyfoldDoc*>(kf::CView::GetDocument());
}

bool CKeyfoldView::PreCreateWindow(CREATESTRUCTA& cs) {
  cs.style |= LVS_REPORT;
  return kf::CListView::PreCreateWindow(cs);
}

void CKeyfoldView::OnInitialUpdate() {
  kf::CListView::OnInitialUpdate();
  kf::CListCtrl& list = GetListCtrl();
  list.InsertColumn(0, "名称", LVCFMT_LEFT);
  list.InsertColumn(1, "值", LVCFMT_LEFT);
  list.SetColumnWidth(0, 150);
  list.SetColumnWidth(1, 200);
}

void CKeyfoldView::OnUpdate(kf::CView*, LPARAM, void*) {
  if (m_bClickUpdate) {
    m_bClickUpdate = false;
    return;
  }
  RebuildRows();
}

void CKeyfoldView::RebuildRows() {
  if (!m_hWnd) return;
  kf::CListCtrl& list = GetListCtrl();
  list.DeleteAllItems();
  list.SetTextBkColor(CLR_NONE);
  list.SetExtendedStyle(LVS_EX_FULLROWSELECT);
  const CKeyfoldDoc* pDoc = GetDocument();
  if (!pDoc) return;
  // The two lists are kept the same length by their writers; a value
  // missing all the same shows as empty rather than reading past the end.
  const size_t count = pDoc->m_arrFieldNames.size();
  for (size_t i = 0; i < count; ++i) {
    const int row = list.InsertItem(static_cast<int>(i), pDoc->m_arrFieldNames[i].c_str());
    if (row < 0) continue;
    const char* value =
        i < pDoc->m_arrFieldValues.size() ? pDoc->m_arrFieldValues[i].c_str() : "";
    list.SetItemText(row, 1, value);
  }
}

bool CKeyfoldView::OnNotifyReflect(NMHDR* pNMHDR, LRESULT* pResult) {
  if (pNMHDR && pNMHDR->code == static_cast<UINT>(NM_CLICK)) {
    OnClick(pResult);
    return true;
  }
  return kf::CListView::OnNotifyReflect(pNMHDR, pResult);
}

void CKeyfoldView::OnClick(LRESULT* pResult) {
  *pResult = 0;
  kf::CListCtrl& list = GetListCtrl();
  const int row = list.GetNextItem(-1, LVNI_SELECTED);
  if (row < 0) return;
  CKeyfoldDoc* pDoc = GetDocument();
  if (!pDoc) return;
  m_bClickUpdate = true;
  if (row == kPublicKeyRow)
    pDoc->m_strMessage = pDoc->m_strPublicKey;
  else
    pDoc->m_strMessage = list.GetItemText(row, 1);
  pDoc->UpdateAllViews(nullptr);
  // Should the update not have reached this view, the next one must still
  // rebuild.
  m_bClickUpdate = false;
}
