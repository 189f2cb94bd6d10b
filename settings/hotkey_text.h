// The program's global hotkeys as the settings file keeps them: one key of [Kawauso04] for each
// action, present only while set, its value the combination as a user reads it ("Ctrl+Alt+M",
// "Shift+F9", "Ctrl+NumPad3"; a key without a name of its own as "VK_BA").
#pragma once

#include <cstdint>
#include <string>

// The actions, in the order of the hotkeys window's rows.
enum HotkeyAction : int32_t {
    HOTKEY_SLOT_FIRST = 0, // slots 0 to 7, as the slot list numbers them
    HOTKEY_START_STOP = 8,
    HOTKEY_MUTE,
    HOTKEY_BYPASS,
    HOTKEY_ACTIONS
};

// A combination as the system's hot-key control gives it: a virtual-key code (0: none) and its
// modifiers, the control's own bits.
constexpr uint8_t HOTKEY_SHIFT = 0x01;
constexpr uint8_t HOTKEY_CONTROL = 0x02;
constexpr uint8_t HOTKEY_ALT = 0x04;
struct Hotkey {
    uint8_t key = 0;
    uint8_t modifiers = 0;
};

// The settings key of an action ("HotkeySlot0" to "HotkeySlot7", "HotkeyStartStop",
// "HotkeyMute", "HotkeyBypass").
std::wstring HotkeyKeyName(int32_t action);

// "" for none.
std::wstring HotkeyText(Hotkey hotkey);

// False (and none) for a text that names no combination: an unknown word, no key, a key twice.
bool ParseHotkey(const wchar_t* text, Hotkey& hotkey);
