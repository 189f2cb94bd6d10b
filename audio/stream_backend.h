// What each system's stream gives the one stream interface. Both run ProcessBlock on their own
// audio thread and report through the words of stream_state.
#pragma once

#include <windows.h>

#include <cstdint>

struct StreamBackend {
    // As OpenStream, for two names of this system.
    bool (*open)(const wchar_t* captureName, const wchar_t* playbackName, int32_t ms);
    // As CloseStream, for an open stream of this system.
    void (*close)(uint32_t waitMs);
    void (*markFadeOutStart)();
    bool (*fadeOutPlayed)();
};

extern const StreamBackend WAVE_BACKEND;
extern const StreamBackend WASAPI_BACKEND;

// An audio thread stuck inside an effect: never waited on again, its handle closed at exit.
void KeepThreadLeftBehind(HANDLE thread);
