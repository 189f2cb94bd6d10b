// The main window in-process: start-up from the settings file, the controls, slots, the
// About box and the notification area.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "app/app_state.h"
#include "app/live_switches.h"
#include "app/main_dialog.h"
#include "app/run_at_logon.h"
#include "audio/block_processing.h"
#include "audio/device_names.h"
#include "audio/mute_ramp.h"
#include "audio/engine_state.h"
#include "app/plugin_commands.h"
#include "res/resource.h"
#include "settings/command_line.h"
#include "settings/settings_store.h"
#include "tests/win/win_fixture.h"

namespace {

using MainWindow = WinTest;
constexpr int DETAIL_ROW[] = {IDC_BUFFER_LABEL, IDC_BUFFER_MS, IDC_VST_LOAD, IDC_VST_EDIT,
                              ID_ABOUT};
constexpr int DETAIL_ROW_PIXELS = 22;

TEST_F(MainWindow, FirstStartShowsTheDefaultsAndASavedSlotIsApplied) {
    OpenDialog();
    EXPECT_EQ(Texts({IDC_BUFFER_MS, IDC_VOLUME_VALUE, IDC_PITCH_VALUE, IDC_DETAIL_TOGGLE,
                     IDC_VST_LOAD, IDC_SLOT}),
              (Strings{L"50", L"1.00", L"+0", L"▲", L"VST読込(&R)", L"0"}));
    EXPECT_EQ(SendMessageW(Item(IDC_SLOT), CB_GETCOUNT, 0, 0), 8);
    EXPECT_EQ((Flags{Checked(IDC_AUTO_CONNECT), Enabled(IDC_WAVEIN), Enabled(ID_START),
                     Enabled(ID_STOP), Enabled(IDC_VST_EDIT)}),
              (Flags{false, true, true, false, false}));
    EXPECT_EQ(std::make_tuple(Selected(IDC_WAVEIN), Selected(IDC_WAVEOUT), gain, pitchRatio),
              std::make_tuple(0, 0, 1.0, 1.0));
    EXPECT_LT(FindItem(IDC_WAVEIN, L"TestSpeaker"), 0) << "capture devices only";
    const SIZE full = WindowSize();
    CloseDialog();

    WriteSettings(
        L"[Settings02]\r\nWaveInCapsName=Monitor of Test\r\nWaveOutCapsName=WASAPI: TestSpeaker\r\n"
        L"Volume=500\r\nFreqRatio=-200\r\nAutoRestart=1\r\nShowDetail=0\r\nBufferSize=20\r\n"
        L"DlgPosX=40\r\nDlgPosY=30\r\n"
        L"[Settings03]\r\nWaveInCapsName=Gone Microphone\r\nDlgPosX=-30000\r\nDlgPosY=-30000\r\n");
    OpenDialog(2); // auto-connect's own start-up is the auto-connect tests'
    Pump(100);     // the posted detail toggle
    EXPECT_EQ(Selected(IDC_WAVEIN), SendMessageW(Item(IDC_WAVEIN), CB_GETCOUNT, 0, 0) - 1)
        << "awaited: listed last, not taken for the device whose name begins with it";
    EXPECT_EQ((Strings{SelectedText(IDC_WAVEIN), SelectedText(IDC_WAVEOUT), Text(IDC_VOLUME_VALUE),
                       Text(IDC_PITCH_VALUE), Text(IDC_BUFFER_MS), Text(IDC_DETAIL_TOGGLE)}),
              (Strings{L"Monitor of Test", L"WASAPI: TestSpeaker", L"0.10", L"+200", L"20", L"▼"}));
    EXPECT_EQ(SendMessageW(Item(IDC_VOLUME), TBM_GETPOS, 0, 0), 100) << "500 held at the end";
    EXPECT_NEAR(gain, 0.1, 1e-9);
    EXPECT_NEAR(pitchRatio, 2.0, 1e-9);
    EXPECT_EQ(WindowSize().cy, full.cy - DETAIL_ROW_PIXELS);
    RECT r;
    GetWindowRect(dialog, &r);
    EXPECT_EQ(std::make_pair(r.left, r.top), std::make_pair(40L, 30L));
    CloseDialog();

    OpenDialog(3); // without auto-connect an absent device is not listed
    EXPECT_LT(FindItem(IDC_WAVEIN, L"Gone Microphone"), 0);
    GetWindowRect(dialog, &r);
    EXPECT_GE(std::min(r.left, r.top), 0)
        << "a place off every monitor is pulled back: " << r.left << ", " << r.top;
}

// The WASAPI endpoints follow every WinMM device, under names of their own (a slot names one as
// it names any other device: the first start's test).
TEST_F(MainWindow, TheEndpointsFollowTheWinMMDevicesUnderNamesOfTheirOwn) {
    OpenDialog();
    for (auto list : {std::make_pair(IDC_WAVEIN, L"Monitor of TestMic"),
                      std::make_pair(IDC_WAVEOUT, L"TestSpeaker")}) {
        const int count = int(SendMessageW(Item(list.first), CB_GETCOUNT, 0, 0));
        int endpoints = 0;
        for (int i = 0; i < count; ++i) {
            wchar_t item[DEVICE_NAME_UNITS] = L"";
            SendMessageW(Item(list.first), CB_GETLBTEXT, WPARAM(i), LPARAM(item));
            endpoints += IsWasapiName(item);
            EXPECT_TRUE(IsWasapiName(item) || endpoints == 0)
                << "a WinMM device after an endpoint: " << std::wstring(item);
        }
        const std::wstring endpoint = std::wstring(L"WASAPI: ") + list.second;
        EXPECT_GE(FindItem(list.first, list.second), 0);
        EXPECT_GE(FindItem(list.first, endpoint.c_str()), count - endpoints) << list.second;
    }
}

TEST_F(MainWindow, ButtonsLabelsAndSlidersSetTheStage) {
    OpenDialog();
    constexpr double UP37 = 1.136816973; // 2^(37/200): 37 of the 200 positions to an octave up
    struct Step {
        int id;
        WORD code;
        int volume, pitch;
        const wchar_t *volumeLabel, *pitchLabel;
        double gain, ratio;
    } steps[] = {{IDC_HI, BN_CLICKED, 0, -200, L"1.00", L"+200", 1, 2},
                 {IDC_LO, BN_CLICKED, 0, 200, L"1.00", L"-200", 1, 0.5},
                 {IDC_PITCH_LABEL, STN_CLICKED, 0, 0, L"1.00", L"+0", 1, 1},
                 {IDC_PITCH, 0, 0, -37, L"1.00", L"+37", 1, UP37},
                 {IDC_VOLUME, 0, -100, -37, L"10.00", L"+37", 10, UP37},
                 {IDC_VOLUME, 0, 100, -37, L"0.10", L"+37", 0.1, UP37},
                 {IDC_VOLUME, 0, -50, -37, L"3.16", L"+37", 3.16227766, UP37}, // 10^(1/2)
                 {IDC_VOLUME_LABEL, STN_CLICKED, 0, -37, L"1.00", L"+37", 1, UP37}};
    for (const Step& s : steps) {
        if (s.id == IDC_PITCH || s.id == IDC_VOLUME) {
            MoveTrackbar(s.id, s.id == IDC_PITCH ? s.pitch : s.volume);
        } else {
            Command(s.id, s.code);
            Pump(); // resets post their recomputation
        }
        EXPECT_EQ(Texts({IDC_VOLUME_VALUE, IDC_PITCH_VALUE}),
                  (Strings{s.volumeLabel, s.pitchLabel}))
            << s.id;
        EXPECT_NEAR(gain, s.gain, 1e-8) << s.id;
        EXPECT_NEAR(pitchRatio, s.ratio, 1e-9) << s.id;
    }
    // The clip indicator: red for 700 ms after a clip, never while stopping; others untouched.
    EXPECT_EQ(ClipColour(), RGB(0, 0, 0));
    for (auto c :
         {std::make_tuple(0u, 0, RGB(200, 0, 0)), {800u, 0, RGB(0, 0, 0)}, {0u, 1, RGB(0, 0, 0)}}) {
        lastClipTick.store(GetTickCount() - std::get<0>(c));
        stopping.store(std::get<1>(c));
        EXPECT_EQ(ClipColour(), std::get<2>(c)) << std::get<0>(c) << " ms ago";
    }
    stopping.store(0);
    HDC dc = GetDC(dialog);
    EXPECT_EQ(MainDialogProc(dialog, WM_CTLCOLORSTATIC, WPARAM(dc), LPARAM(Item(IDC_PITCH_LABEL))),
              FALSE);
    ReleaseDC(dialog, dc);

    const SIZE before = WindowSize();
    for (bool shown : {false, true}) {
        Command(IDC_DETAIL_TOGGLE);
        EXPECT_EQ(
            std::make_tuple(WindowSize().cy, currentSlot->ShowDetail, Text(IDC_DETAIL_TOGGLE)),
            std::make_tuple(before.cy - (shown ? 0 : DETAIL_ROW_PIXELS), shown,
                            std::wstring(shown ? L"▲" : L"▼")));
        for (int id : DETAIL_ROW) {
            EXPECT_EQ(IsWindowVisible(Item(id)) != FALSE, shown) << id;
        }
    }
    EXPECT_FALSE(Enabled(IDC_VST_EDIT)) << "showing the row does not enable it";
}

// At the close only the slot shown is written, in place: every other byte of the file stays
// (the other slots, an unknown key, a Japanese plug-in path).
TEST_F(MainWindow, ASlotChangeKeepsTheLeftSlotInMemoryAChangeIsSavedSoonAndClosingSavesThePlace) {
    const auto file = [](const wchar_t* volume, const wchar_t* x, const wchar_t* y) {
        return std::wstring(
                   L"[Settings00]\r\nBufferSize=20\r\nVolume=-20\r\n[Settings03]\r\n"
                   L"BufferSize=77\r\nWaveInCapsName=Monitor of TestSpeaker\r\n"
                   L"WaveOutCapsName=TestMic\r\nVstPath=C:\\プラグイン\\effect.dll\r\nVolume=") +
               volume + L"\r\nFreqRatio=100\r\nAutoRestart=0\r\nShowDetail=0\r\nDlgPosX=" + x +
               L"\r\nDlgPosY=" + y +
               L"\r\nExtra=kept\r\n[Settings05]\r\nBufferSize=70\r\nVolume=12\r\n";
    };
    WriteSettings(file(L"-50", L"100", L"80"));
    OpenDialog();
    SendMessageW(Item(IDC_VOLUME), TBM_SETPOS, TRUE, 30);
    SetDlgItemTextW(dialog, IDC_BUFFER_MS, L"123");
    SelectSlot(3);
    Pump(100);
    EXPECT_EQ(std::make_tuple(currentSlotIndex, slots[0].Volume, std::wstring(slots[0].BufferSize)),
              std::make_tuple(3, 30, std::wstring(L"123")));
    EXPECT_EQ(Texts({IDC_BUFFER_MS, IDC_VOLUME_VALUE, IDC_PITCH_VALUE, IDC_DETAIL_TOGGLE}),
              (Strings{L"77", L"3.16", L"-100", L"▼"}));
    const std::string before = ReadBytes(settingsFile);
    Pump(3500);
    EXPECT_EQ(ReadBytes(settingsFile), before) << "the slot shown, not changed: nothing written";
    MoveTrackbar(IDC_VOLUME, 40);
    for (const DWORD t = GetTickCount();
         ReadBytes(settingsFile) == before && GetTickCount() - t < 4000;) {
        Pump(100);
    }
    EXPECT_NE(ReadSettings().find(L"Volume=40\r\n"), std::wstring::npos) << "saved 2 to 3 s later";
    SendMessageW(Item(IDC_SLOT), CB_SETCURSEL, WPARAM(-1), 0);
    Command(IDC_SLOT, CBN_SELCHANGE);
    EXPECT_EQ(currentSlotIndex, 3) << "no selection: nothing happens";
    MoveWindow(dialog, 120, 90, WindowSize().cx, WindowSize().cy, TRUE);
    CloseDialog();
    EXPECT_EQ(ReadSettings(), file(L"40", L"120", L"90"));
}

// Every text of the About box fitting its control: the language tests, in both languages.
TEST_F(MainWindow, AboutIsModalOverTheMainWindowAndShowsTheVersion) {
    OpenDialog();
    bool mainEnabled = true;
    const Box box = AnswerBoxes(
        dialog, [](HWND b) { PostMessageW(b, WM_KEYDOWN, VK_RETURN, 0); },
        [&] { EXPECT_EQ(Command(ID_ABOUT), TRUE); }, 0,
        [&](HWND) { mainEnabled = IsWindowEnabled(dialog) != FALSE; });
    EXPECT_EQ(std::make_tuple(box.seen, box.title, box.owner),
              std::make_tuple(1, L"About", dialog));
    EXPECT_FALSE(mainEnabled) << "the main window takes no input meanwhile";
    EXPECT_TRUE(IsWindowEnabled(dialog));
    const std::string version = ShownVersion();
    ASSERT_FALSE(version.empty());
    for (const std::wstring& text :
         {std::wstring(L"Kawauso04"), std::wstring(version.begin(), version.end()),
          std::wstring(L"VST PlugIn Technology by Steinberg")}) {
        EXPECT_NE(std::find(box.texts.begin(), box.texts.end(), text), box.texts.end()) << text;
    }
}

// The tray menu: the slots (the current one checked), Start and Stop, Mute and Bypass, and EXIT
// last with its own identifier; each switch as the title and the tray's tip show it.
TEST_F(MainWindow, TheTrayMenuSwitchesSlotsMuteAndBypassAndItsExitStaysLast) {
    OpenDialog();
    Command(ID_SLOT_FIRST + 2);
    PrepareTrayMenu();
    std::vector<UINT> ids;
    for (int i = 0; i < GetMenuItemCount(trayPopup); ++i) {
        ids.push_back(GetMenuItemID(trayPopup, i));
    }
    const UINT s = ID_SLOT_FIRST;
    EXPECT_EQ(ids, (std::vector<UINT>{s, s + 1, s + 2, s + 3, s + 4, s + 5, s + 6, s + 7, 0,
                                      ID_START, ID_STOP, 0, ID_MUTE, ID_BYPASS, 0, ID_EXIT}));
    EXPECT_EQ((std::make_tuple(currentSlotIndex, Text(IDC_SLOT),
                               GetMenuState(trayPopup, s + 2, MF_BYCOMMAND) & MF_CHECKED)),
              (std::make_tuple(2, std::wstring(L"2"), UINT(MF_CHECKED))));
    const auto shown = [&] {
        wchar_t title[64] = L"";
        GetWindowTextW(dialog, title, 64);
        PrepareTrayMenu();
        return std::make_tuple(std::wstring(title), std::wstring(trayIconData.szTip), OutputMuted(),
                               EffectsBypassed(),
                               GetMenuState(trayPopup, ID_MUTE, MF_BYCOMMAND) & MF_CHECKED,
                               GetMenuState(trayPopup, ID_BYPASS, MF_BYCOMMAND) & MF_CHECKED);
    };
    const std::wstring both = L"Kawauso04 (ミュート中, エフェクトをバイパス中)";
    Command(ID_MUTE);
    EXPECT_EQ(shown(), std::make_tuple(std::wstring(L"Kawauso04 (ミュート中)"),
                                       std::wstring(L"Kawauso04 (ミュート中)"), true, false,
                                       UINT(MF_CHECKED), 0u));
    Command(ID_BYPASS);
    EXPECT_EQ(shown(), std::make_tuple(both, both, true, true, UINT(MF_CHECKED), UINT(MF_CHECKED)));
    Command(ID_MUTE);
    Command(ID_BYPASS);
    EXPECT_EQ(shown(), std::make_tuple(std::wstring(L"Kawauso04"), std::wstring(L"Kawauso04"),
                                       false, false, 0u, 0u));
}

// "Start with Windows": the current user's Run entry starts this exe in the tray on the slot
// current when checked; the check says whether the entry starts this exe (another's shows it
// unchecked, and checking takes the entry over); unchecking removes it.
TEST_F(MainWindow, StartWithWindowsWritesTheRunEntryForThisExeAndTakesItOut) {
    constexpr wchar_t RUN_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const auto entry = [&] {
        wchar_t command[1024] = L"";
        DWORD bytes = sizeof command;
        const bool there = RegGetValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_ENTRY_NAME, RRF_RT_REG_SZ,
                                        nullptr, command, &bytes) == ERROR_SUCCESS;
        return there ? std::wstring(command) : std::wstring(L"none");
    };
    const auto checked = [&] {
        return (GetMenuState(GetSystemMenu(dialog, FALSE), ID_RUN_AT_LOGON, MF_BYCOMMAND) &
                MF_CHECKED) != 0;
    };
    const std::wstring elsewhere = L"\"C:\\Moved\\Kawauso04.exe\" -t -p0";
    RegSetKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_ENTRY_NAME, REG_SZ, elsewhere.c_str(),
                    DWORD((elsewhere.size() + 1) * sizeof(wchar_t)));
    OpenDialog(3);
    EXPECT_FALSE(checked()) << "another copy's entry";
    SendMessageW(dialog, WM_SYSCOMMAND, ID_RUN_AT_LOGON, 0);
    wchar_t exe[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    EXPECT_EQ(std::make_tuple(entry(), checked()),
              std::make_tuple(L"\"" + std::wstring(exe) + L"\" -t -p3", true));
    CloseDialog();
    OpenDialog(3);
    EXPECT_TRUE(checked()) << "read back at the next start";
    SendMessageW(dialog, WM_SYSCOMMAND, ID_RUN_AT_LOGON, 0);
    EXPECT_EQ(std::make_tuple(entry(), checked()), std::make_tuple(std::wstring(L"none"), false));
}

TEST_F(MainWindow, MinimiseHidesBothWindowsIntoTheTrayAndALeftClickRestoresThem) {
    OpenDialog();
    ChooseVariant("editor");
    LoadPluginCommand(dialog);
    HWND editor = FindWindowW(nullptr, L"Kawauso++");
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(MainDialogProc(dialog, WM_SYSCOMMAND, SC_RESTORE, 0), 0) << "left to the system";
    SendMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    Pump();
    // In the tray, the editor kept; the shell's icon is the end-to-end suite's.
    EXPECT_EQ((Flags{startInTray, IsWindow(editor) != FALSE, IsWindowVisible(dialog) != FALSE,
                     IsIconic(dialog) != FALSE, IsWindowVisible(editor) != FALSE}),
              (Flags{true, true, false, false, false}));

    // In the tray no position change may show the window.
    WINDOWPOS change = {dialog, nullptr, 12, 34, 0, 0, SWP_SHOWWINDOW | SWP_NOZORDER | SWP_NOSIZE};
    MainDialogProc(dialog, WM_WINDOWPOSCHANGING, 0, LPARAM(&change));
    EXPECT_EQ(change.flags, UINT(SWP_NOZORDER | SWP_NOSIZE));
    ShowWindow(dialog, SW_SHOWNORMAL);
    EXPECT_FALSE(IsWindowVisible(dialog));

    // Only the release of the left button over our own icon restores.
    for (LPARAM mouse : {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_MOUSEMOVE, WM_RBUTTONDOWN}) {
        EXPECT_EQ(MainDialogProc(dialog, WM_TRAYNOTIFY, TRAY_ICON_ID, mouse), 0) << mouse;
    }
    EXPECT_EQ(MainDialogProc(dialog, WM_TRAYNOTIFY, TRAY_ICON_ID + 1, WM_LBUTTONUP), 0);
    EXPECT_EQ(MainDialogProc(dialog, WM_TRAYNOTIFY, TRAY_ICON_ID, WM_LBUTTONUP), 1);
    Pump();
    EXPECT_EQ((Flags{startInTray, IsIconic(dialog) != FALSE, IsWindowVisible(dialog) != FALSE,
                     IsWindowVisible(editor) != FALSE, pluginActive.load() == 1}),
              (Flags{false, false, true, true, true}));
}

} // namespace
