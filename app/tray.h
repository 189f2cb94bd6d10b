// Minimising into the notification area, and the icon's menu.
#pragma once

#include <windows.h>

// SC_MINIMIZE: adds the icon and hides the main and editor windows. Returns 1 (handled).
INT_PTR MinimiseToTray(HWND window);

// WM_TRAYNOTIFY: left button up restores, right button up opens the menu (1); anything
// else is not handled (0).
INT_PTR OnTrayNotify(HWND window, WPARAM wParam, LPARAM lParam);

// WM_WINDOWPOSCHANGING: while the window lives in the tray, nothing may show it.
void FilterTrayShow(WINDOWPOS* change);
