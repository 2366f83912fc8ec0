// Modal dialogs from dialog resources. OK runs OnOK (exchange and validate,
// then close), Cancel and Escape run OnCancel (close). A derived dialog
// overrides OnOK to keep itself open on invalid input.
#pragma once

#include "keyfold/framework/Wnd.h"

namespace kf {

class CDialog : public CWnd {
 public:
  // pParentWnd null: owned by the application's main window, if any.
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr)
      : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

  // IDOK, IDCANCEL or another EndDialog code; -1 when the dialog could not
  // be created.
  virtual INT_PTR DoModal();
  void EndDialog(INT_PTR nResult);

  UINT GetTemplateID() const { return m_nIDTemplate; }

 protected:
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool OnCommand(WPARAM wParam, LPARAM lParam) override;

 private:
  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;
};

}  // namespace kf
