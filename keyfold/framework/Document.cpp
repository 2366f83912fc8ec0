#include "keyfold/framework/Document.h"

#include <algorithm>

namespace kf {

CView::~CView() {
  if (m_pDocument) m_pDocument->RemoveView(this);
}

void CView::OnInitialUpdate() { OnUpdate(nullptr, 0, nullptr); }

bool CView::RouteCmdToDocument(UINT nID, CmdCode code, CCmdUI* pCmdUI) {
  return m_pDocument && m_pDocument->OnCmdMsg(nID, code, pCmdUI);
}

CDocument::~CDocument() {
  for (CView* v : m_views) v->m_pDocument = nullptr;
}

void CDocument::AddView(CView* pView) {
  if (pView->m_pDocument == this) return;
  if (pView->m_pDocument) pView->m_pDocument->RemoveView(pView);
  m_views.push_back(pView);
  pView->m_pDocument = this;
}

void CDocument::RemoveView(CView* pView) {
  auto it = std::find(m_views.begin(), m_views.end(), pView);
  if (it == m_views.end()) return;
  m_views.erase(it);
  pView->m_pDocument = nullptr;
}

void CDocument::UpdateAllViews(CView* pSender, LPARAM lHint, void* pHint) {
  // A view may detach itself while handling the update; work on a copy and
  // skip views that left meanwhile.
  const std::vector<CView*> views = m_views;
  for (CView* v : views) {
    if (v == pSender) continue;
    if (std::find(m_views.begin(), m_views.end(), v) == m_views.end()) continue;
    v->OnUpdate(pSender, lHint, pHint);
  }
}

void CDocument::SendInitialUpdate() {
  const std::vector<CView*> views = m_views;
  for (CView* v : views)
    if (std::find(m_views.begin(), m_views.end(), v) != m_views.end()) v->OnInitialUpdate();
}

}  // namespace kf
