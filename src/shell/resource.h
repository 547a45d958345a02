#pragma once
// Resource and command identifiers of kelvra.exe. Included by kelvra.rc and by
// the code, so plain preprocessor numbers only.

#define IDI_KELVRA 101  // the program's icon: 16, 32 and 48 pixel frames
#define IDB_LOGO 102    // the logo of the title window, 89 x 89

// Commands of the tray menu.
#define IDM_RUNNOW 1001
#define IDM_VISITACCOUNTPAGE 1002
#define IDM_SETTINGS 1003
#define IDM_ABOUT 1004
#define IDM_EXITKELVRA 1005

// The tray icon's identifier within the main window.
#define IDC_TRAYICON 1
