#include "keyfold/framework/DataExchange.h"

#include <vector>

#include "keyfold/framework/Wnd.h"

namespace kf {

HWND CDataExchange::PrepareCtrl(int nID) {
  m_hWndLastControl = m_pDlgWnd->GetDlgItem(nID);
  return m_hWndLastControl;
}

void CDataExchange::Fail() {
  m_bFailed = true;
  if (m_bSaveAndValidate && m_hWndLastControl) {
    ::SetFocus(m_hWndLastControl);
    ::SendMessageA(m_hWndLastControl, EM_SETSEL, 0, -1);
  }
}

void DDX_Control(CDataExchange* pDX, int nID, CWnd& rControl) {
  if (pDX->m_bFailed || rControl.m_hWnd) return;
  HWND hCtl = pDX->PrepareCtrl(nID);
  if (!hCtl || !rControl.SubclassWindow(hCtl)) pDX->Fail();
}

void DDX_Text(CDataExchange* pDX, int nID, std::string& value) {
  if (pDX->m_bFailed) return;
  HWND hCtl = pDX->PrepareCtrl(nID);
  if (!hCtl) {
    pDX->Fail();
    return;
  }
  if (!pDX->m_bSaveAndValidate) {
    ::SetWindowTextA(hCtl, value.c_str());
    return;
  }
  const int len = ::GetWindowTextLengthA(hCtl);
  if (len <= 0) {
    value.clear();
    return;
  }
  std::vector<char> buf(static_cast<size_t>(len) + 1, '\0');
  const int got = ::GetWindowTextA(hCtl, buf.data(), static_cast<int>(buf.size()));
  value.assign(buf.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int nChars) {
  if (pDX->m_bFailed || nChars < 0) return;
  if (!pDX->m_bSaveAndValidate) {
    if (pDX->m_hWndLastControl)
      ::SendMessageA(pDX->m_hWndLastControl, EM_LIMITTEXT, static_cast<WPARAM>(nChars), 0);
    return;
  }
  if (value.size() > static_cast<size_t>(nChars)) pDX->Fail();
}

bool CWnd::UpdateData(bool bSaveAndValidate) {
  if (!m_hWnd) return false;
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return !dx.m_bFailed;
}

}  // namespace kf
