#include "audio/audio_thread.h"

#include <mmsystem.h>
#include <process.h>
#include <cstring>
#include <cwchar>

#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "audio/stream_state.h"
#include "audio/winmm.h"
#include "platform/platform.h"

namespace {

// How long a new thread may take to create its queue before the start is given up.
constexpr DWORD AUDIO_THREAD_READY_TIMEOUT_MS = 5000;

HANDLE audioThreadReady; // auto-reset; set once by each new audio thread

constexpr int NOTHING_WRITTEN = -1;
constexpr uint32_t LATE_CAPTURE_BUFFERS = 2; // an interval this many lengths long is a gap

// This run's playback and capture as the audio thread sees them; a new thread starts afresh.
int lastWritten = NOTHING_WRITTEN;
bool cushioned = false; // one block of silence was put ahead after the first underrun
uint32_t lastArrival = 0;

void Write(int index, uint32_t bytes) {
    WAVEHDR& out = playbackHeaders[index];
    out.dwBufferLength = bytes; // a short capture plays short, never with an old tail
    if (playbackWrite(waveOut, &out, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        deviceCallFailed.store(1);
    }
    lastWritten = index;
}

// Plays the block in header index, which the device has given back (or never had); returns
// the next free index. A header given back is the sign that playback moves: a device that went
// away may go on taking blocks without ever giving one back. When everything written before
// had been played already (the device ran dry: a gap was heard), the first time in a run one
// block of silence goes ahead of it, so the queue holds one block more from then on.
int WritePlayback(int index, uint32_t bytes) {
    playbackProgressTick.store(GetTickCount());
    const bool ranDry =
        lastWritten != NOTHING_WRITTEN && (playbackHeaders[lastWritten].dwFlags & WHDR_DONE) != 0;
    if (ranDry) {
        streamCounters.underruns.fetch_add(1);
    }
    const int next = (index + 1) % BUFFER_COUNT;
    if (ranDry && !cushioned && (playbackHeaders[next].dwFlags & WHDR_INQUEUE) == 0) {
        cushioned = true;
        std::memcpy(playbackBuffers[next], playbackBuffers[index], bytes);
        std::memset(playbackBuffers[index], 0, bytes);
        Write(index, bytes);
        index = next;
    }
    Write(index, bytes);
    // The block that carried the fade-out's end is what a stop waits to have been played.
    const FadePair fade = fadePair.load();
    if (FadeOutEnded(fade) && fadeOutHeader.load() < 0) {
        fadeOutHeader.store(index);
    }
    return (index + 1) % BUFFER_COUNT;
}

// False when this thread has been left behind (its block stayed inside the effect until the
// window gave it up): the devices and buffers now belong to another stream. A block whose
// playback header the device still holds (capture running ahead of playback) is dropped
// rather than overwritten while it plays.
bool HandleCaptureData(WAVEHDR* hdr) {
    if (stopping.load() != 0 || withholdCapture.load()) {
        return true; // dropped: not processed, not played, not handed back
    }
    const uint32_t bufferMs = hdr->dwBufferLength / (AVG_BYTES_PER_SEC / 1000);
    NoteCaptureArrival(GetTickCount(), LATE_CAPTURE_BUFFERS * bufferMs, lastArrival);
    const int index = playIndex;
    const uint32_t recorded =
        hdr->dwBytesRecorded < hdr->dwBufferLength ? hdr->dwBytesRecorded : hdr->dwBufferLength;
    const uint32_t bytes = recorded - recorded % BLOCK_ALIGN;
    if ((playbackHeaders[index].dwFlags & WHDR_INQUEUE) != 0) {
        streamCounters.overruns.fetch_add(1);
    } else if (bytes != 0) {
        if (!ProcessBlock(reinterpret_cast<const int16_t*>(hdr->lpData), bytes,
                          reinterpret_cast<int16_t*>(playbackBuffers[index]))) {
            return false;
        }
        lastCaptureTick.store(GetTickCount()); // alive after a long block too
        playIndex = WritePlayback(index, bytes);
    }
    if (Winmm().waveInAddBuffer(waveIn, hdr, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        deviceCallFailed.store(1);
    }
    return true;
}

} // namespace

bool HandleAudioThreadMessage(UINT message, WPARAM /*wParam*/, LPARAM lParam) {
    switch (message) {
    case MM_WOM_CLOSE:
        DebugOutput(L"MM_WOM_CLOSE");
        break;
    case MM_WIM_CLOSE:
        DebugOutput(L"MM_WIM_CLOSE");
        break;
    case MM_WIM_DATA:
        return HandleCaptureData(reinterpret_cast<WAVEHDR*>(lParam));
    case WM_USER:
        break;
    default: {
        wchar_t text[64];
        std::swprintf(text, sizeof text / sizeof text[0], L"Unknown message:%d\n",
                      static_cast<int>(message));
        DebugOutput(text);
        break;
    }
    }
    return true;
}

unsigned __stdcall AudioThreadProc(void* /*unused*/) {
    MSG msg;
    // A thread's queue exists only after its first message call; a notification posted
    // before that would be lost, and its capture buffer with it.
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    lastWritten = NOTHING_WRITTEN;
    cushioned = false;
    SetEvent(audioThreadReady);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0 &&
           HandleAudioThreadMessage(msg.message, msg.wParam, msg.lParam)) {
    }
    _endthreadex(0);
    return 0;
}

bool StartAudioThread() {
    if (audioThreadReady == nullptr) {
        audioThreadReady = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (audioThreadReady == nullptr) {
            return false;
        }
    }
    ResetEvent(audioThreadReady);
    unsigned id = 0;
    uintptr_t handle = _beginthreadex(nullptr, 0, AudioThreadProc, nullptr, 0, &id);
    if (handle == 0) {
        return false;
    }
    HANDLE thread = reinterpret_cast<HANDLE>(handle);
    if (WaitForSingleObject(audioThreadReady, AUDIO_THREAD_READY_TIMEOUT_MS) != WAIT_OBJECT_0) {
        PostThreadMessageW(id, WM_QUIT, 0, 0);
        if (WaitForSingleObject(thread, AUDIO_THREAD_READY_TIMEOUT_MS) != WAIT_OBJECT_0) {
            TerminateThread(thread, 1);
        }
        CloseHandle(thread);
        return false;
    }
    audioThread = thread;
    audioThreadId = id;
    return true;
}
