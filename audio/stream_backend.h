// What each system's stream gives the one stream interface. A run is opened with everything it
// needs and its thread waiting, then started; closing it ends its thread (or leaves it behind
// with the run), closes the devices and lets go of the run.
#pragma once

#include <windows.h>

#include <cstdint>

#include "audio/stream_run.h"

struct StreamBackend {
    // A run on the two devices of this system with buffers for ms (its periodMs and blockBytes
    // set), not yet delivering; null when a device, thread or buffer cannot be had, and then
    // nothing is left open.
    StreamRun* (*open)(const wchar_t* captureName, const wchar_t* playbackName, int32_t ms);
    // Starts the devices; false when they refuse (the run is then closed by the caller).
    bool (*start)(StreamRun* run);
    // As CloseStream, for one run of this system; the run may be freed on return.
    void (*close)(StreamRun* run, uint32_t waitMs);
    void (*markFadeOutStart)(StreamRun* run);
    bool (*fadeOutPlayed)(StreamRun* run);
};

extern const StreamBackend WAVE_BACKEND;
extern const StreamBackend WASAPI_BACKEND;

// An audio thread stuck inside an effect: never waited on again, its handle closed at exit.
void KeepThreadLeftBehind(HANDLE thread);

// Ends a run's audio thread: stopping set, then quit (which the system's own way does), then
// waiting at most waitMs. True when it ended; otherwise its call into the effect is given up
// and the thread is kept as left behind (it keeps its run). The handle is done with either way.
bool EndRunThread(StreamRun& run, HANDLE thread, void (*quit)(StreamRun& run), uint32_t waitMs);
