// WM_COMMAND of the main window: every control and tray-menu command.
#include <windows.h>
#include <commctrl.h>

#include <cwchar>

#include "app/about_box.h"
#include "app/app_state.h"
#include "app/auto_connect.h"
#include "app/device_list.h"
#include "app/file_chooser.h"
#include "app/live_switches.h"
#include "app/main_dialog.h"
#include "app/slot_saver.h"
#include "app/texts.h"
#include "audio/engine_state.h"
#include "app/stream_commands.h"
#include "plugin/editor_window.h"
#include "app/plugin_commands.h"
#include "res/resource.h"
#include "settings/settings_store.h"

namespace {

constexpr int HI_POSITION = -200;
constexpr int LO_POSITION = 200;

// Moves a trackbar and lets the posted scroll message recompute its value.
void ResetTrackbar(HWND window, int trackbarId, int position) {
    HWND trackbar = GetDlgItem(window, trackbarId);
    SendMessageW(trackbar, TBM_SETPOS, TRUE, position);
    PostMessageW(window, WM_VSCROLL, TB_ENDTRACK, reinterpret_cast<LPARAM>(trackbar));
}

void OnPluginButton(HWND window) {
    if (pluginActive.load() != 0) {
        UnloadPluginCommand(window);
        return;
    }
    if (ChooseEffectFile(window, Text(TEXT_OPEN_PLUGIN), currentSlot->VstPath,
                         VST_PATH_MAX_UNITS)) {
        LoadPluginCommand(window);
    }
}

bool startWhenStopped = false; // a slot change from anywhere stopped the stream to start it again

// The running stream's devices and buffer length are the slot's.
bool SameStream(HWND window, const SettingsSlot& slot) {
    SettingsSlot now;
    ReadControls(window, now);
    return std::wcscmp(now.WaveInCapsName, slot.WaveInCapsName) == 0 &&
           std::wcscmp(now.WaveOutCapsName, slot.WaveOutCapsName) == 0 &&
           std::wcscmp(now.BufferSize, slot.BufferSize) == 0;
}

void ChangeSlot(HWND window, bool fromAnywhere = false) {
    const bool shownDetail = currentSlot->ShowDetail;
    const LRESULT selected = SendDlgItemMessageW(window, IDC_SLOT, CB_GETCURSEL, 0, 0);
    if (selected < 0 || selected >= SLOT_COUNT) {
        return; // no selection: nothing to switch to
    }
    const int index = static_cast<int>(selected);
    if (index != currentSlotIndex && SlotChangeWaitsForLoad(window)) {
        return; // the slot's effect would be loaded under a call that has not returned
    }
    const bool goesOn = fromAnywhere && running != 0 && SameStream(window, slots[index]);
    const bool wasRunning = running != 0 && !goesOn;
    if (wasRunning && index != currentSlotIndex) {
        startWhenStopped = fromAnywhere;
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(ID_STOP, 0),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, ID_STOP)));
        slots[index].AutoRestart = false;
    }
    StoreControlsToSlot(window);
    currentSlotIndex = index;
    currentSlot = &slots[index];
    if (currentSlot->ShowDetail != shownDetail) {
        currentSlot->ShowDetail = shownDetail;
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_DETAIL_TOGGLE, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_DETAIL_TOGGLE)));
    }
    // The lists as start-up builds them for this slot, so they show its own device names (an
    // awaited one listed last) before auto-connect stores them as the names to watch; the
    // slot being left has nothing in them.
    FillDeviceLists(window, *currentSlot);
    ApplySlotToControls(window);
    if (!wasRunning && !goesOn) {
        // The check box now shows the new slot's flag; the watcher follows it, so the two
        // never disagree.
        SetAutoConnect(window, currentSlot->AutoRestart);
    }
    RestartSlotSaver(window);
}

} // namespace

void ChangeSlotFromAnywhere(HWND window, int index) {
    if (index < 0 || index >= SLOT_COUNT) {
        return;
    }
    SendDlgItemMessageW(window, IDC_SLOT, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    ChangeSlot(window, true);
}

void StartAfterSlotChange(HWND window) {
    if (startWhenStopped && running == 0) {
        startWhenStopped = false;
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(ID_START, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, ID_START)));
    }
}

INT_PTR OnCommand(HWND window, WORD id, WORD code) {
    switch (id) {
    case IDC_WAVEIN:
        RefreshDeviceList(window, DeviceKind::Capture);
        return TRUE;
    case IDC_WAVEOUT:
        if (code == CBN_DROPDOWN) {
            RefreshDeviceList(window, DeviceKind::Playback);
        }
        return TRUE;
    case IDC_HI:
        ResetTrackbar(window, IDC_PITCH, HI_POSITION);
        return TRUE;
    case IDC_LO:
        ResetTrackbar(window, IDC_PITCH, LO_POSITION);
        return TRUE;
    case IDC_PITCH_LABEL:
        ResetTrackbar(window, IDC_PITCH, 0);
        return TRUE;
    case IDC_VOLUME_LABEL:
        ResetTrackbar(window, IDC_VOLUME, 0);
        return TRUE;
    case IDC_VST_LOAD:
        OnPluginButton(window);
        return TRUE;
    case IDC_VST_EDIT:
        if (pluginActive.load() == 0) {
            return FALSE;
        }
        OpenLiveEditor(window);
        return TRUE;
    case IDC_AUTO_CONNECT:
        SetAutoConnect(window, !currentSlot->AutoRestart);
        return TRUE;
    case IDC_SLOT:
        if (code != CBN_SELCHANGE) {
            return FALSE;
        }
        ChangeSlot(window);
        return TRUE;
    case IDC_DETAIL_TOGGLE:
        ToggleDetailRow(window);
        return TRUE;
    case ID_START:
        return StartStream(window, code);
    case ID_STOP:
        return RequestStop(window, code);
    case ID_EXIT:
        SendMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
    case ID_ABOUT:
        ShowAboutBox(window);
        return TRUE;
    case ID_MUTE:
        return ToggleMute(window);
    case ID_BYPASS:
        return ToggleBypass(window);
    default:
        if (id >= ID_SLOT_FIRST && id < ID_SLOT_FIRST + SLOT_COUNT) {
            return ChooseSlot(window, id - ID_SLOT_FIRST);
        }
        return FALSE;
    }
}
