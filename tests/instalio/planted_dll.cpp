// A library planted beside the launcher and in its current folder under the
// name of a system library. Being loaded at all is the fault: it records
// the program that loaded it in the file named by INSTALIO_PLANTED_LOG.
#include <windows.h>

#include <cstdio>

namespace {

struct OwnedFile {
  HANDLE h;
  explicit OwnedFile(HANDLE file) : h(file) {}
  OwnedFile(const OwnedFile&) = delete;
  OwnedFile& operator=(const OwnedFile&) = delete;
  ~OwnedFile() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA("INSTALIO_PLANTED_LOG", path, sizeof path);
  if (n == 0 || n >= sizeof path) return TRUE;
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, sizeof program);
  program[sizeof program - 1] = '\0';
  char line[MAX_PATH + 4];
  const int len = std::snprintf(line, sizeof line, "%s\r\n", program);
  if (len <= 0) return TRUE;
  const OwnedFile file(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.h == INVALID_HANDLE_VALUE) return TRUE;
  DWORD written = 0;
  WriteFile(file.h, line, static_cast<DWORD>(lstrlenA(line)), &written, nullptr);
  return TRUE;
}
