// The dialog keys (Tab, the arrows, Enter, Escape) for the program's modeless windows: the main
// window's modal loop hands them to the main window only, so they are taken for these before
// that loop sees them.
#pragma once

#include <windows.h>

// From the window's WM_INITDIALOG, and its WM_DESTROY.
void RouteDialogKeys(HWND window);
void StopRoutingDialogKeys(HWND window);
