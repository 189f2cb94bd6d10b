// One recorded block into one playback block: the stage (or the declined effect path), then
// the fade ramp, whose shape over whole runs of 50 ms blocks is checked here as well.
#include <algorithm>
#include <cmath>
#include <atomic>
#include <thread>
#include <tuple>

#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/fade_ramp.h"
#include "audio/mute_ramp.h"
#include "audio/pitch_stage.h"
#include "plugin/effect_handle.h"
#include "tests/core/fixtures.h"

namespace {

using BlockProcessingTest = EngineTest;

// Blocks of a constant level through the ramp, one after the other.
Samples Ramped(int16_t level, size_t samples, int blocks = 1) {
    Samples all;
    for (int b = 0; b < blocks; ++b) {
        Samples block(samples, level);
        ApplyFadeRamp(block.data(), static_cast<uint32_t>(samples));
        all.insert(all.end(), block.begin(), block.end());
    }
    return all;
}

// Fade-in: 44100 frames from factor 0 up (the last one 44099/44100, truncated), then the level.
// Fade-out: from factor 1 down over 4410 frames, then silence. Factors truncate toward zero;
// an odd count stays inside the block.
TEST_F(BlockProcessingTest, TheFadeRampShapes) {
    SetFade(FADE_IN_FRAMES, 0);
    const Samples in = Ramped(20000, 2 * 2206, 21);
    EXPECT_EQ(std::make_tuple(in[1], in[2 * 44099], std::is_sorted(in.begin(), in.end())),
              std::make_tuple(0, 19999, true));
    EXPECT_EQ(std::count(in.begin(), in.end(), 20000), 2 * (21 * 2206 - 44100));
    SetFade(-FADE_OUT_FRAMES, FADE_OUT_FRAMES);
    const Samples out = Ramped(30000, 2 * 2206, 3);
    EXPECT_EQ(std::make_tuple(out[1], out[2 * 4409], std::is_sorted(out.rbegin(), out.rend())),
              std::make_tuple(30000, 6, true));
    EXPECT_EQ(std::count(out.begin(), out.end(), 0), 2 * (3 * 2206 - 4410));
    SetFade(FADE_IN_FRAMES, 22050); // factor 0.5
    EXPECT_EQ(Ramped(-3, 2), (Samples{-1, -1}));
    for (FadePair pair : {FadePair{FADE_IN_FRAMES, 0}, FadePair{-FADE_OUT_FRAMES, 1},
                          FadePair{-FADE_OUT_FRAMES, 0}}) {
        fadePair.store(pair);
        Samples block(6, 1000);
        ApplyFadeRamp(block.data(), 5);
        EXPECT_EQ(std::make_pair(block[4] == 1000, block[5]), std::make_pair(false, int16_t(1000)))
            << pair.fadeTarget << " " << pair.fadeCounter;
    }
}

#if !defined(_WIN32)
// A stop request written while blocks ramp is never overwritten and no block mixes the two
// pairs: after the request the count goes on by whole 64-frame blocks of the fade-out.
TEST_F(BlockProcessingTest, AStopRequestWrittenDuringRampsIsNeverLost) {
    for (int round = 0; round < 200; ++round) {
        SetFade(FADE_IN_FRAMES, 0);
        std::atomic<bool> requested{false};
        std::thread ui([&] {
            for (volatile int spin = 0; spin < (round * 37) % 5000; ++spin) {
            }
            SetFade(-FADE_OUT_FRAMES, FADE_OUT_FRAMES), requested.store(true);
        });
        while (!requested.load()) {
            const Samples block = Ramped(10000, 128);
            ASSERT_TRUE(std::is_sorted(block.begin(), block.end()) ||
                        std::is_sorted(block.rbegin(), block.rend()))
                << "a block that mixes the pairs, round " << round;
        }
        ui.join();
        const FadePair after = fadePair.load();
        ASSERT_EQ(after.fadeTarget, -FADE_OUT_FRAMES) << round;
        ASSERT_EQ((FADE_OUT_FRAMES - after.fadeCounter) % 64, 0) << round;
        ASSERT_LE(after.fadeCounter, FADE_OUT_FRAMES) << round;
    }
}
#endif

// The clip tick is stamped after a clipping block only; a declined effect block is silence
// (not the old content of its playback buffer), and the stage does not run.
TEST_F(BlockProcessingTest, ClippingAndDeclinedEffectBlocks) {
    Samples in(128, 1000), out(128);
    gain = 10.0;
    for (int level : {1000, 20000, 1000}) { // clipFlag cleared again by a quiet block
        lastClipTick.store(LAST_CLIP_TICK_NONE);
        ProcessBlock(Samples(64, static_cast<int16_t>(level)).data(), 128, out.data());
        EXPECT_EQ(std::make_pair(clipFlag != 0, lastClipTick != LAST_CLIP_TICK_NONE),
                  std::make_pair(level > 3276, level > 3276))
            << level;
    }
    ResetEngineState();
    pluginActive.store(1), out.assign(65, 8000); // no effect loaded: the bridge declines
    SetFade(FADE_IN_FRAMES, 22050);
    ProcessBlock(in.data(), 128, out.data());
    EXPECT_EQ(std::make_tuple(out[0], out[63], out[64], int(clipFlag), pitchChannels[0].writePos),
              std::make_tuple(0, 0, 8000, 0, 0));

    // Through an effect: no stage gain, no clip tick even at full scale, no ramp once done
    // (after its first block, which crosses over from the stage's sound).
    ASSERT_TRUE(Load("copy_through"));
    SetPluginBlockSize(host, 64);
    gain = 10.0;
    SetFade(0, 0);
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = i % 2 ? 32767 : 1000;
    }
    ProcessBlock(in.data(), 256, out.data());
    lastClipTick.store(LAST_CLIP_TICK_NONE);
    ProcessBlock(in.data(), 256, out.data());
    EXPECT_EQ(std::make_tuple(out[126], out[127], lastClipTick.load()),
              std::make_tuple(1000, 32767, LAST_CLIP_TICK_NONE));
}

// An effect in its own process: a block it declines (here: not yet sized) goes through the
// stage, not silence, and its next block crosses over from the stage's sound without a jump.
TEST_F(BlockProcessingTest, AMissedBlockOfAHostedEffectIsTheStagesAndItsReturnDoesNotJump) {
    const std::string program =
        ProgramDirectory() + PATH_SEPARATOR + ".." + PATH_SEPARATOR + FX_HOST_NAME;
    EffectHandle* h = OpenHostProcessEffect(program.c_str(), FxLimits());
    ASSERT_TRUE(h->load(h, TestPluginPath("copy_through").c_str(), 44100));
    Samples in(4 * 441), out(in.size());
    for (size_t i = 0; i < in.size(); ++i) { // 450 Hz, at most 642 from one frame to the next
        in[i] =
            static_cast<int16_t>(10000 * std::sin(6.283185307179586 * 450 * double(i / 2) / 44100));
    }
    SetBlockEffect(h);
    pluginActive = 1;
    ProcessBlock(in.data(), 441 * 4, out.data());
    h->setBlockSize(h, 441);
    ProcessBlock(in.data() + 882, 441 * 4, out.data() + 882);
    SetBlockEffect(blockHandle);
    CloseEffect(h);
    int jump = 0;
    for (size_t i = 2; i < out.size(); ++i) {
        jump = std::max(jump, std::abs(out[i] - out[i - 2]));
    }
    EXPECT_EQ(
        std::make_tuple(*std::max_element(out.begin(), out.begin() + 882) > 5000, jump <= 700),
        std::make_tuple(true, true))
        << "largest step " << jump;
}

// A chain's effects, as the blocks meet them: scale by a factor and add an offset, or decline.
struct ScalingEffect : EffectHandle {
    float factor = 1.0f;
    bool answers = true;
    float offset = 0.0f;
    int calls = 0;
};

bool Scale(EffectHandle* self, const float* input, float* output, uint32_t frames) {
    ScalingEffect& e = *static_cast<ScalingEffect*>(self);
    ++e.calls;
    for (uint32_t i = 0; e.answers && i < 2 * frames; ++i) {
        output[i] = input[i] * e.factor + e.offset;
    }
    return e.answers;
}
void KeepHostValues(EffectHandle*, const EffectHostValues&) {}

ScalingEffect Scaling(float factor, bool answers, bool missedPlayStage = false) {
    ScalingEffect e;
    e.process = Scale;
    e.setHostValues = KeepHostValues;
    e.factor = factor;
    e.answers = answers;
    e.missedBlocksPlayStage = missedPlayStage;
    return e;
}

// Each answering effect takes the one before's answer as it came, beyond full scale too; one
// that declines or is bypassed is passed by; when none answers, the first unbypassed one's rule
// plays (the stage, here at 1/4 of the gain, or silence).
TEST_F(BlockProcessingTest, AChainPassesFloatsOnAndGoesPastWhatDeclinesOrIsBypassed) {
    struct Row {
        const char* what;
        std::vector<ScalingEffect> effects;
        std::vector<bool> bypassed;
        int16_t expected; // from 1000
    };
    const Row rows[] = {
        {"three answer", {Scaling(2, true), Scaling(3, true), Scaling(5, true)}, {}, 30000},
        {"beyond full scale and back",
         {Scaling(64, true), Scaling(0.5f, true), Scaling(1.0f / 64, true)},
         {},
         500},
        {"the middle one declines",
         {Scaling(2, true), Scaling(3, false), Scaling(5, true)},
         {},
         10000},
        {"the middle one bypassed",
         {Scaling(2, true), Scaling(3, true), Scaling(5, true)},
         {false, true, false},
         10000},
        {"none answers: the stage", {Scaling(2, false, true), Scaling(3, false)}, {}, 250},
        {"none answers: silence", {Scaling(2, false), Scaling(3, false, true)}, {}, 0},
        {"the first bypassed, none answers: the stage",
         {Scaling(2, false), Scaling(3, false, true)},
         {true, false},
         250},
        {"all bypassed: the stage", {Scaling(2, true), Scaling(3, true)}, {true, true}, 250},
    };
    SetFade(0, 0);
    gain = 0.25;
    pluginActive.store(1);
    for (const Row& row : rows) {
        std::vector<ScalingEffect> effects = row.effects;
        std::vector<ChainLink> links;
        for (size_t i = 0; i < effects.size(); ++i) {
            links.push_back({&effects[i], i < row.bypassed.size() && row.bypassed[i]});
        }
        SetBlockEffects(links.data(), static_cast<uint32_t>(links.size()));
        Samples in(2 * 512, 1000), out(in.size());
        for (int block = 0; block < 2; ++block) { // the second one past any crossfade
            ProcessBlock(in.data(), 512 * 4, out.data());
        }
        EXPECT_EQ(std::make_pair(out[0], out.back()), std::make_pair(row.expected, row.expected))
            << row.what;
    }
    SetBlockEffect(blockHandle);
}

// A chain changed while the blocks play: what stops playing fades from its sound to what it was
// given, what starts fades in, each over 10 ms, and nothing jumps on the way (the steps stay
// those of a 441-frame ramp between the two levels); the change is in after the fading block,
// and an effect taken out is called no more.
TEST_F(BlockProcessingTest, AChainChangedWhileThePlayingCrossesOverWithoutAJump) {
    constexpr uint32_t FRAMES = 512;
    struct Row {
        const char* what;
        std::vector<int> before, after; // indexes into the effects; negative: bypassed
        int16_t from, to;               // the levels from 1000
        bool waits;                     // a fade-out: the change waits for its block
        int steepest; // the largest step of the ramps between the levels on the way, rounded up
    };
    // x2, x3, +0.1 (3277) and x0 (silence).
    const Row rows[] = {
        {"added", {0}, {0, 1}, 2000, 6000, false, 11},
        {"removed", {0, 1}, {0}, 6000, 2000, true, 11},
        {"bypassed", {0, 1}, {0, -1}, 6000, 2000, true, 11},
        {"no longer bypassed", {0, -1}, {0, 1}, 2000, 6000, false, 11},
        {"moved down: out first (to 4277), then in", {0, 2}, {2, 0}, 5277, 8554, true, 11},
        {"a silent one taken out", {3, 1}, {1}, 0, 3000, true, 9},
        {"all the same", {0, 1}, {0, 1}, 6000, 6000, false, 0},
    };
    SetFade(0, 0);
    pluginActive.store(1);
    for (const Row& row : rows) {
        std::vector<ScalingEffect> effects = {Scaling(2, true), Scaling(3, true), Scaling(1, true),
                                              Scaling(0, true)};
        effects[2].offset = 0.1f;
        const auto links = [&](const std::vector<int>& at) {
            std::vector<ChainLink> chain;
            for (int i : at) {
                chain.push_back({&effects[static_cast<size_t>(std::abs(i))], i < 0});
            }
            return chain;
        };
        const std::vector<ChainLink> before = links(row.before), after = links(row.after);
        SetBlockEffects(before.data(), static_cast<uint32_t>(before.size()));
        Samples in(2 * FRAMES, 1000), out(4 * in.size());
        for (int block = 0; block < 2; ++block) { // the second one past any crossfade
            ProcessBlock(in.data(), FRAMES * 4, out.data());
        }
        CrossfadeBlockEffects(after.data(), static_cast<uint32_t>(after.size()));
        const bool waited = BlockEffectsChangePending();
        for (size_t block = 1; block < 4; ++block) {
            ProcessBlock(in.data(), FRAMES * 4, out.data() + block * in.size());
        }
        int step = 0;
        for (size_t i = 2; i < out.size(); ++i) {
            step = std::max(step, std::abs(out[i] - out[i - 2]));
        }
        const std::vector<int> callsBefore = {effects[0].calls, effects[1].calls, effects[2].calls,
                                              effects[3].calls};
        Samples settled(in.size());
        ProcessBlock(in.data(), FRAMES * 4, settled.data());
        int calledAfter = 0; // effects called that the new chain does not play
        for (size_t e = 0; e < effects.size(); ++e) {
            const bool plays = std::count(row.after.begin(), row.after.end(), int(e)) > 0;
            calledAfter += !plays && effects[e].calls != callsBefore[e] ? 1 : 0;
        }
        EXPECT_EQ((std::make_tuple(out[in.size() - 1], out.back(), settled.front(), waited,
                                   BlockEffectsChangePending(), calledAfter)),
                  (std::make_tuple(row.from, row.to, row.to, row.waits, false, 0)))
            << row.what;
        EXPECT_LE(step, row.steepest) << row.what;
    }
    SetBlockEffect(blockHandle);
}

// Muted, the sound fades out as a stop's does (0.1 s) and stays silent while the blocks go on;
// unmuted, it comes back as a start's does (1 s); at full level nothing is touched.
TEST_F(BlockProcessingTest, MuteFadesOutInATenthAndBackInASecond) {
    constexpr uint32_t FRAMES = 4410;
    SetFade(0, 0);
    Samples in(2 * FRAMES, 1000), out(in.size());
    const auto block = [&] {
        ProcessBlock(in.data(), FRAMES * 4, out.data());
        return std::make_tuple(out.front(), out.back(), std::is_sorted(out.rbegin(), out.rend()));
    };
    const auto rising = [&] {
        ProcessBlock(in.data(), FRAMES * 4, out.data());
        return std::make_tuple(out.front(), out.back(), std::is_sorted(out.begin(), out.end()));
    };
    ProcessBlock(in.data(), FRAMES * 4, out.data()); // the stage's first block starts from silence
    EXPECT_EQ(block(), std::make_tuple(1000, 1000, true));
    SetOutputMuted(true);
    EXPECT_EQ(block(), std::make_tuple(999, 0, true)) << "down by 1/4410 a frame";
    EXPECT_EQ(block(), std::make_tuple(0, 0, true)) << "silent while muted";
    SetOutputMuted(false);
    EXPECT_EQ(rising(), std::make_tuple(0, 100, true)) << "up by 1/44100 a frame";
    for (int b = 0; b < 8; ++b) {
        rising();
    }
    EXPECT_EQ(rising(), std::make_tuple(900, 1000, true));
    EXPECT_EQ(block(), std::make_tuple(1000, 1000, true));
}

// Every effect bypassed: the chain answers one more block, which crosses over to the stage's
// sound (here at half the level) without a jump; the effects are called no more until the
// bypass ends, when the stage's sound crosses back to theirs.
TEST_F(BlockProcessingTest, BypassedEffectsCrossToTheStageAndBack) {
    constexpr uint32_t FRAMES = 512;
    ScalingEffect effect = Scaling(2, true);
    const ChainLink link = {&effect, false};
    SetBlockEffects(&link, 1);
    SetFade(0, 0);
    gain = 0.5;
    pluginActive.store(1);
    Samples in(2 * FRAMES, 1000), out(in.size());
    const auto block = [&] {
        ProcessBlock(in.data(), FRAMES * 4, out.data());
        int step = 0;
        for (size_t i = 2; i < out.size(); ++i) {
            step = std::max(step, std::abs(out[i] - out[i - 2]));
        }
        return std::make_tuple(out.front(), out.back(), step, effect.calls);
    };
    block();
    EXPECT_EQ(block(), std::make_tuple(2000, 2000, 0, 2));
    SetEffectsBypassed(true);
    EXPECT_EQ(block(), std::make_tuple(1996, 500, 4, 3)) << "1500 over 442 steps";
    EXPECT_EQ(block(), std::make_tuple(500, 500, 0, 3));
    SetEffectsBypassed(false);
    EXPECT_EQ(block(), std::make_tuple(503, 2000, 4, 4));
    EXPECT_EQ(block(), std::make_tuple(2000, 2000, 0, 5));
    SetBlockEffect(blockHandle);
}

// Nothing plays a change that fades out when no block comes: it goes in when settled, at once.
TEST_F(BlockProcessingTest, AChangeNoBlockPlaysGoesInWhenSettled) {
    ScalingEffect first = Scaling(2, true), second = Scaling(3, true);
    const ChainLink before[] = {{&first, false}, {&second, false}};
    pluginActive.store(1);
    SetBlockEffects(before, 2);
    CrossfadeBlockEffects(before, 1);
    const bool waiting = BlockEffectsChangePending();
    SettleBlockEffects();
    Samples in(2 * 64, 1000), out(in.size());
    ProcessBlock(in.data(), 64 * 4, out.data());
    EXPECT_EQ(std::make_tuple(waiting, BlockEffectsChangePending(), second.calls, out[0]),
              std::make_tuple(true, false, 0, 2000));
    SetBlockEffect(blockHandle);
}

} // namespace
