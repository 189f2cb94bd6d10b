#include "audio/audio_thread.h"

#include <mmsystem.h>
#include <process.h>
#include <cwchar>

#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "audio/stream_state.h"
#include "platform/platform.h"

namespace {

// How long a new thread may take to create its queue before the start is given up.
constexpr DWORD AUDIO_THREAD_READY_TIMEOUT_MS = 5000;

HANDLE audioThreadReady; // auto-reset; set once by each new audio thread

// False when this thread has been left behind (its block stayed inside the effect until the
// window gave it up): the devices and buffers now belong to another stream.
bool HandleCaptureData(WAVEHDR* hdr) {
    if (stopping.load() != 0) {
        return true; // dropped: not processed, not played, not handed back
    }
    if (!ProcessBlock(reinterpret_cast<const int16_t*>(hdr->lpData), hdr->dwBytesRecorded,
                      reinterpret_cast<int16_t*>(playbackBuffers[playIndex]))) {
        return false;
    }
    waveOutWrite(waveOut, &playbackHeaders[playIndex], sizeof(WAVEHDR));
    playIndex = (playIndex + 1) % BUFFER_COUNT;
    waveInAddBuffer(waveIn, hdr, sizeof(WAVEHDR));
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
