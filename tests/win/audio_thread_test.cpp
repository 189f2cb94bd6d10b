// The audio thread's message handling with its real message queue (no devices: the wave
// calls fail and are not looked at).
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "audio/audio_thread.h"
#include "audio/packet_processing.h"
#include "audio/engine_state.h"
#include "audio/stream_state.h"
#include "tests/win/win_fixture.h"

namespace {

std::vector<std::wstring> debugTexts;

class AudioThread : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetEngineState();
        LockCreate(&EngineLock);
        gain = pitchRatio = 1.0;
        debugTexts.clear();
        SetDebugOutputListener([](const wchar_t* text) { debugTexts.push_back(text); });
        run = NewWinmmRun(128); // no devices: the wave calls fail and are not looked at
        ASSERT_NE(run, nullptr);
        // A target no queue here reaches, its fill not put ahead: each block lands as it is put.
        run->wave.base.queue.Start(
            {BUFFER_COUNT * 32, 32, 0, PlaybackQueue::MAX_RAISES, {32.0, 64.0, 0.1}});
        for (int i = 0; i < BUFFER_COUNT; ++i) {
            std::fill(run->wave.playback[i], run->wave.playback[i] + 64,
                      static_cast<int16_t>(100 + i));
        }
        ASSERT_TRUE(StartAudioThread(*run));
    }
    void TearDown() override {
        ReleaseRun(&run->wave.base);
        SetDebugOutputListener(nullptr);
        LockDestroy(&EngineLock);
    }
    std::vector<int16_t> Playback(int i) const {
        return std::vector<int16_t>(run->wave.playback[i], run->wave.playback[i] + 64);
    }
    // Every message posted before has been handled when this returns.
    void QuitAndJoin() {
        PostThreadMessageW(run->threadId, WM_QUIT, 0, 0);
        ASSERT_EQ(WaitForSingleObject(run->thread, 5000), WAIT_OBJECT_0);
        CloseHandle(run->thread);
        run->thread = nullptr;
    }
    void PostCapture(std::vector<int16_t>& samples, DWORD bytes) {
        WAVEHDR& header = captures[used++ % BUFFER_COUNT];
        header = WAVEHDR{};
        header.lpData = reinterpret_cast<char*>(samples.data());
        header.dwBufferLength = 128;
        header.dwBytesRecorded = bytes;
        PostThreadMessageW(run->threadId, MM_WIM_DATA, 0, reinterpret_cast<LPARAM>(&header));
    }
    WinmmRun* run = nullptr;
    WAVEHDR captures[BUFFER_COUNT] = {};
    int used = 0;
};

TEST_F(AudioThread, ReportsUnexpectedMessagesAndIgnoresWmUser) {
    for (UINT message :
         {UINT(MM_WIM_OPEN), UINT(WM_USER), UINT(MM_WIM_CLOSE), UINT(MM_WOM_CLOSE), 0x7FFFu}) {
        PostThreadMessageW(run->threadId, message, 0, 0);
    }
    QuitAndJoin();
    EXPECT_EQ(debugTexts, (std::vector<std::wstring>{L"Unknown message:958\n", L"MM_WIM_CLOSE",
                                                     L"MM_WOM_CLOSE", L"Unknown message:32767\n"}));
}

// Each capture becomes the next playback block at its recorded length; an empty one plays
// nothing, a block whose playback header the device still holds is dropped and counted, and
// nothing is taken while stopping.
TEST_F(AudioThread, EachCaptureBecomesTheNextPlaybackBlockAtItsRecordedLength) {
    std::vector<int16_t> recorded(64);
    std::iota(recorded.begin(), recorded.end(), int16_t{1000});
    run->wave.playIndex = 5;
    run->playbackHeaders[0].dwFlags = WHDR_INQUEUE; // still playing
    PostCapture(recorded, 128);
    PostCapture(recorded, 128);
    PostCapture(recorded, 0);
    PostCapture(recorded, 66); // a short one: 16 whole frames and a half
    PostCapture(recorded, 128);
    QuitAndJoin();
    // 32 frames through the stage's 32-frame delay: silence, then the first block.
    EXPECT_EQ(Playback(5), std::vector<int16_t>(64, 0));
    EXPECT_EQ(Playback(6), recorded);
    EXPECT_EQ(run->playbackHeaders[7].dwBufferLength, 64u) << "played at its recorded length";
    EXPECT_EQ(Playback(0), std::vector<int16_t>(64, 100)) << "overwritten while queued";
    EXPECT_EQ(
        std::make_tuple(run->wave.base.counts.overruns.load(), run->wave.playIndex, debugTexts),
        std::make_tuple(1u, 0, std::vector<std::wstring>{}));

    ASSERT_TRUE(StartAudioThread(*run));
    run->playbackHeaders[0].dwFlags = 0;
    run->wave.base.stopping.store(1);
    PostCapture(recorded, 128);
    QuitAndJoin();
    EXPECT_EQ(run->wave.playIndex, 0) << "dropped while stopping";
    EXPECT_EQ(Playback(0), std::vector<int16_t>(64, 100));
}

// A write that finds the last header played is an underrun, the first two of a run with a block
// of silence ahead; a capture with no capture buffer left with the device is a gap, unless it also
// ran playback dry: one break, counted once.
TEST_F(AudioThread, UnderrunsCushionAndCaptureGapsAreCountedOncePerBreak) {
    const struct {
        DWORD lastWrittenFlags; // of the playback header written last
        int captureQueued;      // of the run's capture headers, at the notification
        uint32_t underruns, gaps;
        int playIndex;
    } steps[] = {
        {WHDR_INQUEUE, 8, 0, 0, 1}, {WHDR_INQUEUE, 0, 0, 1, 2},
        {WHDR_DONE, 1, 1, 1, 4}, // silence into 2, the block into 3
        {WHDR_DONE, 0, 2, 1, 6}, // a second cushion, and no gap besides the underrun
        {WHDR_DONE, 8, 3, 1, 7}, // no third
        {WHDR_INQUEUE, 0, 3, 2, 0},
    };
    std::vector<int16_t> recorded(64, 3000);
    QuitAndJoin();
    for (const auto& step : steps) {
        for (int i = 0; i < BUFFER_COUNT; ++i) {
            run->captureHeaders[i].dwFlags = i < step.captureQueued ? WHDR_INQUEUE : WHDR_DONE;
        }
        if (run->wave.lastWritten >= 0) {
            run->playbackHeaders[run->wave.lastWritten].dwFlags = step.lastWrittenFlags;
        }
        ASSERT_TRUE(StartAudioThread(*run));
        PostCapture(recorded, 128);
        QuitAndJoin();
        EXPECT_EQ(run->wave.base.counts.underruns.load(), step.underruns) << step.playIndex;
        EXPECT_EQ(run->wave.base.counts.captureGaps.load(), step.gaps) << step.playIndex;
        EXPECT_EQ(run->wave.playIndex, step.playIndex);
    }
    EXPECT_EQ(Playback(2), std::vector<int16_t>(64, 0)) << "the cushion is silence";
    EXPECT_NE(Playback(3), std::vector<int16_t>(64, 0)) << "the block after it";
}

TEST_F(AudioThread, NoMessagePostedRightAfterTheStartIsLost) {
    QuitAndJoin();
    for (int i = 0; i < 50; ++i) { // the loss this guards against was intermittent
        ASSERT_TRUE(StartAudioThread(*run));
        ASSERT_TRUE(PostThreadMessageW(run->threadId, MM_WIM_OPEN, 0, 0));
        QuitAndJoin();
    }
    EXPECT_EQ(debugTexts.size(), 50u);
}

// One engine behind both systems, bit for bit; pitch, gain and the fade-in shape the blocks.
TEST_F(AudioThread, TheWasapiPacketPathPlaysWhatTheWinMMPathPlays) {
    constexpr uint32_t FRAMES = 32; // one playback buffer of the fixture
    const auto engine = [] {
        ResetEngineState();
        gain = 1.7;
        pitchRatio = 0.72;
        SetFade(FADE_IN_FRAMES, 0);
    };
    std::vector<int16_t> packet(BUFFER_COUNT * 2 * FRAMES), recorded[BUFFER_COUNT], throughWinMM;
    std::generate(packet.begin(), packet.end(),
                  [i = 0]() mutable { return static_cast<int16_t>(9000 * std::sin(0.05 * i++)); });
    engine();
    for (int b = 0; b < BUFFER_COUNT; ++b) { // the packet's blocks, one capture each
        recorded[b].assign(packet.begin() + 2 * FRAMES * b, packet.begin() + 2 * FRAMES * (b + 1));
        PostCapture(recorded[b], FRAMES * 4);
    }
    QuitAndJoin();
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        throughWinMM.insert(throughWinMM.end(), run->wave.playback[i], run->wave.playback[i] + 64);
    }

    engine();
    std::vector<int16_t> input(2 * FRAMES), output(2 * FRAMES), throughWasapi;
    const PacketScratch scratch = {input.data(), output.data(), FRAMES};
    ASSERT_TRUE(ProcessPacket(
        scratch, reinterpret_cast<const uint8_t*>(packet.data()), BUFFER_COUNT * FRAMES,
        [](void* to, const int16_t* block, uint32_t frames) {
            auto& out = *static_cast<std::vector<int16_t>*>(to);
            out.insert(out.end(), block, block + 2 * frames);
        },
        &throughWasapi));
    EXPECT_EQ(throughWasapi, throughWinMM);
    EXPECT_NE(throughWinMM, std::vector<int16_t>(throughWinMM.size(), 0)) << "sound came out";
}

} // namespace
