#include <vector>

#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/fade_ramp.h"
#include "audio/pitch_stage.h"
#include "tests/core/engine_fixture.h"

namespace {

using BlockProcessingTest = EngineTest;

TEST_F(BlockProcessingTest, ZeroByteBlockTouchesNothing) {
    std::vector<int16_t> in(8, 500), out(8, 77);
    SetFade(FADE_IN_FRAMES, 0);
    ProcessBlock(in.data(), 0, out.data());
    EXPECT_EQ(out, std::vector<int16_t>(8, 77));
    EXPECT_EQ(fadePair.load().fadeCounter, 0);
}

TEST_F(BlockProcessingTest, StageThenRampInThatOrder) {
    std::vector<int16_t> in(2 * 500);
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<int16_t>((i * 7919) % 20000 - 10000);
    }
    pitchRatio = 1.3;
    SetFade(FADE_IN_FRAMES, 100);
    std::vector<int16_t> out(in.size());
    ProcessBlock(in.data(), static_cast<uint32_t>(in.size() * 2), out.data());

    ResetEngineState();
    gain = 1.0;
    pitchRatio = 1.3;
    SetFade(FADE_IN_FRAMES, 100);
    std::vector<int16_t> expected(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        expected[i] = ProcessSample(in[i], static_cast<int>(i & 1));
    }
    ApplyFadeRamp(expected.data(), static_cast<uint32_t>(expected.size()));
    EXPECT_EQ(out, expected);
}

TEST_F(BlockProcessingTest, ClipTickIsStampedOnlyAfterAClippingBlock) {
    std::vector<int16_t> quiet(64, 1000), loud(64, 20000), out(64);
    gain = 10.0;
    ProcessBlock(quiet.data(), 128, out.data());
    EXPECT_EQ(clipFlag, 0);
    EXPECT_EQ(lastClipTick.load(), LAST_CLIP_TICK_NONE);

    ProcessBlock(loud.data(), 128, out.data());
    EXPECT_EQ(clipFlag, 1);
    EXPECT_NE(lastClipTick.load(), LAST_CLIP_TICK_NONE);

    lastClipTick.store(5);
    ProcessBlock(quiet.data(), 128, out.data());  // clears the flag again
    EXPECT_EQ(clipFlag, 0);
    EXPECT_EQ(lastClipTick.load(), 5u);
}

TEST_F(BlockProcessingTest, DeclinedPluginBlockKeepsOldContentUnderTheRamp) {
    pluginActive.store(1);  // no plug-in loaded: the bridge declines
    std::vector<int16_t> in(64, 3000), out(64, 8000);
    gain = 10.0;
    SetFade(FADE_IN_FRAMES, 22050);
    ProcessBlock(in.data(), 128, out.data());
    EXPECT_EQ(out[0], 4000);  // the old content at factor 0.5
    EXPECT_EQ(clipFlag, 0);   // the stage did not run
    EXPECT_EQ(pitchChannels[0].writePos, 0);
}

}  // namespace
