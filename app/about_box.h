// The About box.
#pragma once

#include <windows.h>

INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the About box modally, owned by the main window.
void ShowAboutBox(HWND owner);
