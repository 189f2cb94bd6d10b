// Device auto-connect: while on, a one-second watcher starts the stream when both saved
// devices are present and stops it (staying on) when either goes missing.
#pragma once

#include <windows.h>

// Turns auto-connect on (combos disabled, the slot's flag set, the controls stored as the
// watched names, the watcher started) or off (combos enabled unless a stream runs, flag
// cleared, watcher stopped). Turning it off never stops a running stream.
void SetAutoConnect(HWND window, bool on);

// One watcher tick (TIMER_AUTOCONNECT).
void OnAutoConnectTick(HWND window);
