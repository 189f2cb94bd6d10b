#include "app/tray.h"

#include "app/app_state.h"
#include "app/live_switches.h"
#include "plugin/editor_window.h"
#include "res/resource.h"
#include "settings/command_line.h"

namespace {

INT_PTR RestoreFromTray(HWND window) {
    startInTray = false;  // first, so the hide filter lets the show through
    Shell_NotifyIconW(NIM_DELETE, &trayIconData);
    ShowWindow(window, SW_SHOWNORMAL);
    ShowEditor(SW_SHOWNORMAL);
    return 1;
}

INT_PTR ShowTrayMenu(HWND window) {
    POINT cursor;
    GetCursorPos(&cursor);
    SetForegroundWindow(window);
    PrepareTrayMenu();
    TrackPopupMenu(trayPopup, TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, window, nullptr);
    return 1;
}

}  // namespace

INT_PTR MinimiseToTray(HWND window) {
    Shell_NotifyIconW(NIM_ADD, &trayIconData);
    ShowWindow(window, SW_HIDE);
    ShowEditor(SW_HIDE);
    startInTray = true;
    return 1;
}

INT_PTR OnTrayNotify(HWND window, WPARAM wParam, LPARAM lParam) {
    if (wParam != TRAY_ICON_ID) {
        return 0;
    }
    switch (lParam) {
    case WM_LBUTTONUP:
        return RestoreFromTray(window);
    case WM_RBUTTONUP:
        return ShowTrayMenu(window);
    default:
        return 0;
    }
}

void FilterTrayShow(WINDOWPOS* change) {
    if (startInTray && change != nullptr) {
        change->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
    }
}
