// One block through a real effect: the guards, the block-size catch-up, both conversions
// over their whole range, whatever an effect may leave in its outputs, and the SSE modes
// around its processing.
#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_IX86)
#include <xmmintrin.h>
#define HAVE_SSE_CONTROL 1
#endif

#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/fade_ramp.h"
#include "audio/pitch_stage.h"
#include "plugin/plugin_bridge.h"
#include "tests/core/plugin_fixture.h"
#include "tests/plugins/hostile_values.h"

namespace {

using PluginBridgeTest = PluginTest;

constexpr int16_t UNTOUCHED = 0x5A5A;

// What a copy-through effect gives back for s: the scale's half-step rounds negatives up.
int16_t CopyThroughResult(int16_t s) { return s < 0 ? static_cast<int16_t>(s + 1) : s; }

TEST_F(PluginBridgeTest, DeclinedBlocksCallNothingAndWriteNothing) {
    std::vector<int16_t> in(2 * 65, 1234), out(2 * 65, UNTOUCHED);
    EXPECT_FALSE(ProcessWithPlugin(in.data(), out.data(), 64));  // no effect

    Listen("copy_through");
    ASSERT_TRUE(Load("copy_through"));
    const Lines opened = Log("copy_through");
    EXPECT_FALSE(ProcessWithPlugin(in.data(), out.data(), 64));  // loaded, not sized

    SetPluginBlockSize(64);
    blockSizeSent = -1;  // a catch-up would be due, but must not happen for a declined block
    const Lines sized = Log("copy_through");
    EXPECT_GT(sized.size(), opened.size());
    EXPECT_FALSE(ProcessWithPlugin(in.data(), out.data(), 0));
    EXPECT_FALSE(ProcessWithPlugin(in.data(), out.data(), 65));  // beyond the buffers: refused
    EXPECT_EQ(Log("copy_through"), sized);
    EXPECT_EQ(blockSizeSent, -1);
    EXPECT_EQ(out, std::vector<int16_t>(out.size(), UNTOUCHED));

    EXPECT_TRUE(ProcessWithPlugin(in.data(), out.data(), 64));  // the guards were all there was
}

TEST_F(PluginBridgeTest, TheFirstBlockCatchesUpOnTheBlockSizeOnce) {
    Listen("copy_through");
    ASSERT_TRUE(Load("copy_through"));
    SetPluginBlockSize(256);
    std::vector<int16_t> in(2 * 256, 7), out(2 * 256);

    blockSizeSent = -1;
    Lines expected = Log("copy_through");
    ASSERT_TRUE(ProcessWithPlugin(in.data(), out.data(), 256));
    ASSERT_TRUE(ProcessWithPlugin(in.data(), out.data(), 100));
    expected.push_back(DispatcherLine(effSetBlockSize, 256));  // no suspend/resume around it
    expected.push_back(ProcessLine(256));
    expected.push_back(ProcessLine(100));
    EXPECT_EQ(Log("copy_through"), expected);
    EXPECT_EQ(blockSizeSent, 256);

    blockSizeSent = 300;  // any difference, not only "never sent"
    ASSERT_TRUE(ProcessWithPlugin(in.data(), out.data(), 256));
    expected.push_back(DispatcherLine(effSetBlockSize, 256));
    expected.push_back(ProcessLine(256));
    EXPECT_EQ(Log("copy_through"), expected);
}

TEST_F(PluginBridgeTest, CopyThroughOverTheWhole16BitRange) {
    ASSERT_TRUE(Load("copy_through"));
    const uint32_t frames = 2206;
    SetPluginBlockSize(frames);
    std::vector<int16_t> in(2 * frames), out(2 * frames);
    int32_t next = -32768;
    while (next <= 32767) {
        for (uint32_t i = 0; i < frames; ++i) {
            const int32_t value = std::min(next + static_cast<int32_t>(i), 32767);
            in[2 * i] = static_cast<int16_t>(value);
            in[2 * i + 1] = static_cast<int16_t>(-1 - value);  // the mirror image on the right
        }
        ASSERT_TRUE(ProcessWithPlugin(in.data(), out.data(), frames));
        for (size_t k = 0; k < in.size(); ++k) {
            ASSERT_EQ(out[k], CopyThroughResult(in[k])) << "input " << in[k];
        }
        next += static_cast<int32_t>(frames);
    }
    const int16_t edges[] = {-32768, -1, 32767, 0};
    std::vector<int16_t> edgeOut(4);
    ASSERT_TRUE(ProcessWithPlugin(edges, edgeOut.data(), 2));
    EXPECT_EQ(edgeOut, (std::vector<int16_t>{-32767, 0, 32767, 0}));
}

TEST_F(PluginBridgeTest, AShortBlockTouchesOnlyItsFrames) {
    Listen("copy_through");
    ASSERT_TRUE(Load("copy_through"));
    SetPluginBlockSize(512);
    for (float* buffer : pluginBuffers) {
        std::fill(buffer, buffer + 512, -0.25f);
    }
    std::vector<int16_t> in(2 * 512, 300), out(2 * 512, UNTOUCHED);
    ASSERT_TRUE(ProcessWithPlugin(in.data(), out.data(), 100));
    EXPECT_EQ(Log("copy_through").back(), ProcessLine(100));
    for (size_t k = 0; k < out.size(); ++k) {
        ASSERT_EQ(out[k], k < 200 ? 300 : UNTOUCHED) << k;
    }
    for (float* buffer : pluginBuffers) {
        EXPECT_EQ(buffer[99], 300.0f / 32768.0f);
        for (int i = 100; i < 512; ++i) {
            ASSERT_EQ(buffer[i], -0.25f) << i;
        }
    }
}

TEST_F(PluginBridgeTest, EveryOutputOfAHostileEffectBecomesAValidSample) {
    ASSERT_TRUE(Load("hostile"));
    const uint32_t n = static_cast<uint32_t>(HOSTILE_VALUE_COUNT);
    const uint32_t frames = 3 * n + 5;
    SetPluginBlockSize(frames);
    std::vector<int16_t> in(2 * frames, 0), out(2 * frames, UNTOUCHED);
    ASSERT_TRUE(ProcessWithPlugin(in.data(), out.data(), frames));
    for (uint32_t i = 0; i < frames; ++i) {
        EXPECT_EQ(out[2 * i], HOSTILE_VALUES[i % n].expected) << "left, entry " << i % n;
        EXPECT_EQ(out[2 * i + 1], HOSTILE_VALUES[n - 1 - i % n].expected)
            << "right, entry " << n - 1 - i % n;
    }
}

TEST_F(PluginBridgeTest, ThroughTheBlockProcessingTheRampStillAppliesAndNothingClips) {
    ASSERT_TRUE(Load("copy_through"));
    SetPluginBlockSize(500);
    pluginActive.store(1);
    gain = 10.0;  // would clip everything in the stage; the effect path has no gain
    SetFade(FADE_IN_FRAMES, 22050);
    std::vector<int16_t> in(2 * 500), out(2 * 500);
    for (size_t k = 0; k < in.size(); ++k) {
        in[k] = static_cast<int16_t>((k * 7919) % 65536 - 32768);
    }
    ProcessBlock(in.data(), static_cast<uint32_t>(in.size() * 2), out.data());

    std::vector<int16_t> expected(in.size());
    std::transform(in.begin(), in.end(), expected.begin(), CopyThroughResult);
    SetFade(FADE_IN_FRAMES, 22050);
    ApplyFadeRamp(expected.data(), static_cast<uint32_t>(expected.size()));
    EXPECT_EQ(out, expected);
    EXPECT_EQ(clipFlag, 0);
    EXPECT_EQ(lastClipTick.load(), LAST_CLIP_TICK_NONE);
    EXPECT_EQ(pitchChannels[0].writePos, 0);
}

#ifdef HAVE_SSE_CONTROL
constexpr unsigned FLUSH_MODES = 0x8040;  // flush-to-zero | denormals-are-zero

TEST_F(PluginBridgeTest, TheEffectRunsWithDenormalsFlushedAndTheModeIsRestored) {
    Listen("copy_through");
    ASSERT_TRUE(Load("copy_through"));
    SetPluginBlockSize(64);
    std::vector<int16_t> in(128, 5), out(128);

    const unsigned before = _mm_getcsr();
    ASSERT_EQ(before & FLUSH_MODES, 0u);
    ASSERT_TRUE(ProcessWithPlugin(in.data(), out.data(), 64));
    EXPECT_EQ(Log("copy_through").back(), "process frames=64 ftz=1 daz=1");
    EXPECT_EQ(_mm_getcsr(), before);
    volatile float tiny = 1e-30f;
    EXPECT_NE(tiny * 1e-10f, 0.0f);  // this thread's own arithmetic keeps its denormals

    _mm_setcsr(before | 0x8000);  // a caller that flushes already keeps doing so
    ASSERT_TRUE(ProcessWithPlugin(in.data(), out.data(), 64));
    EXPECT_EQ(_mm_getcsr(), before | 0x8000);
    _mm_setcsr(before);
}

TEST_F(PluginBridgeTest, TheStageGivesTheSameResultsAfterEffectBlocks) {
    std::vector<int16_t> in(2 * 700), out(in.size());
    for (size_t k = 0; k < in.size(); ++k) {
        in[k] = static_cast<int16_t>((k * 104729) % 60001 - 30000);
    }
    const auto runStage = [&](int blocks, bool withEffectBlocks) {
        std::vector<int16_t> all;
        ResetEngineState();
        gain = 0.7;
        pitchRatio = 1.2973;
        for (int b = 0; b < blocks; ++b) {
            if (withEffectBlocks) {
                pluginActive.store(1);
                ProcessBlock(in.data(), static_cast<uint32_t>(in.size() * 2), out.data());
                pluginActive.store(0);
            }
            ProcessBlock(in.data(), static_cast<uint32_t>(in.size() * 2), out.data());
            all.insert(all.end(), out.begin(), out.end());
        }
        return all;
    };
    ASSERT_TRUE(Load("copy_through"));
    SetPluginBlockSize(700);
    const unsigned before = _mm_getcsr();
    const std::vector<int16_t> interleaved = runStage(4, true);
    EXPECT_EQ(_mm_getcsr(), before);
    EXPECT_EQ(interleaved, runStage(4, false));
}
#endif

}  // namespace
