#include "settings/hotkey_text.h"

#include <cwchar>
#include <cwctype>

namespace {

struct Modifier {
    uint8_t bit;
    const wchar_t* name;
};
const Modifier MODIFIERS[] = {
    {HOTKEY_CONTROL, L"Ctrl"}, {HOTKEY_ALT, L"Alt"}, {HOTKEY_SHIFT, L"Shift"}};

// Named ranges of virtual-key codes: letters and digits as themselves, the rest numbered.
struct KeyRange {
    uint8_t first, last;
    const wchar_t* prefix; // null: the code is the character
    int number;            // the first one's number after the prefix
};
const KeyRange RANGES[] = {{'0', '9', nullptr, 0},
                           {'A', 'Z', nullptr, 0},
                           {0x60, 0x69, L"NumPad", 0},
                           {0x70, 0x87, L"F", 1}};
const wchar_t UNNAMED_PREFIX[] = L"VK_";
constexpr size_t NAME_UNITS = 16;

std::wstring KeyName(uint8_t key) {
    for (const KeyRange& r : RANGES) {
        if (key >= r.first && key <= r.last) {
            return r.prefix == nullptr ? std::wstring(1, static_cast<wchar_t>(key))
                                       : r.prefix + std::to_wstring(r.number + key - r.first);
        }
    }
    wchar_t name[NAME_UNITS];
    std::swprintf(name, NAME_UNITS, L"%ls%02X", UNNAMED_PREFIX, key);
    return name;
}

bool SameWord(const std::wstring& a, const wchar_t* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != L'\0'; ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) {
            return false;
        }
    }
    return i == a.size() && b[i] == L'\0';
}

// A key's code from its name, 0 for none.
uint8_t KeyCode(const std::wstring& word) {
    for (int code = 1; code < 0x100; ++code) {
        if (SameWord(word, KeyName(static_cast<uint8_t>(code)).c_str())) {
            return static_cast<uint8_t>(code);
        }
    }
    return 0;
}

} // namespace

std::wstring HotkeyKeyName(int32_t action) {
    if (action >= HOTKEY_SLOT_FIRST && action < HOTKEY_START_STOP) {
        return L"HotkeySlot" + std::to_wstring(action - HOTKEY_SLOT_FIRST);
    }
    return action == HOTKEY_START_STOP ? L"HotkeyStartStop"
           : action == HOTKEY_MUTE     ? L"HotkeyMute"
                                       : L"HotkeyBypass";
}

std::wstring HotkeyText(Hotkey hotkey) {
    if (hotkey.key == 0) {
        return L"";
    }
    std::wstring text;
    for (const Modifier& m : MODIFIERS) {
        if ((hotkey.modifiers & m.bit) != 0) {
            text += std::wstring(m.name) + L"+";
        }
    }
    return text + KeyName(hotkey.key);
}

bool ParseHotkey(const wchar_t* text, Hotkey& hotkey) {
    hotkey = Hotkey();
    Hotkey read;
    std::wstring word;
    for (const wchar_t* c = text;; ++c) {
        if (*c != L'+' && *c != L'\0') {
            word += *c;
            continue;
        }
        const Modifier* modifier = nullptr;
        for (const Modifier& m : MODIFIERS) {
            modifier = SameWord(word, m.name) ? &m : modifier;
        }
        if (*c == L'+' && modifier != nullptr && (read.modifiers & modifier->bit) == 0) {
            read.modifiers |= modifier->bit;
        } else if (*c == L'\0' && (read.key = KeyCode(word)) != 0) {
            hotkey = read;
            return true;
        } else {
            return false;
        }
        word.clear();
    }
}
