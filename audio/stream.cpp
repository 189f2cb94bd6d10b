#include "audio/stream.h"

#include <windows.h>

#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/device_names.h"
#include "audio/engine_state.h"
#include "audio/stream_backend.h"
#include "platform/platform.h"
#include "plugin/plugin_call_watch.h"

namespace {

// Threads left behind inside an effect that did not return. They are never waited on; their
// handles are closed at exit, or at once when there are too many to keep.
constexpr int MAX_THREADS_LEFT_BEHIND = 16;
HANDLE threadsLeftBehind[MAX_THREADS_LEFT_BEHIND];
int threadsLeftBehindCount = 0;

// The open run and its system; null when none.
const StreamBackend* openBackend = nullptr;
StreamRun* openRun = nullptr;

// What a start changes before it can fail, so that a refused start leaves it as it was.
struct EngineWords {
    int32_t stopping;
    FadePair fade;
    uint32_t bufferBytes;
};

void PutBack(const EngineWords& words) {
    stopping.store(words.stopping);
    fadePair.store(words.fade);
    if (bufferBytes != words.bufferBytes && words.bufferBytes != 0) {
        SizeBlockEffect(FramesForBufferBytes(words.bufferBytes));
    }
    bufferBytes = words.bufferBytes;
}

} // namespace

bool OpenStream(const wchar_t* captureName, const wchar_t* playbackName, int32_t ms) {
    if (openRun != nullptr) {
        return false;
    }
    const bool wasapi = IsWasapiName(captureName);
    if (wasapi != IsWasapiName(playbackName)) {
        DebugOutput(L"Kawauso04: a WinMM device and a WASAPI endpoint cannot make one stream\n");
        return false;
    }
    const StreamBackend* backend = wasapi ? &WASAPI_BACKEND : &WAVE_BACKEND;
    StreamRun* run = backend->open(captureName, playbackName, ms);
    if (run == nullptr) {
        return false;
    }
    const EngineWords before = {stopping.load(), fadePair.load(), bufferBytes};
    stopping.store(0);
    SetFade(FADE_IN_FRAMES, 0);
    bufferBytes = run->blockBytes;
    SizeBlockEffect(FramesForBufferBytes(run->blockBytes)); // before its first block
    run->openTick = GetTickCount();
    if (!backend->start(run)) {
        DebugOutput(L"Kawauso04: a device did not start\n");
        backend->close(run, pluginHangFloorMs);
        PutBack(before);
        return false;
    }
    openBackend = backend;
    openRun = run;
    return true;
}

void CloseStream(uint32_t waitMs) {
    if (openRun != nullptr) {
        stopping.store(1);
        openBackend->close(openRun, waitMs);
        openRun = nullptr;
        openBackend = nullptr;
    }
}

bool EndRunThread(StreamRun& run, HANDLE thread, void (*quit)(StreamRun& run), uint32_t waitMs) {
    run.stopping.store(1);
    quit(run);
    if (WaitForSingleObject(thread, waitMs) == WAIT_OBJECT_0) {
        CloseHandle(thread);
        return true;
    }
    GiveUpPluginCallAfter(0);
    KeepThreadLeftBehind(thread);
    return false;
}

StreamHealth CheckStream() {
    if (openRun == nullptr) {
        return StreamHealth::Healthy;
    }
    return JudgeRun(*openRun, GetTickCount(), PluginCallRunning());
}

uint32_t StreamPeriodMs() {
    return openRun != nullptr ? openRun->periodMs : 0;
}

uint32_t StreamStallLimitMs() {
    return openRun != nullptr ? StallLimitMs(openRun->periodMs) : 0;
}

bool StreamIsOpen() {
    return openRun != nullptr;
}

uint32_t OpenRunSerial() {
    return openRun != nullptr ? openRun->serial : 0;
}

bool StreamDelivering() {
    return openRun != nullptr && openRun->captureSeen.load() != 0;
}

void MarkFadeOutStart() {
    if (openRun != nullptr) {
        openBackend->markFadeOutStart(openRun);
    }
}

bool FadeOutPlayed() {
    return openRun != nullptr && openBackend->fadeOutPlayed(openRun);
}

uint32_t OpenRunCount(RunCount which) {
    if (openRun == nullptr) {
        return 0;
    }
    const RunCounts& counts = openRun->counts;
    switch (which) {
    case RunCount::CaptureGaps:
        return counts.captureGaps.load();
    case RunCount::Underruns:
        return counts.underruns.load();
    case RunCount::Overruns:
        return counts.overruns.load();
    }
    return 0;
}

const PlaybackQueue* OpenRunQueue() {
    return openRun != nullptr ? &openRun->queue : nullptr;
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
