#include "InstallSequence.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Handles.h"
#include "LaunchConfig.h"
#include "SystemLibraries.h"
#include "resource.h"

namespace instalio {
namespace {

constexpr char kErrorCaption[] = "错误";
constexpr char kInstallCaption[] = "安装";
constexpr char kClientInstaller[] = "velotun.exe";

// Installer paths plus quotes, a blank and the longest parameters fit with
// room to spare; the bound is only a guard.
constexpr size_t kCommandLineSize = 1024;
constexpr size_t kMessageSize = 1280;

// Joins parts with single backslashes into out[MAX_PATH]. Returns false
// when the result did not fit; `out` then holds the cut, terminated path.
bool JoinPath(char (&out)[MAX_PATH], const char* a, const char* b, const char* c = nullptr) {
  const int n = c ? std::snprintf(out, sizeof out, "%s\\%s\\%s", a, b, c)
                  : std::snprintf(out, sizeof out, "%s\\%s", a, b);
  return n >= 0 && static_cast<size_t>(n) < sizeof out;
}

// Message texts are formatted from fixed literals only; values from
// config.ini travel as arguments.
#if defined(__GNUC__)
int ShowMessage(HWND owner, const char* caption, UINT type, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
#endif

int ShowMessage(HWND owner, const char* caption, UINT type, const char* format, ...) {
  char text[kMessageSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return MessageBoxA(owner, text, caption, type);
}

int ShowError(HWND owner, const char* text) {
  return MessageBoxA(owner, text, kErrorCaption, MB_OK | MB_ICONINFORMATION);
}

bool IsClientInstalled() {
  char dir[MAX_PATH];
  ClientInstallDirectory(dir);
  return dir[0] != '\0' && SystemLibraries::Get().PathFileExists(dir);
}

// Waits for the installer to end. When it names a window, that window is
// looked for between 200 ms waits and brought to the front once it shows.
void WaitForInstaller(HANDLE process, const char* title) {
  if (title[0] == '\0') {
    WaitForSingleObject(process, INFINITE);
    return;
  }
  while (WaitForSingleObject(process, 200) == WAIT_TIMEOUT) {
    if (HWND wnd = FindWindowA(nullptr, title)) {
      SetForegroundWindow(wnd);
      SetActiveWindow(wnd);
      WaitForSingleObject(process, INFINITE);
      return;
    }
  }
}

enum class Next { Entry, End };

Next RunEntry(HWND window, const char* filesDir, const LaunchEntry& entry) {
  char path[MAX_PATH];
  if (!JoinPath(path, filesDir, entry.name)) {
    // Too long for the path buffer: it cannot name an existing file, so it
    // is reported like a missing one, with what fits, and passed over.
    ShowMessage(window, kErrorCaption, MB_OK | MB_ICONINFORMATION, "没有找到源文件:\n%s", path);
    return Next::Entry;
  }
  while (!SystemLibraries::Get().PathFileExists(path)) {
    const int answer = ShowMessage(window, kErrorCaption, MB_ABORTRETRYIGNORE | MB_ICONINFORMATION,
                                   "没有找到源文件:\n%s", path);
    // No answer at all (0) means the box could not be shown: the wait
    // window is gone and the program is ending.
    if (answer == IDABORT || answer == 0) return Next::End;
    if (answer != IDRETRY) return Next::Entry;
  }

  if (lstrcmpiA(entry.type, "exe") != 0) {
    SystemLibraries::Get().ShellOpen(path, entry.para);
    Sleep(1000);
    return Next::Entry;
  }

  if (lstrcmpiA(entry.name, kClientInstaller) == 0 && IsClientInstalled()) {
    const int answer = MessageBoxA(window, "Velotun5的目录已经存在，是否再次安装Velotun5组件?",
                                   kInstallCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer == 0) return Next::End;
    if (answer == IDNO) return Next::Entry;
  }

  char commandLine[kCommandLineSize];
  const int n = entry.para[0]
                    ? std::snprintf(commandLine, sizeof commandLine, "\"%s\" %s", path, entry.para)
                    : std::snprintf(commandLine, sizeof commandLine, "\"%s\"", path);
  if (n < 0 || static_cast<size_t>(n) >= sizeof commandLine) {
    ShowMessage(window, kErrorCaption, MB_OK | MB_ICONINFORMATION, "没有找到源文件:\n%s", path);
    return Next::Entry;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    const unsigned error = GetLastError();
    ShowMessage(window, kErrorCaption, MB_OK | MB_ICONINFORMATION, "启动以下安装程序失败[%u]：\n%s",
                error, commandLine);
    Sleep(1000);
    return Next::Entry;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);

  Sleep(500);
  WaitForInstaller(process.get(), entry.title);
  process.reset();
  Sleep(1000);
  return Next::Entry;
}

void RunPackage(HWND window, const char* packageDir) {
  char filesDir[MAX_PATH];
  if (!packageDir || !JoinPath(filesDir, packageDir, "files") ||
      !SystemLibraries::Get().PathFileExists(filesDir)) {
    ShowError(window, "没有找到源文件,请将压缩文件完整解压缩后运行！");
    return;
  }
  char configPath[MAX_PATH];
  if (!JoinPath(configPath, packageDir, "config.ini") ||
      !SystemLibraries::Get().PathFileExists(configPath)) {
    ShowError(window, "没有找到配置文件config.ini.");
    return;
  }

  const LaunchConfig config(configPath);
  const UINT count = config.GetInt("count", 0);
  for (const UINT n : config.NamedEntries(count)) {
    LaunchEntry entry;
    config.ReadEntry(n, entry);
    if (entry.name[0] != '\0' && RunEntry(window, filesDir, entry) == Next::End) return;
  }
}

}  // namespace

void ClientInstallDirectory(char* out) {
  std::memset(out, 0, MAX_PATH);
  ComApartment com;
  ShellAllocator allocator;
  if (!allocator.get()) return;
  ItemIdList list(allocator.get());
  if (FAILED(SystemLibraries::Get().SHGetSpecialFolderLocation(CSIDL_LOCAL_APPDATA, list.out())))
    return;
  char folder[MAX_PATH] = {};
  if (!SystemLibraries::Get().SHGetPathFromIDList(list.get(), folder)) return;
  char dir[MAX_PATH];
  if (JoinPath(dir, folder, "Velotun\\velotun")) lstrcpynA(out, dir, MAX_PATH);
}

int RunInstallSequenceIn(HWND window, const char* packageDir) {
  try {
    RunPackage(window, packageDir);
  } catch (...) {
    // Out of memory while listing config.ini's keys: the end command below
    // still lets the program end.
  }
  PostMessageA(window, WM_COMMAND, IDC_INSTALL_DONE, 0);
  return 0;
}

DWORD WINAPI RunInstallSequence(LPVOID window) {
  char dir[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, dir, sizeof dir);
  const bool known = n > 0 && n < sizeof dir;
  if (known) {
    dir[sizeof dir - 1] = '\0';
    SystemLibraries::Get().PathRemoveFileSpec(dir);
  }
  return static_cast<DWORD>(RunInstallSequenceIn(static_cast<HWND>(window), known ? dir : nullptr));
}

}  // namespace instalio
