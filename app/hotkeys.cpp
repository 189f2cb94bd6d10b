#include "app/hotkeys.h"

#include <string>

#include "app/balloon.h"
#include "app/live_switches.h"
#include "app/texts.h"
#include "audio/engine_state.h"
#include "res/resource.h"
#include "settings/settings_file.h"

namespace {

// WM_HOTKEY's id of an action: the application's own range (below 0xC000).
constexpr int HOTKEY_ID_FIRST = 0x4B30;

struct Held {
    Hotkey hotkeys[HOTKEY_ACTIONS];
    bool registered[HOTKEY_ACTIONS] = {};
    bool refused[HOTKEY_ACTIONS] = {};
};
Held held; // the main window's, user-interface thread only

UINT SystemModifiers(uint8_t modifiers) {
    return ((modifiers & HOTKEY_CONTROL) != 0 ? MOD_CONTROL : 0) |
           ((modifiers & HOTKEY_ALT) != 0 ? MOD_ALT : 0) |
           ((modifiers & HOTKEY_SHIFT) != 0 ? MOD_SHIFT : 0) | MOD_NOREPEAT;
}

// A click of the Start or Stop button, whichever the window offers now.
void StartOrStop(HWND window) {
    const int id = running != 0 ? ID_STOP : ID_START;
    HWND button = GetDlgItem(window, id);
    if (IsWindowEnabled(button)) {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }
}

// The held hotkeys registered anew; the refused ones named in a balloon.
void RegisterHeld(HWND window) {
    UnregisterHotkeys(window);
    std::wstring refused;
    for (int32_t action = 0; action < HOTKEY_ACTIONS; ++action) {
        const Hotkey& h = held.hotkeys[action];
        held.refused[action] = false;
        if (h.key == 0) {
            continue;
        }
        held.registered[action] = RegisterHotKey(window, HOTKEY_ID_FIRST + action,
                                                 SystemModifiers(h.modifiers), h.key) != FALSE;
        held.refused[action] = !held.registered[action];
        if (held.refused[action]) {
            refused += L"\n" + HotkeyText(h);
        }
    }
    if (!refused.empty()) {
        static std::wstring text; // the balloon's tool keeps pointing at its text
        text = Text(TEXT_HOTKEYS_REFUSED) + refused;
        ShowBalloon(window, ID_START, text.c_str());
    }
}

} // namespace

void RegisterHotkeys(HWND window) {
    LoadHotkeys(held.hotkeys);
    RegisterHeld(window);
}

void UnregisterHotkeys(HWND window) {
    for (int32_t action = 0; action < HOTKEY_ACTIONS; ++action) {
        if (held.registered[action]) {
            UnregisterHotKey(window, HOTKEY_ID_FIRST + action);
            held.registered[action] = false;
        }
    }
}

INT_PTR OnHotkey(HWND window, WPARAM id) {
    const int32_t action = static_cast<int32_t>(id) - HOTKEY_ID_FIRST;
    if (action >= HOTKEY_SLOT_FIRST && action < HOTKEY_START_STOP) {
        return ChooseSlot(window, action - HOTKEY_SLOT_FIRST);
    }
    switch (action) {
    case HOTKEY_START_STOP:
        StartOrStop(window);
        return TRUE;
    case HOTKEY_MUTE:
        return ToggleMute(window);
    case HOTKEY_BYPASS:
        return ToggleBypass(window);
    default:
        return FALSE;
    }
}

Hotkey CurrentHotkey(int32_t action) {
    return action >= 0 && action < HOTKEY_ACTIONS ? held.hotkeys[action] : Hotkey();
}

bool HotkeyRefused(int32_t action) {
    return action >= 0 && action < HOTKEY_ACTIONS && held.refused[action];
}

void ChangeHotkeys(HWND window, const Hotkey (&chosen)[HOTKEY_ACTIONS]) {
    for (int32_t action = 0; action < HOTKEY_ACTIONS; ++action) {
        held.hotkeys[action] = chosen[action];
    }
    SaveHotkeys(held.hotkeys);
    RegisterHeld(window);
}
