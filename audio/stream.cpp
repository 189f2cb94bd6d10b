#include "audio/stream.h"

#include <windows.h>

#include "audio/device_names.h"
#include "audio/stream_backend.h"
#include "audio/stream_state.h"
#include "platform/platform.h"
#include "plugin/plugin_call_watch.h"

namespace {

constexpr uint32_t MIN_STALL_MS = 1000;
constexpr uint32_t STALL_BUFFERS = 4;
constexpr uint32_t FIRST_CAPTURE_ALLOWANCE_MS = 2000; // some devices take this long to start

// Threads left behind inside an effect that did not return. They are never waited on; their
// handles are closed at exit, or at once when there are too many to keep.
constexpr int MAX_THREADS_LEFT_BEHIND = 16;
HANDLE threadsLeftBehind[MAX_THREADS_LEFT_BEHIND];
int threadsLeftBehindCount = 0;

const StreamBackend* openBackend = nullptr; // the system of the open stream, null when none
DWORD openTick = 0;

} // namespace

bool OpenStream(const wchar_t* captureName, const wchar_t* playbackName, int32_t ms) {
    if (openBackend != nullptr) {
        return false;
    }
    const bool wasapi = IsWasapiName(captureName);
    if (wasapi != IsWasapiName(playbackName)) {
        DebugOutput(L"Kawauso04: a WinMM device and a WASAPI endpoint cannot make one stream\n");
        return false;
    }
    const StreamBackend* backend = wasapi ? &WASAPI_BACKEND : &WAVE_BACKEND;
    if (!backend->open(captureName, playbackName, ms)) {
        return false;
    }
    openBackend = backend;
    openTick = GetTickCount();
    return true;
}

void CloseStream(uint32_t waitMs) {
    if (openBackend != nullptr) {
        openBackend->close(waitMs);
        openBackend = nullptr;
    }
}

uint32_t StreamStallLimitMs(uint32_t bufferMs) {
    return STALL_BUFFERS * bufferMs > MIN_STALL_MS ? STALL_BUFFERS * bufferMs : MIN_STALL_MS;
}

StreamHealth CheckStream(uint32_t bufferMs) {
    if (deviceCallFailed.load() != 0) {
        return StreamHealth::DeviceFailed;
    }
    const uint32_t limit = StreamStallLimitMs(bufferMs);
    const uint32_t now = GetTickCount();
    const bool seen = captureSeen.load() != 0;
    const uint32_t sinceCapture = now - (seen ? lastCaptureTick.load() : openTick);
    // A playback device that went away may go on taking blocks without playing them.
    const uint32_t sincePlayback = seen ? now - playbackProgressTick.load() : 0;
    if (PluginCallRunning() ||
        (sinceCapture <= (seen ? limit : limit + FIRST_CAPTURE_ALLOWANCE_MS) &&
         sincePlayback <= limit)) {
        return StreamHealth::Healthy;
    }
    return StreamHealth::Stalled;
}

bool StreamIsOpen() {
    return openBackend != nullptr;
}

bool StreamDelivering() {
    return openBackend != nullptr && captureSeen.load() != 0;
}

void MarkFadeOutStart() {
    if (openBackend != nullptr) {
        openBackend->markFadeOutStart();
    }
}

bool FadeOutPlayed() {
    return openBackend != nullptr && openBackend->fadeOutPlayed();
}

void KeepThreadLeftBehind(HANDLE thread) {
    SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
    if (threadsLeftBehindCount < MAX_THREADS_LEFT_BEHIND) {
        threadsLeftBehind[threadsLeftBehindCount++] = thread;
    } else {
        CloseHandle(thread);
    }
}

void CloseThreadsLeftBehind() {
    for (int i = 0; i < threadsLeftBehindCount; ++i) {
        CloseHandle(threadsLeftBehind[i]);
    }
    threadsLeftBehindCount = 0;
}
