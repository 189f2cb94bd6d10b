#include <vector>

#include "audio/audio_format.h"
#include "audio/fade_ramp.h"
#include "tests/core/engine_fixture.h"

#if !defined(_WIN32)
#include <thread>
#endif

namespace {

using FadeRampTest = EngineTest;

constexpr uint32_t BLOCK_FRAMES = 2206;  // 50 ms buffers

std::vector<int16_t> ConstantBlock(uint32_t frames, int16_t value) {
    return std::vector<int16_t>(2 * frames, value);
}

// Frames of a block of constant `value` that the ramp changed.
uint32_t ScaledFrames(const std::vector<int16_t>& block, int16_t value) {
    uint32_t n = 0;
    for (size_t k = 0; k < block.size() / 2; ++k) {
        n += (block[2 * k] != value || block[2 * k + 1] != value);
    }
    return n;
}

TEST_F(FadeRampTest, FadeInScalesTheFirst44100FramesOver20Blocks) {
    SetFade(FADE_IN_FRAMES, 0);
    for (int b = 1; b <= 21; ++b) {
        std::vector<int16_t> block = ConstantBlock(BLOCK_FRAMES, 20000);
        ApplyFadeRamp(block.data(), static_cast<uint32_t>(block.size()));
        const uint32_t expected = b < 20 ? BLOCK_FRAMES : (b == 20 ? 2186 : 0);
        EXPECT_EQ(ScaledFrames(block, 20000), expected) << "block " << b;
        if (b == 1) {
            EXPECT_EQ(block[0], 0);  // factor 0 at the very start
            EXPECT_EQ(block[1], 0);
        }
        if (b == 20) {
            EXPECT_EQ(block[2 * 2185], 19999);  // 44099/44100, truncated
            EXPECT_EQ(block[2 * 2186], 20000);
        }
    }
    EXPECT_EQ(fadePair.load().fadeCounter, FADE_IN_FRAMES);
}

TEST_F(FadeRampTest, FactorsFollowTheCounterAndTruncateTowardZero) {
    SetFade(FADE_IN_FRAMES, 22050);  // f = 0.5
    std::vector<int16_t> block = {20000, -3};
    ApplyFadeRamp(block.data(), 2);
    EXPECT_EQ(block[0], 10000);
    EXPECT_EQ(block[1], -1);
    EXPECT_EQ(fadePair.load().fadeCounter, 22051);
}

TEST_F(FadeRampTest, FadeOutOverTwoBlocksThenSilence) {
    SetFade(-FADE_OUT_FRAMES, FADE_OUT_FRAMES);
    std::vector<int16_t> first = ConstantBlock(BLOCK_FRAMES, 30000);
    ApplyFadeRamp(first.data(), static_cast<uint32_t>(first.size()));
    EXPECT_EQ(first[0], 30000);  // factor 1.0
    EXPECT_EQ(ScaledFrames(first, 30000), BLOCK_FRAMES - 1);
    EXPECT_EQ(fadePair.load().fadeCounter, 4410 - 2206);

    std::vector<int16_t> second = ConstantBlock(BLOCK_FRAMES, 30000);
    ApplyFadeRamp(second.data(), static_cast<uint32_t>(second.size()));
    EXPECT_EQ(fadePair.load().fadeCounter, 0);
    EXPECT_NE(second[2 * 2203], 0);  // factor 1/4410 of 30000 is 6
    EXPECT_EQ(second[2 * 2204], 0);
    EXPECT_EQ(second[2 * 2205 + 1], 0);

    std::vector<int16_t> third = ConstantBlock(BLOCK_FRAMES, 30000);
    ApplyFadeRamp(third.data(), static_cast<uint32_t>(third.size()));
    EXPECT_EQ(ScaledFrames(third, 0), 0u);
}

TEST_F(FadeRampTest, StopDuringFadeInJumpsToFullLevelAndFadesOut) {
    SetFade(FADE_IN_FRAMES, 0);
    std::vector<int16_t> block = ConstantBlock(BLOCK_FRAMES, 20000);
    ApplyFadeRamp(block.data(), static_cast<uint32_t>(block.size()));
    EXPECT_LT(block.back(), 2000);

    SetFade(-FADE_OUT_FRAMES, FADE_OUT_FRAMES);
    block = ConstantBlock(BLOCK_FRAMES, 20000);
    ApplyFadeRamp(block.data(), static_cast<uint32_t>(block.size()));
    EXPECT_EQ(block[0], 20000);
    for (size_t k = 1; k < BLOCK_FRAMES; ++k) {
        ASSERT_LE(block[2 * k], block[2 * k - 2]) << "fade-out must not rise";
    }
}

TEST_F(FadeRampTest, NoRampLeavesTheBlockAlone) {
    std::vector<int16_t> block = ConstantBlock(100, -1234);
    ApplyFadeRamp(block.data(), static_cast<uint32_t>(block.size()));
    EXPECT_EQ(ScaledFrames(block, -1234), 0u);
    SetFade(FADE_IN_FRAMES, FADE_IN_FRAMES);  // complete fade-in
    ApplyFadeRamp(block.data(), static_cast<uint32_t>(block.size()));
    EXPECT_EQ(ScaledFrames(block, -1234), 0u);
}

TEST_F(FadeRampTest, OddSampleCountTouchesNothingPastTheBlock) {
    for (FadePair pair : {FadePair{FADE_IN_FRAMES, 0}, FadePair{-FADE_OUT_FRAMES, 1},
                          FadePair{-FADE_OUT_FRAMES, 0}}) {
        fadePair.store(pair);
        std::vector<int16_t> block(6, 1000);  // 5 samples in the block, one guard
        ApplyFadeRamp(block.data(), 5);
        EXPECT_EQ(block[5], 1000) << pair.fadeTarget << "/" << pair.fadeCounter;
        EXPECT_NE(block[4], 1000);
    }
}

#if !defined(_WIN32)
// The UI thread's stop request must never be overwritten by a ramp that was running when it
// was written, and no block may mix the two pairs.
TEST_F(FadeRampTest, StopRequestWrittenDuringRampsIsNeverLost) {
    for (int round = 0; round < 200; ++round) {
        SetFade(FADE_IN_FRAMES, 0);
        std::atomic<bool> requested{false};
        std::thread ui([&] {
            for (volatile int spin = 0; spin < (round * 37) % 5000; ++spin) {
            }
            SetFade(-FADE_OUT_FRAMES, FADE_OUT_FRAMES);
            requested.store(true);
        });
        std::vector<int16_t> block = ConstantBlock(64, 10000);
        while (!requested.load()) {
            block.assign(128, 10000);
            ApplyFadeRamp(block.data(), 128);
            // A block ramps one way only: every factor from one pair.
            bool rising = block[126] >= block[0];
            bool falling = block[126] <= block[0];
            ASSERT_TRUE(rising || falling);
        }
        ui.join();
        FadePair after = fadePair.load();
        // Blocks that ran after the request count the fade-out on by 64 frames each; a
        // fade-in count written over it would leave a counter off that grid.
        ASSERT_EQ(after.fadeTarget, -FADE_OUT_FRAMES) << "round " << round;
        ASSERT_LE(after.fadeCounter, FADE_OUT_FRAMES) << "round " << round;
        ASSERT_EQ((FADE_OUT_FRAMES - after.fadeCounter) % 64, 0) << "round " << round;
    }
}
#endif

}  // namespace
