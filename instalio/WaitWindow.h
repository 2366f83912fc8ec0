// The wait window shown while the install sequence runs.
#pragma once

#include <windows.h>

namespace instalio {

// Dialog procedure of the wait window: IDOK, IDCANCEL (a close request) and
// IDC_INSTALL_DONE end the program.
INT_PTR CALLBACK WaitDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Moves `window` to the middle of the primary screen, keeping its size.
void CentreOnPrimaryScreen(HWND window);

}  // namespace instalio
