#include "audio/wave_stream.h"

#include <windows.h>
#include <mmsystem.h>
#include <cstdlib>

#include "audio/audio_thread.h"
#include "audio/engine_state.h"
#include "audio/stream_state.h"
#include "audio/wave_devices.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/plugin_host.h"

namespace {

constexpr uint32_t MIN_STALL_MS = 1000;
constexpr uint32_t STALL_BUFFERS = 4;
constexpr uint32_t FIRST_CAPTURE_ALLOWANCE_MS = 2000; // some devices take this long to start
constexpr DWORD PLAYBACK_LOOP_FLAGS = WHDR_BEGINLOOP | WHDR_ENDLOOP;

// Threads left behind inside an effect that did not return. They are never waited on; their
// handles are closed at exit, or at once when there are too many to keep.
constexpr int MAX_THREADS_LEFT_BEHIND = 16;
HANDLE threadsLeftBehind[MAX_THREADS_LEFT_BEHIND];
int threadsLeftBehindCount = 0;

bool streamOpen = false;
DWORD openTick = 0;

// The audio thread stays where it is, at the lowest priority, and keeps the buffers it may
// still write into: they are forgotten, never freed.
void LeaveAudioThreadBehind() {
    SetThreadPriority(audioThread, THREAD_PRIORITY_LOWEST);
    if (threadsLeftBehindCount < MAX_THREADS_LEFT_BEHIND) {
        threadsLeftBehind[threadsLeftBehindCount++] = audioThread;
    } else {
        CloseHandle(audioThread);
    }
    audioThread = nullptr;
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        captureBuffers[i] = nullptr;
        playbackBuffers[i] = nullptr;
    }
}

// Tells the audio thread to drop what is still queued and end, and waits for that, but never
// longer than waitMs: a thread still inside the effect then has its call given up and is left
// behind.
void EndAudioThread(uint32_t waitMs) {
    stopping.store(1);
    PostThreadMessageW(audioThreadId, WM_QUIT, 0, 0);
    if (WaitForSingleObject(audioThread, waitMs) == WAIT_OBJECT_0) {
        CloseHandle(audioThread);
        audioThread = nullptr;
        return;
    }
    GiveUpPluginCallAfter(0);
    LeaveAudioThreadBehind();
}

void ReleaseBuffers() {
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        if (waveIn != nullptr && (captureHeaders[i].dwFlags & WHDR_PREPARED) != 0) {
            waveInUnprepareHeader(waveIn, &captureHeaders[i], sizeof(WAVEHDR));
        }
        if (waveOut != nullptr && (playbackHeaders[i].dwFlags & WHDR_PREPARED) != 0) {
            waveOutUnprepareHeader(waveOut, &playbackHeaders[i], sizeof(WAVEHDR));
        }
        std::free(captureBuffers[i]);
        std::free(playbackBuffers[i]);
        captureBuffers[i] = nullptr;
        playbackBuffers[i] = nullptr;
    }
}

void CloseDevices() {
    if (waveIn != nullptr) {
        waveInClose(waveIn);
        waveIn = nullptr;
    }
    if (waveOut != nullptr) {
        waveOutClose(waveOut);
        waveOut = nullptr;
    }
}

// What a start changes before it can fail, so that a refused start leaves it as it was.
struct StateBeforeStart {
    int32_t stopping;
    FadePair fade;
};

// Undoes a start that could not complete: everything it made is released, in the order a
// stop releases it, and nothing has changed.
bool RefuseStart(const StateBeforeStart& before) {
    EndAudioThread(pluginHangFloorMs);
    stopping.store(before.stopping);
    fadePair.store(before.fade);
    if (waveIn != nullptr) {
        waveInReset(waveIn);
    }
    if (waveOut != nullptr) {
        waveOutReset(waveOut);
    }
    ReleaseBuffers();
    CloseDevices();
    return false;
}

bool AllocateBuffers() {
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        captureBuffers[i] = static_cast<char*>(std::calloc(bufferBytes, 1));
        playbackBuffers[i] = static_cast<char*>(std::calloc(bufferBytes, 1));
        if (captureBuffers[i] == nullptr || playbackBuffers[i] == nullptr) {
            return false;
        }
    }
    return true;
}

void PrepareBuffers() {
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        WAVEHDR& capture = captureHeaders[i];
        capture.lpData = captureBuffers[i];
        capture.dwBufferLength = bufferBytes;
        capture.dwFlags = 0;
        waveInPrepareHeader(waveIn, &capture, sizeof(WAVEHDR));
        waveInAddBuffer(waveIn, &capture, sizeof(WAVEHDR));
        WAVEHDR& playback = playbackHeaders[i];
        playback.lpData = playbackBuffers[i];
        playback.dwBufferLength = bufferBytes;
        playback.dwFlags = PLAYBACK_LOOP_FLAGS;
        playback.dwLoops = 1;
        waveOutPrepareHeader(waveOut, &playback, sizeof(WAVEHDR));
    }
}

} // namespace

bool OpenStream(const wchar_t* captureName, const wchar_t* playbackName, int32_t ms) {
    UINT captureId = 0, playbackId = 0;
    if (streamOpen || !FindWaveDevice(DeviceKind::Capture, captureName, &captureId) ||
        !FindWaveDevice(DeviceKind::Playback, playbackName, &playbackId)) {
        return false;
    }
    const StateBeforeStart before = {stopping.load(), fadePair.load()};
    if (!StartAudioThread()) {
        return false;
    }
    stopping.store(0);
    SetFade(FADE_IN_FRAMES, 0);
    captureSeen.store(0);
    deviceCallFailed.store(0);
    fadeOutHeader.store(-1);
    bufferBytes = BufferBytesForMs(ms);

    waveIn = nullptr;
    waveOut = nullptr;
    if (waveInOpen(&waveIn, captureId, &waveFormat, audioThreadId, 0, CALLBACK_THREAD) !=
        MMSYSERR_NOERROR) {
        waveIn = nullptr;
        return RefuseStart(before);
    }
    if (waveOutOpen(&waveOut, playbackId, &waveFormat, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        waveOut = nullptr;
        return RefuseStart(before);
    }
    if (!AllocateBuffers()) {
        return RefuseStart(before);
    }
    PrepareBuffers();

    SetPluginBlockSize(FramesForBufferBytes(bufferBytes));
    openTick = GetTickCount();
    waveInStart(waveIn);
    streamOpen = true;
    return true;
}

void CloseStream(uint32_t waitMs) {
    if (!streamOpen) {
        return;
    }
    EndAudioThread(waitMs);
    waveInReset(waveIn);
    waveOutReset(waveOut);
    ReleaseBuffers();
    CloseDevices();
    streamOpen = false;
}

StreamHealth CheckStream(uint32_t bufferMs) {
    if (deviceCallFailed.load() != 0) {
        return StreamHealth::DeviceFailed;
    }
    const uint32_t limit =
        STALL_BUFFERS * bufferMs > MIN_STALL_MS ? STALL_BUFFERS * bufferMs : MIN_STALL_MS;
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
    return streamOpen;
}

bool StreamDelivering() {
    return streamOpen && captureSeen.load() != 0;
}

void MarkFadeOutStart() {
    fadeOutHeader.store(-1);
}

bool FadeOutPlayed() {
    const int32_t header = fadeOutHeader.load();
    return header >= 0 && (playbackHeaders[header].dwFlags & WHDR_DONE) != 0;
}

void CloseThreadsLeftBehind() {
    for (int i = 0; i < threadsLeftBehindCount; ++i) {
        CloseHandle(threadsLeftBehind[i]);
    }
    threadsLeftBehindCount = 0;
}
