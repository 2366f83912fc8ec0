// The document half of document/view: a document knows its views and tells
// each of them when its data changed.
#pragma once

#include <windows.h>

#include <vector>

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

 private:
  friend class CDocument;
  CDocument* m_pDocument = nullptr;
};

class CDocument {
 public:
  CDocument() = default;
  CDocument(const CDocument&) = delete;
  CDocument& operator=(const CDocument&) = delete;
  virtual ~CDocument();

  void AddView(CView* pView);
  void RemoveView(CView* pView);
  const std::vector<CView*>& Views() const { return m_views; }

  // Tells every view except pSender (may be null) that the data changed.
  void UpdateAllViews(CView* pSender, LPARAM lHint = 0, void* pHint = nullptr);

 private:
  std::vector<CView*> m_views;
};

}  // namespace kf
