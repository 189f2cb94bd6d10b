// The device stream, whichever system carries it: two devices found by name (both WinMM
// devices, or both WASAPI endpoints), an audio thread that runs every captured block through
// ProcessBlock into playback, and what that thread reports of the run's health. It knows no
// window: what the window shows of it lives in app/stream_commands. User-interface thread only.
#pragma once

#include <cstdint>

// Opens the capture and playback devices named so (resolved now, by exact name, so a list
// whose positions drifted still opens the right ones) with a buffer length of ms, starts a new
// audio thread and capture with the one-second fade-in, and sizes the plug-in for the blocks.
// False when a name is not present, the two names are of different systems, or a device,
// thread or buffer cannot be had; then nothing is left open and the engine's words are as
// they were.
bool OpenStream(const wchar_t* captureName, const wchar_t* playbackName, int32_t ms);

// Ends the audio thread, waiting for it at most waitMs (a thread still inside the effect then
// has its call given up and is left behind with its buffers), stops and closes both devices
// and releases the buffers. Nothing when no stream is open.
void CloseStream(uint32_t waitMs);

enum class StreamHealth {
    Healthy,
    Stalled,     // no capture for the stall limit (longer before the first block)
    DeviceFailed // the device refused a call, or went away
};
// How long the open stream, at a buffer length of bufferMs, may deliver nothing before
// CheckStream calls it stalled: so long have its devices been away when it does.
uint32_t StreamStallLimitMs(uint32_t bufferMs);

// How the open stream fares for a buffer length of bufferMs. A block inside the effect is
// never a stall: that is the plug-in hang guard's case.
StreamHealth CheckStream(uint32_t bufferMs);

bool StreamIsOpen();

// True when the open stream's capture has delivered since it opened.
bool StreamDelivering();

// A stop request's fade-out: Mark before the fade starts; Played once the block that carried
// its end has been played by the device.
void MarkFadeOutStart();
bool FadeOutPlayed();

// Closes the handles of the audio threads left behind inside an effect. At exit.
void CloseThreadsLeftBehind();
