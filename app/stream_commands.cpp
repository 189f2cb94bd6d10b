#include "app/stream_commands.h"

#include <cwchar>

#include "app/app_state.h"
#include "app/balloon.h"
#include "app/texts.h"
#include "audio/engine_state.h"
#include "audio/stream_state.h"
#include "audio/device_names.h"
#include "audio/stream.h"
#include "plugin/plugin_call_watch.h"
#include "res/resource.h"
#include "settings/number_text.h"
#include "settings/settings_store.h"

namespace {

constexpr int BUFFER_TEXT_UNITS = 256;
constexpr UINT LEVEL_TIMER_MS = 200;
constexpr UINT STOP_TIMER_MS = 200;
constexpr UINT STOP_POLL_MS = 10;
constexpr DWORD STOP_FADE_WAIT_MS = 1000;   // the longest a stop waits for its fade to be heard
constexpr DWORD FIRST_RETRY_PAUSE_MS = 250; // doubled after each refused reopening
constexpr DWORD LONGEST_RETRY_PAUSE_MS = 2000;

// The running stream as the window started it: its devices by name and its buffer length, the
// stop under way and the watchdog's attempts to bring it back.
struct Run {
    int32_t ms;
    wchar_t captureName[DEVICE_NAME_UNITS];
    wchar_t playbackName[DEVICE_NAME_UNITS];
    bool stopPending;
    DWORD stopRequested;
    bool recovering;
    DWORD recoveryStarted;
    DWORD lastAttempt;
    DWORD retryPause;
} run;

void EnableControl(HWND dialog, int id, bool enable) {
    EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE);
}

void ShowRunning(HWND dialog) {
    EnableControl(dialog, IDC_WAVEIN, false);
    EnableControl(dialog, IDC_WAVEOUT, false);
    EnableControl(dialog, ID_START, false);
    EnableControl(dialog, IDC_BUFFER_MS, false);
    EnableControl(dialog, ID_STOP, true);
    EnableMenuItem(trayPopup, ID_START, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(trayPopup, ID_STOP, MF_BYCOMMAND | MF_ENABLED);
    running = 1;
}

void ShowStopped(HWND dialog) {
    KillTimer(dialog, TIMER_STOP);
    KillTimer(dialog, TIMER_LEVEL);
    InvalidateRect(GetDlgItem(dialog, IDC_VOLUME_LABEL), nullptr, FALSE);
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
    run.stopPending = false;
    run.recovering = false;
}

void ReportCounters() {
    wchar_t text[128];
    std::swprintf(text, sizeof text / sizeof *text,
                  L"Kawauso04 stream: restarts=%u capture gaps=%u underruns=%u overruns=%u\n",
                  streamCounters.restarts.load(), streamCounters.captureGaps.load(),
                  streamCounters.underruns.load(), streamCounters.overruns.load());
    DebugOutput(text);
}

// Closes the stream and opens the same devices again; false when they do not open.
bool Reopen(uint32_t waitMs) {
    CloseStream(waitMs);
    return OpenStream(run.captureName, run.playbackName, run.ms);
}

void CountRestart() {
    streamCounters.restarts.fetch_add(1);
    ReportCounters();
}

void Attempt() {
    run.lastAttempt = GetTickCount();
    if (!Reopen(pluginHangFloorMs)) {
        run.retryPause = run.retryPause * 2 < LONGEST_RETRY_PAUSE_MS ? run.retryPause * 2
                                                                     : LONGEST_RETRY_PAUSE_MS;
    }
}

void BeginRecovery() {
    run.recovering = true;
    run.recoveryStarted = GetTickCount();
    run.retryPause = FIRST_RETRY_PAUSE_MS;
    Attempt();
}

// The devices stayed gone: with auto-connect on the watcher waits for them, as after its own
// stop; otherwise the stream stops as Stop stops it, and the user is told.
void GiveUp(HWND dialog) {
    StopStream(dialog);
    if (!currentSlot->AutoRestart) {
        ShowBalloon(dialog, ID_START, Text(TEXT_DEVICES_GONE));
    }
}

// A refused Start of the user's says why, at the control concerned (or at Start, when that
// control is hidden with the detail row); the watcher's own tries stay silent.
INT_PTR RefuseStart(HWND dialog, WORD notificationCode, int controlId, const wchar_t* reason) {
    if (notificationCode != WATCHER_CODE) {
        const bool shown = IsWindowVisible(GetDlgItem(dialog, controlId)) != FALSE;
        ShowBalloon(dialog, shown ? controlId : ID_START, reason);
    }
    return 0;
}

} // namespace

uint32_t deviceRecoveryMs = 10000;

INT_PTR StartStream(HWND dialog, WORD notificationCode) {
    wchar_t text[BUFFER_TEXT_UNITS];
    GetDlgItemTextW(dialog, IDC_BUFFER_MS, text, BUFFER_TEXT_UNITS); // cuts at 255 units
    const int32_t ms = ParseDecimal(text);
    if (ms < MIN_BUFFER_MS || ms > MAX_BUFFER_MS) {
        return RefuseStart(dialog, notificationCode, IDC_BUFFER_MS, Text(TEXT_BAD_BUFFER_LENGTH));
    }
    if (running != 0) {
        return 0; // a posted start overtaken by the user's own: one stream is enough
    }
    wchar_t capture[DEVICE_NAME_UNITS], playback[DEVICE_NAME_UNITS];
    GetDlgItemTextW(dialog, IDC_WAVEIN, capture, DEVICE_NAME_UNITS);
    GetDlgItemTextW(dialog, IDC_WAVEOUT, playback, DEVICE_NAME_UNITS);
    if (IsWasapiName(capture) != IsWasapiName(playback)) {
        return RefuseStart(dialog, notificationCode, IDC_WAVEOUT, Text(TEXT_MIXED_SYSTEMS));
    }
    if (!OpenStream(capture, playback, ms)) {
        return RefuseStart(dialog, notificationCode, ID_START, Text(TEXT_DEVICE_NOT_OPENED));
    }
    run = Run{};
    run.ms = ms;
    std::wcscpy(run.captureName, capture);
    std::wcscpy(run.playbackName, playback);
    SetTimer(dialog, TIMER_LEVEL, LEVEL_TIMER_MS, nullptr);
    ShowRunning(dialog);
    return 1;
}

INT_PTR RequestStop(HWND dialog, WORD notificationCode) {
    EnableControl(dialog, ID_STOP, false);
    MarkFadeOutStart();
    SetFade(-FADE_OUT_FRAMES, FADE_OUT_FRAMES);
    SetTimer(dialog, TIMER_STOP, STOP_TIMER_MS, nullptr);
    run.stopPending = true;
    run.stopRequested = GetTickCount();
    if (currentSlot->AutoRestart && notificationCode != WATCHER_CODE) {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_AUTO_CONNECT, 0), 0);
        SendDlgItemMessageW(dialog, IDC_AUTO_CONNECT, BM_SETCHECK, BST_UNCHECKED, 0);
    }
    return 1;
}

void OnStopTimer(HWND dialog) {
    // Nothing to hear when capture has not delivered yet: no block carries a fade then.
    if (!StreamDelivering() || FadeOutPlayed() ||
        GetTickCount() - run.stopRequested >= STOP_FADE_WAIT_MS) {
        StopStream(dialog);
    } else {
        SetTimer(dialog, TIMER_STOP, STOP_POLL_MS, nullptr);
    }
}

void StopStream(HWND dialog) {
    if (running == 0) {
        return;
    }
    CloseStream(pluginHangFloorMs);
    ShowStopped(dialog);
    ReportCounters();
}

void RestartStream(HWND dialog) {
    if (running == 0) {
        return;
    }
    if (run.stopPending || !Reopen(0)) {
        StopStream(dialog);
    } else {
        CountRestart();
    }
}

void WatchStream(HWND dialog) {
    if (running == 0 || run.stopPending) {
        return;
    }
    const DWORD now = GetTickCount();
    if (!run.recovering) {
        if (CheckStream(static_cast<uint32_t>(run.ms)) != StreamHealth::Healthy) {
            BeginRecovery();
        }
        return;
    }
    if (StreamDelivering()) {
        run.recovering = false; // back: the stream's first buffer after the restart came
        CountRestart();
    } else if (now - run.recoveryStarted >= deviceRecoveryMs) {
        GiveUp(dialog);
    } else if (now - run.lastAttempt >= run.retryPause &&
               (!StreamIsOpen() ||
                CheckStream(static_cast<uint32_t>(run.ms)) != StreamHealth::Healthy)) {
        Attempt(); // not reopened yet, or reopened without its first buffer in time
    }
}

void OnPowerResume(HWND /*dialog*/) {
    if (running != 0 && !run.stopPending) {
        BeginRecovery();
    }
}

uint32_t StreamBufferMs() {
    return running != 0 ? static_cast<uint32_t>(run.ms) : 0;
}

void FormatStreamCounters(wchar_t* text, size_t units) {
    const uint32_t breaks = streamCounters.captureGaps.load() + streamCounters.underruns.load() +
                            streamCounters.overruns.load();
    std::swprintf(text, units, Text(TEXT_STREAM_COUNTERS), streamCounters.restarts.load(), breaks);
}
