// The hotkeys window ("ホットキー..." / "Hotkeys..." in the system menu): modeless, a row for
// each action with the system's hot-key control and whether the combination is in use
// elsewhere; OK keeps and registers the rows' combinations.
#pragma once

#include <windows.h>

void OpenHotkeyWindow(HWND mainWindow);
// Its texts in the shown language (a language switch).
void RefreshHotkeyWindow();
HWND HotkeyWindow();
