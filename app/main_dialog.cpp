#include "app/main_dialog.h"

#include <dbt.h>

#include "app/chain_window.h"
#include "app/hotkey_window.h"
#include "app/hotkeys.h"
#include "app/isolation_menu.h"
#include "app/language_menu.h"
#include "app/live_effect.h"
#include "app/monitor_window.h"
#include "app/plugin_commands.h"
#include "app/run_at_logon.h"
#include "app/stream_commands.h"
#include "app/slot_plugin.h"
#include "app/tray.h"
#include "res/resource.h"

namespace {
constexpr UINT EFFECT_EDIT_QUIET_MS = 1000;
}

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(window);
    case WM_COMMAND:
        return OnCommand(window, LOWORD(wParam), HIWORD(wParam));
    case WM_VSCROLL:
        return OnVScroll(window, reinterpret_cast<HWND>(lParam));
    case WM_CTLCOLORSTATIC:
        return OnCtlColorStatic(window, reinterpret_cast<HDC>(wParam),
                                reinterpret_cast<HWND>(lParam));
    case WM_TIMER:
        OnTimer(window, static_cast<UINT_PTR>(wParam));
        return FALSE;
    case WM_CLOSE:
        OnClose(window);
        return TRUE;
    case WM_QUERYENDSESSION:
        return OnQueryEndSession(window);
    case WM_ENDSESSION:
        OnEndSession(window, wParam != FALSE);
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MINIMIZE) {
            return MinimiseToTray(window);
        }
        if (wParam == ID_ENGLISH) {
            return SwitchLanguage(window);
        }
        if (wParam == ID_ISOLATE) {
            return ToggleIsolation(window);
        }
        if (wParam == ID_MONITOR) {
            OpenMonitorWindow(window);
            return TRUE;
        }
        if (wParam == ID_HOTKEYS) {
            OpenHotkeyWindow(window);
            return TRUE;
        }
        if (wParam == ID_RUN_AT_LOGON) {
            return ToggleRunAtLogon(window);
        }
        if (wParam == ID_CHAIN) {
            OpenChainWindow(window);
            return TRUE;
        }
        return FALSE;
    case WM_WINDOWPOSCHANGING:
        FilterTrayShow(reinterpret_cast<WINDOWPOS*>(lParam));
        return FALSE;
    case WM_TRAYNOTIFY:
        return OnTrayNotify(window, wParam, lParam);
    case WM_HOTKEY:
        return OnHotkey(window, wParam);
    case WM_REGISTER_HOTKEYS:
        RegisterHotkeys(window);
        return TRUE;
    case WM_PLUGIN_FAULT_CHECK:
        CheckPluginFault(window);
        return TRUE;
    case WM_EDITOR_CLOSED:
        // What the editor changed is what a restarted host gets; while another call waits, the
        // edit timer takes it once that call has returned.
        if (LiveEffectCallUnderWay()) {
            SetTimer(window, TIMER_EFFECT_EDITED, EFFECT_EDIT_QUIET_MS, nullptr);
        } else {
            TakeLiveEffectState();
        }
        return TRUE;
    case WM_EFFECT_EDITED:
        // Once the knob has rested: taking a state for every step of a turn would cost the
        // window a round trip each.
        SetTimer(window, TIMER_EFFECT_EDITED, EFFECT_EDIT_QUIET_MS, nullptr);
        return TRUE;
    case WM_SLOT_PLUGIN_NOTICE:
        OnSlotPluginNotice(window, wParam);
        return TRUE;
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND) {
            OnPowerResume(window);
        }
        return FALSE;
    case WM_DEVICECHANGE:
        if (wParam == DBT_DEVNODES_CHANGED) {
            OnStreamDevicesChanged(window);
        }
        return FALSE; // only watched: a removal the system asks about is never refused
    default:
        return FALSE;
    }
}
