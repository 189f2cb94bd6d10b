// The device stream, whichever system carries it: two devices found by name (both WinMM
// devices, or both WASAPI endpoints), an audio thread that runs every captured block through
// ProcessBlock into playback, and what that thread reports of the run's health. Each open makes
// a run of its own (audio/stream_run.h); nothing of one run is shared with the next. It knows no
// window. User-interface thread only.
#pragma once

#include <cstdint>

#include "audio/stream_run.h"

// Opens the capture and playback devices named so (resolved now, by exact name, so a list
// whose positions drifted still opens the right ones) with a buffer length of ms, starts a new
// audio thread and capture with the one-second fade-in, and sizes the plug-in for the blocks.
// False when a name is not present, the two names are of different systems, or a device,
// thread or buffer cannot be had; then nothing is left open and the engine's words are as
// they were.
bool OpenStream(const wchar_t* captureName, const wchar_t* playbackName, int32_t ms);

// Ends the audio thread, waiting for it at most waitMs (a thread still inside the effect then
// has its call given up and is left behind with its run), stops and closes both devices.
// Nothing when no stream is open.
void CloseStream(uint32_t waitMs);

// How the open stream fares: stalled after its system's stall limit without capture, failed at
// once when a device refused a call or its endpoint was removed. Healthy when none is open.
StreamHealth CheckStream();

// The open stream's device period (how often a block comes: the buffer length on WinMM, the
// engine's period on WASAPI) and the stall limit CheckStream uses; 0 when none is open.
uint32_t StreamPeriodMs();
uint32_t StreamStallLimitMs();

bool StreamIsOpen();
// The open run's serial number (audio/stream_run.h), 0 when none is open.
uint32_t OpenRunSerial();

// True when the open stream's capture has delivered since it opened.
bool StreamDelivering();

// A stop request's fade-out: Mark before the fade starts; Played once the block that carried
// its end has been played by the device.
void MarkFadeOutStart();
bool FadeOutPlayed();

// The open run's own breaks (0 when none is open); the program's totals are streamCounters.
enum class RunCount { CaptureGaps, Underruns, Overruns };
uint32_t OpenRunCount(RunCount which);

// The open run's playback queue, as its audio thread left it (read while it runs: for tests and
// measurements only); null when none is open.
const PlaybackQueue* OpenRunQueue();

// Closes the handles of the audio threads left behind inside an effect. At exit.
void CloseThreadsLeftBehind();
