// The install sequence: checks the package, then starts the installers of
// the launch list one after another. Runs on a worker thread beside the
// wait window and ends the program by posting IDC_INSTALL_DONE to it.
#pragma once

#include <windows.h>

namespace instalio {

// Thread body: `window` is the wait window. Finds the package in the
// folder of the running executable.
DWORD WINAPI RunInstallSequence(LPVOID window);

// The same sequence for the package in `packageDir` (no trailing
// backslash). Message boxes are owned by `window`, which also receives the
// end command. Always returns 0.
int RunInstallSequenceIn(HWND window, const char* packageDir);

// The client's install directory below the local application-data folder,
// or the empty text when that folder cannot be determined. `out` holds
// MAX_PATH bytes.
void ClientInstallDirectory(char* out);

}  // namespace instalio
