// The wait window's procedure on a window of its own: which commands end
// the program and which are left to the dialog manager.
#include <windows.h>

#include <gtest/gtest.h>

#include "WaitWindow.h"

namespace {

// The smallest modeless dialog: no controls, no font.
struct BareTemplate {
  DLGTEMPLATE dlg{WS_POPUP, 0, 0, 0, 0, 100, 40};
  WORD menu = 0, windowClass = 0, title = 0;
};

class WaitDialog {
 public:
  WaitDialog() {
    alignas(4) static const BareTemplate bare;
    m_hwnd = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), &bare.dlg, nullptr,
                                        instalio::WaitDialogProc, 0);
    if (m_hwnd) ShowWindow(m_hwnd, SW_SHOW);
  }
  WaitDialog(const WaitDialog&) = delete;
  WaitDialog& operator=(const WaitDialog&) = delete;
  ~WaitDialog() {
    if (m_hwnd) DestroyWindow(m_hwnd);
  }
  HWND get() const { return m_hwnd; }

 private:
  HWND m_hwnd = nullptr;
};

// Removes a waiting quit message; its exit code, or -1 when none came.
int TakeQuit() {
  MSG msg;
  int code = -1;
  // PeekMessage hands out WM_QUIT only once the queue holds nothing else.
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      code = static_cast<int>(msg.wParam);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return code;
}

TEST(WaitWindow, EndCommandsEndTheProgramOthersAreLeftAlone) {
  struct Case {
    const char* what;
    WPARAM wParam;
    bool ends;
  } cases[] = {
      {"IDOK", IDOK, true},
      {"IDCANCEL, as a close request arrives", IDCANCEL, true},
      {"the end of the install sequence", 105, true},
      {"105 from an accelerator", MAKEWPARAM(105, 1), true},
      {"IDCANCEL as a button notification", MAKEWPARAM(IDCANCEL, BN_CLICKED), true},
      {"the unused about command", 104, false},
      {"an id next to the end command", 106, false},
      {"an id whose low word is not an end command", MAKEWPARAM(3, 105), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WaitDialog wait;
    ASSERT_NE(wait.get(), nullptr);
    TakeQuit();
    const INT_PTR handled = instalio::WaitDialogProc(wait.get(), WM_COMMAND, c.wParam, 0);
    EXPECT_EQ(handled, c.ends ? TRUE : FALSE);
    EXPECT_EQ(TakeQuit(), c.ends ? 0 : -1);
    EXPECT_EQ(IsWindowVisible(wait.get()) != FALSE, !c.ends) << "the dialog was not ended";
  }
}

TEST(WaitWindow, InitialisationIsTakenAndEverythingElseGoesToTheDialogManager) {
  WaitDialog wait;
  ASSERT_NE(wait.get(), nullptr);
  EXPECT_EQ(instalio::WaitDialogProc(wait.get(), WM_INITDIALOG, 0, 0), TRUE);
  for (const UINT message : {UINT{WM_CLOSE}, UINT{WM_PAINT}, UINT{WM_SYSCOMMAND}, UINT{WM_TIMER}})
    EXPECT_EQ(instalio::WaitDialogProc(wait.get(), message, 0, 0), FALSE) << message;
  EXPECT_EQ(TakeQuit(), -1);
}

}  // namespace
