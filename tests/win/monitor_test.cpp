// The monitor window in-process: its lines while a stream runs through an effect that takes
// half of each block, nothing drawn while it is hidden, and its place kept in [Kawauso04]
// once it was opened (and not before). The levels of a real tone are the end-to-end suite's.
#include <windows.h>

#include <cwchar>
#include <string>

#include "app/monitor_window.h"
#include "app/plugin_commands.h"
#include "audio/stream.h"
#include "res/resource.h"
#include "tests/win/win_fixture.h"

namespace {

using Monitor = WinTest;

std::wstring Line(HWND window, int id) {
    wchar_t text[512] = L"";
    GetDlgItemTextW(window, id, text, 512);
    return text;
}

TEST_F(Monitor, ItShowsTheStreamAndEachEffectsShareAndKeepsItsPlaceOnceOpened) {
    OpenDialog();
    ASSERT_TRUE(StartTestStream(L"20"));
    ChooseVariant("half_blocks");
    LoadPluginCommand(dialog);
    const auto kept = [&](const wchar_t* key) {
        wchar_t text[16] = L"";
        GetPrivateProfileStringW(L"Kawauso04", key, L"none", text, 16, settingsFile.c_str());
        return std::wstring(text);
    };
    EXPECT_EQ(kept(L"MonitorPosX"), L"none") << "never opened";
    SendMessageW(dialog, WM_SYSCOMMAND, ID_MONITOR, 0);
    HWND monitor = MonitorWindow();
    ASSERT_NE(monitor, nullptr);
    // Wine's capture may take seconds to deliver on a loaded machine: that is the stream's, not
    // the monitor's, so the second of blocks for the effect's figures is counted from there.
    ASSERT_TRUE(PumpUntil(StreamDelivering, 10000));
    Pump(1500);
    EXPECT_EQ(Line(monitor, IDC_MON_INPUT_L).rfind(L"入力 左: ピーク ", 0), 0u)
        << Line(monitor, IDC_MON_INPUT_L);
    EXPECT_EQ(Line(monitor, IDC_MON_OUTPUT_R).rfind(L"出力 右: ピーク ", 0), 0u);
    double delay = 0;
    EXPECT_EQ(
        std::swscanf(Line(monitor, IDC_MON_DELAY).c_str(), L"このプログラムの遅延: %lf ms", &delay),
        1)
        << Line(monitor, IDC_MON_DELAY);
    EXPECT_GE(delay, 20.0) << "a block at least";
    double average = 0, worst = 0;
    EXPECT_EQ(std::swscanf(Line(monitor, IDC_MON_EFFECTS).c_str(),
                           L"1. half_blocks.dll: 平均 %lf %% / 最大 %lf %%", &average, &worst),
              2)
        << Line(monitor, IDC_MON_EFFECTS);
    // Half of each block asleep: about half, more when a loaded machine wakes it late (the
    // renderer's statistics, blocks back to back, read 45-60 % of the same effect).
    EXPECT_TRUE(average >= 45 && average <= 90 && worst >= average) << average << " " << worst;

    ShowWindow(monitor, SW_HIDE);
    Pump(100);
    SetDlgItemTextW(monitor, IDC_MON_DELAY, L"");
    Pump(300);
    EXPECT_EQ(Line(monitor, IDC_MON_DELAY), L"") << "nothing drawn while hidden";
    ShowWindow(monitor, SW_SHOWNOACTIVATE);
    EXPECT_TRUE(PumpUntil([&] { return !Line(monitor, IDC_MON_DELAY).empty(); }, 1000));

    SetWindowPos(monitor, nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SendMessageW(monitor, WM_EXITSIZEMOVE, 0, 0);
    EXPECT_EQ(kept(L"MonitorPosX") + L"," + kept(L"MonitorPosY"), L"123,77");
    SendMessageW(monitor, WM_CLOSE, 0, 0);
    EXPECT_EQ(MonitorWindow(), nullptr);
    SendMessageW(dialog, WM_SYSCOMMAND, ID_MONITOR, 0);
    RECT at = {};
    GetWindowRect(MonitorWindow(), &at);
    EXPECT_EQ(std::make_pair(at.left, at.top), std::make_pair(123L, 77L)) << "where it was left";
    SendMessageW(MonitorWindow(), WM_CLOSE, 0, 0);
    UnloadPluginCommand(dialog);
}

} // namespace
