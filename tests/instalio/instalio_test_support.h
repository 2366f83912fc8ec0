// Shared pieces of the launcher's tests: throw-away package folders, the
// record that the stand-in installer writes, and message-box catchers.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace instalio_test {

// The folder of the running test program, where the build puts
// Instalio.exe, sample_setup.exe and planted.dll.
std::string BinDir();

// A fresh folder under the temporary folder, removed with its contents.
class TempDir {
 public:
  explicit TempDir(const char* tag);
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

void RemoveTree(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// Copies a file from BinDir() to `to`.
void CopyFromBin(const char* name, const std::string& to);

// One line of the stand-in installer's record.
struct SetupEvent {
  unsigned long long ms;
  unsigned long pid;
  std::string event;
  std::string detail;
};

// The installer record: INSTALIO_SETUP_LOG points at a file of this
// object's own, inherited by everything started from now on.
class SetupLog {
 public:
  explicit SetupLog(const std::string& path);
  ~SetupLog();
  std::vector<SetupEvent> Read() const;
  // The start events whose command line contains `part`.
  std::vector<SetupEvent> Starts(const std::string& part) const;
  // Waits up to `ms` until `pid` has recorded `event`.
  bool WaitFor(unsigned long pid, const char* event, DWORD ms) const;
  // Waits until every started installer has ended, so folders can go.
  bool WaitAllEnded(DWORD ms) const;

 private:
  std::string m_path;
};

unsigned long long NowMs();

// What a message box showed, read while it is up.
struct BoxSeen {
  HWND owner = nullptr;
  std::string caption;
  std::string text;
  std::vector<int> buttons;  // visible button ids, ascending
  bool informationIcon = false;
  bool questionIcon = false;
  int defaultButton = 0;  // the button drawn as the default one
  int focusButton = 0;    // the button with the keyboard focus
  unsigned long long answeredMs = 0;  // when the script pressed its button (NowMs)
};

BoxSeen ReadBox(HWND box);

// Answers the message boxes of the calling thread from a script, in order,
// through a WH_CBT hook. A box beyond the script is answered with Abort,
// No or OK, whichever it has, so a test fails instead of hanging.
class BoxScript {
 public:
  struct Answer {
    int button;
    std::function<void()> before;  // runs while the box is up
  };
  explicit BoxScript(std::vector<Answer> answers = {});
  BoxScript(const BoxScript&) = delete;
  BoxScript& operator=(const BoxScript&) = delete;
  ~BoxScript();
  const std::vector<BoxSeen>& seen() const { return m_seen; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD);
  void OnActivate(HWND box);

  HWND m_pending = nullptr;
  UINT_PTR m_timer = 0;

  HHOOK m_hook = nullptr;
  std::vector<Answer> m_answers;
  std::vector<BoxSeen> m_seen;
};

// A hidden top-level window that stands in for the wait window: owner of
// the boxes and receiver of the end command.
class OwnerWindow {
 public:
  OwnerWindow();
  OwnerWindow(const OwnerWindow&) = delete;
  OwnerWindow& operator=(const OwnerWindow&) = delete;
  ~OwnerWindow();
  HWND get() const { return m_hwnd; }
  // Removes the WM_COMMAND messages waiting for the window and returns
  // their first arguments.
  std::vector<WPARAM> TakeCommands(std::vector<LPARAM>* lParams = nullptr);

 private:
  HWND m_hwnd = nullptr;
};

// A process started by a test, killed at the end if still running.
class ChildProcess {
 public:
  ChildProcess(const std::string& commandLine, const std::string& currentDir);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();
  bool started() const { return m_process != nullptr; }
  DWORD pid() const { return m_pid; }
  // Exit code, or STILL_ACTIVE when it did not end within `ms`.
  DWORD WaitExit(DWORD ms);

 private:
  HANDLE m_process = nullptr;
  DWORD m_pid = 0;
};

// Top-level dialog-class windows of process `pid` that are visible; with
// a caption, only those with exactly that caption.
std::vector<HWND> DialogsOf(DWORD pid, const char* caption = nullptr);
// Waits up to `ms` for a box of `pid` with `caption`; null when none came.
HWND WaitForBox(DWORD pid, const char* caption, DWORD ms);

}  // namespace instalio_test
