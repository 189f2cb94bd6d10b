#include "app/stream_commands.h"

#include <cwchar>

#include "app/app_state.h"
#include "app/balloon.h"
#include "app/device_list.h"
#include "app/live_effect.h"
#include "app/plugin_commands.h"
#include "app/texts.h"
#include "audio/audio_format.h"
#include "audio/engine_state.h"
#include "audio/stream_state.h"
#include "audio/device_names.h"
#include "audio/stream.h"
#include "audio/stream_recovery.h"
#include "plugin/plugin_call_watch.h"
#include "res/resource.h"
#include "settings/number_text.h"
#include "settings/settings_store.h"

namespace {

constexpr int BUFFER_TEXT_UNITS = 256;
constexpr UINT LEVEL_TIMER_MS = 200;
constexpr UINT STOP_POLL_MS = 10;
// The running stream as the window started it: its devices by name and its buffer length.
struct Run {
    int32_t ms;
    wchar_t captureName[DEVICE_NAME_UNITS];
    wchar_t playbackName[DEVICE_NAME_UNITS];
} run;

// What becomes of it: its stop and its recovery. The window does what this says.
StreamRecovery recovery;

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
}

void ReportCounters() {
    wchar_t text[128];
    std::swprintf(text, sizeof text / sizeof *text,
                  L"Kawauso04 stream: restarts=%u capture gaps=%u underruns=%u overruns=%u\n",
                  streamCounters.restarts.load(), streamCounters.captureGaps.load(),
                  streamCounters.underruns.load(), streamCounters.overruns.load());
    DebugOutput(text);
}

// Does what the recovery said; true when it said to do something. closeWaitMs: how long a
// restart waits for the audio thread (0 when it is known to be stuck in an effect).
bool Act(HWND dialog, const RecoveryAdvice& advice, uint32_t closeWaitMs = pluginHangFloorMs) {
    if (advice.recovered) {
        streamCounters.restarts.fetch_add(1);
        ReportCounters();
    }
    switch (advice.action) {
    case RecoveryAction::Restart: {
        CloseStream(closeWaitMs);
        const bool opened = reopenStream(run.captureName, run.playbackName, run.ms);
        Act(dialog, recovery.Reopened(opened));
        return true;
    }
    case RecoveryAction::FadeOut:
        MarkFadeOutStart();
        SetFade(-FADE_OUT_FRAMES, FADE_OUT_FRAMES);
        SetTimer(dialog, TIMER_STOP, RecoveryLimits().stopTimerMs, nullptr);
        return true;
    case RecoveryAction::Stop:
        StopStream(dialog);
        return true;
    case RecoveryAction::GiveUp:
        // With auto-connect on, the watcher waits for the devices, as after its own stop.
        StopStream(dialog);
        if (advice.tellUser) {
            ShowBalloon(dialog, ID_START, Text(TEXT_DEVICES_GONE));
        }
        return true;
    default:
        return false;
    }
}

// What the stream reports, then the time: both timers of a running stream.
void Feed(HWND dialog) {
    const uint32_t now = GetTickCount();
    if (StreamIsOpen()) {
        const StreamHealth health = CheckStream();
        // A stream that delivers while a device refuses its calls has not come back.
        if ((FadeOutPlayed() && Act(dialog, recovery.On(StreamEvent::FadePlayed, now))) ||
            (health == StreamHealth::Stalled &&
             Act(dialog, recovery.On(StreamEvent::Stalled, now, StreamStallLimitMs()))) ||
            (health == StreamHealth::DeviceFailed &&
             Act(dialog, recovery.On(StreamEvent::DeviceCallFailed, now))) ||
            (health == StreamHealth::Healthy && StreamDelivering() &&
             Act(dialog, recovery.On(StreamEvent::FirstBuffer, now)))) {
            return;
        }
    }
    Act(dialog, recovery.Tick(now, currentSlot->AutoRestart));
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

uint32_t deviceRecoveryMs = RecoveryLimits().giveUpAfterMs;
StreamOpener reopenStream = OpenStream;

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
    if (PluginLoadRunning()) {
        // The effect is still opening (a box of its own, or its host process starting): it
        // must not be sized before it has opened. The watcher tries again on its next tick.
        return RefuseStart(dialog, notificationCode, ID_START, Text(TEXT_START_WAITS_FOR_LOAD));
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
    run.ms = ms;
    std::wcscpy(run.captureName, capture);
    std::wcscpy(run.playbackName, playback);
    RecoveryLimits limits;
    limits.giveUpAfterMs = deviceRecoveryMs;
    recovery = StreamRecovery(limits);
    recovery.Started();
    SetTimer(dialog, TIMER_LEVEL, LEVEL_TIMER_MS, nullptr);
    ShowRunning(dialog);
    return 1;
}

INT_PTR RequestStop(HWND dialog, WORD notificationCode) {
    EnableControl(dialog, ID_STOP, false);
    // The watcher stops only for a device that is missing: no fade can be heard then.
    const bool watcher = notificationCode == WATCHER_CODE;
    Act(dialog, recovery.StopRequested(GetTickCount(), watcher));
    if (currentSlot->AutoRestart && !watcher) {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_AUTO_CONNECT, 0), 0);
        SendDlgItemMessageW(dialog, IDC_AUTO_CONNECT, BM_SETCHECK, BST_UNCHECKED, 0);
    }
    return 1;
}

void OnStopTimer(HWND dialog) {
    Feed(dialog);
    if (running != 0 && recovery.State() == RecoveryState::Stopping) {
        SetTimer(dialog, TIMER_STOP, STOP_POLL_MS, nullptr);
    }
}

void StopStream(HWND dialog) {
    if (running == 0) {
        return;
    }
    CloseStream(pluginHangFloorMs);
    recovery.Stopped();
    ShowStopped(dialog);
    ReportCounters();
}

void RestartStream(HWND dialog) {
    if (running != 0) {
        Act(dialog, recovery.On(StreamEvent::EffectHung, GetTickCount()), 0);
    }
}

void WatchStream(HWND dialog) {
    if (running != 0 && !PluginLoadRunning()) { // a restart would size an effect still opening
        Feed(dialog);
    }
}

void OnPowerResume(HWND dialog) {
    if (running != 0 && !ResumeWaitsForLoad(dialog)) {
        Act(dialog, recovery.On(StreamEvent::Resumed, GetTickCount()));
    }
}

void OnStreamDevicesChanged(HWND dialog) {
    if (running != 0 && !PluginLoadRunning()) {
        const bool present = DevicesPresent(run.captureName, run.playbackName);
        const StreamEvent event = present ? StreamEvent::DeviceArrived : StreamEvent::DeviceRemoved;
        Act(dialog, recovery.On(event, GetTickCount()));
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
