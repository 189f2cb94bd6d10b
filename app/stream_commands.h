// What the window does with the stream: Start and Stop with the controls that follow them, and
// what audio/stream_recovery decides when its devices stop delivering (restarts, the give-up
// and its balloon). The stream itself is audio/stream's. User-interface thread.
#pragma once

#include <windows.h>

#include <cstdint>

// The notification code of the Start and Stop commands that auto-connect's watcher posts.
constexpr WORD WATCHER_CODE = 2;

// Opens the devices named in the two lists with buffers of the typed length and starts with
// the one-second fade-in. 1 when the stream runs; 0 when refused (buffer length outside
// 10..10000 ms, already running, a device not present or not opening, a WinMM device with a
// WASAPI endpoint, no thread or buffer), and then nothing is left open and nothing has changed.
// A refused Start of the user's (any code but WATCHER_CODE) is told why in a balloon at the
// control concerned; the watcher's own tries stay silent.
INT_PTR StartStream(HWND dialog, WORD notificationCode);

// Starts the 0.1 s fade-out and the timer that completes the stop. WATCHER_CODE marks the
// watcher's own stop, which leaves auto-connect on. Returns 1.
INT_PTR RequestStop(HWND dialog, WORD notificationCode);

// TIMER_STOP: ends the stream once the block that completed the fade-out has been played, or
// nothing can be heard (capture never delivered, a device went missing), or a second after
// the request, never earlier than the timer's first 200 ms. A second request does not put it
// off.
void OnStopTimer(HWND dialog);

// Ends the stream at once (no fade) and restores the controls. Nothing when none runs. Waits
// for the audio thread no longer than a hung plug-in may keep the user waiting.
void StopStream(HWND dialog);

// After the audio thread's call into the effect was given up: leaves that thread behind and
// opens the same devices again on a new thread with the fade-in (a stop under way completes
// instead). When they do not open, the stream stops.
void RestartStream(HWND dialog);

// The level timer's watchdog: a running stream that stalls (its system's limit) or whose
// device refused a call is started again on the same device names, at once and then after
// growing pauses; devices that stay gone for 10 s stop it (with a balloon unless auto-connect
// will bring it back).
void WatchStream(HWND dialog);

// How the watchdog opens the devices again (OpenStream). Devices that stay away cannot be
// had for a running program on every system, so tests may put an opener here that refuses.
using StreamOpener = bool (*)(const wchar_t* captureName, const wchar_t* playbackName, int32_t ms);
extern StreamOpener reopenStream;

// How long the watchdog tries to bring lost devices back. A variable so that tests can
// shorten it.
extern uint32_t deviceRecoveryMs;

// Resume from sleep (either notice of it): a running stream starts again at once, once per wake.
void OnPowerResume(HWND dialog);

// The system's devices changed: the running stream's missing devices start its recovery, and
// their return tries again at once.
void OnStreamDevicesChanged(HWND dialog);

// The running stream's buffer length in ms, 0 when none runs.
uint32_t StreamBufferMs();

// "再起動 N 回 / 途切れ N 回": restarts, and every break in the sound the stream counted.
void FormatStreamCounters(wchar_t* text, size_t units);
