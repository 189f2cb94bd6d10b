// Device auto-connect on real devices. Wine lists the devices once per process, so a device
// cannot really come and go here: the watcher's enumeration is wrapped so that one named
// device can vanish and return, while everything else, the stream included, stays real.
#include <windows.h>

#include <string>

#include "app/device_list.h"
#include "audio/engine_state.h"
#include "res/resource.h"
#include "settings/settings_store.h"
#include "tests/app/dialog_harness.h"

namespace {

std::wstring hiddenDevice;

UINT CountDevices(DeviceKind kind) { return WinMMEnumeration().count(kind); }

bool NameDevice(DeviceKind kind, UINT id, wchar_t (&name)[DEVICE_NAME_UNITS]) {
    // An unplugged device no longer answers its query.
    return WinMMEnumeration().name(kind, id, name) && hiddenDevice != name;
}

const DeviceEnumeration UNPLUGGABLE = {CountDevices, NameDevice};

const wchar_t SLOT_WITH_TEST_DEVICES[] =
    L"[Settings00]\r\nWaveInCapsName=Monitor of TestMic\r\nWaveOutCapsName=TestSpeaker\r\n"
    L"BufferSize=20\r\nAutoRestart=0\r\n"
    L"[Settings01]\r\nWaveInCapsName=Monitor of TestMic\r\nWaveOutCapsName=TestSpeaker\r\n"
    L"BufferSize=20\r\nAutoRestart=1\r\n";

class AutoConnect : public MainDialogTest {
protected:
    void SetUp() override {
        MainDialogTest::SetUp();
        hiddenDevice.clear();
        SetDeviceEnumeration(&UNPLUGGABLE);
    }
    void TearDown() override {
        MainDialogTest::TearDown();
        SetDeviceEnumeration(nullptr);
    }
    bool Checked() const {
        return SendMessageW(Item(IDC_AUTO_CONNECT), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void ClickCheckBox() { SendMessageW(Item(IDC_AUTO_CONNECT), BM_CLICK, 0, 0); }
    // Pumps until running has the wanted value; the time it took, or -1 after limitMs.
    int WaitForRunning(int wanted, DWORD limitMs) {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < limitMs) {
            if (running == wanted) {
                return static_cast<int>(GetTickCount() - start);
            }
            Pump(20);
        }
        return running == wanted ? static_cast<int>(limitMs) : -1;
    }
};

TEST_F(AutoConnect, FollowsTheDevicesAndStaysOnThroughItsOwnStops) {
    WriteSettings(SLOT_WITH_TEST_DEVICES);
    OpenDialog();
    ASSERT_EQ(SelectedText(IDC_WAVEIN), L"Monitor of TestMic");
    ASSERT_EQ(SelectedText(IDC_WAVEOUT), L"TestSpeaker");

    ClickCheckBox();
    EXPECT_TRUE(Checked());
    EXPECT_TRUE(currentSlot->AutoRestart);
    EXPECT_FALSE(Enabled(IDC_WAVEIN));
    EXPECT_FALSE(Enabled(IDC_WAVEOUT));
    Pump(600);
    EXPECT_EQ(running, 0) << "the first test comes a second later, not at once";
    EXPECT_GE(WaitForRunning(1, 1500), 0) << "both devices present: started";
    EXPECT_FALSE(Enabled(ID_START));

    hiddenDevice = L"TestSpeaker";
    const int stoppedAfter = WaitForRunning(0, 2500);
    EXPECT_GE(stoppedAfter, 0) << "playback device gone: stopped";
    EXPECT_LE(stoppedAfter, 1300);
    EXPECT_TRUE(Checked()) << "the watcher's own stop keeps auto-connect on";
    EXPECT_TRUE(currentSlot->AutoRestart);
    EXPECT_FALSE(Enabled(IDC_WAVEIN));
    EXPECT_FALSE(Enabled(IDC_WAVEOUT));
    EXPECT_TRUE(Enabled(ID_START));

    hiddenDevice.clear();
    EXPECT_GE(WaitForRunning(1, 1500), 0) << "device back: started again";

    Command(ID_STOP);  // the user's stop ends auto-connect
    EXPECT_FALSE(Checked());
    EXPECT_FALSE(currentSlot->AutoRestart);
    EXPECT_FALSE(Enabled(IDC_WAVEIN)) << "combos stay disabled until the teardown";
    EXPECT_GE(WaitForRunning(0, 1000), 0);
    EXPECT_TRUE(Enabled(IDC_WAVEIN));
    EXPECT_TRUE(Enabled(IDC_WAVEOUT));
    Pump(1300);
    EXPECT_EQ(running, 0) << "the watcher is off: nothing restarts";
}

TEST_F(AutoConnect, ClearingTheCheckBoxNeverStopsARunningStream) {
    WriteSettings(SLOT_WITH_TEST_DEVICES);
    OpenDialog();
    ClickCheckBox();
    ASSERT_GE(WaitForRunning(1, 2500), 0);
    ClickCheckBox();
    EXPECT_FALSE(Checked());
    EXPECT_FALSE(currentSlot->AutoRestart);
    hiddenDevice = L"Monitor of TestMic";
    Pump(1500);
    EXPECT_EQ(running, 1) << "turning it off never stops the stream, and the watcher is off";
    EXPECT_FALSE(Enabled(IDC_WAVEIN)) << "combos stay disabled while the stream runs";
    Command(ID_STOP);
    EXPECT_GE(WaitForRunning(0, 1000), 0);
    EXPECT_TRUE(Enabled(IDC_WAVEIN));
}

TEST_F(AutoConnect, ASlotSavedWithItOnStartsASecondAfterStartUpAndClosingKeepsIt) {
    WriteSettings(SLOT_WITH_TEST_DEVICES);
    OpenDialog(1);
    EXPECT_TRUE(Checked());
    EXPECT_FALSE(Enabled(IDC_WAVEIN));
    EXPECT_EQ(running, 0) << "nothing starts during initialisation";
    const int startedAfter = WaitForRunning(1, 2500);
    EXPECT_GE(startedAfter, 600);
    CloseDialog();
    EXPECT_NE(ReadSettings().find(L"AutoRestart=1"), std::wstring::npos)
        << "closing stops the stream without switching auto-connect off";
}

TEST_F(AutoConnect, ACaptureDeviceThatGoesAwayIsAwaitedToo) {
    WriteSettings(SLOT_WITH_TEST_DEVICES);
    OpenDialog(1);
    ASSERT_GE(WaitForRunning(1, 2500), 0);
    hiddenDevice = L"Monitor of TestMic";
    EXPECT_GE(WaitForRunning(0, 2500), 0);
    EXPECT_TRUE(Checked());
    Pump(1200);
    EXPECT_EQ(running, 0) << "still missing: nothing starts";
    hiddenDevice.clear();
    EXPECT_GE(WaitForRunning(1, 1500), 0);
}

TEST_F(AutoConnect, ASlotChangeWhileStoppedMakesTheWatcherFollowTheNewSlot) {
    WriteSettings(SLOT_WITH_TEST_DEVICES);
    OpenDialog(0);
    SelectSlot(1);
    EXPECT_TRUE(Checked());
    EXPECT_FALSE(Enabled(IDC_WAVEIN)) << "check box and watcher agree";
    EXPECT_GE(WaitForRunning(1, 2500), 0) << "the new slot's watcher starts the stream";

    SelectSlot(0);  // while running: a stop, and the new slot opens with auto-connect off
    EXPECT_FALSE(Checked());
    EXPECT_GE(WaitForRunning(0, 1000), 0);
    EXPECT_TRUE(Enabled(IDC_WAVEIN));
    SelectSlot(1);
    EXPECT_FALSE(Checked()) << "a slot switch while running cleared slot 1's flag";
    Pump(1300);
    EXPECT_EQ(running, 0);
}

}  // namespace
