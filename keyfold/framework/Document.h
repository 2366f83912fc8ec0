// The document half of document/view: a document knows its views and tells
// each of them when its data changed.
#pragma once

#include <windows.h>

#include <vector>

#include "keyfold/framework/CmdTarget.h"

namespace kf {

class CDocument;

// What a document needs of a view. Window views derive from it as well as
// from their window class.
class CView {
 public:
  virtual ~CView();
  CDocument* GetDocument() const { return m_pDocument; }

  // Called by CDocument::UpdateAllViews for every view but the sender.
  virtual void OnUpdate(CView* pSender, LPARAM lHint, void* pHint) = 0;
  // The view's first show, once its document is attached: by default a
  // full update from the document.
  virtual void OnInitialUpdate();

 protected:
  // Views route commands they do not handle to their document.
  bool RouteCmdToDocument(UINT nID, CmdCode code, CCmdUI* pCmdUI);

 private:
  friend class CDocument;
  CDocument* m_pDocument = nullptr;
};

class CDocument : public CCmdTarget {
 public:
  CDocument() = default;
  ~CDocument() override;

  void AddView(CView* pView);
  void RemoveView(CView* pView);
  const std::vector<CView*>& Views() const { return m_views; }

  // Tells every view except pSender (may be null) that the data changed.
  void UpdateAllViews(CView* pSender, LPARAM lHint = 0, void* pHint = nullptr);
  // Runs OnInitialUpdate of every view.
  void SendInitialUpdate();

 private:
  std::vector<CView*> m_views;
};

// What a pane needs to know when it is created: the document it shows.
struct CCreateContext {
  CDocument* m_pCurrentDoc = nullptr;
};

}  // namespace kf
