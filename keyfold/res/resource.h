// Resource ids of Keyfold, one header for all kinds. Prefixes: IDR_ shared
// by several resource kinds or a menu, IDD_ dialogs and forms, IDB_
// bitmaps, IDC_ controls, IDS_ strings, ID_ commands.
#pragma once

#define IDC_STATIC (-1)

// Dialogs and forms
#define IDD_ABOUTBOX 100
#define IDD_LEFTLIST_FORM 101
#define IDD_PIN_VERIFY 141
#define IDD_EDITMSG_FORM 143

// Shared by menu, accelerators, icon and document string of the frame
#define IDR_MAINFRAME 128
// Tool bar resource and its bitmap
#define IDR_TOOLBAR 139
#define IDB_TOOLBAR 130
// Images of the key tree
#define IDB_TREE_IMAGES 131
// Pop-up menus of the key tree (menu ids; 143 is also a form id)
#define IDR_POPUP_TOKEN 143
#define IDR_POPUP_CERT 146

// Controls
#define IDC_KEY_TREE 1000
#define IDC_PIN_EDIT 1001
#define IDC_MESSAGE_EDIT 1005

// Commands
#define ID_TB_VERIFY_PIN 32771
#define ID_TB_ADVANCED 32772
#define ID_TB_REFRESH 32773
#define ID_POPUP_VERIFY_PIN 32774
#define ID_POPUP_ADVANCED 32775
#define ID_MENU_VERIFY_PIN 32777
#define ID_MENU_ADVANCED 32778
#define ID_TB_REGISTER_CERT 32784
#define ID_POPUP_REGISTER_CERT 32785
#define ID_MENU_REGISTER_CERT 32786
#define ID_MENU_REFRESH 32788
#define ID_APP_ABOUT 57664

// Strings
#define IDS_KEY_PROVIDER_NAME 102
#define IDS_APP_TITLE 57344  // the application title (AFX_IDS_APP_TITLE)
