// The notification library TKWATCH.dll and the lock library tk_cspext.dll.
// Each is loaded once and stays loaded until the process ends; the key tree
// pane binds both on its first show, and every token connection needs the
// lock. All of it runs on the user-interface thread.
#pragma once

#include "keyfold/token/TokenLibraryApi.h"

namespace keyfold {

struct WatchFunctions {
  PFN_TK_RegisterCardNotification TK_RegisterCardNotification;
  PFN_TK_UnregisterCardNotification TK_UnregisterCardNotification;
  PFN_TK_IsTKDevice TK_IsTKDevice;
};

struct LockFunctions {
  PFN_TK_EnterMutex TK_EnterMutex;
  PFN_TK_LeaveMutex TK_LeaveMutex;
};

// Loads TKWATCH.dll if it is not loaded yet and binds its three names, in
// that order. nullptr at the first failure; a library that loaded stays
// loaded, and a later call binds again from it.
const WatchFunctions* BindWatchLibrary();

// The same for tk_cspext.dll and its two lock functions.
const LockFunctions* BindLockLibrary();

// The tables as bound so far, without loading anything; nullptr until a
// Bind... call succeeded.
const WatchFunctions* WatchLibrary();
const LockFunctions* LockLibrary();

// One hold of the cross-process token lock, left when the object goes.
//
// Without tk_cspext.dll or either lock function, Enter fails, and so does
// every token open: the lock is what keeps the key provider's own commands
// from landing between ours (between a selection and its read, or inside
// the PIN sequence), so no command goes to a token without it. Enter loads
// the lock library itself when the pane has not, because the refresh
// commands enumerate even when the pane's set-up stopped early. A
// TK_EnterMutex that reports failure counts as not held and is never left.
class TokenLockHold {
 public:
  TokenLockHold() = default;
  ~TokenLockHold() { Leave(); }
  TokenLockHold(TokenLockHold&& other) noexcept : m_pfnLeave(other.m_pfnLeave) {
    other.m_pfnLeave = nullptr;
  }
  TokenLockHold& operator=(TokenLockHold&& other) noexcept {
    if (this != &other) {
      Leave();
      m_pfnLeave = other.m_pfnLeave;
      other.m_pfnLeave = nullptr;
    }
    return *this;
  }
  TokenLockHold(const TokenLockHold&) = delete;
  TokenLockHold& operator=(const TokenLockHold&) = delete;

  bool Enter();
  void Leave() {
    if (m_pfnLeave != nullptr) {
      PFN_TK_LeaveMutex leave = m_pfnLeave;
      m_pfnLeave = nullptr;
      leave();
    }
  }
  bool held() const { return m_pfnLeave != nullptr; }

 private:
  PFN_TK_LeaveMutex m_pfnLeave = nullptr;
};

}  // namespace keyfold
