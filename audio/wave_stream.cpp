#include "audio/stream_control.h"

#include <mmsystem.h>
#include <cstdlib>

#include "app/app_state.h"
#include "audio/audio_thread.h"
#include "audio/engine_state.h"
#include "audio/stream_state.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/plugin_host.h"
#include "res/resource.h"
#include "settings/number_text.h"
#include "settings/settings_store.h"

namespace {

constexpr int BUFFER_TEXT_UNITS = 256;
constexpr UINT LEVEL_TIMER_MS = 200;
constexpr UINT STOP_TIMER_MS = 200;
constexpr WORD WATCHER_STOP_CODE = 2;
constexpr DWORD PLAYBACK_LOOP_FLAGS = WHDR_BEGINLOOP | WHDR_ENDLOOP;

// Threads left behind inside an effect that did not return. They are never waited on; their
// handles are closed at exit, or at once when there are too many to keep.
constexpr int MAX_THREADS_LEFT_BEHIND = 16;
HANDLE threadsLeftBehind[MAX_THREADS_LEFT_BEHIND];
int threadsLeftBehindCount = 0;

bool stopPending = false; // a stop's fade-out runs and its timer will end the stream
int32_t streamMs = 0;     // the running stream's buffer length

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
void EndAudioThread(DWORD waitMs) {
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
INT_PTR RefuseStart(HWND dialog, const StateBeforeStart& before) {
    EndAudioThread(pluginHangFloorMs);
    stopping.store(before.stopping);
    fadePair.store(before.fade);
    if (waveIn != nullptr) {
        waveInReset(waveIn);
    }
    if (waveOut != nullptr) {
        waveOutReset(waveOut);
    }
    KillTimer(dialog, TIMER_LEVEL);
    ReleaseBuffers();
    CloseDevices();
    return 0;
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

void EnableControl(HWND dialog, int id, bool enable) {
    EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE);
}

// Opens the devices chosen in the lists with buffers of ms, on a new audio thread, and starts
// capture with the fade-in. False when refused, and then nothing is left open.
bool OpenStream(HWND dialog, int32_t ms) {
    const StateBeforeStart before = {stopping.load(), fadePair.load()};
    if (!StartAudioThread()) {
        return false;
    }
    SetTimer(dialog, TIMER_LEVEL, LEVEL_TIMER_MS, nullptr);
    stopping.store(0);
    SetFade(FADE_IN_FRAMES, 0);

    const UINT capturePosition =
        static_cast<UINT>(SendDlgItemMessageW(dialog, IDC_WAVEIN, CB_GETCURSEL, 0, 0));
    const UINT playbackPosition =
        static_cast<UINT>(SendDlgItemMessageW(dialog, IDC_WAVEOUT, CB_GETCURSEL, 0, 0));
    bufferBytes = BufferBytesForMs(ms);

    waveIn = nullptr;
    waveOut = nullptr;
    if (waveInOpen(&waveIn, capturePosition, &waveFormat, audioThreadId, 0, CALLBACK_THREAD) !=
        MMSYSERR_NOERROR) {
        waveIn = nullptr;
        return RefuseStart(dialog, before) != 0;
    }
    if (waveOutOpen(&waveOut, playbackPosition, &waveFormat, 0, 0, CALLBACK_NULL) !=
        MMSYSERR_NOERROR) {
        waveOut = nullptr;
        return RefuseStart(dialog, before) != 0;
    }
    if (!AllocateBuffers()) {
        return RefuseStart(dialog, before) != 0;
    }
    PrepareBuffers();

    SetPluginBlockSize(FramesForBufferBytes(bufferBytes));
    waveInStart(waveIn);
    return true;
}

// Ends the audio thread (waiting at most waitMs), resets and closes both devices and releases
// the buffers the thread has not kept.
void CloseStream(HWND dialog, DWORD waitMs) {
    KillTimer(dialog, TIMER_STOP);
    EndAudioThread(waitMs);
    waveInReset(waveIn);
    waveOutReset(waveOut);
    KillTimer(dialog, TIMER_LEVEL);
    InvalidateRect(GetDlgItem(dialog, IDC_VOLUME_LABEL), nullptr, FALSE);
    ReleaseBuffers();
    CloseDevices();
}

void ShowStopped(HWND dialog) {
    if (!currentSlot->AutoRestart) {
        EnableControl(dialog, IDC_WAVEIN, true);
        EnableControl(dialog, IDC_WAVEOUT, true);
    }
    EnableControl(dialog, ID_START, true);
    EnableControl(dialog, ID_STOP, false);
    EnableControl(dialog, IDC_BUFFER_MS, true);
    EnableControl(dialog, IDC_VST_LOAD, true);
    EnableMenuItem(trayPopup, ID_START, MF_BYCOMMAND | MF_ENABLED);
    EnableMenuItem(trayPopup, ID_STOP, MF_BYCOMMAND | MF_GRAYED);
    running = 0;
    stopPending = false;
}

} // namespace

INT_PTR StartStream(HWND dialog) {
    wchar_t text[BUFFER_TEXT_UNITS];
    GetDlgItemTextW(dialog, IDC_BUFFER_MS, text, BUFFER_TEXT_UNITS); // cuts at 255 units
    const int32_t ms = ParseDecimal(text);
    if (ms < MIN_BUFFER_MS || ms > MAX_BUFFER_MS) {
        return 0;
    }
    if (running != 0) {
        return 0; // a posted start overtaken by the user's own: one stream is enough
    }
    if (!OpenStream(dialog, ms)) {
        return 0;
    }
    streamMs = ms;
    EnableControl(dialog, IDC_WAVEIN, false);
    EnableControl(dialog, IDC_WAVEOUT, false);
    EnableControl(dialog, ID_START, false);
    EnableControl(dialog, IDC_BUFFER_MS, false);
    EnableControl(dialog, ID_STOP, true);
    EnableMenuItem(trayPopup, ID_START, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(trayPopup, ID_STOP, MF_BYCOMMAND | MF_ENABLED);
    running = 1;
    return 1;
}

INT_PTR RequestStop(HWND dialog, WORD notificationCode) {
    EnableControl(dialog, ID_STOP, false);
    SetFade(-FADE_OUT_FRAMES, FADE_OUT_FRAMES);
    SetTimer(dialog, TIMER_STOP, STOP_TIMER_MS, nullptr);
    stopPending = true;
    if (currentSlot->AutoRestart && notificationCode != WATCHER_STOP_CODE) {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_AUTO_CONNECT, 0), 0);
        SendDlgItemMessageW(dialog, IDC_AUTO_CONNECT, BM_SETCHECK, BST_UNCHECKED, 0);
    }
    return 1;
}

void StopStream(HWND dialog) {
    if (running == 0) {
        return;
    }
    CloseStream(dialog, pluginHangFloorMs);
    ShowStopped(dialog);
}

void RestartStream(HWND dialog) {
    if (running == 0) {
        return;
    }
    CloseStream(dialog, 0);
    if (stopPending || !OpenStream(dialog, streamMs)) {
        ShowStopped(dialog);
    }
}

uint32_t StreamBufferMs() {
    return running != 0 ? static_cast<uint32_t>(streamMs) : 0;
}

void CloseThreadsLeftBehind() {
    for (int i = 0; i < threadsLeftBehindCount; ++i) {
        CloseHandle(threadsLeftBehind[i]);
    }
    threadsLeftBehindCount = 0;
}
