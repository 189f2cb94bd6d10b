// WM_INITDIALOG: the texts in the language shown and the system menu's item for it, settings,
// lock, window position, device lists, sliders, slot list, the slot's values, tray menu and icon
// record, the slot's plug-in, then the posted minimise and detail toggle, the watcher and the
// slot's saver, in this order.
#include <windows.h>
#include <commctrl.h>
#include <cwchar>

#include "app/app_state.h"
#include "app/auto_connect.h"
#include "app/device_list.h"
#include "app/language_menu.h"
#include "app/live_switches.h"
#include "app/main_dialog.h"
#include "app/slot_plugin.h"
#include "app/slot_saver.h"
#include "app/texts.h"
#include "app/window_position.h"
#include "audio/engine_state.h"
#include "audio/stream_state.h"
#include "res/resource.h"
#include "settings/command_line.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"

namespace {

void SetTrackbarRange(HWND window, int id, int low, int high, int ticFrequency) {
    SendDlgItemMessageW(window, id, TBM_SETRANGE, TRUE, MAKELPARAM(low, high));
    SendDlgItemMessageW(window, id, TBM_SETTICFREQ, static_cast<WPARAM>(ticFrequency), 0);
}

void FillSlotList(HWND window) {
    for (int i = 0; i < SLOT_COUNT; ++i) {
        wchar_t text[8];
        std::swprintf(text, sizeof text / sizeof text[0], L"%d", i);
        SendDlgItemMessageW(window, IDC_SLOT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    SendDlgItemMessageW(window, IDC_SLOT, CB_SETCURSEL, static_cast<WPARAM>(currentSlotIndex), 0);
}

void PrepareTrayIcon(HWND window, HICON icon) {
    ZeroMemory(&trayIconData, sizeof trayIconData);
    trayIconData.cbSize = NOTIFYICONDATAW_V1_SIZE;
    trayIconData.hWnd = window;
    trayIconData.uID = TRAY_ICON_ID;
    trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData.uCallbackMessage = WM_TRAYNOTIFY;
    trayIconData.hIcon = icon;
    wcsncpy(trayIconData.szTip, L"Kawauso04", 63);
}

} // namespace

INT_PTR OnInitDialog(HWND window) {
    SetWindowTextW(window, L"Kawauso04");
    TranslateControls(window);
    AddLanguageItem(window);
    HICON icon = LoadIconW(appInstance, MAKEINTRESOURCEW(IDI_MAIN));
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

    BuildIniPath();
    LoadAllSlots();
    LockCreate(&EngineLock);
    gain = 1.0;
    pitchRatio = 1.0;

    MoveToSavedPosition(window, currentSlot->DlgPosX, currentSlot->DlgPosY);

    FillDeviceLists(window, *currentSlot);

    SetTrackbarRange(window, IDC_VOLUME, -100, 100, 40);
    SetTrackbarRange(window, IDC_PITCH, -200, 200, 80);
    FillSlotList(window);
    ApplySlotToControls(window);

    trayMenu = LoadMenuW(appInstance, MAKEINTRESOURCEW(IDR_TRAYMENU));
    trayPopup = GetSubMenu(trayMenu, 0);
    TranslateMenu(trayPopup);
    PrepareTrayMenu();
    FillWaveFormat();
    PrepareTrayIcon(window, icon);
    running = 0;
    stopping.store(0);
    BringBackSlotPlugin(window);

    if (startInTray) {
        PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    }
    if (!currentSlot->ShowDetail) {
        // The template shows the row; the posted toggle flips the flag back and hides it.
        currentSlot->ShowDetail = true;
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_DETAIL_TOGGLE, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_DETAIL_TOGGLE)));
    }
    if (currentSlot->AutoRestart) {
        SetAutoConnect(window, true);
    }
    RestartSlotSaver(window);
    PostMessageW(window, WM_REGISTER_HOTKEYS, 0, 0); // a refusal's balloon needs the window
    return TRUE;
}
