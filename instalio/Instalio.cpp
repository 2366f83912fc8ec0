// Instalio: shows the wait window and runs the install sequence beside it.
#include <windows.h>

#include "Handles.h"
#include "InstallSequence.h"
#include "WaitWindow.h"
#include "resource.h"

namespace {

void RestrictDllSearch() {
  // The launcher runs from an unpacked download folder, where anything can
  // lie beside it; only the system folder may supply libraries. The call
  // is looked up because Windows 7 has it only with an update.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                       GetProcAddress(kernel, "SetDefaultDllDirectories"))
                                 : nullptr;
  if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    // Older systems: at least take the current folder out of the search.
    SetDllDirectoryA("");
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();

  instalio::UniqueWindow wait(CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_WAIT), nullptr,
                                                 instalio::WaitDialogProc, 0));
  instalio::CentreOnPrimaryScreen(wait.get());
  ShowWindow(wait.get(), SW_SHOW);

  // The worker is never waited for: when the window ends the program, an
  // installer that is still running goes on by itself.
  instalio::UniqueHandle worker(
      CreateThread(nullptr, 0, instalio::RunInstallSequence, wait.get(), 0, nullptr));
  worker.reset();

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
