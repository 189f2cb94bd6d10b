// The global hotkeys: registered with the system for the main window, so that they work while
// another program has the keyboard; each does what the same click in the window (or the tray
// menu) does. A combination another program holds is refused, that action alone, and the user
// is told which.
#pragma once

#include <windows.h>

#include "settings/hotkey_text.h"

// The hotkeys as the settings file keeps them, registered anew (initialisation, and after the
// hotkeys window changed them). When any was refused, a balloon names the combinations.
void RegisterHotkeys(HWND window);
// Releases them all (the window's close).
void UnregisterHotkeys(HWND window);

// WM_HOTKEY: the action of the hotkey id.
INT_PTR OnHotkey(HWND window, WPARAM id);

// What the program holds now, and whether the system refused an action's combination.
Hotkey CurrentHotkey(int32_t action);
bool HotkeyRefused(int32_t action);
// The hotkeys window's choice: kept in the settings file and registered.
void ChangeHotkeys(HWND window, const Hotkey (&chosen)[HOTKEY_ACTIONS]);
