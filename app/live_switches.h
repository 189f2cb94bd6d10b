// The switches a streamer flips while live, from the tray menu as from anywhere else: the
// output's mute, every effect bypassed, and the slot by number. Neither switch is kept: the
// program always starts with its sound on and its effects playing.
#pragma once

#include <windows.h>

// ID_MUTE and ID_BYPASS: the switch the other way, shown in the title and the tray's tip.
INT_PTR ToggleMute(HWND window);
INT_PTR ToggleBypass(HWND window);

// ID_SLOT_FIRST + index (and a slot's hotkey): the slot chosen as in the window's slot list, a
// running stream going on (ChangeSlotFromAnywhere).
INT_PTR ChooseSlot(HWND window, int index);

// The title and the tray's tip as the switches stand, in the shown language.
void ShowLiveSwitches(HWND window);

// The tray menu's slot items (the current one checked) and the switches' checks, before it opens;
// the slot items in the shown language.
void PrepareTrayMenu();
