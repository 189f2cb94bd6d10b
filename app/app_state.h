// Process-wide state of the user interface.
#pragma once

#include <windows.h>
#include <shellapi.h>

extern HINSTANCE appInstance;       // every resource is loaded from here
extern HMENU trayMenu;              // IDR_TRAYMENU, destroyed at close
extern HMENU trayPopup;             // its first submenu: the slots, Start, Stop, Mute, Bypass, EXIT
extern NOTIFYICONDATAW trayIconData;  // version-1 layout, filled at initialisation
