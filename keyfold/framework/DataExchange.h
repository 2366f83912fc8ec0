// Data exchange between a dialog's (or form view's) controls and members.
// UpdateData(false) writes members into controls, UpdateData(true) reads
// and validates them. A failed validation puts the focus on the control and
// makes the rest of the exchange a no-op; the caller gets false.
#pragma once

#include <windows.h>

#include <string>

namespace kf {

class CWnd;

class CDataExchange {
 public:
  CDataExchange(CWnd* pDlgWnd, bool bSaveAndValidate)
      : m_pDlgWnd(pDlgWnd), m_bSaveAndValidate(bSaveAndValidate) {}

  // The control with nID, remembered for the validation that follows.
  HWND PrepareCtrl(int nID);
  // Marks the exchange failed and puts the focus on the last control.
  void Fail();

  CWnd* m_pDlgWnd;
  bool m_bSaveAndValidate;
  bool m_bFailed = false;
  HWND m_hWndLastControl = nullptr;
};

// Binds a wrapper object to control nID (once).
void DDX_Control(CDataExchange* pDX, int nID, CWnd& rControl);
// The control's text as bytes of the ANSI code page.
void DDX_Text(CDataExchange* pDX, int nID, std::string& value);
// After DDX_Text: limits the control to nChars and, when saving, fails a
// longer text. Lengths are in bytes.
void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int nChars);

}  // namespace kf
