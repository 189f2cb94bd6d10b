// Timers, the orderly close of the main window and the end of the session.
#include "app/app_state.h"
#include "app/auto_connect.h"
#include "app/balloon.h"
#include "app/hotkeys.h"
#include "app/live_effect.h"
#include "app/main_dialog.h"
#include "app/slot_plugin.h"
#include "app/slot_saver.h"
#include "audio/engine_state.h"
#include "app/stream_commands.h"
#include "audio/stream.h"
#include "app/plugin_commands.h"
#include "res/resource.h"
#include "settings/command_line.h"

void OnTimer(HWND window, UINT_PTR timerId) {
    switch (timerId) {
    case TIMER_LEVEL:
        InvalidateRect(GetDlgItem(window, IDC_VOLUME_LABEL), nullptr, FALSE);
        CheckPluginFault(window);
        SettleSlotPluginMarker();
        WatchStream(window);
        break;
    case TIMER_STOP:
        OnStopTimer(window);
        StartAfterSlotChange(window);
        CheckPluginFault(window); // the stop may have left a hung effect's block behind
        break;
    case TIMER_BALLOON:
        HideBalloon();
        break;
    case TIMER_AUTOCONNECT:
        OnAutoConnectTick(window);
        break;
    case TIMER_EFFECT_EDITED:
        if (!LiveEffectCallUnderWay()) { // else refused: the timer tries again
            KillTimer(window, TIMER_EFFECT_EDITED);
            TakeLiveEffectState();
        }
        break;
    case TIMER_PLUGIN_DEFERRED:
        OnPluginDeferredTimer(window);
        break;
    case TIMER_SAVE:
        OnSlotSaverTick(window);
        CheckPluginFault(window); // an effect's host may end while no stream runs
        break;
    default:
        break;
    }
}

void OnClose(HWND window) {
    if (CloseWaitsForLoad(window)) {
        return;
    }
    if (startInTray) {
        Shell_NotifyIconW(NIM_DELETE, &trayIconData);
    }
    UnregisterHotkeys(window);
    StopStream(window);
    SaveSlotWithPlugin(window); // first: an effect that hangs in its unload must not cost them
    UnloadPluginCommand(window);
    CloseThreadsLeftBehind();
    LockDestroy(&EngineLock);
    DestroyMenu(trayMenu);
    trayMenu = nullptr;
    trayPopup = nullptr;
    EndDialog(window, IDCANCEL);
}

INT_PTR OnQueryEndSession(HWND window) {
    SetWindowLongPtrW(window, DWLP_MSGRESULT, TRUE); // nothing to ask: the end saves the slot
    return TRUE;
}

// The system ends the process after this, with no close: the sound stops now, without the
// fade, and the slot is saved as closing saves it.
void OnEndSession(HWND window, bool ending) {
    if (!ending) {
        return;
    }
    StopStream(window);
    SaveSlotWithPlugin(window);
}
