#include "app/hotkey_window.h"

#include <commctrl.h>

#include <string>

#include "app/app_state.h"
#include "app/dialog_keys.h"
#include "app/hotkeys.h"
#include "app/texts.h"
#include "res/resource.h"

namespace {

HWND hotkeyWindow = nullptr;
HWND hotkeyOwner = nullptr;

// A row's place, in dialog units: its label, the hot-key control and what is said of it.
constexpr int ROW_TOP = 6;
constexpr int ROW_HEIGHT = 14;
constexpr int LABEL_LEFT = 6, LABEL_WIDTH = 78;
constexpr int KEY_LEFT = 86, KEY_WIDTH = 80, KEY_HEIGHT = 12;
constexpr int STATE_LEFT = 170, STATE_WIDTH = 64;
constexpr int TEXT_HEIGHT = 8;

std::wstring RowLabel(int32_t action) {
    if (action < HOTKEY_START_STOP) {
        return std::wstring(Text(TEXT_SLOT_ITEM)) + L" " + std::to_wstring(action);
    }
    return Text(action == HOTKEY_START_STOP ? TEXT_START_STOP_ROW
                : action == HOTKEY_MUTE     ? TEXT_MUTE_ITEM
                                            : TEXT_BYPASS_ITEM);
}

HWND AddControl(const wchar_t* kind, const wchar_t* text, DWORD style, int id, RECT at) {
    MapDialogRect(hotkeyWindow, &at);
    HWND control =
        CreateWindowExW(0, kind, text, WS_CHILD | WS_VISIBLE | style, at.left, at.top,
                        at.right - at.left, at.bottom - at.top, hotkeyWindow,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), appInstance, nullptr);
    SendMessageW(control, WM_SETFONT, SendMessageW(hotkeyWindow, WM_GETFONT, 0, 0), TRUE);
    return control;
}

// The rows as the program holds the hotkeys, each after its label in tab order.
void AddRows() {
    for (int32_t action = 0; action < HOTKEY_ACTIONS; ++action) {
        const int top = ROW_TOP + action * ROW_HEIGHT;
        AddControl(L"STATIC", L"", SS_LEFT, IDC_HOTKEY_LABEL_FIRST + action,
                   {LABEL_LEFT, top + 2, LABEL_LEFT + LABEL_WIDTH, top + 2 + TEXT_HEIGHT});
        HWND key = AddControl(HOTKEY_CLASSW, L"", WS_TABSTOP | WS_BORDER, IDC_HOTKEY_FIRST + action,
                              {KEY_LEFT, top, KEY_LEFT + KEY_WIDTH, top + KEY_HEIGHT});
        const Hotkey h = CurrentHotkey(action);
        SendMessageW(key, HKM_SETHOTKEY, MAKEWORD(h.key, h.modifiers), 0);
        AddControl(L"STATIC", L"", SS_LEFT, IDC_HOTKEY_STATE_FIRST + action,
                   {STATE_LEFT, top + 2, STATE_LEFT + STATE_WIDTH, top + 2 + TEXT_HEIGHT});
    }
}

void ShowTexts() {
    SetWindowTextW(hotkeyWindow, Text(TEXT_HOTKEYS_TITLE));
    TranslateControls(hotkeyWindow);
    for (int32_t action = 0; action < HOTKEY_ACTIONS; ++action) {
        SetDlgItemTextW(hotkeyWindow, IDC_HOTKEY_LABEL_FIRST + action, RowLabel(action).c_str());
        SetDlgItemTextW(hotkeyWindow, IDC_HOTKEY_STATE_FIRST + action,
                        HotkeyRefused(action) ? Text(TEXT_HOTKEY_IN_USE) : L"");
    }
}

// Keeps and registers the rows; the window stays open while one was refused, its row saying so.
void OnOk() {
    Hotkey chosen[HOTKEY_ACTIONS];
    bool refused = false;
    for (int32_t action = 0; action < HOTKEY_ACTIONS; ++action) {
        const LRESULT word =
            SendDlgItemMessageW(hotkeyWindow, IDC_HOTKEY_FIRST + action, HKM_GETHOTKEY, 0, 0);
        chosen[action] = {LOBYTE(LOWORD(word)), HIBYTE(LOWORD(word))};
    }
    ChangeHotkeys(hotkeyOwner, chosen);
    for (int32_t action = 0; action < HOTKEY_ACTIONS; ++action) {
        refused = refused || HotkeyRefused(action);
    }
    if (refused) {
        ShowTexts();
    } else {
        DestroyWindow(hotkeyWindow);
    }
}

INT_PTR CALLBACK HotkeyDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        hotkeyWindow = window;
        RouteDialogKeys(window);
        AddRows();
        ShowTexts();
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            OnOk();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            DestroyWindow(window);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        StopRoutingDialogKeys(window);
        hotkeyWindow = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void OpenHotkeyWindow(HWND mainWindow) {
    hotkeyOwner = mainWindow;
    if (hotkeyWindow == nullptr) {
        CreateDialogParamW(appInstance, MAKEINTRESOURCEW(IDD_HOTKEYS), mainWindow, HotkeyDialogProc,
                           0);
    }
    if (hotkeyWindow != nullptr) {
        ShowWindow(hotkeyWindow, SW_SHOW);
        SetForegroundWindow(hotkeyWindow);
    }
}

void RefreshHotkeyWindow() {
    if (hotkeyWindow != nullptr) {
        ShowTexts();
    }
}

HWND HotkeyWindow() {
    return hotkeyWindow;
}
