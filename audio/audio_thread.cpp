#include "audio/audio_thread.h"

#include <mmsystem.h>
#include <process.h>
#include <cwchar>

#include "audio/stream_state.h"
#include "audio/wave_run.h"
#include "audio/winmm.h"
#include "platform/platform.h"

namespace {

// How long a new thread may take to create its queue before the start is given up.
constexpr DWORD AUDIO_THREAD_READY_TIMEOUT_MS = 5000;

// False when this thread has been left behind (its block stayed inside the effect until the
// window gave it up): the devices are closed, and only its own buffers are still its.
bool HandleCaptureData(WinmmRun& run, WAVEHDR* hdr) {
    StreamRun& base = run.wave.base;
    if (base.stopping.load() != 0 || withholdCapture.load()) {
        return true; // dropped: not processed, not played, not handed back
    }
    NoteCaptureArrival(base, GetTickCount());
    // With none of its buffers left, the device had nowhere to record: samples were lost.
    bool lost = true;
    for (const WAVEHDR& other : run.captureHeaders) {
        lost = lost && (other.dwFlags & WHDR_INQUEUE) == 0;
    }
    const uint32_t recorded =
        hdr->dwBytesRecorded < hdr->dwBufferLength ? hdr->dwBytesRecorded : hdr->dwBufferLength;
    if (!PlayCapturedBlock(run.wave, reinterpret_cast<const int16_t*>(hdr->lpData),
                           recorded - recorded % BLOCK_ALIGN)) {
        return false;
    }
    SettleCaptureGap(base, lost);
    if (Winmm().waveInAddBuffer(run.waveIn, hdr, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        base.deviceCallFailed.store(1);
    }
    return true;
}

} // namespace

bool HandleAudioThreadMessage(WinmmRun& run, UINT message, WPARAM /*wParam*/, LPARAM lParam) {
    switch (message) {
    case MM_WOM_CLOSE:
        DebugOutput(L"MM_WOM_CLOSE");
        break;
    case MM_WIM_CLOSE:
        DebugOutput(L"MM_WIM_CLOSE");
        break;
    case MM_WIM_DATA:
        return HandleCaptureData(run, reinterpret_cast<WAVEHDR*>(lParam));
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

unsigned __stdcall AudioThreadProc(void* context) {
    WinmmRun& run = *static_cast<WinmmRun*>(context);
    MSG msg;
    // A thread's queue exists only after its first message call; a notification posted
    // before that would be lost, and its capture buffer with it.
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(run.ready);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0 &&
           HandleAudioThreadMessage(run, msg.message, msg.wParam, msg.lParam)) {
    }
    ReleaseRun(&run.wave.base);
    _endthreadex(0);
    return 0;
}

bool StartAudioThread(WinmmRun& run) {
    ResetEvent(run.ready);
    HoldRun(run.wave.base);
    unsigned id = 0;
    uintptr_t handle = _beginthreadex(nullptr, 0, AudioThreadProc, &run, 0, &id);
    if (handle == 0) {
        ReleaseRun(&run.wave.base);
        return false;
    }
    HANDLE thread = reinterpret_cast<HANDLE>(handle);
    if (WaitForSingleObject(run.ready, AUDIO_THREAD_READY_TIMEOUT_MS) != WAIT_OBJECT_0) {
        PostThreadMessageW(id, WM_QUIT, 0, 0);
        if (WaitForSingleObject(thread, AUDIO_THREAD_READY_TIMEOUT_MS) != WAIT_OBJECT_0) {
            TerminateThread(thread, 1);
            ReleaseRun(&run.wave.base); // a terminated thread lets go of nothing itself
        }
        CloseHandle(thread);
        return false;
    }
    run.thread = thread;
    run.threadId = id;
    return true;
}
