// The plug-in a slot keeps from one run of the program to the next: which one, that it was on,
// whether its editor was open, and the effect's own state.
#pragma once

#include <windows.h>

struct SettingsSlot;

// The loaded effect's path and switches into slot, as closing keeps them (off, and the path
// as it was, when none is loaded). While a load runs the slot keeps what it has.
void ReadPluginFields(SettingsSlot& slot);

// At the close or the session's end, with the stream stopped and before the unload: the slot
// takes the loaded effect's path and switches and is saved, then the effect's state is kept
// beside the settings. The slot is saved before the effect is asked for its state, so an effect
// that never answers costs at most its state.
void SaveSlotWithPlugin(HWND window);

// At start, before any stream: loads the plug-in the slot kept, gives it its state and opens
// its editor if it was open. A load that did not finish last time is not tried again; the user
// is told once, after the window is shown. A load that was given a state counts as unfinished
// until the effect has processed its first second.
void BringBackSlotPlugin(HWND window);

// The level timer: ends the start's load once its effect has processed a second (or is gone).
void SettleSlotPluginMarker();

// WM_SLOT_PLUGIN_NOTICE: what the start could not do (wParam one of the notices).
void OnSlotPluginNotice(HWND window, WPARAM notice);
