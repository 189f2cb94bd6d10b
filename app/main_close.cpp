// Timers and the orderly close of the main window.
#include "app/app_state.h"
#include "app/auto_connect.h"
#include "app/main_dialog.h"
#include "audio/engine_state.h"
#include "audio/stream_control.h"
#include "plugin/plugin_commands.h"
#include "res/resource.h"
#include "settings/command_line.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"

void OnTimer(HWND window, UINT_PTR timerId) {
    switch (timerId) {
    case TIMER_LEVEL:
        InvalidateRect(GetDlgItem(window, IDC_VOLUME_LABEL), nullptr, FALSE);
        CheckPluginFault(window);
        break;
    case TIMER_STOP:
        StopStream(window);
        CheckPluginFault(window); // the stop may have left a hung effect's block behind
        break;
    case TIMER_AUTOCONNECT:
        OnAutoConnectTick(window);
        break;
    default:
        break;
    }
}

void OnClose(HWND window) {
    if (CloseWaitsForLoad()) {
        return;
    }
    if (startInTray) {
        Shell_NotifyIconW(NIM_DELETE, &trayIconData);
    }
    StopStream(window);
    UnloadPluginCommand(window);
    StoreControlsToSlot(window);
    RECT rect;
    GetWindowRect(window, &rect);
    currentSlot->DlgPosX = rect.left;
    currentSlot->DlgPosY = rect.top;
    SaveCurrentSlot();
    CloseThreadsLeftBehind();
    LockDestroy(&EngineLock);
    DestroyMenu(trayMenu);
    trayMenu = nullptr;
    trayPopup = nullptr;
    EndDialog(window, IDCANCEL);
}
