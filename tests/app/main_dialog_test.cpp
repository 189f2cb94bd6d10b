// The main dialog driven in-process: start-up, sliders, resets, detail row, slots, the clip
// indicator and the close that saves.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app/main_dialog.h"
#include "audio/engine_state.h"
#include "audio/slider_tables.h"
#include "res/resource.h"
#include "settings/settings_store.h"
#include "tests/app/audio_probe.h"
#include "tests/app/dialog_harness.h"

namespace {

using StartUp = MainDialogTest;
using Controls = MainDialogTest;
using Slots = MainDialogTest;
using Closing = MainDialogTest;

int TrackbarPos(HWND trackbar) { return static_cast<int>(SendMessageW(trackbar, TBM_GETPOS, 0, 0)); }

TEST_F(StartUp, WithoutASettingsFileShowsTheDefaults) {
    OpenDialog();
    EXPECT_EQ(Text(IDC_BUFFER_MS), L"50");
    EXPECT_EQ(Text(IDC_VOLUME_VALUE), L"1.00");
    EXPECT_EQ(Text(IDC_PITCH_VALUE), L"+0");
    EXPECT_EQ(Text(IDC_DETAIL_TOGGLE), L"▲");
    EXPECT_EQ(Text(IDC_VST_LOAD), L"VST読込(&R)");
    EXPECT_EQ(SelectedText(IDC_SLOT), L"0");
    EXPECT_EQ(SendMessageW(Item(IDC_AUTO_CONNECT), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_TRUE(Enabled(IDC_WAVEIN));
    EXPECT_TRUE(Enabled(ID_START));
    EXPECT_FALSE(Enabled(ID_STOP));
    EXPECT_FALSE(Enabled(IDC_VST_EDIT));
    EXPECT_EQ(SelectedIndex(IDC_WAVEIN), 0);
    EXPECT_EQ(SelectedIndex(IDC_WAVEOUT), 0);
    EXPECT_EQ(gain, 1.0);
    EXPECT_EQ(pitchRatio, 1.0);
    SIZE size = WindowSize(), expected = TemplateSize();
    EXPECT_EQ(size.cx, expected.cx);
    EXPECT_EQ(size.cy, expected.cy);
    wchar_t title[64];
    GetWindowTextW(dialog, title, 64);
    EXPECT_STREQ(title, L"Kawauso04");
}

TEST_F(StartUp, FromASavedSlotWithAnAbsentDeviceAndOutOfRangeValues) {
    WriteSettings(L"[Settings02]\r\nWaveInCapsName=Gone Microphone\r\nWaveOutCapsName=TestSpeaker\r\n"
                  L"Volume=500\r\nFreqRatio=-200\r\nAutoRestart=1\r\nShowDetail=0\r\nBufferSize=20\r\n");
    OpenDialog(2);
    Pump(100);  // the posted detail toggle
    HWND in = Item(IDC_WAVEIN);
    const int count = static_cast<int>(SendMessageW(in, CB_GETCOUNT, 0, 0));
    EXPECT_EQ(SelectedIndex(IDC_WAVEIN), count - 1) << "the awaited device is listed last";
    EXPECT_EQ(SelectedText(IDC_WAVEIN), L"Gone Microphone");
    EXPECT_EQ(SelectedText(IDC_WAVEOUT), L"TestSpeaker");
    EXPECT_FALSE(Enabled(IDC_WAVEIN));
    EXPECT_FALSE(Enabled(IDC_WAVEOUT));
    EXPECT_EQ(SendMessageW(Item(IDC_AUTO_CONNECT), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(TrackbarPos(Item(IDC_VOLUME)), 100);
    EXPECT_EQ(Text(IDC_VOLUME_VALUE), L"0.10");
    EXPECT_EQ(gain, GainForVolumePosition(100));
    EXPECT_EQ(Text(IDC_PITCH_VALUE), L"+200");
    EXPECT_EQ(pitchRatio, PitchRatioForPosition(-200));
    EXPECT_EQ(Text(IDC_BUFFER_MS), L"20");
    EXPECT_EQ(Text(IDC_DETAIL_TOGGLE), L"▼");
    EXPECT_FALSE(Visible(IDC_BUFFER_MS));
    EXPECT_EQ(WindowSize().cy, TemplateSize().cy - 22);
    EXPECT_EQ(running, 0) << "nothing starts during initialisation";
}

TEST_F(StartUp, AnAbsentDeviceIsNotListedWithoutAutoConnect) {
    WriteSettings(L"[Settings00]\r\nWaveInCapsName=Gone Microphone\r\n");
    OpenDialog();
    EXPECT_EQ(FindComboItem(Item(IDC_WAVEIN), L"Gone Microphone"), -1);
    EXPECT_EQ(SelectedIndex(IDC_WAVEIN), 0);
    EXPECT_TRUE(Enabled(IDC_WAVEIN));
}

TEST_F(StartUp, ASavedPositionOffEveryMonitorKeepsTheWindowReachable) {
    WriteSettings(L"[Settings00]\r\nDlgPosX=-30000\r\nDlgPosY=-30000\r\n");
    OpenDialog();
    RECT r;
    GetWindowRect(dialog, &r);
    EXPECT_GE(r.left, 0);
    EXPECT_GE(r.top, 0);

    CloseDialog();
    WriteSettings(L"[Settings00]\r\nDlgPosX=40\r\nDlgPosY=30\r\n");
    OpenDialog();
    GetWindowRect(dialog, &r);
    EXPECT_EQ(r.left, 40);
    EXPECT_EQ(r.top, 30);
}

TEST_F(Controls, ResetsAndHiLoMoveThePitchAndVolume) {
    OpenDialog();
    Command(IDC_HI);
    Pump();
    EXPECT_EQ(Text(IDC_PITCH_VALUE), L"+200");
    EXPECT_EQ(pitchRatio, PitchRatioForPosition(-200));
    Command(IDC_LO);
    Pump();
    EXPECT_EQ(Text(IDC_PITCH_VALUE), L"-200");
    EXPECT_EQ(pitchRatio, PitchRatioForPosition(200));
    Command(IDC_PITCH_LABEL, STN_CLICKED);
    Pump();
    EXPECT_EQ(Text(IDC_PITCH_VALUE), L"+0");
    EXPECT_EQ(pitchRatio, 1.0);

    SendMessageW(Item(IDC_VOLUME), TBM_SETPOS, TRUE, -100);
    SendMessageW(dialog, WM_VSCROLL, TB_THUMBPOSITION, reinterpret_cast<LPARAM>(Item(IDC_VOLUME)));
    EXPECT_EQ(Text(IDC_VOLUME_VALUE), L"10.00");
    EXPECT_EQ(gain, 10.0);
    Command(IDC_VOLUME_LABEL, STN_CLICKED);
    Pump();
    EXPECT_EQ(Text(IDC_VOLUME_VALUE), L"1.00");
    EXPECT_EQ(gain, 1.0);
}

TEST_F(Controls, DetailToggleTwiceRestoresTheWindow) {
    OpenDialog();
    const SIZE before = WindowSize();
    Command(IDC_DETAIL_TOGGLE);
    EXPECT_EQ(WindowSize().cy, before.cy - 22);
    EXPECT_EQ(Text(IDC_DETAIL_TOGGLE), L"▼");
    for (int id : {IDC_BUFFER_LABEL, IDC_BUFFER_MS, IDC_VST_LOAD, IDC_VST_EDIT, ID_ABOUT}) {
        EXPECT_FALSE(Visible(id)) << id;
    }
    EXPECT_FALSE(currentSlot->ShowDetail);
    Command(IDC_DETAIL_TOGGLE);
    EXPECT_EQ(WindowSize().cy, before.cy);
    EXPECT_EQ(Text(IDC_DETAIL_TOGGLE), L"▲");
    EXPECT_TRUE(Visible(IDC_VST_LOAD));
    EXPECT_FALSE(Enabled(IDC_VST_EDIT)) << "showing does not enable it";
}

TEST_F(Controls, ClipIndicatorIsRedFor700MsWhileRunning) {
    OpenDialog();
    HDC dc = GetDC(dialog);
    HWND label = Item(IDC_VOLUME_LABEL);
    auto colour = [&] {
        SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label));
        return GetTextColor(dc);
    };
    EXPECT_EQ(colour(), RGB(0, 0, 0)) << "black before the first clip";
    lastClipTick.store(GetTickCount());
    EXPECT_EQ(colour(), RGB(200, 0, 0));
    lastClipTick.store(GetTickCount() - 800);
    EXPECT_EQ(colour(), RGB(0, 0, 0));
    lastClipTick.store(GetTickCount());
    stopping.store(1);
    EXPECT_EQ(colour(), RGB(0, 0, 0)) << "black while stopping";
    stopping.store(0);
    // Every other static is left to the dialog manager.
    EXPECT_EQ(MainDialogProc(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                             reinterpret_cast<LPARAM>(Item(IDC_PITCH_LABEL))),
              FALSE);
    ReleaseDC(dialog, dc);
}

TEST_F(Slots, ChangingSlotKeepsTheLeftSlotInMemoryAndAppliesTheNewOne) {
    WriteSettings(L"[Settings03]\r\nVolume=-50\r\nFreqRatio=100\r\nBufferSize=77\r\nShowDetail=0\r\n");
    OpenDialog();
    SendMessageW(Item(IDC_VOLUME), TBM_SETPOS, TRUE, 30);
    SetDlgItemTextW(dialog, IDC_BUFFER_MS, L"123");
    SelectSlot(3);
    Pump(100);
    EXPECT_EQ(currentSlotIndex, 3);
    EXPECT_EQ(slots[0].Volume, 30);
    EXPECT_STREQ(slots[0].BufferSize, L"123");
    EXPECT_EQ(Text(IDC_BUFFER_MS), L"77");
    EXPECT_EQ(Text(IDC_VOLUME_VALUE), L"3.16");
    EXPECT_EQ(Text(IDC_PITCH_VALUE), L"-100");
    EXPECT_EQ(Text(IDC_DETAIL_TOGGLE), L"▼") << "the new slot hides the row";
    EXPECT_FALSE(slots[3].ShowDetail);

    SendMessageW(Item(IDC_SLOT), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    Command(IDC_SLOT, CBN_SELCHANGE);  // no selection: nothing happens
    EXPECT_EQ(currentSlotIndex, 3);
}

TEST_F(Closing, WritesOnlyTheCurrentSlotWithTheWindowPosition) {
    WriteSettings(L"[Settings00]\r\nVolume=5\r\n[Settings01]\r\nVolume=7\r\nExtra=kept\r\n");
    OpenDialog();
    SendMessageW(Item(IDC_VOLUME), TBM_SETPOS, TRUE, 44);
    SelectSlot(1);
    SendMessageW(Item(IDC_PITCH), TBM_SETPOS, TRUE, -33);
    MoveWindow(dialog, 120, 90, WindowSize().cx, WindowSize().cy, TRUE);
    CloseDialog();
    const std::wstring file = ReadSettings();
    EXPECT_NE(file.find(L"[Settings00]\r\nVolume=5\r\n"), std::wstring::npos) << "slot 0 unsaved";
    EXPECT_NE(file.find(L"FreqRatio=-33"), std::wstring::npos);
    EXPECT_NE(file.find(L"DlgPosX=120"), std::wstring::npos);
    EXPECT_NE(file.find(L"DlgPosY=90"), std::wstring::npos);
    EXPECT_NE(file.find(L"Extra=kept"), std::wstring::npos);
}

}  // namespace
