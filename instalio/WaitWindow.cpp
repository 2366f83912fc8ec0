#include "WaitWindow.h"

#include "resource.h"

namespace instalio {

INT_PTR CALLBACK WaitDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND: {
      const WORD id = LOWORD(wParam);
      if (id == IDOK || id == IDCANCEL || id == IDC_INSTALL_DONE) {
        EndDialog(window, id);
        PostQuitMessage(0);
        return TRUE;
      }
      break;
    }
    default:
      break;
  }
  return FALSE;
}

void CentreOnPrimaryScreen(HWND window) {
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  RECT rc{};
  GetWindowRect(window, &rc);
  // The template places the window at the origin, so right and bottom are
  // its size.
  MoveWindow(window, (screenWidth - rc.right) / 2, (screenHeight - rc.bottom) / 2,
             rc.right - rc.left, rc.bottom - rc.top, FALSE);
}

}  // namespace instalio
