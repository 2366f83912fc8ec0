#include "keyfold/shell/EditMsg.h"

#include "keyfold/framework/DataExchange.h"
#include "keyfold/res/resource.h"
#include "keyfold/shell/KeyfoldDoc.h"

CEditMsg::CEditMsg() : kf::CFormView(IDD_EDITMSG_FORM) {}

void CEditMsg::DoDataExchange(kf::CDataExchange* pDX) {
  kf::CFormView::DoDataExchange(pDX);
  kf::DDX_Control(pDX, IDC_MESSAGE_EDIT, m_editMsg);
  kf::DDX_Text(pDX, IDC_MESSAGE_EDIT, m_strMsg);
}

void CEditMsg::OnInitialUpdate() {
  kf::CFormView::OnInitialUpdate();
  // The edit is bound only now; a size the pane got before is applied here.
  FitEditControl();
}

void CEditMsg::OnUpdate(kf::CView*, LPARAM, void*) {
  m_pDoc = dynamic_cast<CKeyfoldDoc*>(GetDocument());
  if (!m_pDoc) return;
  m_strMsg = m_pDoc->m_strMessage;
  UpdateData(false);
}

void CEditMsg::OnSize(UINT nType, int cx, int cy) {
  kf::CFormView::OnSize(nType, cx, cy);
  FitEditControl();
}

void CEditMsg::FitEditControl() {
  if (!m_editMsg.m_hWnd) return;
  RECT rc = GetClientRect();
  ::InflateRect(&rc, -1, -1);
  m_editMsg.MoveWindow(rc, true);
}
