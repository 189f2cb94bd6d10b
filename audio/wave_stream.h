// Starting and stopping the device stream, on the user-interface thread.
#pragma once

#include <windows.h>

#include <cstdint>

// Opens the chosen devices with buffers of the typed length and starts capture with the
// one-second fade-in. 1 when the stream runs; 0 when refused (buffer length outside
// 10..10000 ms, already running, a thread, device or buffer that could not be had), and then
// nothing is left open and nothing has changed.
INT_PTR StartStream(HWND dialog);

// Starts the 0.1 s fade-out and the timer that completes the stop. A notification code of 2
// marks the watcher's own stop, which leaves auto-connect on. Returns 1.
INT_PTR RequestStop(HWND dialog, WORD notificationCode);

// Ends the audio thread, resets and closes both devices, releases the buffers and restores
// the controls. Nothing when no stream runs. Waits for the audio thread no longer than a hung
// plug-in may keep the user waiting; a thread still inside the effect then is left behind and
// the effect cut loose as hung.
void StopStream(HWND dialog);

// After the audio thread's call into the effect was given up: leaves that thread behind with
// its buffers and opens the same devices again, on a new thread, with the fade-in (a stop
// already under way completes instead). When they do not open, the stream is stopped.
void RestartStream(HWND dialog);

// The running stream's buffer length in ms, 0 when none runs.
uint32_t StreamBufferMs();

// Closes the handles of the threads left behind. At exit.
void CloseThreadsLeftBehind();
