#include "keyfold/token/TokenLibraries.h"

#include "keyfold/token/LibraryModule.h"

namespace keyfold {
namespace {

// A library kept for the life of the process. The loader pins it, so the
// owner's release at static destruction cannot unmap code that a
// notification thread of the library may still be running at exit.
template <class Table>
struct ProcessLibrary {
  UniqueModule module;
  Table table{};
  bool bound = false;

  bool Load(const char* fileName) {
    if (module) return true;
    module = LoadTokenLibrary(fileName);
    if (!module) return false;
    HMODULE pinned = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(module.get()), &pinned);
    return true;
  }
};

ProcessLibrary<WatchFunctions>& Watch() {
  static ProcessLibrary<WatchFunctions> library;
  return library;
}

ProcessLibrary<LockFunctions>& Lock() {
  static ProcessLibrary<LockFunctions> library;
  return library;
}

}  // namespace

const WatchFunctions* BindWatchLibrary() {
  auto& lib = Watch();
  if (lib.bound) return &lib.table;
  if (!lib.Load("TKWATCH.dll")) return nullptr;
  WatchFunctions t{};
  HMODULE m = lib.module.get();
  if (!BindExport(m, "TK_RegisterCardNotification", t.TK_RegisterCardNotification) ||
      !BindExport(m, "TK_UnregisterCardNotification", t.TK_UnregisterCardNotification) ||
      !BindExport(m, "TK_IsTKDevice", t.TK_IsTKDevice))
    return nullptr;
  lib.table = t;
  lib.bound = true;
  return &lib.table;
}

const LockFunctions* BindLockLibrary() {
  auto& lib = Lock();
  if (lib.bound) return &lib.table;
  if (!lib.Load("tk_cspext.dll")) return nullptr;
  LockFunctions t{};
  HMODULE m = lib.module.get();
  if (!BindExport(m, "TK_EnterMutex", t.TK_EnterMutex) ||
      !BindExport(m, "TK_LeaveMutex", t.TK_LeaveMutex))
    return nullptr;
  lib.table = t;
  lib.bound = true;
  return &lib.table;
}

const WatchFunctions* WatchLibrary() {
  auto& lib = Watch();
  return lib.bound ? &lib.table : nullptr;
}

const LockFunctions* LockLibrary() {
  auto& lib = Lock();
  return lib.bound ? &lib.table : nullptr;
}

bool TokenLockHold::Enter() {
  if (held()) return true;
  const LockFunctions* lock = BindLockLibrary();
  if (lock == nullptr) return false;
  if (lock->TK_EnterMutex() != 0) return false;
  m_pfnLeave = lock->TK_LeaveMutex;
  return true;
}

}  // namespace keyfold
