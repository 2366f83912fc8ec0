// Command routing and enabling. A command id travels along a chain of
// targets (active view, its document, the frame, the application) until one
// handles it; the same chain answers "is this command enabled?" through a
// CCmdUI, so menus and tool bars are enabled from one place.
#pragma once

#include <windows.h>

#include <cstddef>

namespace kf {

class CCmdTarget;

// What OnCmdMsg is asked to do with a command id.
enum class CmdCode {
  Command,   // run the handler
  UpdateUI,  // answer an enabling query through the CCmdUI
  Probe,     // only tell whether a handler exists
};

// One enabling query for one command of one user-interface item.
class CCmdUI {
 public:
  virtual ~CCmdUI() = default;

  virtual void Enable(bool bOn = true);
  virtual void SetCheck(int nCheck = 1);

  // Asks pTarget's chain about m_nID. An item nobody answered is enabled
  // when a command handler exists and disabled otherwise, if
  // bDisableIfNoHandler is set. Returns true when some target answered.
  bool DoUpdate(CCmdTarget* pTarget, bool bDisableIfNoHandler);

  UINT m_nID = 0;
  UINT m_nIndex = 0;        // the item's position in its menu or bar
  HMENU m_hMenu = nullptr;  // set for a menu item
  bool m_bEnableChanged = false;
};

class CCmdTarget {
 public:
  CCmdTarget() = default;
  CCmdTarget(const CCmdTarget&) = delete;
  CCmdTarget& operator=(const CCmdTarget&) = delete;
  virtual ~CCmdTarget() = default;

  // True when this target (or one it routes to) handled the request.
  virtual bool OnCmdMsg(UINT nID, CmdCode code, CCmdUI* pCmdUI);
};

// A command map: ids bound to a handler and/or an enabling handler of T.
// A class dispatches its own map in OnCmdMsg and then chains to its base.
template <class T>
struct CommandEntry {
  UINT nFirst;
  UINT nLast;
  void (T::*pfnCommand)();
  void (T::*pfnUpdate)(CCmdUI*);
};

template <class T, std::size_t N>
bool DispatchCommandMap(T* self, const CommandEntry<T> (&map)[N], UINT nID, CmdCode code,
                        CCmdUI* pCmdUI) {
  for (const CommandEntry<T>& e : map) {
    if (nID < e.nFirst || nID > e.nLast) continue;
    switch (code) {
      case CmdCode::Command:
        if (e.pfnCommand) {
          (self->*e.pfnCommand)();
          return true;
        }
        break;
      case CmdCode::Probe:
        if (e.pfnCommand) return true;
        break;
      case CmdCode::UpdateUI:
        if (e.pfnUpdate && pCmdUI) {
          (self->*e.pfnUpdate)(pCmdUI);
          return true;
        }
        break;
    }
  }
  return false;
}

}  // namespace kf
