#include "app/slot_saver.h"

#include <cwchar>

#include "app/live_effect.h"
#include "app/main_dialog.h"
#include "app/slot_plugin.h"
#include "res/resource.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"

namespace {

constexpr UINT SAVER_PERIOD_MS = 1000;
constexpr int QUIET_TICKS = 2; // so a change stands 2 to 3 s, a slider drag is saved once

SettingsSlot lastSaved; // as last saved, or as shown when watching began
SettingsSlot lastSeen;  // as the previous tick found it
int quietTicks = 0;     // ticks since lastSeen changed
bool watching = false;  // false until the first tick after a restart has taken lastSaved

void StoreWindowPosition(HWND window, SettingsSlot& slot) {
    RECT rect;
    GetWindowRect(window, &rect);
    slot.DlgPosX = rect.left;
    slot.DlgPosY = rect.top;
}

// What closing would store now, without storing it.
SettingsSlot ClosingSnapshot(HWND window) {
    SettingsSlot slot = *currentSlot;
    ReadControls(window, slot);
    StoreWindowPosition(window, slot);
    ReadPluginFields(slot); // an effect unloaded must not come back after a crash
    return slot;
}

// Texts up to their terminators: what lies behind one is never written.
bool SameText(const wchar_t* a, const wchar_t* b, size_t units) {
    return std::wcsncmp(a, b, units) == 0;
}

bool SameSlot(const SettingsSlot& a, const SettingsSlot& b) {
    return SameText(a.WaveInCapsName, b.WaveInCapsName, DEVICE_NAME_UNITS) &&
           SameText(a.WaveOutCapsName, b.WaveOutCapsName, DEVICE_NAME_UNITS) &&
           SameText(a.BufferSize, b.BufferSize, BUFFER_SIZE_UNITS) &&
           SameText(a.VstPath, b.VstPath, VST_PATH_UNITS) && a.Volume == b.Volume &&
           a.FreqRatio == b.FreqRatio && a.AutoRestart == b.AutoRestart &&
           a.ShowDetail == b.ShowDetail && a.DlgPosX == b.DlgPosX && a.DlgPosY == b.DlgPosY &&
           a.VstActive == b.VstActive && a.VstEditorOpen == b.VstEditorOpen &&
           a.VstIsolated == b.VstIsolated;
}

void Watch(const SettingsSlot& saved) {
    lastSaved = saved;
    lastSeen = saved;
    quietTicks = 0;
    watching = true;
}

} // namespace

void SaveSlotNow(HWND window) {
    StoreControlsToSlot(window);
    StoreWindowPosition(window, *currentSlot);
    SaveCurrentSlot();
    Watch(*currentSlot);
}

void RestartSlotSaver(HWND window) {
    watching = false;
    SetTimer(window, TIMER_SAVE, SAVER_PERIOD_MS, nullptr);
    // Posted behind the detail toggle, so the row is as the slot has it; waiting for the first
    // real tick would count a change made within that second as saved.
    PostMessageW(window, WM_TIMER, TIMER_SAVE, 0);
}

void OnSlotSaverTick(HWND window) {
    const SettingsSlot now = ClosingSnapshot(window);
    if (!watching) {
        Watch(now);
    } else if (!SameSlot(now, lastSeen)) {
        lastSeen = now;
        quietTicks = 0;
    } else if (!SameSlot(now, lastSaved) && ++quietTicks >= QUIET_TICKS) {
        ReadPluginFields(*currentSlot);
        SaveSlotNow(window);
        TakeLiveEffectState(); // what an effect in its own process restarts with
    }
}
