#include "instalio_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace instalio_test {

std::string BinDir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  path[sizeof path - 1] = '\0';
  std::string dir(path);
  return dir.substr(0, dir.find_last_of('\\'));
}

TempDir::TempDir(const char* tag) {
  char base[MAX_PATH] = {};
  GetTempPathA(sizeof base, base);
  static unsigned serial = 0;
  for (;;) {
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%sinst_%s_%lu_%u", base, tag, GetCurrentProcessId(),
                  ++serial);
    if (CreateDirectoryA(name, nullptr)) {
      m_path = name;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) std::abort();
  }
}

TempDir::~TempDir() { RemoveTree(m_path); }

namespace {

struct FindHandle {
  HANDLE h;
  explicit FindHandle(HANDLE find) : h(find) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
  }
};

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

}  // namespace

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA data;
  const FindHandle find(FindFirstFileA((path + "\\*").c_str(), &data));
  if (find.h != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string full = path + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(full);
      else
        DeleteFileA(full.c_str());
    } while (FindNextFileA(find.h, &data));
  }
  RemoveDirectoryA(path.c_str());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  const UniqueFile f(std::fopen(path.c_str(), "wb"));
  if (f) std::fwrite(bytes.data(), 1, bytes.size(), f.get());
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CopyFromBin(const char* name, const std::string& to) {
  CopyFileA((BinDir() + "\\" + name).c_str(), to.c_str(), FALSE);
}

unsigned long long NowMs() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return ((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000;
}

SetupLog::SetupLog(const std::string& path) : m_path(path) {
  DeleteFileA(m_path.c_str());
  SetEnvironmentVariableA("INSTALIO_SETUP_LOG", m_path.c_str());
}

SetupLog::~SetupLog() { SetEnvironmentVariableA("INSTALIO_SETUP_LOG", nullptr); }

std::vector<SetupEvent> SetupLog::Read() const {
  std::vector<SetupEvent> events;
  std::string all;
  {
    const UniqueFile f(std::fopen(m_path.c_str(), "rb"));
    if (!f) return events;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) all.append(buf, n);
  }
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find("\r\n", pos);
    if (end == std::string::npos) break;  // a line still being written
    const std::string line = all.substr(pos, end - pos);
    pos = end + 2;
    const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find('\t', t2 + 1);
    if (t3 == std::string::npos) continue;
    events.push_back({std::strtoull(line.substr(0, t1).c_str(), nullptr, 10),
                      std::strtoul(line.substr(t1 + 1, t2 - t1 - 1).c_str(), nullptr, 10),
                      line.substr(t2 + 1, t3 - t2 - 1), line.substr(t3 + 1)});
  }
  return events;
}

std::vector<SetupEvent> SetupLog::Starts(const std::string& part) const {
  std::vector<SetupEvent> starts;
  for (const SetupEvent& e : Read())
    if (e.event == "start" && e.detail.find(part) != std::string::npos) starts.push_back(e);
  return starts;
}

bool SetupLog::WaitFor(unsigned long pid, const char* event, DWORD ms) const {
  const DWORD until = GetTickCount() + ms;
  for (;;) {
    for (const SetupEvent& e : Read())
      if (e.pid == pid && e.event == event) return true;
    if (static_cast<LONG>(until - GetTickCount()) <= 0) return false;
    Sleep(50);
  }
}

bool SetupLog::WaitAllEnded(DWORD ms) const {
  const DWORD until = GetTickCount() + ms;
  for (;;) {
    int open = 0;
    for (const SetupEvent& e : Read()) {
      if (e.event == "start") ++open;
      if (e.event == "end") --open;
    }
    if (open <= 0) return true;
    if (static_cast<LONG>(until - GetTickCount()) <= 0) return false;
    Sleep(50);
  }
}

BoxSeen ReadBox(HWND box) {
  BoxSeen seen;
  seen.owner = GetWindow(box, GW_OWNER);
  char text[2048] = {};
  GetWindowTextA(box, text, sizeof text);
  seen.caption = text;
  text[0] = '\0';
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  seen.text = text;
  for (int id = IDOK; id <= IDNO; ++id) {
    HWND button = GetDlgItem(box, id);
    if (!button) continue;
    const LONG style = GetWindowLongA(button, GWL_STYLE);
    if (!(style & WS_VISIBLE)) continue;
    seen.buttons.push_back(id);
    if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) seen.defaultButton = id;
  }
  // The box's icon is a static control (id 0x440) holding one of the
  // shared system icons, the same handles LoadIcon gives.
  HWND icon = GetDlgItem(box, 0x440);
  if (icon) {
    const HICON shown = reinterpret_cast<HICON>(SendMessageA(icon, STM_GETICON, 0, 0));
    seen.informationIcon = shown && shown == LoadIcon(nullptr, IDI_INFORMATION);
    seen.questionIcon = shown && shown == LoadIcon(nullptr, IDI_QUESTION);
  }
  return seen;
}

namespace {
BoxScript* g_script = nullptr;
}

BoxScript::BoxScript(std::vector<Answer> answers) : m_answers(std::move(answers)) {
  g_script = this;
  m_hook = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

BoxScript::~BoxScript() {
  if (m_hook) UnhookWindowsHookEx(m_hook);
  if (m_timer) KillTimer(nullptr, m_timer);
  g_script = nullptr;
}

LRESULT CALLBACK BoxScript::Hook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && g_script) {
    HWND wnd = reinterpret_cast<HWND>(wParam);
    char cls[16] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    // Activation can come more than once per box; a property marks the
    // boxes already answered.
    if (lstrcmpA(cls, "#32770") == 0 && !GetPropA(wnd, "instalio_test.seen")) {
      SetPropA(wnd, "instalio_test.seen", reinterpret_cast<HANDLE>(1));
      g_script->OnActivate(wnd);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void BoxScript::OnActivate(HWND box) {
  // The box sets its default button and focus once it is up, so it is read
  // and answered from a timer that its own message loop runs.
  m_pending = box;
  m_timer = SetTimer(nullptr, 0, 20, OnTimer);
}

void CALLBACK BoxScript::OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (!g_script || !g_script->m_pending) return;
  BoxScript& self = *g_script;
  const HWND box = self.m_pending;
  self.m_pending = nullptr;
  BoxSeen seen = ReadBox(box);
  HWND focus = GetFocus();
  if (focus && GetParent(focus) == box) seen.focusButton = GetDlgCtrlID(focus);
  const size_t index = self.m_seen.size();
  int button = 0;
  std::function<void()> before;
  if (index < self.m_answers.size()) {
    before = self.m_answers[index].before;
    button = self.m_answers[index].button;
  } else {
    for (int fallback : {IDABORT, IDNO, IDOK})
      if (std::find(seen.buttons.begin(), seen.buttons.end(), fallback) != seen.buttons.end()) {
        button = fallback;
        break;
      }
  }
  try {
    if (before) before();
  } catch (...) {
  }
  seen.answeredMs = NowMs();
  self.m_seen.push_back(std::move(seen));
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

OwnerWindow::OwnerWindow() {
  m_hwnd = CreateWindowExA(0, "STATIC", "instalio test owner", WS_POPUP, 0, 0, 10, 10, nullptr,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
}

OwnerWindow::~OwnerWindow() {
  if (m_hwnd) DestroyWindow(m_hwnd);
}

std::vector<WPARAM> OwnerWindow::TakeCommands(std::vector<LPARAM>* lParams) {
  std::vector<WPARAM> commands;
  MSG msg;
  while (PeekMessageA(&msg, m_hwnd, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
    commands.push_back(msg.wParam);
    if (lParams) lParams->push_back(msg.lParam);
  }
  return commands;
}

ChildProcess::ChildProcess(const std::string& commandLine, const std::string& currentDir) {
  std::vector<char> cmd(commandLine.begin(), commandLine.end());
  cmd.push_back('\0');
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     currentDir.empty() ? nullptr : currentDir.c_str(), &si, &pi)) {
    CloseHandle(pi.hThread);
    m_process = pi.hProcess;
    m_pid = pi.dwProcessId;
  }
}

ChildProcess::~ChildProcess() {
  if (!m_process) return;
  if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
    TerminateProcess(m_process, 99);
    WaitForSingleObject(m_process, 5000);
  }
  CloseHandle(m_process);
}

DWORD ChildProcess::WaitExit(DWORD ms) {
  if (!m_process || WaitForSingleObject(m_process, ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(m_process, &code);
  return code;
}

namespace {

struct DialogSearch {
  DWORD pid;
  const char* caption;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND wnd, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (pid != search->pid || !IsWindowVisible(wnd)) return TRUE;
  char cls[16] = {};
  GetClassNameA(wnd, cls, sizeof cls);
  if (lstrcmpA(cls, "#32770") != 0) return TRUE;
  if (search->caption) {
    char caption[256] = {};
    GetWindowTextA(wnd, caption, sizeof caption);
    if (lstrcmpA(caption, search->caption) != 0) return TRUE;
  }
  search->found.push_back(wnd);
  return TRUE;
}

}  // namespace

std::vector<HWND> DialogsOf(DWORD pid, const char* caption) {
  DialogSearch search{pid, caption, {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForBox(DWORD pid, const char* caption, DWORD ms) {
  const DWORD until = GetTickCount() + ms;
  for (;;) {
    const std::vector<HWND> boxes = DialogsOf(pid, caption);
    if (!boxes.empty()) return boxes.front();
    if (static_cast<LONG>(until - GetTickCount()) <= 0) return nullptr;
    Sleep(50);
  }
}

}  // namespace instalio_test
