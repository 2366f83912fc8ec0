// The certificate list: the document's field rows as name/value rows. A
// click on a row shows that row's whole value in the message pane.
#pragma once

#include "keyfold/framework/View.h"

class CKeyfoldDoc;

class CKeyfoldView : public kf::CListView {
 public:
  // Set while the update caused by a row click runs, so the list does not
  // rebuild itself (and lose the selection) under the click.
  bool m_bClickUpdate = false;

  CKeyfoldDoc* GetDocument() const;

  void OnInitialUpdate() override;
  void OnUpdate(kf::CView* pSender, LPARAM lHint, void* pHint) override;

 protected:
  bool PreCreateWindow(CREATESTRUCTA& cs) override;
  bool OnNotifyReflect(NMHDR* pNMHDR, LRESULT* pResult) override;

 private:
  void OnClick(LRESULT* pResult);
  void RebuildRows();
};
