#include <windows.h>
#include <mmsystem.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_thread.h"
#include "audio/engine_state.h"
#include "audio/stream_state.h"
#include "platform/platform.h"

namespace {

std::vector<std::wstring> debugTexts;

void RecordDebugText(const wchar_t* text) { debugTexts.push_back(text); }

class AudioThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngineState();
        LockCreate(&EngineLock);
        gain = 1.0;
        pitchRatio = 1.0;
        debugTexts.clear();
        SetDebugOutputListener(RecordDebugText);
        waveIn = nullptr;  // no devices: the wave calls fail and are not looked at
        waveOut = nullptr;
        for (int i = 0; i < BUFFER_COUNT; ++i) {
            playback[i].assign(64, static_cast<int16_t>(100 + i));
            playbackBuffers[i] = reinterpret_cast<char*>(playback[i].data());
            playbackHeaders[i] = WAVEHDR{};
            playbackHeaders[i].lpData = playbackBuffers[i];
            playbackHeaders[i].dwBufferLength = 128;
        }
        ASSERT_TRUE(StartAudioThread());
    }
    void TearDown() override {
        if (audioThread != nullptr) {
            PostThreadMessageW(audioThreadId, WM_QUIT, 0, 0);
            WaitForSingleObject(audioThread, 5000);
            CloseHandle(audioThread);
            audioThread = nullptr;
        }
        SetDebugOutputListener(nullptr);
        LockDestroy(&EngineLock);
    }
    // Ends the thread through its quit message and waits: every message posted before has
    // been handled when this returns.
    void QuitAndJoin() {
        ASSERT_TRUE(PostThreadMessageW(audioThreadId, WM_QUIT, 0, 0));
        ASSERT_EQ(WaitForSingleObject(audioThread, 5000), WAIT_OBJECT_0);
        DWORD code = 99;
        GetExitCodeThread(audioThread, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(audioThread);
        audioThread = nullptr;
    }
    std::vector<int16_t> playback[BUFFER_COUNT];
};

TEST_F(AudioThreadTest, ReportsUnexpectedMessagesAndIgnoresWmUser) {
    PostThreadMessageW(audioThreadId, MM_WIM_OPEN, 0, 0);
    PostThreadMessageW(audioThreadId, WM_USER, 0, 0);
    PostThreadMessageW(audioThreadId, MM_WIM_CLOSE, 0, 0);
    PostThreadMessageW(audioThreadId, MM_WOM_CLOSE, 0, 0);
    PostThreadMessageW(audioThreadId, 0x7FFF, 0, 0);
    QuitAndJoin();
    std::vector<std::wstring> expected = {L"Unknown message:958\n", L"MM_WIM_CLOSE",
                                          L"MM_WOM_CLOSE", L"Unknown message:32767\n"};
    EXPECT_EQ(debugTexts, expected);
}

TEST_F(AudioThreadTest, CaptureDataBecomesTheNextPlaybackBuffer) {
    playIndex = 6;
    std::vector<int16_t> recorded(64);
    for (int i = 0; i < 64; ++i) {
        recorded[i] = static_cast<int16_t>(1000 + i);
    }
    WAVEHDR capture{};
    capture.lpData = reinterpret_cast<char*>(recorded.data());
    capture.dwBufferLength = 128;
    capture.dwBytesRecorded = 128;
    PostThreadMessageW(audioThreadId, MM_WIM_DATA, 0, reinterpret_cast<LPARAM>(&capture));
    PostThreadMessageW(audioThreadId, MM_WIM_DATA, 0, reinterpret_cast<LPARAM>(&capture));
    QuitAndJoin();
    EXPECT_EQ(playIndex, 0);  // two blocks: 6 -> 7 -> 0
    // A 32-frame block through the stage's 32-frame delay: silence, then the first block.
    EXPECT_EQ(playback[6], std::vector<int16_t>(64, 0));
    EXPECT_EQ(playback[7], recorded);
    EXPECT_TRUE(debugTexts.empty());
}

TEST_F(AudioThreadTest, NotificationsAreDroppedWhileStopping) {
    playIndex = 3;
    std::vector<int16_t> recorded(64, 5000);
    WAVEHDR capture{};
    capture.lpData = reinterpret_cast<char*>(recorded.data());
    capture.dwBytesRecorded = 128;
    stopping.store(1);
    PostThreadMessageW(audioThreadId, MM_WIM_DATA, 0, reinterpret_cast<LPARAM>(&capture));
    QuitAndJoin();
    EXPECT_EQ(playIndex, 3);
    EXPECT_EQ(playback[3], std::vector<int16_t>(64, 103));
    EXPECT_EQ(pitchChannels[0].writePos, 0);
}

TEST_F(AudioThreadTest, ZeroByteNotificationStillAdvancesThePlaybackRing) {
    WAVEHDR capture{};
    std::vector<int16_t> recorded(64, 5000);
    capture.lpData = reinterpret_cast<char*>(recorded.data());
    capture.dwBytesRecorded = 0;
    PostThreadMessageW(audioThreadId, MM_WIM_DATA, 0, reinterpret_cast<LPARAM>(&capture));
    QuitAndJoin();
    EXPECT_EQ(playIndex, 1);
    EXPECT_EQ(playback[0], std::vector<int16_t>(64, 100));
}

// A message posted the moment the thread has been started must arrive: the start waits for
// the queue. Repeated, since the loss this guards against was intermittent.
TEST(AudioThreadStart, NoMessagePostedRightAfterTheStartIsLost) {
    LockCreate(&EngineLock);
    debugTexts.clear();
    SetDebugOutputListener(RecordDebugText);
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(StartAudioThread());
        ASSERT_TRUE(PostThreadMessageW(audioThreadId, MM_WIM_OPEN, 0, 0));
        PostThreadMessageW(audioThreadId, WM_QUIT, 0, 0);
        ASSERT_EQ(WaitForSingleObject(audioThread, 5000), WAIT_OBJECT_0);
        CloseHandle(audioThread);
        audioThread = nullptr;
    }
    SetDebugOutputListener(nullptr);
    EXPECT_EQ(debugTexts.size(), 50u);
    LockDestroy(&EngineLock);
}

}  // namespace
