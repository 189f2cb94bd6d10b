// A WinMM run's audio thread: receives the capture device's buffer-full notifications as thread
// messages, turns each recorded buffer into the next playback buffer and hands the capture
// buffer back. It works on its own run only.
#pragma once

#include <windows.h>

struct WinmmRun;

// The thread procedure; run is its WinmmRun, which the thread holds until it ends. Creates its
// message queue and signals readiness before anything else, so no notification posted to it
// can be lost; then runs at time-critical priority.
unsigned __stdcall AudioThreadProc(void* run);

// Acts on one thread message (the body of the message loop). False when the thread must end at
// once: it was left behind inside the effect, and the stream has moved on without it.
bool HandleAudioThreadMessage(WinmmRun& run, UINT message, WPARAM wParam, LPARAM lParam);

// Starts AudioThreadProc for run into run.thread / run.threadId and waits until its message
// queue exists. False (and no thread left) when the thread cannot be created or never gets
// ready.
bool StartAudioThread(WinmmRun& run);
