// TKWATCH.dll: token arrival and removal notifications.
//
// A plug or unplug may come from any process, so the bay itself is the
// source of truth: a watcher thread looks at it every few tens of
// milliseconds and sends WM_DEVICECHANGE to every registered window for
// each token that came or went. SendMessage keeps the record alive until
// the window has handled it, which is what Keyfold relies on (it even
// lower-cases the name in place).
#include <windows.h>

#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <memory>

#include "Control.h"
#include "TokenInternal.h"
#include "Win32.h"
#include "keyfold/token/TokenLibraryApi.h"

namespace tokensim {
namespace {

constexpr DWORD kPollMs = 40;  // well inside the 200 ms a notification may take

struct WatchState {
  std::vector<HWND> windows;
  UniqueHandle thread;
  UniqueHandle stop;
  std::string bay;
};
WatchState& State() {
  static WatchState state;
  return state;
}

struct SeenToken {
  std::string path;
  std::string plugId;
};
using Seen = std::map<std::string, SeenToken>;  // by serial name

std::string PlugId(const std::string& bay, const std::string& name) {
  std::vector<unsigned char> id;
  ReadWholeFile(JoinPath(TokenFolderInBay(bay, name), kPlugIdFile), id);
  return std::string(id.begin(), id.end());
}

// Adds every plugged token not yet in seen; drops from seen what is gone
// (their paths come back in removed). A token unplugged and plugged again
// between two looks has a new plug id: it is reported gone and back.
void ScanBay(const std::string& bay, Seen& seen, std::vector<std::string>* arrived,
             std::vector<std::string>* removed) {
  std::map<std::string, std::string> present;  // name -> plug id
  for (const std::string& n : ListSubdirectories(bay))
    if (!n.empty() && n[0] != '.') present[n] = PlugId(bay, n);
  for (auto it = seen.begin(); it != seen.end();) {
    auto now = present.find(it->first);
    if (now != present.end() && now->second == it->second.plugId) {
      ++it;
    } else {
      if (removed) removed->push_back(it->second.path);
      it = seen.erase(it);
    }
  }
  for (const auto& [n, id] : present) {
    if (seen.count(n)) continue;
    TokenSettings settings;
    std::string error;
    // A token folder that does not read yet is looked at again next time.
    if (ReadTokenFolder(TokenFolderInBay(bay, n), settings, error) != kOk) continue;
    if (!settings.pin.empty()) SecureZeroMemory(settings.pin.data(), settings.pin.size());
    seen[n] = SeenToken{settings.DevicePath(), id};
    if (arrived) arrived->push_back(seen[n].path);
  }
}

void Deliver(DWORD event, const std::string& path, HANDLE stop) {
  std::vector<HWND> windows;
  {
    ModuleLock lock;
    windows = State().windows;
  }
  for (HWND w : windows) {
    // Unregistered meanwhile: nothing more goes out.
    if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return;
    if (!IsWindow(w)) continue;
    // A fresh record per window: a handler may write into it.
    const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + path.size() + 1;
    std::vector<unsigned char> buffer(size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)
                                          ? sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)
                                          : size);
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(buffer.data());
    record->dbcc_size = static_cast<DWORD>(size);
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(record->dbcc_name, path.c_str(), path.size() + 1);
    AppendTrace("TKWATCH", "WM_DEVICECHANGE", 0, -1,
                Format("event=%04lX window=%p path=%s", event, static_cast<void*>(w), path.c_str()));
    SendMessageA(w, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record));
  }
}

struct ThreadStart {
  std::string bay;
  Seen seen;
  UniqueHandle stopOwned;  // the thread's own handle: it may outlive the registration
  HANDLE stop = nullptr;
  HMODULE self = nullptr;
};

DWORD WINAPI WatchThread(void* param) {
  ThreadStart* start = static_cast<ThreadStart*>(param);
  const HMODULE self = start->self;
  try {
    while (WaitForSingleObject(start->stop, kPollMs) == WAIT_TIMEOUT) {
      // A test may move the bay between cases; the new one starts quiet.
      const std::string bay = BayFolder();
      if (!EqualNoCase(bay, start->bay)) {
        start->bay = bay;
        start->seen.clear();
        ScanBay(bay, start->seen, nullptr, nullptr);
        continue;
      }
      std::vector<std::string> arrived, removed;
      ScanBay(start->bay, start->seen, &arrived, &removed);
      for (const std::string& p : removed) Deliver(DBT_DEVICEREMOVECOMPLETE, p, start->stop);
      for (const std::string& p : arrived) Deliver(DBT_DEVICEARRIVAL, p, start->stop);
    }
  } catch (...) {
  }
  delete start;
  // The thread holds its own reference to this library, so a FreeLibrary
  // by the application cannot pull the code from under it.
  FreeLibraryAndExitThread(self, 0);
  return 0;
}

}  // namespace
}  // namespace tokensim

using namespace tokensim;

extern "C" {

int TK_API TK_RegisterCardNotification(HWND window, DWORD flags) {
  try {
    int rc = 0;
    if (flags == 0 && window && IsWindow(window)) {
      ModuleLock lock;
      WatchState& s = State();
      bool known = false;
      for (HWND w : s.windows) known = known || w == window;
      if (!known) s.windows.push_back(window);
      rc = 1;
      if (!s.thread.valid()) {
        auto start = std::make_unique<ThreadStart>();
        start->bay = BayFolder();
        // Tokens already plugged are the caller's to enumerate; only later
        // changes are notified.
        ScanBay(start->bay, start->seen, nullptr, nullptr);
        s.stop.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(&TK_RegisterCardNotification), &start->self);
        HANDLE dup = nullptr;
        DuplicateHandle(GetCurrentProcess(), s.stop.get(), GetCurrentProcess(), &dup, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        start->stopOwned.reset(dup);
        start->stop = dup;
        s.bay = start->bay;
        HMODULE self = start->self;
        s.thread.reset(CreateThread(nullptr, 0, WatchThread, start.get(), 0, nullptr));
        if (s.thread.valid()) {
          start.release();
        } else {
          if (self) FreeLibrary(self);
          s.windows.clear();
          rc = 0;
        }
      }
    }
    AppendTrace("TKWATCH", "TK_RegisterCardNotification", rc, -1,
                Format("window=%p flags=%lu", static_cast<void*>(window), flags));
    return rc;
  } catch (...) {
    return 0;
  }
}

int TK_API TK_UnregisterCardNotification(void) {
  UniqueHandle thread;
  UniqueHandle stop;
  {
    ModuleLock lock;
    WatchState& s = State();
    s.windows.clear();
    thread.reset(s.thread.release());
    stop.reset(s.stop.release());
  }
  if (thread.valid()) {
    SetEvent(stop.get());
    // Called from inside a notification handler: the watcher waits for
    // this very message, so it cannot be waited for. It ends on its own,
    // and its reference keeps the library loaded until it has.
    // Otherwise the watcher may be inside SendMessage to a window of this
    // thread: keep answering sent messages until it has gone.
    while (!InSendMessage()) {
      HANDLE h = thread.get();
      const DWORD w = MsgWaitForMultipleObjects(1, &h, FALSE, INFINITE, QS_SENDMESSAGE);
      if (w != WAIT_OBJECT_0 + 1) break;
      MSG msg;
      PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }
  AppendTrace("TKWATCH", "TK_UnregisterCardNotification", 1, -1, std::string());
  return 1;
}

int TK_API TK_IsTKDevice(const char* deviceName) {
  try {
    const std::string prefix = kDevicePathPrefix;
    const int rc = deviceName && EqualNoCase(std::string(deviceName, strnlen(deviceName, prefix.size())),
                                             prefix);
    AppendTrace("TKWATCH", "TK_IsTKDevice", rc, -1,
                std::string("name=") +
                    (deviceName ? std::string(deviceName, strnlen(deviceName, kMaxDevicePath)) : "-"));
    return rc;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"

namespace {
[[maybe_unused]] const PFN_TK_RegisterCardNotification kCheckRegister = &TK_RegisterCardNotification;
[[maybe_unused]] const PFN_TK_UnregisterCardNotification kCheckUnregister =
    &TK_UnregisterCardNotification;
[[maybe_unused]] const PFN_TK_IsTKDevice kCheckIs = &TK_IsTKDevice;
}  // namespace
