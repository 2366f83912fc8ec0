// Resource identifiers of the launcher, by kind: IDD_ dialogs, IDC_ controls
// and commands, IDS_ strings, IDR_ the menu and accelerator pair.
#pragma once

#define IDD_WAIT            103
#define IDS_APP_TITLE       103
#define IDR_MAINFRAME       109
#define IDS_WINDOW_CLASS    109

// The command that ends the program; the install sequence posts it to the
// wait window when it is done.
#define IDC_INSTALL_DONE    105
#define IDC_ABOUT           104

#ifndef IDC_STATIC
#define IDC_STATIC          (-1)
#endif
