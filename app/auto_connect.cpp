#include "app/auto_connect.h"

#include "app/device_list.h"
#include "app/main_dialog.h"
#include "app/stream_commands.h"
#include "audio/engine_state.h"
#include "res/resource.h"
#include "settings/settings_store.h"

namespace {

constexpr UINT WATCHER_PERIOD_MS = 1000;

void EnableDeviceLists(HWND window, bool enable) {
    EnableWindow(GetDlgItem(window, IDC_WAVEIN), enable ? TRUE : FALSE);
    EnableWindow(GetDlgItem(window, IDC_WAVEOUT), enable ? TRUE : FALSE);
}

} // namespace

void SetAutoConnect(HWND window, bool on) {
    if (on) {
        EnableDeviceLists(window, false);
        currentSlot->AutoRestart = true;
        StoreControlsToSlot(window);
        SetTimer(window, TIMER_AUTOCONNECT, WATCHER_PERIOD_MS, nullptr);
    } else {
        if (running == 0) {
            EnableDeviceLists(window, true);
        }
        currentSlot->AutoRestart = false;
        KillTimer(window, TIMER_AUTOCONNECT);
    }
}

void OnAutoConnectTick(HWND window) {
    const bool present = DevicesPresent(currentSlot->WaveInCapsName, currentSlot->WaveOutCapsName);
    if (present && running == 0) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(ID_START, WATCHER_CODE), 0);
    } else if (!present && running != 0) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(ID_STOP, WATCHER_CODE), 0);
    }
}
