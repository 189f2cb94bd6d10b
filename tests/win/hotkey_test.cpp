// The global hotkeys in-process: set in their window, kept in the settings file only while set,
// each action through the system's own hotkey event while another window has the keyboard, and
// a combination another owner holds refused with its row and a balloon saying so.
#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <string>
#include <tuple>

#include "app/hotkey_window.h"
#include "app/hotkeys.h"
#include "app/main_dialog.h"
#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "audio/mute_ramp.h"
#include "res/resource.h"
#include "settings/settings_slot.h"
#include "settings/settings_store.h"
#include "tests/win/win_fixture.h"

namespace {

using Hotkeys = WinTest;

constexpr WORD CTRL_ALT = (HOTKEYF_CONTROL | HOTKEYF_ALT) << 8;

// The keys pressed and released as a keyboard sends them, to whichever window has the focus.
void Press(WORD hotkey) {
    std::vector<WORD> keys;
    for (const auto& [flag, key] :
         {std::make_pair(HOTKEYF_CONTROL, VK_CONTROL), std::make_pair(HOTKEYF_ALT, VK_MENU),
          std::make_pair(HOTKEYF_SHIFT, VK_SHIFT)}) {
        if ((HIBYTE(hotkey) & flag) != 0) {
            keys.push_back(WORD(key));
        }
    }
    keys.push_back(LOBYTE(hotkey));
    std::vector<INPUT> inputs;
    for (size_t i = 0; i < 2 * keys.size(); ++i) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = keys[i < keys.size() ? i : 2 * keys.size() - 1 - i];
        input.ki.dwFlags = i < keys.size() ? 0 : KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

// The hotkeys window's rows set to these (action, combination) and its OK clicked.
void Choose(HWND mainWindow, std::initializer_list<std::pair<int, WORD>> rows) {
    SendMessageW(mainWindow, WM_SYSCOMMAND, ID_HOTKEYS, 0);
    HWND window = HotkeyWindow();
    for (const auto& [action, hotkey] : rows) {
        SendDlgItemMessageW(window, IDC_HOTKEY_FIRST + action, HKM_SETHOTKEY, hotkey, 0);
    }
    SendMessageW(window, WM_COMMAND, IDOK, 0);
}

// Each action as the same click: through real key presses while a window of another kind has
// the focus; what they set is kept in [Kawauso04], and the window shows them at its next start.
TEST_F(Hotkeys, EachActionDoesWhatItsClickDoesWhileAnotherWindowHasTheKeyboard) {
    OpenDialog();
    ASSERT_TRUE(StartTestStream());
    // Slot 3 plays on the same devices an octave up; slot 4 on them with other buffers.
    for (int slot : {3, 4}) {
        ReadControls(dialog, slots[slot]);
    }
    slots[3].FreqRatio = -200;
    std::wcscpy(slots[4].BufferSize, L"30");
    Choose(dialog, {{HOTKEY_SLOT_FIRST + 3, CTRL_ALT | '3'},
                    {HOTKEY_SLOT_FIRST + 4, CTRL_ALT | '4'},
                    {HOTKEY_MUTE, CTRL_ALT | 'M'},
                    {HOTKEY_BYPASS, CTRL_ALT | 'B'},
                    {HOTKEY_START_STOP, CTRL_ALT | 'S'}});
    EXPECT_EQ(HotkeyWindow(), nullptr) << "closed: none refused";
    HWND other = CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                 nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    SetFocus(other);
    const auto after = [&](WORD hotkey, const std::function<bool()>& done) {
        Press(hotkey);
        return PumpUntil(done, 2000);
    };
    EXPECT_TRUE(after(CTRL_ALT | 'M', [] { return OutputMuted(); }));
    EXPECT_TRUE(after(CTRL_ALT | 'M', [] { return !OutputMuted(); }));
    EXPECT_TRUE(after(CTRL_ALT | 'B', [] { return EffectsBypassed(); }));
    EXPECT_TRUE(after(CTRL_ALT | 'B', [] { return !EffectsBypassed(); }));
    EXPECT_TRUE(after(CTRL_ALT | 'S', [] { return running == 0; })) << "as the Stop button";
    EXPECT_TRUE(after(CTRL_ALT | 'S', [] { return running == 1; })) << "as the Start button";
    uint32_t stops = 0;
    EXPECT_TRUE(after(CTRL_ALT | '3', [&] {
        stops += running == 0 ? 1 : 0;
        return currentSlotIndex == 3 && std::abs(pitchRatio - 2.0) < 1e-9;
    }));
    EXPECT_EQ((std::make_tuple(Selected(IDC_SLOT), stops, running)), (std::make_tuple(3, 0u, 1)))
        << "the same devices: the stream goes on, the slot's pitch at once";
    const uint32_t fiftyMs = bufferBytes;
    EXPECT_TRUE(after(CTRL_ALT | '4', [&] {
        return currentSlotIndex == 4 && running == 1 && bufferBytes < fiftyMs;
    })) << "other buffers: stopped as the slot list stops it, then started on the slot's own";
    DestroyWindow(other);
    StopAndWait();
    const std::wstring kept = ReadSettings();
    for (const wchar_t* line : {L"HotkeySlot3=Ctrl+Alt+3", L"HotkeyStartStop=Ctrl+Alt+S",
                                L"HotkeyMute=Ctrl+Alt+M", L"HotkeyBypass=Ctrl+Alt+B"}) {
        EXPECT_NE(kept.find(std::wstring(L"[Kawauso04]")), std::wstring::npos);
        EXPECT_NE(kept.find(line), std::wstring::npos) << line;
    }
    CloseDialog();
    OpenDialog();
    Pump();
    SendMessageW(dialog, WM_SYSCOMMAND, ID_HOTKEYS, 0);
    EXPECT_EQ(
        SendDlgItemMessageW(HotkeyWindow(), IDC_HOTKEY_FIRST + HOTKEY_MUTE, HKM_GETHOTKEY, 0, 0),
        LRESULT(CTRL_ALT | 'M'));
    Choose(dialog, {{HOTKEY_SLOT_FIRST + 3, 0},
                    {HOTKEY_SLOT_FIRST + 4, 0},
                    {HOTKEY_MUTE, 0},
                    {HOTKEY_BYPASS, 0},
                    {HOTKEY_START_STOP, 0}});
    EXPECT_EQ(ReadSettings().find(L"Hotkey"), std::wstring::npos) << "unset: the keys go";
}

// A combination another owner holds: that row alone is refused, says so, and the balloon names
// the combination; the window stays open for another choice.
TEST_F(Hotkeys, ACombinationHeldElsewhereIsRefusedWithItsRowAndABalloon) {
    constexpr int ELSEWHERE_ID = 7;
    ASSERT_TRUE(RegisterHotKey(nullptr, ELSEWHERE_ID, MOD_CONTROL | MOD_ALT, VK_F7));
    OpenDialog();
    Pump();
    Choose(dialog, {{HOTKEY_MUTE, CTRL_ALT | VK_F7}, {HOTKEY_BYPASS, CTRL_ALT | VK_F8}});
    HWND window = HotkeyWindow();
    ASSERT_NE(window, nullptr) << "kept open";
    wchar_t mute[32] = L"", bypass[32] = L"";
    GetDlgItemTextW(window, IDC_HOTKEY_STATE_FIRST + HOTKEY_MUTE, mute, 32);
    GetDlgItemTextW(window, IDC_HOTKEY_STATE_FIRST + HOTKEY_BYPASS, bypass, 32);
    EXPECT_EQ((std::make_tuple(std::wstring(mute), std::wstring(bypass), HotkeyRefused(HOTKEY_MUTE),
                               HotkeyRefused(HOTKEY_BYPASS))),
              (std::make_tuple(std::wstring(L"ほかで使用中"), std::wstring(), true, false)));
    EXPECT_EQ(
        VisibleBalloon().first,
        L"次のホットキーはほかのプログラムが使っているため登録できませんでした。\nCtrl+Alt+F7");
    SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
    UnregisterHotKey(nullptr, ELSEWHERE_ID);
    Choose(dialog, {{HOTKEY_MUTE, 0}, {HOTKEY_BYPASS, 0}});
}

} // namespace
