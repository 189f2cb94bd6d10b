#include "audio/stream_backend.h"

#include <windows.h>
#include <mmsystem.h>
#include <cstdlib>

#include "audio/audio_thread.h"
#include "audio/engine_state.h"
#include "audio/stream_state.h"
#include "audio/wave_devices.h"
#include "audio/winmm.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/plugin_host.h"

namespace {

constexpr DWORD PLAYBACK_LOOP_FLAGS = WHDR_BEGINLOOP | WHDR_ENDLOOP;

// The audio thread stays where it is, at the lowest priority, and keeps the buffers it may
// still write into: they are forgotten, never freed.
void LeaveAudioThreadBehind() {
    KeepThreadLeftBehind(audioThread);
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
            Winmm().waveInUnprepareHeader(waveIn, &captureHeaders[i], sizeof(WAVEHDR));
        }
        if (waveOut != nullptr && (playbackHeaders[i].dwFlags & WHDR_PREPARED) != 0) {
            Winmm().waveOutUnprepareHeader(waveOut, &playbackHeaders[i], sizeof(WAVEHDR));
        }
        std::free(captureBuffers[i]);
        std::free(playbackBuffers[i]);
        captureBuffers[i] = nullptr;
        playbackBuffers[i] = nullptr;
    }
}

void CloseDevices() {
    if (waveIn != nullptr) {
        Winmm().waveInClose(waveIn);
        waveIn = nullptr;
    }
    if (waveOut != nullptr) {
        Winmm().waveOutClose(waveOut);
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
        Winmm().waveInReset(waveIn);
    }
    if (waveOut != nullptr) {
        Winmm().waveOutReset(waveOut);
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
        Winmm().waveInPrepareHeader(waveIn, &capture, sizeof(WAVEHDR));
        Winmm().waveInAddBuffer(waveIn, &capture, sizeof(WAVEHDR));
        WAVEHDR& playback = playbackHeaders[i];
        playback.lpData = playbackBuffers[i];
        playback.dwBufferLength = bufferBytes;
        playback.dwFlags = PLAYBACK_LOOP_FLAGS;
        playback.dwLoops = 1;
        Winmm().waveOutPrepareHeader(waveOut, &playback, sizeof(WAVEHDR));
    }
}

bool OpenWaveStream(const wchar_t* captureName, const wchar_t* playbackName, int32_t ms) {
    UINT captureId = 0, playbackId = 0;
    if (!FindWaveDevice(DeviceKind::Capture, captureName, &captureId) ||
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
    if (Winmm().waveInOpen(&waveIn, captureId, &waveFormat, audioThreadId, 0, CALLBACK_THREAD) !=
        MMSYSERR_NOERROR) {
        waveIn = nullptr;
        return RefuseStart(before);
    }
    if (Winmm().waveOutOpen(&waveOut, playbackId, &waveFormat, 0, 0, CALLBACK_NULL) !=
        MMSYSERR_NOERROR) {
        waveOut = nullptr;
        return RefuseStart(before);
    }
    if (!AllocateBuffers()) {
        return RefuseStart(before);
    }
    PrepareBuffers();

    SetPluginBlockSize(FramesForBufferBytes(bufferBytes));
    Winmm().waveInStart(waveIn);
    return true;
}

void CloseWaveStream(uint32_t waitMs) {
    EndAudioThread(waitMs);
    Winmm().waveInReset(waveIn);
    Winmm().waveOutReset(waveOut);
    ReleaseBuffers();
    CloseDevices();
}

void MarkWaveFadeOutStart() {
    fadeOutHeader.store(-1);
}

bool WaveFadeOutPlayed() {
    const int32_t header = fadeOutHeader.load();
    return header >= 0 && (playbackHeaders[header].dwFlags & WHDR_DONE) != 0;
}

} // namespace

const StreamBackend WAVE_BACKEND = {OpenWaveStream, CloseWaveStream, MarkWaveFadeOutStart,
                                    WaveFadeOutPlayed};
