// The message pane: one multi-line edit showing the document's message.
// The program never reads the edit back; what the user types there stays
// until the next document update replaces it.
#pragma once

#include <string>

#include "keyfold/framework/View.h"

class CKeyfoldDoc;

class CEditMsg : public kf::CFormView {
 public:
  CEditMsg();

  kf::CEdit m_editMsg;  // control 1005 of the form
  std::string m_strMsg;
  CKeyfoldDoc* m_pDoc = nullptr;

  void OnInitialUpdate() override;
  void OnUpdate(kf::CView* pSender, LPARAM lHint, void* pHint) override;

 protected:
  void DoDataExchange(kf::CDataExchange* pDX) override;
  void OnSize(UINT nType, int cx, int cy) override;

 private:
  void FitEditControl();
};
