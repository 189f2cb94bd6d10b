#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "audio/pitch_stage.h"
#include "audio/slider_tables.h"
#include "tests/core/engine_fixture.h"

namespace {

using PitchStageTest = EngineTest;

// Runs one sample through with the crossfade pinned at its midpoint, where the result is
// exactly the undelayed stage value s.
int16_t StageValue(int16_t sample, int channel = 0) {
    pitchChannels[channel].crossfadeLeft = HISTORY_DELAY;
    return ProcessSample(sample, channel);
}

TEST_F(PitchStageTest, UnityRatioIsAPureDelayOf32Samples) {
    for (int i = 1; i <= 200; ++i) {
        int16_t out = ProcessSample(static_cast<int16_t>(i), 0);
        EXPECT_EQ(out, i <= 32 ? 0 : i - 32) << "call " << i;
    }
    EXPECT_EQ(pitchChannels[0].crossfadeLeft, 0);
    EXPECT_EQ(clipFlag, 0);
}

TEST_F(PitchStageTest, InterpolatesAndTruncatesTowardZero) {
    PitchChannel& p = pitchChannels[0];
    p.writePos = 400;
    p.readPos = 10.25;
    p.ring[10] = 1000;
    p.ring[11] = 2000;
    EXPECT_EQ(StageValue(0), 1250);

    p.readPos = 10.3;  // mix -2 * 0.7 + -1 * 0.3 = -1.7, toward zero gives -1
    p.ring[10] = -2;
    p.ring[11] = -1;
    EXPECT_EQ(StageValue(0), -1);

    p.readPos = 881.5;  // the neighbour of index 881 is index 0
    p.ring[881] = 100;
    p.ring[0] = 300;
    EXPECT_EQ(StageValue(0), 200);
}

TEST_F(PitchStageTest, ClipBoundaries) {
    struct Case {
        int16_t sample;
        double gain;
        int16_t expected;
        bool clips;
    };
    const Case cases[] = {
        {32767, 32767.9 / 32767.0, 32767, false},
        {16384, 2.0, 32767, true},
        {-32768, 32768.9 / 32768.0, -32768, false},
        {-32768, 32769.0 / 32768.0, -32768, true},
        {32767, 10.0, 32767, true},
        {-32768, 10.0, -32768, true},
    };
    for (const Case& c : cases) {
        ResetEngineState();
        pitchRatio = 1.0;
        gain = c.gain;
        EXPECT_EQ(StageValue(c.sample), c.expected) << c.sample << " x " << c.gain;
        EXPECT_EQ(clipFlag != 0, c.clips) << c.sample << " x " << c.gain;
    }
}

TEST_F(PitchStageTest, ClippingCallStillReturnsTheDelayedValue) {
    gain = 10.0;
    EXPECT_EQ(ProcessSample(32767, 0), 0);
    EXPECT_EQ(clipFlag, 1);
    for (int i = 1; i < 32; ++i) {
        ProcessSample(0, 0);
    }
    EXPECT_EQ(ProcessSample(0, 0), 32767);  // the saturated value, 32 calls later
}

TEST_F(PitchStageTest, CrossfadeWeights) {
    struct Case {
        int b;
        int16_t s;
        int16_t h;
        int16_t expected;
    };
    const Case cases[] = {
        {48, 1000, -1000, 0},   // D 16: half and half
        {33, 1001, 0, 969},     // D 1: 31/32 of s, truncated
        {64, 1000, -1000, -1000},  // the detecting call: all h
        {32, 1000, -1000, 1000},   // the midpoint: all s
        {1, 3200, 0, 100},         // D 31: 1/32 of s
        {0, 1000, -1000, -1000},   // no crossfade: h
    };
    for (const Case& c : cases) {
        ResetEngineState();
        gain = 1.0;
        pitchRatio = 1.0;
        PitchChannel& p = pitchChannels[0];
        p.history[HISTORY_DELAY] = c.h;  // historyPos 0 reads index 32
        p.crossfadeLeft = c.b;
        EXPECT_EQ(ProcessSample(c.s, 0), c.expected) << "B " << c.b;
        EXPECT_EQ(p.crossfadeLeft, c.b > 0 ? c.b - 1 : 0);
    }
}

TEST_F(PitchStageTest, NoCrossingOnTheFirstCallOrAtExactEquality) {
    pitchRatio = 2.0;
    ProcessSample(100, 0);  // t - u is 0
    EXPECT_EQ(pitchChannels[0].crossfadeLeft, 0);

    ResetEngineState();
    gain = 1.0;
    pitchRatio = 2.0;
    pitchChannels[0].writePos = 5;
    pitchChannels[0].readPos = 4.0;  // after the step both are 6
    ProcessSample(0, 0);
    EXPECT_EQ(pitchChannels[0].crossfadeLeft, 0);
}

TEST_F(PitchStageTest, CrossingIsSeenInBothDirectionsAndAcrossAWrap) {
    struct Case {
        int32_t writePos;
        double readPos;
        double ratio;
    };
    const Case cases[] = {
        {100, 99.5, 2.0},    // reader overtakes the writer from behind
        {100, 100.25, 0.5},  // writer overtakes the reader
        {881, 880.5, 2.0},   // both wrap in the same step
    };
    for (const Case& c : cases) {
        ResetEngineState();
        gain = 1.0;
        pitchRatio = c.ratio;
        pitchChannels[0].writePos = c.writePos;
        pitchChannels[0].readPos = c.readPos;
        pitchChannels[0].crossfadeLeft = 10;  // a running crossfade restarts
        ProcessSample(0, 0);
        EXPECT_EQ(pitchChannels[0].crossfadeLeft, CROSSFADE_STEPS - 1) << c.writePos;
        EXPECT_LT(pitchChannels[0].writePos, RING_LENGTH);
        EXPECT_LT(pitchChannels[0].readPos, static_cast<double>(RING_LENGTH));
    }
}

TEST_F(PitchStageTest, ShiftedRunKeepsPositionsInRangeAndCrossfadesEachLap) {
    // The slider's ratios: an exact 2.0 or 0.5 would meet the writer at exact equality,
    // which is not a crossing.
    for (double ratio : {PitchRatioForPosition(200), PitchRatioForPosition(-200),
                         PitchRatioForPosition(-17)}) {
        ResetEngineState();
        gain = 1.0;
        pitchRatio = ratio;
        int crossings = 0;
        for (int i = 0; i < 44100; ++i) {
            ProcessSample(static_cast<int16_t>(i % 1000), 0);
            const PitchChannel& p = pitchChannels[0];
            ASSERT_GE(p.readPos, 0.0);
            ASSERT_LT(p.readPos, static_cast<double>(RING_LENGTH));
            ASSERT_GE(p.writePos, 0);
            ASSERT_LT(p.writePos, RING_LENGTH);
            crossings += (p.crossfadeLeft == CROSSFADE_STEPS - 1);
        }
        // The reader laps the writer once every 882 / |ratio - 1| samples.
        const double expected = 44100.0 * std::fabs(ratio - 1.0) / RING_LENGTH;
        EXPECT_NEAR(crossings, expected, 1.5) << ratio;
    }
}

TEST_F(PitchStageTest, ChannelsNeverInfluenceEachOther) {
    pitchRatio = 1.5;
    std::vector<int16_t> left(4000);
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<int16_t>(8000 * std::sin(0.05 * static_cast<double>(i)));
    }
    std::vector<int16_t> alone;
    for (int16_t s : left) {
        alone.push_back(ProcessSample(s, 0));
        ProcessSample(0, 1);
    }
    ResetEngineState();
    gain = 1.0;
    pitchRatio = 1.5;
    std::srand(7);
    for (size_t i = 0; i < left.size(); ++i) {
        ASSERT_EQ(ProcessSample(left[i], 0), alone[i]) << i;
        ProcessSample(static_cast<int16_t>(std::rand() % 65536 - 32768), 1);
    }
}

// ---- A block must give exactly what one ProcessSample call per sample gives -------------------

constexpr int16_t GUARD_SAMPLE = 12345;

struct StageSnapshot {
    PitchChannel channels[2];
};

StageSnapshot TakeSnapshot() {
    StageSnapshot s;
    std::memcpy(s.channels, pitchChannels, sizeof pitchChannels);
    return s;
}

void RestoreSnapshot(const StageSnapshot& s) {
    std::memcpy(pitchChannels, s.channels, sizeof pitchChannels);
}

::testing::AssertionResult SameChannel(const PitchChannel& want, const PitchChannel& got,
                                       int channel) {
    for (int i = 0; i < RING_LENGTH; ++i) {
        if (want.ring[i] != got.ring[i]) {
            return ::testing::AssertionFailure() << "channel " << channel << " ring[" << i << "]";
        }
    }
    for (int i = 0; i < HISTORY_LENGTH; ++i) {
        if (want.history[i] != got.history[i]) {
            return ::testing::AssertionFailure()
                   << "channel " << channel << " history[" << i << "]";
        }
    }
    if (want.writePos != got.writePos || want.historyPos != got.historyPos ||
        want.crossfadeLeft != got.crossfadeLeft ||
        std::memcmp(&want.readPos, &got.readPos, sizeof want.readPos) != 0) {
        return ::testing::AssertionFailure()
               << "channel " << channel << " positions: expected writePos " << want.writePos
               << " readPos " << want.readPos << " historyPos " << want.historyPos
               << " crossfadeLeft " << want.crossfadeLeft << ", got " << got.writePos << " "
               << got.readPos << " " << got.historyPos << " " << got.crossfadeLeft;
    }
    return ::testing::AssertionSuccess();
}

// What a reference run saw, for the coverage checks.
struct BlockFacts {
    int crossings = 0;      // calls that detected a crossing
    bool clipped = false;
};

// Runs `samples` samples from the current stage state twice: one ProcessSample call per
// sample in buffer order, then one ProcessStageBlock; everything must agree bit for bit. The
// stage is left in the state the block produced.
::testing::AssertionResult BlockMatchesSampleCalls(const int16_t* input, uint32_t samples,
                                                   BlockFacts* facts = nullptr) {
    const StageSnapshot start = TakeSnapshot();
    clipFlag = 0;
    std::vector<int16_t> expected(samples);
    int crossings = 0;
    for (uint32_t i = 0; i < samples; ++i) {
        const int channel = static_cast<int>(i & 1);
        expected[i] = ProcessSample(input[i], channel);
        crossings += pitchChannels[channel].crossfadeLeft == CROSSFADE_STEPS - 1;
    }
    const uint8_t expectedClip = clipFlag;
    const StageSnapshot expectedState = TakeSnapshot();
    if (facts != nullptr) {
        facts->crossings = crossings;
        facts->clipped = expectedClip != 0;
    }

    RestoreSnapshot(start);
    clipFlag = 0;
    std::vector<int16_t> got(samples + 1, GUARD_SAMPLE);
    ProcessStageBlock(input, got.data(), samples);
    for (uint32_t i = 0; i < samples; ++i) {
        if (got[i] != expected[i]) {
            return ::testing::AssertionFailure()
                   << "sample " << i << " of " << samples << " (channel " << (i & 1)
                   << "): expected " << expected[i] << ", got " << got[i];
        }
    }
    if (got[samples] != GUARD_SAMPLE) {
        return ::testing::AssertionFailure() << "wrote past a block of " << samples;
    }
    if (clipFlag != expectedClip) {
        return ::testing::AssertionFailure()
               << "clipFlag " << int{clipFlag} << ", expected " << int{expectedClip};
    }
    for (int channel = 0; channel < 2; ++channel) {
        ::testing::AssertionResult same = SameChannel(expectedState.channels[channel],
                                                      pitchChannels[channel], channel);
        if (!same) {
            return same << " after a block of " << samples;
        }
    }
    return ::testing::AssertionSuccess();
}

// A whole number from lo to hi, both included.
int Draw(std::mt19937& rng, int lo, int hi) {
    return lo + static_cast<int>(rng() % static_cast<uint32_t>(hi - lo + 1));
}

// Stretches of noise at full scale, loud sines, runs of the extreme values, near-silence and
// constant levels, so that gain 10 clips on both sides and small gains do not. Between equal
// neighbours the interpolation's rounding decides whether a whole number truncates to itself
// or to the one below, so a differently ordered calculation shows at once.
std::vector<int16_t> VariedSignal(std::mt19937& rng, size_t length) {
    std::vector<int16_t> signal(length);
    size_t i = 0;
    while (i < length) {
        const int stretch = Draw(rng, 200, 3200);
        const int kind = Draw(rng, 0, 4);
        const int level = Draw(rng, -32768, 32767);
        const double step = 0.001 + 0.0002 * Draw(rng, 0, 999);
        for (int k = 0; k < stretch && i < length; ++k, ++i) {
            int32_t v = 0;
            switch (kind) {
                case 0: v = Draw(rng, -32768, 32767); break;
                case 1: v = static_cast<int32_t>(30000 * std::sin(step * k + static_cast<double>(i & 1)));
                    break;
                case 2: v = (Draw(rng, 0, 1) != 0) ? 32767 : -32768; break;
                case 3: v = Draw(rng, -32, 31); break;
                default: v = level; break;
            }
            signal[i] = static_cast<int16_t>(v);
        }
    }
    return signal;
}

bool CrossfadeRunning() {
    return (pitchChannels[0].crossfadeLeft > 0 && pitchChannels[0].crossfadeLeft < CROSSFADE_STEPS) ||
           (pitchChannels[1].crossfadeLeft > 0 && pitchChannels[1].crossfadeLeft < CROSSFADE_STEPS);
}

bool ChannelsStandApart() {
    return pitchChannels[0].writePos != pitchChannels[1].writePos ||
           pitchChannels[0].readPos != pitchChannels[1].readPos ||
           pitchChannels[0].historyPos != pitchChannels[1].historyPos;
}

// Two passes over every pitch position in random order, three blocks each with random
// gains: the first with even blocks only from the fresh state, so the channels move together
// throughout, the second with any length and with lone calls on one channel between blocks.
TEST_F(PitchStageTest, RandomBlocksMatchSampleCallsAtEverySliderPosition) {
    std::mt19937 rng(20240611);
    const std::vector<int16_t> signal = VariedSignal(rng, 1 << 18);
    std::vector<int> positions;
    for (int p = PITCH_POSITION_MIN; p <= PITCH_POSITION_MAX; ++p) {
        positions.push_back(p);
    }
    const uint32_t shortLengths[] = {0, 1, 2, 3, 31, 63, 64, 65, 127, 129};

    int crossfadeAtStart = 0, togetherAtStart = 0, apartAtStart = 0, oddBlocks = 0;
    int clippedBlocks = 0, quietBlocks = 0, crossings = 0;
    size_t offset = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const bool evenOnly = pass == 0;
        std::shuffle(positions.begin(), positions.end(), rng);
        for (int position : positions) {
            pitchRatio = PitchRatioForPosition(position);
            for (int block = 0; block < 3; ++block) {
                const int volumeChoice = Draw(rng, 0, 3);  // gain 10, gain 1 or any
                const int volume =
                    volumeChoice == 0   ? VOLUME_POSITION_MIN
                    : volumeChoice == 1 ? 0
                                        : Draw(rng, VOLUME_POSITION_MIN, VOLUME_POSITION_MAX);
                gain = GainForVolumePosition(volume);
                uint32_t samples = (Draw(rng, 0, 7) == 0)
                                       ? shortLengths[Draw(rng, 0, 9)]
                                       : static_cast<uint32_t>(Draw(rng, 0, 2600));
                if (evenOnly) {
                    samples &= ~1u;
                } else if (Draw(rng, 0, 5) == 0) {
                    // Lone calls on one channel between blocks change that ring alone.
                    const int channel = Draw(rng, 0, 1);
                    for (int i = Draw(rng, 1, 3); i > 0; --i) {
                        ProcessSample(static_cast<int16_t>(Draw(rng, -32768, 32767)), channel);
                    }
                }
                if (offset + samples > signal.size()) {
                    offset = 0;
                }
                crossfadeAtStart += CrossfadeRunning();
                (ChannelsStandApart() ? apartAtStart : togetherAtStart) += 1;
                oddBlocks += samples & 1;
                BlockFacts facts;
                ASSERT_TRUE(BlockMatchesSampleCalls(signal.data() + offset, samples, &facts))
                    << "pass " << pass << " pitch " << position << " volume " << volume
                    << " block " << block;
                crossings += facts.crossings;
                (facts.clipped ? clippedBlocks : quietBlocks) += samples > 0;
                offset += samples;
            }
        }
    }
    // The run must have met every situation it is meant to check.
    EXPECT_GT(crossfadeAtStart, 40);
    EXPECT_GT(togetherAtStart, 1000);
    EXPECT_GT(apartAtStart, 1000);
    EXPECT_GT(oddBlocks, 400);
    EXPECT_GT(crossings, 600);
    EXPECT_GT(clippedBlocks, 400);
    EXPECT_GT(quietBlocks, 400);
}

// Ratios off the slider too: exactly 2.0 and 0.5 bring the reader onto the writer exactly,
// where the crossing test's product is zero, of either sign.
TEST_F(PitchStageTest, BlocksMatchSampleCallsAtExactRatios) {
    std::mt19937 rng(11);
    const std::vector<int16_t> input = VariedSignal(rng, 2 * 2206 + 1);
    for (double ratio : {1.0, 2.0, 0.5, 0.9, 1.7}) {
        for (uint32_t samples : {4412u, 4413u, 1u, 0u}) {
            ResetEngineState();
            gain = 3.0;
            pitchRatio = ratio;
            ASSERT_TRUE(BlockMatchesSampleCalls(input.data(), samples))
                << ratio << " / " << samples;
            ASSERT_TRUE(BlockMatchesSampleCalls(input.data(), samples))
                << ratio << " / " << samples << ", second block";
        }
    }
}

// Every split of a stretch around a crossing, so the crossfade is cut at each of its steps,
// on both channels, by odd and even blocks, and the crossing falls on every frame of the
// second block near its 512th; the same near a wrap of both positions.
TEST_F(PitchStageTest, BlocksSplitAnywhereAroundACrossingOrAWrap) {
    std::mt19937 rng(77);
    const std::vector<int16_t> signal = VariedSignal(rng, 4096);
    for (int position : {PITCH_POSITION_MIN, PITCH_POSITION_MAX, -37, 200 - 1}) {
        ResetEngineState();
        gain = GainForVolumePosition(-30);
        pitchRatio = PitchRatioForPosition(position);
        // Find the first crossing of the left channel by sample calls.
        uint32_t crossing = 0;
        for (uint32_t i = 0; crossing == 0; ++i) {
            ProcessSample(signal[i % signal.size()], static_cast<int>(i & 1));
            if ((i & 1) == 0 && pitchChannels[0].crossfadeLeft == CROSSFADE_STEPS - 1) {
                crossing = i;
            }
            ASSERT_LT(i, 100000u) << "no crossing at pitch " << position;
        }
        // Back to a state 1200 samples before it.
        ResetEngineState();
        gain = GainForVolumePosition(-30);
        pitchRatio = PitchRatioForPosition(position);
        for (uint32_t i = 0; i + 1200 < crossing; ++i) {
            ProcessSample(signal[i % signal.size()], static_cast<int>(i & 1));
        }
        const StageSnapshot before = TakeSnapshot();
        constexpr uint32_t STRETCH = 1500;
        for (uint32_t split = 0; split <= STRETCH; ++split) {
            const bool nearChunk = split <= 300;
            const bool nearCrossing = split >= 1060 && split <= 1340;
            if (!nearChunk && !nearCrossing) {
                continue;
            }
            RestoreSnapshot(before);
            ASSERT_TRUE(BlockMatchesSampleCalls(signal.data(), split))
                << "pitch " << position << " first block " << split;
            ASSERT_TRUE(BlockMatchesSampleCalls(signal.data() + split, STRETCH - split))
                << "pitch " << position << " second block after " << split;
        }
    }
}

// Random rings and histories, then blocks from hand-set positions: channels far apart in
// every field (kept apart by odd blocks), and channels at the same ring positions whose
// histories and crossfades differ (kept together by even blocks).
TEST_F(PitchStageTest, BlocksMatchSampleCallsWhenTheChannelsStandApart) {
    std::mt19937 rng(5);
    const std::vector<int16_t> signal = VariedSignal(rng, 1 << 16);
    for (int setup = 0; setup < 2; ++setup) {
        const bool samePositions = setup == 1;
        ResetEngineState();
        PitchChannel& left = pitchChannels[0];
        PitchChannel& right = pitchChannels[1];
        for (int i = 0; i < RING_LENGTH; ++i) {
            left.ring[i] = static_cast<int16_t>(Draw(rng, -32768, 32767));
            right.ring[i] = static_cast<int16_t>(Draw(rng, -32768, 32767));
        }
        for (int i = 0; i < HISTORY_LENGTH; ++i) {
            left.history[i] = static_cast<int16_t>(Draw(rng, -32768, 32767));
            right.history[i] = static_cast<int16_t>(Draw(rng, -32768, 32767));
        }
        left.writePos = 880;
        left.readPos = 881.75;  // its neighbour is index 0 and it wraps on the next call
        left.historyPos = 63;
        left.crossfadeLeft = 40;
        right.writePos = samePositions ? left.writePos : 3;
        right.readPos = samePositions ? left.readPos : 500.125;
        right.historyPos = 10;
        right.crossfadeLeft = 1;
        size_t offset = 0;
        for (int round = 0; round < 60; ++round) {
            pitchRatio =
                PitchRatioForPosition(Draw(rng, PITCH_POSITION_MIN, PITCH_POSITION_MAX));
            gain = GainForVolumePosition(Draw(rng, VOLUME_POSITION_MIN, VOLUME_POSITION_MAX));
            uint32_t samples = static_cast<uint32_t>(Draw(rng, 0, 3000));
            samples = samePositions ? samples & ~1u : samples | 1u;
            if (offset + samples > signal.size()) {
                offset = 0;
            }
            if (samePositions) {
                ASSERT_TRUE(left.writePos == right.writePos && left.readPos == right.readPos);
                ASSERT_NE(left.historyPos, right.historyPos);
            } else {
                ASSERT_TRUE(ChannelsStandApart());
            }
            ASSERT_TRUE(BlockMatchesSampleCalls(signal.data() + offset, samples))
                << "setup " << setup << " round " << round;
            offset += samples;
        }
    }
}

// Read positions a simple fraction p/q past a whole index over a ramp rising by a multiple
// of q per frame: the exact interpolation is a whole number or a hair's breadth off one, so
// only the same operations in the same order truncate to the same results.
TEST_F(PitchStageTest, BlocksRoundLikeSampleCallsWhereTheRoundingDecides) {
    for (int volume : {0, VOLUME_POSITION_MIN, -37}) {
        for (int q : {3, 5, 7, 9, 10, 11, 13}) {
            for (int p = 1; p < q; ++p) {
                ResetEngineState();
                gain = GainForVolumePosition(volume);
                pitchRatio = PitchRatioForPosition(0);
                pitchChannels[0].writePos = 300;
                pitchChannels[0].readPos = 100 + static_cast<double>(p) / q;
                pitchChannels[1].writePos = 20;
                pitchChannels[1].readPos = 700 + static_cast<double>(q - p) / q;
                std::vector<int16_t> ramp(2 * 1000 + 1);
                for (int n = 0; n < 1000; ++n) {
                    ramp[2 * n] = static_cast<int16_t>((n * q * 7) % 60000 - 30000);
                    ramp[2 * n + 1] = static_cast<int16_t>(3000 - (n * q * 3) % 6000);
                }
                ASSERT_TRUE(BlockMatchesSampleCalls(ramp.data(), 1201))
                    << p << "/" << q << " volume " << volume;
                ASSERT_TRUE(BlockMatchesSampleCalls(ramp.data() + 1201, 800))
                    << p << "/" << q << " volume " << volume;
            }
        }
    }
}

TEST_F(PitchStageTest, BlockClipBoundariesOnEitherChannel) {
    struct Case {
        int16_t sample;
        double gain;
    };
    const Case cases[] = {
        {32767, 32767.9 / 32767.0}, {16384, 2.0},  {-32768, 32768.9 / 32768.0},
        {-32768, 32769.0 / 32768.0}, {32767, 10.0}, {-32768, 10.0},
        {0, 10.0},
    };
    for (const Case& c : cases) {
        for (int loud = 0; loud < 2; ++loud) {
            for (uint32_t samples : {2u, 3u, 130u}) {
                ResetEngineState();
                pitchRatio = 1.0;
                gain = c.gain;
                std::vector<int16_t> input(samples, 0);
                input[samples - 2 + static_cast<uint32_t>(loud)] = c.sample;
                ASSERT_TRUE(BlockMatchesSampleCalls(input.data(), samples))
                    << c.sample << " x " << c.gain << " at channel " << loud << " of "
                    << samples;
            }
        }
    }
}
}  // namespace
