// The main window's system menu item "VSTを別プロセスで実行": checked while the current slot's
// effect is to run in a host process of its own. The change applies from the next load.
#pragma once

#include <windows.h>

// Adds the item just above the language's (initialisation).
void AddIsolationItem(HWND window);

// The check as the current slot has it (initialisation and a slot change).
void ShowIsolationCheck(HWND window);

// ID_ISOLATE: the current slot's switch the other way, saved at once.
INT_PTR ToggleIsolation(HWND window);
