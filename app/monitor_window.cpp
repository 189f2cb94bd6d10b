#include "app/monitor_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <deque>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/chained_effects.h"
#include "app/dialog_keys.h"
#include "app/live_effect.h"
#include "app/stream_commands.h"
#include "app/texts.h"
#include "audio/audio_format.h"
#include "audio/stream_meters.h"
#include "plugin/effect_handle.h"
#include "res/resource.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"

namespace {

constexpr UINT DRAW_MS = 40; // 25 times a second
constexpr DWORD PEAK_HOLD_MS = 1500;
constexpr DWORD CLIP_HOLD_MS = 700; // as the main window's clip light
constexpr uint32_t CLIPPING_PEAK = 32767;
constexpr int BAR_FLOOR_DB = -60; // the bars' left end
constexpr int BAR_STEPS_PER_DB = 10;
constexpr size_t SECOND_OF_DRAWS = 1000 / DRAW_MS;
constexpr size_t LINE_UNITS = 160;

struct Hold {
    double peakDb = METER_FLOOR_DB;
    DWORD peakTick = 0;
    DWORD clipTick = 0;
    bool clipped = false;
};

struct Monitor {
    HWND window = nullptr;
    HWND owner = nullptr;
    Hold holds[2 * METER_CHANNELS];      // input L, R, output L, R
    std::deque<MeterReading> lastSecond; // the effects' figures of the last second
    std::deque<QueueReading> lastQueues; // the queue's, as the delay is shown
};
Monitor monitor; // user-interface thread only

const int LEVEL_TEXTS[] = {IDC_MON_INPUT_L, IDC_MON_INPUT_R, IDC_MON_OUTPUT_L, IDC_MON_OUTPUT_R};
const int LEVEL_BARS[] = {IDC_MON_INPUT_L_BAR, IDC_MON_INPUT_R_BAR, IDC_MON_OUTPUT_L_BAR,
                          IDC_MON_OUTPUT_R_BAR};

std::wstring Db(double db) {
    wchar_t text[16];
    if (db <= METER_FLOOR_DB) {
        return L"-inf";
    }
    std::swprintf(text, 16, L"%.1f", db);
    return text;
}

// One channel's line and bar; the held peak and the clip mark as they stand at now.
void ShowLevel(int index, const ChannelLevel& level, DWORD now) {
    Hold& hold = monitor.holds[index];
    const double peakDb = LevelDb(level.peak / 32768.0);
    if (peakDb >= hold.peakDb || now - hold.peakTick > PEAK_HOLD_MS) {
        hold.peakDb = peakDb;
        hold.peakTick = now;
    }
    if (level.peak >= CLIPPING_PEAK) {
        hold.clipped = true;
        hold.clipTick = now;
    }
    hold.clipped = hold.clipped && now - hold.clipTick <= CLIP_HOLD_MS;
    const TextId side = index % 2 == 0 ? TEXT_MONITOR_LEFT : TEXT_MONITOR_RIGHT;
    const TextId where = index < 2 ? TEXT_MONITOR_INPUT : TEXT_MONITOR_OUTPUT;
    wchar_t line[LINE_UNITS];
    std::swprintf(line, LINE_UNITS, Text(TEXT_MONITOR_LEVEL), Text(where), Text(side),
                  Db(peakDb).c_str(), Db(LevelDb(std::sqrt(level.meanSquare))).c_str(),
                  Db(hold.peakDb).c_str(), hold.clipped ? Text(TEXT_MONITOR_CLIP) : L"");
    SetDlgItemTextW(monitor.window, LEVEL_TEXTS[index], line);
    const int bar = static_cast<int>(
        std::lround((std::max(peakDb, double(BAR_FLOOR_DB)) - BAR_FLOOR_DB) * BAR_STEPS_PER_DB));
    SendDlgItemMessageW(monitor.window, LEVEL_BARS[index], PBM_SETPOS, static_cast<WPARAM>(bar), 0);
}

// The delay over the last second: what the device holds moves by a header or a period from one
// write to the next, and a sync offset is set from the level, not from one moment.
QueueReading LastSecondsQueue(const QueueReading& now) {
    if (now.captureFrames == 0) {
        monitor.lastQueues.clear();
        return now;
    }
    monitor.lastQueues.push_back(now);
    while (monitor.lastQueues.size() > SECOND_OF_DRAWS) {
        monitor.lastQueues.pop_front();
    }
    double held = 0.0, captured = 0.0;
    for (const QueueReading& r : monitor.lastQueues) {
        held += r.heldFrames;
        captured += r.captureFrames;
    }
    const double readings = static_cast<double>(monitor.lastQueues.size());
    QueueReading mean = now;
    mean.heldFrames = static_cast<uint32_t>(std::lround(held / readings));
    mean.captureFrames = static_cast<uint32_t>(std::lround(captured / readings));
    return mean;
}

void ShowQueue() {
    const QueueReading queue = ReadQueueMeter();
    const QueueReading level = LastSecondsQueue(queue);
    wchar_t line[LINE_UNITS] = L"";
    if (queue.captureFrames != 0) {
        std::swprintf(line, LINE_UNITS, Text(TEXT_MONITOR_DELAY), ProgramDelayMs(level),
                      level.captureFrames * 1000.0 / SAMPLE_RATE,
                      level.heldFrames * 1000.0 / SAMPLE_RATE);
    }
    SetDlgItemTextW(monitor.window, IDC_MON_DELAY, line);
    if (queue.captureFrames != 0) {
        std::swprintf(line, LINE_UNITS, Text(TEXT_MONITOR_DRIFT), queue.skewPpm, queue.ratioPpm,
                      queue.heldFrames * 1000.0 / SAMPLE_RATE,
                      queue.targetFrames * 1000.0 / SAMPLE_RATE);
    }
    SetDlgItemTextW(monitor.window, IDC_MON_DRIFT, line);
}

// Each effect of the chain: its share of its blocks' time over the last second, and its late
// blocks since its load.
void ShowEffects(const MeterReading& reading) {
    monitor.lastSecond.push_back(reading);
    while (monitor.lastSecond.size() > SECOND_OF_DRAWS) {
        monitor.lastSecond.pop_front();
    }
    std::wstring lines;
    const std::vector<PublishedLink> chain = PublishedChain();
    for (size_t link = 0; link < chain.size() && link < MAX_CHAIN_EFFECTS; ++link) {
        double busy = 0.0, worst = 0.0;
        uint32_t blocks = 0;
        for (const MeterReading& r : monitor.lastSecond) {
            busy += r.effects[link].share * r.effects[link].blocks;
            blocks += r.effects[link].blocks;
            worst = std::max(worst, r.effects[link].worstShare);
        }
        const EffectBlockStats stats = chain[link].handle->blockStats(chain[link].handle);
        wchar_t line[LINE_UNITS];
        std::swprintf(line, LINE_UNITS, Text(TEXT_MONITOR_EFFECT), static_cast<int>(link + 1),
                      chain[link].name.c_str(), blocks != 0 ? 100.0 * busy / blocks : 0.0,
                      100.0 * worst, stats.late);
        lines += (lines.empty() ? L"" : L"\r\n") + std::wstring(line);
    }
    SetDlgItemTextW(monitor.window, IDC_MON_EFFECTS, lines.c_str());
}

void ShowCounters() {
    wchar_t counters[LINE_UNITS];
    FormatStreamCounters(counters, LINE_UNITS);
    wchar_t restarts[LINE_UNITS];
    std::swprintf(restarts, LINE_UNITS, Text(TEXT_EFFECT_RESTARTS), EffectRestarts());
    const std::wstring chained = ChainedEffectCounters(*currentSlot);
    SetDlgItemTextW(
        monitor.window, IDC_MON_COUNTERS,
        (std::wstring(counters) + L"\r\n" + restarts + (chained.empty() ? L"" : L"\r\n" + chained))
            .c_str());
}

// The figures since the last draw; while hidden or minimised they are taken and not drawn.
void Draw() {
    const MeterReading reading = TakeMeterReading();
    if (!IsWindowVisible(monitor.window) || IsIconic(monitor.window) ||
        !IsWindowVisible(monitor.owner)) {
        return;
    }
    const DWORD now = GetTickCount();
    for (uint32_t c = 0; c < METER_CHANNELS; ++c) {
        ShowLevel(static_cast<int>(c), reading.input[c], now);
        ShowLevel(static_cast<int>(METER_CHANNELS + c), reading.output[c], now);
    }
    ShowQueue();
    ShowEffects(reading);
    ShowCounters();
}

void KeepPosition() {
    RECT at;
    if (GetWindowRect(monitor.window, &at)) {
        SaveMonitorPosition(at.left, at.top);
    }
}

void OnInit(HWND window) {
    monitor.window = window;
    RouteDialogKeys(window);
    SetWindowTextW(window, Text(TEXT_MONITOR_TITLE));
    for (int bar : LEVEL_BARS) {
        SendDlgItemMessageW(window, bar, PBM_SETRANGE32, 0, -BAR_FLOOR_DB * BAR_STEPS_PER_DB);
    }
    int32_t x = 0, y = 0;
    if (LoadMonitorPosition(x, y)) {
        SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    TakeMeterReading(); // from now on
    SetTimer(window, 1, DRAW_MS, nullptr);
}

INT_PTR CALLBACK MonitorDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnInit(window);
        return TRUE;
    case WM_TIMER:
        Draw();
        return TRUE;
    case WM_EXITSIZEMOVE:
        KeepPosition();
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
            DestroyWindow(window);
        }
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        KeepPosition();
        KillTimer(window, 1);
        StopRoutingDialogKeys(window);
        monitor = Monitor();
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void OpenMonitorWindow(HWND mainWindow) {
    monitor.owner = mainWindow;
    if (monitor.window == nullptr) {
        CreateDialogParamW(appInstance, MAKEINTRESOURCEW(IDD_MONITOR), mainWindow,
                           MonitorDialogProc, 0);
    }
    if (monitor.window != nullptr) {
        ShowWindow(monitor.window, SW_SHOW);
    }
}

void RefreshMonitorWindow() {
    if (monitor.window != nullptr) {
        SetWindowTextW(monitor.window, Text(TEXT_MONITOR_TITLE));
    }
}

HWND MonitorWindow() {
    return monitor.window;
}
