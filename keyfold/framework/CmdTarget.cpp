#include "keyfold/framework/CmdTarget.h"

namespace kf {

void CCmdUI::Enable(bool bOn) {
  if (m_hMenu)
    ::EnableMenuItem(m_hMenu, m_nIndex, MF_BYPOSITION | (bOn ? MF_ENABLED : (MF_DISABLED | MF_GRAYED)));
  m_bEnableChanged = true;
}

void CCmdUI::SetCheck(int nCheck) {
  if (m_hMenu)
    ::CheckMenuItem(m_hMenu, m_nIndex, MF_BYPOSITION | (nCheck ? MF_CHECKED : MF_UNCHECKED));
}

bool CCmdUI::DoUpdate(CCmdTarget* pTarget, bool bDisableIfNoHandler) {
  m_bEnableChanged = false;
  if (!pTarget) return false;
  const bool answered = pTarget->OnCmdMsg(m_nID, CmdCode::UpdateUI, this);
  if (bDisableIfNoHandler && !m_bEnableChanged)
    Enable(pTarget->OnCmdMsg(m_nID, CmdCode::Probe, nullptr));
  return answered;
}

bool CCmdTarget::OnCmdMsg(UINT, CmdCode, CCmdUI*) { return false; }

}  // namespace kf
