// The recovery as the window shows it, on the real test devices: the give-up on devices that
// keep failing with auto-connect off (a balloon) and on (the watcher waits and starts again),
// and the balloon of a Start whose device does not open.
#include <windows.h>
#include <mmsystem.h>

#include <string>
#include <vector>

#include "app/balloon.h"
#include "app/stream_commands.h"
#include "audio/engine_state.h"
#include "audio/stream.h"
#include "audio/stream_state.h"
#include "res/resource.h"
#include "tests/win/win_fixture.h"

namespace {

std::vector<DWORD> attempts; // when the watchdog tried to open the devices again
bool RefusedOpen(const wchar_t*, const wchar_t*, int32_t) {
    attempts.push_back(GetTickCount());
    return false;
}

using Recovery = WinTest;

// A playback device that refuses a write and then does not open again: tried a few times and
// given up once the (shortened) recovery time is over.
TEST_F(Recovery, DevicesThatStayAwayAreRetriedAfterGrowingPausesThenGivenUp) {
    const uint32_t recoveryBefore = deviceRecoveryMs;
    deviceRecoveryMs = 2500;
    for (bool autoConnect : {false, true}) {
        OpenDialog();
        ASSERT_TRUE(StartTestStream(L"20"));
        PumpUntil(StreamDelivering, 3000);
        if (autoConnect) {
            SendMessageW(Item(IDC_AUTO_CONNECT), BM_CLICK, 0, 0); // the stream runs on
        }
        attempts.clear();
        reopenStream = RefusedOpen;
        playbackWrite = RefusedWrite;
        PumpUntil([] { return running != 1; }, 8000);
        reopenStream = OpenStream;
        playbackWrite = SystemWaveOutWrite;
        // At once, then after 250, 500 and 1000 ms pauses (their lengths are the core tier's).
        EXPECT_EQ((Flags{attempts.size() >= 3, attempts.size() <= 5, running == 0,
                         Enabled(ID_START), Checked(IDC_AUTO_CONNECT)}),
                  (Flags{true, true, true, true, autoConnect}))
            << attempts.size() << " attempts, then given up";
        EXPECT_EQ(VisibleBalloon().first,
                  autoConnect ? L"" : L"オーディオデバイスが応答しないため停止しました。");
        HideBalloon();
        if (autoConnect) {
            PumpUntil([] { return running != 0; }, 2000);
            EXPECT_EQ(running, 1) << "the watcher starts the stream on the devices present";
            StopAndWait();
        }
        CloseDialog();
    }
    deviceRecoveryMs = recoveryBefore;
}

// A device that does not open: the user's Start is told why, the watcher's stays silent.
TEST_F(Recovery, AStartWhoseDeviceDoesNotOpenSaysSoToTheUserOnly) {
    WriteSettings(L"[Settings00]\r\nWaveInCapsName=Absent Microphone\r\n"
                  L"WaveOutCapsName=TestSpeaker\r\nAutoRestart=1\r\n");
    OpenDialog();
    EXPECT_EQ(Command(ID_START, WATCHER_CODE), 0);
    EXPECT_EQ(VisibleBalloon().first, L"");
    EXPECT_EQ(Command(ID_START), 0);
    EXPECT_EQ(VisibleBalloon().first.rfind(L"オーディオデバイスを開けませんでした。", 0), 0u)
        << "the balloon says why";
    HideBalloon();
}

} // namespace
