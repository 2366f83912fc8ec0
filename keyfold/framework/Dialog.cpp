#include "keyfold/framework/Dialog.h"

#include "keyfold/framework/WinApp.h"

namespace kf {

INT_PTR CDialog::DoModal() {
  if (m_hWnd) return -1;
  HWND hOwner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  if (!hOwner) {
    if (CWnd* pMain = AfxGetMainWnd()) hOwner = pMain->m_hWnd;
  }
  if (hOwner) hOwner = ::GetAncestor(hOwner, GA_ROOT);
  return ::DialogBoxParamA(ResourceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), hOwner,
                           &CWnd::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR nResult) {
  if (m_hWnd) ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::OnInitDialog() {
  UpdateData(false);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    RECT before = {};
    ::GetWindowRect(m_hWnd, &before);
    const BOOL result = OnInitDialog();
    // A dialog that did not place itself opens centred on its owner (or
    // the screen), not at the template's corner.
    RECT after = {};
    ::GetWindowRect(m_hWnd, &after);
    if (::EqualRect(&before, &after) && !(GetStyle() & WS_CHILD)) {
      RECT area = {};
      HWND hOwner = ::GetWindow(m_hWnd, GW_OWNER);
      if (!hOwner || !::IsWindowVisible(hOwner) || ::IsIconic(hOwner) ||
          !::GetWindowRect(hOwner, &area))
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
      const int cx = after.right - after.left, cy = after.bottom - after.top;
      ::SetWindowPos(m_hWnd, nullptr, area.left + (area.right - area.left - cx) / 2,
                     area.top + (area.bottom - area.top - cy) / 2, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return result;
  }
  return CWnd::WindowProc(message, wParam, lParam);
}

bool CDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
  const UINT nCode = HIWORD(wParam);
  if (lParam == 0 || nCode == BN_CLICKED) {
    switch (LOWORD(wParam)) {
      case IDOK:
        OnOK();
        return true;
      case IDCANCEL:
        OnCancel();
        return true;
      default:
        break;
    }
  }
  return CWnd::OnCommand(wParam, lParam);
}

}  // namespace kf
