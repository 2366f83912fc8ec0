// A DLL that stands in for one planted by someone else: copied under the
// name of a token library into a folder the program must not load from.
// It exports none of the token functions; all it does is leave a mark when
// it is loaded, naming the file it was loaded from, so a test can tell that
// it was (or was not) loaded at all.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char log[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableA("KF_PLANTED_LOG", log, sizeof log);
  if (n == 0 || n >= sizeof log) return TRUE;
  char self[MAX_PATH + 2] = {};
  DWORD length = GetModuleFileNameA(instance, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  self[length++] = '\r';
  self[length++] = '\n';
  HANDLE f = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f != INVALID_HANDLE_VALUE) {
    DWORD done = 0;
    WriteFile(f, self, length, &done, nullptr);
    CloseHandle(f);
  }
  return TRUE;
}
