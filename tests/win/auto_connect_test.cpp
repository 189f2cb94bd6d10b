// Device auto-connect on real devices. Wine lists the devices once per process, so the
// watcher's enumeration is wrapped to let one named device vanish and return; everything
// else, the stream included, stays real.
#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "app/auto_connect.h"
#include "app/device_list.h"
#include "audio/engine_state.h"
#include "audio/stream.h"
#include "audio/stream_state.h"
#include "res/resource.h"
#include "settings/settings_store.h"
#include "tests/win/win_fixture.h"

namespace {

std::wstring unplugged;
int listings = 0; // of either kind, since the start

std::vector<std::wstring> Unpluggable(DeviceKind kind) {
    ++listings;
    std::vector<std::wstring> names = ListStreamDevices(kind);
    names.erase(std::remove(names.begin(), names.end(), unplugged), names.end());
    return names;
}

const wchar_t TWO_SLOTS[] = L"[Settings00]\r\nWaveInCapsName=Monitor of "
                            L"TestMic\r\nWaveOutCapsName=TestSpeaker\r\nBufferSize=20\r\n"
                            L"[Settings01]\r\nWaveInCapsName=Monitor of "
                            L"TestMic\r\nWaveOutCapsName=TestSpeaker\r\nBufferSize=20\r\n"
                            L"AutoRestart=1\r\n";

class AutoConnect : public WinTest {
  protected:
    void SetUp() override {
        WinTest::SetUp();
        unplugged.clear();
        SetDeviceEnumeration(Unpluggable);
        WriteSettings(TWO_SLOTS);
    }
    void TearDown() override {
        WinTest::TearDown();
        SetDeviceEnumeration(nullptr);
    }
    // Milliseconds until running has the wanted value, or -1 after limitMs.
    int Until(int wanted, DWORD limitMs) {
        const DWORD start = GetTickCount();
        while (running != wanted && GetTickCount() - start < limitMs) {
            Pump(20);
        }
        return running == wanted ? static_cast<int>(GetTickCount() - start) : -1;
    }
    bool ListsLocked() const { return !Enabled(IDC_WAVEIN) && !Enabled(IDC_WAVEOUT); }
    // The check box, the slot's switch and the locked lists, as one value that prints whole.
    std::tuple<bool, bool, bool> On() const {
        return {Checked(IDC_AUTO_CONNECT), currentSlot->AutoRestart, ListsLocked()};
    }
};

TEST_F(AutoConnect, FollowsEitherDeviceAndStaysOnThroughItsOwnStopsButNotTheUsers) {
    OpenDialog();
    SendMessageW(Item(IDC_AUTO_CONNECT), BM_CLICK, 0, 0);
    EXPECT_EQ(On(), std::make_tuple(true, true, true));
    Pump(600);
    EXPECT_EQ(running, 0) << "the first test comes a second later, not at once";
    EXPECT_GE(Until(1, 1500), 0) << "both devices present: started";
    const int listed = listings;
    OnAutoConnectTick(dialog);
    EXPECT_EQ(listings - listed, 2) << "a tick lists each kind once, not once per device";
    for (const wchar_t* device : {L"TestSpeaker", L"Monitor of TestMic"}) {
        unplugged = device;
        const int stoppedAfter = Until(0, 2500);
        EXPECT_GE(stoppedAfter, 0) << device << " gone: stopped";
        EXPECT_LE(stoppedAfter, 1600) << "within a watcher tick (1 s) and the stop timer";
        EXPECT_EQ(On(), std::make_tuple(true, true, true))
            << "the watcher's own stop keeps auto-connect on";
        EXPECT_TRUE(Enabled(ID_START));
        Pump(1200);
        EXPECT_EQ(running, 0) << "still missing: nothing starts";
        unplugged.clear();
        EXPECT_GE(Until(1, 1500), 0) << device << " back: started again";
    }
    Command(ID_STOP); // the user's stop ends auto-connect
    EXPECT_EQ(On(), std::make_tuple(false, false, true)) << "the lists locked until the teardown";
    EXPECT_GE(Until(0, 1000), 0);
    EXPECT_FALSE(ListsLocked());
    Pump(1300);
    EXPECT_EQ(running, 0) << "the watcher is off";
}

TEST_F(AutoConnect, ASavedSlotStartsAfterStartUpAChangeWhileRunningStopsForGoodOneStoppedFollows) {
    OpenDialog(1);
    EXPECT_EQ(On(), std::make_tuple(true, true, true));
    EXPECT_EQ(running, 0) << "nothing starts during initialisation";
    EXPECT_GE(Until(1, 2500), 600) << "a slot saved with it on starts about a second later";
    SendMessageW(Item(IDC_AUTO_CONNECT), BM_CLICK, 0, 0);
    EXPECT_EQ(std::make_tuple(Checked(IDC_AUTO_CONNECT), currentSlot->AutoRestart),
              std::make_tuple(false, false));
    unplugged = L"Monitor of TestMic";
    Pump(1500);
    EXPECT_EQ(std::make_tuple(running, ListsLocked()), std::make_tuple(1, true))
        << "off: the watcher no longer stops it";
    unplugged.clear();

    // A change while running is the user's stop, even into a slot saved with it on: the new
    // slot's switch is cleared with the old one's, so nothing starts the stream again.
    slots[0].AutoRestart = true;
    SelectSlot(0);
    EXPECT_EQ(std::make_tuple(Checked(IDC_AUTO_CONNECT), slots[0].AutoRestart),
              std::make_tuple(false, false));
    EXPECT_GE(Until(0, 1000), 0);
    Pump(1300);
    EXPECT_EQ(running, 0) << "nothing starts it again";
    SelectSlot(1); // slot 1's flag was cleared above; set it again, then close and reopen
    SendMessageW(Item(IDC_AUTO_CONNECT), BM_CLICK, 0, 0);
    SelectSlot(0);
    SelectSlot(1);
    EXPECT_EQ(On(), std::make_tuple(true, true, true)) << "check box and watcher agree";
    EXPECT_GE(Until(1, 2500), 0) << "the new slot's watcher starts the stream";
    CloseDialog();
    EXPECT_NE(ReadSettings().find(L"AutoRestart=1"), std::wstring::npos)
        << "closing stops the stream without switching auto-connect off";
}

// The system's notice that devices changed: the running stream is opened again at once when
// one of its devices is missing, and left alone when both are there.
TEST_F(AutoConnect, ADeviceChangeTakingAStreamDeviceAwayStartsItsRecoveryAtOnce) {
    OpenDialog();
    ASSERT_TRUE(StartTestStream(L"20"));
    const uint32_t run = OpenRunSerial();
    SendMessageW(dialog, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    EXPECT_EQ(OpenRunSerial(), run) << "both there";
    unplugged = L"TestSpeaker";
    SendMessageW(dialog, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    unplugged.clear();
    EXPECT_NE(OpenRunSerial(), run) << "the speaker missing: reopened at once";
    EXPECT_TRUE(StopAndWait());
}

TEST_F(AutoConnect, ASlotChangeWhileStoppedAwaitsTheNewSlotsOwnNamesNeverTheOldSlotsDevices) {
    const std::pair<std::wstring, std::wstring> awaited[] = {
        // absent, a prefix, another case
        {L"Gone Microphone", L"TestSpeaker"},
        {L"Monitor of TestMic", L"Test"},
        {L"Monitor of TestMic", L"testspeaker"}};
    const auto saved = [&](const wchar_t* key) {
        wchar_t name[DEVICE_NAME_UNITS] = L"";
        GetPrivateProfileStringW(L"Settings02", key, L"", name, DEVICE_NAME_UNITS,
                                 settingsFile.c_str());
        return std::wstring(name);
    };
    for (const auto& names : awaited) {
        WriteSettings(std::wstring(TWO_SLOTS) +
                      L"[Settings02]\r\nAutoRestart=1\r\nWaveInCapsName=" + names.first +
                      L"\r\nWaveOutCapsName=" + names.second + L"\r\n");
        OpenDialog(); // slot 0's devices present and selected, the capture list focused
        SelectSlot(2);
        EXPECT_EQ(std::make_tuple(SelectedText(IDC_WAVEIN), SelectedText(IDC_WAVEOUT),
                                  std::wstring(currentSlot->WaveInCapsName),
                                  std::wstring(currentSlot->WaveOutCapsName), ListsLocked()),
                  std::make_tuple(names.first, names.second, names.first, names.second, true));
        Pump(1300);
        EXPECT_EQ(running, 0) << "the watcher waits for the slot's own devices";
        CloseDialog();
        EXPECT_EQ(std::make_pair(saved(L"WaveInCapsName"), saved(L"WaveOutCapsName")), names);
        // Auto-connect off, the lists refreshed: an awaited name selects no other device.
        OpenDialog(2);
        SendMessageW(Item(IDC_AUTO_CONNECT), BM_CLICK, 0, 0);
        Command(IDC_WAVEIN, CBN_DROPDOWN);
        Command(IDC_WAVEOUT, CBN_DROPDOWN);
        for (const auto& list :
             {std::make_pair(IDC_WAVEIN, names.first), std::make_pair(IDC_WAVEOUT, names.second)}) {
            const bool present =
                list.second == L"Monitor of TestMic" || list.second == L"TestSpeaker";
            EXPECT_EQ(SelectedText(list.first), present ? list.second : L"") << list.second;
        }
        CloseDialog();
    }
}

} // namespace
