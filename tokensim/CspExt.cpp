// tk_cspext.dll: the token lock that Keyfold shares with the key provider.
// A named mutex, so it holds across processes and is recursive within a
// thread, as the provider's lock is.
#include "Control.h"
#include "Win32.h"
#include "keyfold/token/TokenLibraryApi.h"

namespace {

// Fixed, not per bay: every user of the token lock must meet on one name.
constexpr const char* kLockName = "tokensim.TokenLock";

tokensim::UniqueHandle& LockMutex() {
  static tokensim::UniqueHandle mutex(CreateMutexA(nullptr, FALSE, kLockName));
  return mutex;
}

}  // namespace

extern "C" {

int TK_API TK_EnterMutex(void) {
  const double start = tokensim::NowMs();
  HANDLE m = LockMutex().get();
  const DWORD w = m ? WaitForSingleObject(m, INFINITE) : WAIT_FAILED;
  // An abandoned lock belonged to a process that died holding it; it is
  // ours now and still protects the token.
  const int rc = (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED) ? 0 : -1;
  tokensim::AppendTrace("tk_cspext", "TK_EnterMutex", rc, -1,
                        tokensim::Format("waited=%.3f%s", tokensim::NowMs() - start,
                                         w == WAIT_ABANDONED ? " abandoned=1" : ""));
  return rc;
}

int TK_API TK_LeaveMutex(void) {
  HANDLE m = LockMutex().get();
  // Stamped before the release: once released, another process may take
  // the lock and write its own record before this one is written.
  const double at = tokensim::NowMs();
  const int rc = (m && ReleaseMutex(m)) ? 0 : -1;
  tokensim::AppendTraceAt(at, "tk_cspext", "TK_LeaveMutex", rc, -1, std::string());
  return rc;
}

}  // extern "C"

namespace {
[[maybe_unused]] const PFN_TK_EnterMutex kCheckEnter = &TK_EnterMutex;
[[maybe_unused]] const PFN_TK_LeaveMutex kCheckLeave = &TK_LeaveMutex;
}  // namespace
