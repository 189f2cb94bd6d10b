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

const std::wstring SLOT =
    L"WaveInCapsName=Monitor of TestMic\r\nWaveOutCapsName=TestSpeaker\r\nBufferSize=20\r\n";
const std::wstring TWO_SLOTS =
    L"[Settings00]\r\n" + SLOT + L"[Settings01]\r\n" + SLOT + L"AutoRestart=1\r\n";

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
        const bool reached = PumpUntil([&] { return running == wanted; }, limitMs);
        return reached ? static_cast<int>(GetTickCount() - start) : -1;
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
    EXPECT_EQ(Until(1, 600), -1) << "the first test comes a second later, not at once";
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
        EXPECT_EQ(Until(1, 1200), -1) << "still missing: nothing starts";
        unplugged.clear();
        EXPECT_GE(Until(1, 1500), 0) << device << " back: started again";
    }
    Command(ID_STOP); // the user's stop ends auto-connect
    EXPECT_EQ(On(), std::make_tuple(false, false, true)) << "the lists locked until the teardown";
    EXPECT_GE(Until(0, 1000), 0);
    EXPECT_FALSE(ListsLocked());
    EXPECT_EQ(Until(1, 1300), -1) << "the watcher is off";
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
    EXPECT_EQ(Until(1, 1300), -1) << "nothing starts it again";
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
    // The slot's names and, the lists refreshed, what they select: absent, a prefix, another case.
    const std::pair<Strings, Strings> awaited[] = {
        {{L"Gone Microphone", L"TestSpeaker"}, {L"", L"TestSpeaker"}},
        {{L"Monitor of TestMic", L"Test"}, {L"Monitor of TestMic", L""}},
        {{L"Monitor of TestMic", L"testspeaker"}, {L"Monitor of TestMic", L""}}};
    const auto saved = [&](const wchar_t* key) {
        wchar_t name[DEVICE_NAME_UNITS] = L"";
        GetPrivateProfileStringW(L"Settings02", key, L"", name, DEVICE_NAME_UNITS,
                                 settingsFile.c_str());
        return std::wstring(name);
    };
    for (const auto& [names, selected] : awaited) {
        WriteSettings(TWO_SLOTS + L"[Settings02]\r\nAutoRestart=1\r\nWaveInCapsName=" + names[0] +
                      L"\r\nWaveOutCapsName=" + names[1] + L"\r\n");
        OpenDialog(); // slot 0's devices present and selected, the capture list focused
        SelectSlot(2);
        EXPECT_EQ(std::make_pair(Strings{SelectedText(IDC_WAVEIN), SelectedText(IDC_WAVEOUT),
                                         currentSlot->WaveInCapsName, currentSlot->WaveOutCapsName},
                                 ListsLocked()),
                  std::make_pair(Strings{names[0], names[1], names[0], names[1]}, true));
        EXPECT_EQ(Until(1, 1300), -1) << "the watcher waits for the slot's own devices";
        CloseDialog();
        EXPECT_EQ((Strings{saved(L"WaveInCapsName"), saved(L"WaveOutCapsName")}), names);
        // Auto-connect off, the lists refreshed: an awaited name selects no other device.
        OpenDialog(2);
        SendMessageW(Item(IDC_AUTO_CONNECT), BM_CLICK, 0, 0);
        Command(IDC_WAVEIN, CBN_DROPDOWN);
        Command(IDC_WAVEOUT, CBN_DROPDOWN);
        EXPECT_EQ((Strings{SelectedText(IDC_WAVEIN), SelectedText(IDC_WAVEOUT)}), selected);
        CloseDialog();
    }
}

} // namespace
