// Whether the token lock is free: another thread must be able to take it at
// once. Goes through the lock library's own functions, as the key provider
// would.
#pragma once

#include <windows.h>

#include "keyfold/token/TokenLibraries.h"

namespace tokentest {

inline DWORD WINAPI TakeAndLeaveLock(void*) {
  const keyfold::LockFunctions* lock = keyfold::LockLibrary();
  if (lock == nullptr || lock->TK_EnterMutex() != 0) return 1;
  lock->TK_LeaveMutex();
  return 0;
}

// True when another thread took and left the lock within timeoutMs. A
// thread that is still waiting is left to finish once the lock comes free.
inline bool LockIsFree(DWORD timeoutMs = 1000) {
  HANDLE thread = CreateThread(nullptr, 0, TakeAndLeaveLock, nullptr, 0, nullptr);
  if (thread == nullptr) return false;
  const bool done = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
  DWORD code = 1;
  if (done) GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return done && code == 0;
}

inline bool CardLibraryLoaded() { return GetModuleHandleA("tk_cosapi.dll") != nullptr; }

}  // namespace tokentest
