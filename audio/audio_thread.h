// The audio thread: receives the capture device's buffer-full notifications as thread
// messages, turns each recorded buffer into the next playback buffer and hands the capture
// buffer back.
#pragma once

#include <windows.h>

// The thread procedure. Creates its message queue and signals readiness before anything
// else, so no notification posted to it can be lost; then runs at time-critical priority.
unsigned __stdcall AudioThreadProc(void* unused);

// Acts on one thread message (the body of the message loop). False when the thread must end at
// once: it was left behind inside the effect, and the stream has moved on without it.
bool HandleAudioThreadMessage(UINT message, WPARAM wParam, LPARAM lParam);

// Starts AudioThreadProc into audioThread / audioThreadId and waits until its message queue
// exists. False (and nothing left behind) when the thread cannot be created or never gets
// ready.
bool StartAudioThread();
