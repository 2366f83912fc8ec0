// A stand-in installer for the sample package and the launcher's tests. It
// records how it was started and what happened to it, one line per event:
//   <ms since 1601> TAB <process id> TAB <event> TAB <detail>
// events: start (detail: the whole command line), startup (how it was
// asked to show its window and where it runs: "show=N flags=N dir=PATH"),
// window (its title),
// foreground (the window became the foreground window), installed (the
// client directory it created), end.
// The record goes to the file named by INSTALIO_SETUP_LOG, else to
// setup-log.txt beside this program.
//
// Options (anything else on the command line is ignored):
//   /delay=MS          run this long before ending (default 0)
//   /window=TITLE      open a window with this title; quote the whole
//                      option when the title has blanks
//   /window-after=MS   open it this long after the start (default 0)
//   /exit=N            end with exit code N (default 0)
//   /install-client    create the client's install directory, as the real
//                      client installer leaves it behind
// The window never activates itself (WS_EX_NOACTIVATE, shown without
// activation), so it reaches the front only when someone else brings it
// there.
#include <windows.h>

#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string g_logPath;

struct OwnedFile {
  HANDLE h;
  explicit OwnedFile(HANDLE file) : h(file) {}
  OwnedFile(const OwnedFile&) = delete;
  OwnedFile& operator=(const OwnedFile&) = delete;
  ~OwnedFile() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

class OwnedWindow {
 public:
  OwnedWindow() = default;
  OwnedWindow(const OwnedWindow&) = delete;
  OwnedWindow& operator=(const OwnedWindow&) = delete;
  ~OwnedWindow() { reset(); }
  HWND get() const { return m_h; }
  void reset(HWND h = nullptr) {
    if (m_h) DestroyWindow(m_h);
    m_h = h;
  }

 private:
  HWND m_h = nullptr;
};

void Record(const char* event, const char* detail) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const unsigned long long ms =
      ((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000;
  std::string line = std::to_string(ms) + "\t" + std::to_string(GetCurrentProcessId()) + "\t" +
                     event + "\t" + detail + "\r\n";
  // Several installers may write at once; appending keeps lines whole.
  const OwnedFile file(CreateFileA(g_logPath.c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file.h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// Splits a command line the usual way: blanks separate, double quotes
// group, the quotes themselves are dropped.
std::vector<std::string> SplitArgs(const char* p) {
  std::vector<std::string> args;
  while (*p) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) break;
    std::string arg;
    bool quoted = false;
    for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
      if (*p == '"')
        quoted = !quoted;
      else
        arg += *p;
    }
    args.push_back(arg);
  }
  return args;
}

bool Option(const std::string& arg, const char* name, std::string& value) {
  const size_t n = std::strlen(name);
  if (arg.compare(0, n, name) != 0) return false;
  value = arg.substr(n);
  return true;
}

void InstallClientDirectory() {
  char folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder))) return;
  const std::string client = std::string(folder) + "\\Velotun";
  CreateDirectoryA(client.c_str(), nullptr);
  CreateDirectoryA((client + "\\velotun").c_str(), nullptr);
  Record("installed", (client + "\\velotun").c_str());
}

LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(wnd, msg, wp, lp);
}

// Pumps messages until `until` (a GetTickCount value), noting the moment
// the window first becomes the foreground window.
void RunUntil(DWORD until, HWND wnd, bool& sawForeground) {
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (wnd && !sawForeground && GetForegroundWindow() == wnd) {
      sawForeground = true;
      Record("foreground", "");
    }
    const DWORD now = GetTickCount();
    if (static_cast<LONG>(until - now) <= 0) return;
    const DWORD left = until - now;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, left < 50 ? left : 50, QS_ALLINPUT);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH + 32] = {};
  const DWORD n = GetEnvironmentVariableA("INSTALIO_SETUP_LOG", path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    g_logPath = path;
  } else {
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    path[MAX_PATH - 1] = '\0';
    if (char* slash = std::strrchr(path, '\\')) slash[1] = '\0';
    g_logPath = std::string(path) + "setup-log.txt";
  }

  const char* commandLine = GetCommandLineA();
  Record("start", commandLine);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  char dir[MAX_PATH] = {};
  const DWORD dirLen = GetCurrentDirectoryA(MAX_PATH, dir);
  if (dirLen == 0 || dirLen >= MAX_PATH) dir[0] = '\0';
  Record("startup", ("show=" + std::to_string(startup.wShowWindow) +
                     " flags=" + std::to_string(startup.dwFlags) + " dir=" + dir)
                        .c_str());

  DWORD delay = 0, windowAfter = 0;
  int exitCode = 0;
  std::string title, value;
  bool wantWindow = false;
  const std::vector<std::string> args = SplitArgs(commandLine);
  for (size_t i = 1; i < args.size(); ++i) {
    if (Option(args[i], "/delay=", value))
      delay = std::strtoul(value.c_str(), nullptr, 10);
    else if (Option(args[i], "/window-after=", value))
      windowAfter = std::strtoul(value.c_str(), nullptr, 10);
    else if (Option(args[i], "/window=", value)) {
      title = value;
      wantWindow = true;
    } else if (Option(args[i], "/exit=", value))
      exitCode = std::atoi(value.c_str());
    else if (args[i] == "/install-client")
      InstallClientDirectory();
  }

  const DWORD started = GetTickCount();
  bool sawForeground = false;
  HWND wnd = nullptr;
  OwnedWindow window;
  if (wantWindow) {
    RunUntil(started + windowAfter, nullptr, sawForeground);
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = "SampleSetupWindow";
    RegisterClassA(&wc);
    window.reset(CreateWindowExA(WS_EX_NOACTIVATE, wc.lpszClassName, title.c_str(),
                                 WS_OVERLAPPEDWINDOW, 100, 100, 360, 200, nullptr, nullptr,
                                 instance, nullptr));
    wnd = window.get();
    if (wnd) {
      ShowWindow(wnd, SW_SHOWNOACTIVATE);
      Record("window", title.c_str());
    }
  }
  RunUntil(started + delay, wnd, sawForeground);
  window.reset();
  Record("end", "");
  return exitCode;
}
