// Saving the current slot: the one save that closing and the end of the session share, and a
// save about two seconds after the last change, so that a crash that nothing can catch loses
// no more than those seconds. Each writes only the current slot's section, as closing does.
#pragma once

#include <windows.h>

// The controls and the window's position into the current slot, then the slot to the file.
void SaveSlotNow(HWND window);

// Starts watching the current slot (again): what the window shows once the detail toggle that
// start-up or a slot change may have posted has run counts as saved. Start-up and slot change.
void RestartSlotSaver(HWND window);

// TIMER_SAVE: saves the current slot once what closing would store has stood unchanged for two
// ticks and differs from what was last saved. Nothing is written while nothing changes.
void OnSlotSaverTick(HWND window);
