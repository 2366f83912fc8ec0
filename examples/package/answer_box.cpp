// Answers a message box from outside, as a user would, for the demo:
//   answer_box CAPTION BUTTON [TIMEOUT_MS]
// waits for a visible dialog-class window with exactly CAPTION, prints its
// text and presses BUTTON (ok, cancel, abort, retry, ignore, yes, no) by
// sending the button's command. Exit code 0 when a box was answered, 1
// when none came in time, 2 on a wrong command line.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct Search {
  const char* caption;
  HWND found;
};

BOOL CALLBACK FindBox(HWND wnd, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  char cls[16] = {}, caption[256] = {};
  GetClassNameA(wnd, cls, sizeof cls);
  if (lstrcmpA(cls, "#32770") != 0 || !IsWindowVisible(wnd)) return TRUE;
  GetWindowTextA(wnd, caption, sizeof caption);
  if (lstrcmpA(caption, search->caption) != 0) return TRUE;
  search->found = wnd;
  return FALSE;
}

int ButtonId(const char* name) {
  static const struct {
    const char* name;
    int id;
  } buttons[] = {{"ok", IDOK},         {"cancel", IDCANCEL}, {"abort", IDABORT}, {"retry", IDRETRY},
                 {"ignore", IDIGNORE}, {"yes", IDYES},       {"no", IDNO}};
  for (const auto& b : buttons)
    if (lstrcmpiA(name, b.name) == 0) return b.id;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || !ButtonId(argv[2])) {
    std::fputs("usage: answer_box CAPTION ok|cancel|abort|retry|ignore|yes|no [TIMEOUT_MS]\n",
               stderr);
    return 2;
  }
  const int button = ButtonId(argv[2]);
  const DWORD timeout = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 30000;
  const DWORD until = GetTickCount() + timeout;
  Search search{argv[1], nullptr};
  while (EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search)), !search.found) {
    if (static_cast<LONG>(until - GetTickCount()) <= 0) {
      std::fprintf(stderr, "answer_box: no box \"%s\" within %lu ms\n", argv[1], timeout);
      return 1;
    }
    Sleep(100);
  }
  char text[2048] = {};
  GetDlgItemTextA(search.found, 0xFFFF, text, sizeof text);
  std::printf("[%s] %s -> %s\n", argv[1], text, argv[2]);
  std::fflush(stdout);
  PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(search.found, button)));
  return 0;
}
