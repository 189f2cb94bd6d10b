#include <cmath>
#include <cstdlib>
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

TEST_F(PitchStageTest, BlockRunEqualsSampleCallsInBufferOrder) {
    const double ratios[] = {1.0, 2.0, 0.5, 0.9, 1.7};
    std::srand(11);
    std::vector<int16_t> input(2 * 2206 + 1);
    for (int16_t& s : input) {
        s = static_cast<int16_t>(std::rand() % 65536 - 32768);
    }
    for (double ratio : ratios) {
        for (uint32_t samples : {4412u, 4413u, 1u, 0u}) {
            ResetEngineState();
            gain = 3.0;
            pitchRatio = ratio;
            std::vector<int16_t> expected(samples);
            for (uint32_t i = 0; i < samples; ++i) {
                expected[i] = ProcessSample(input[i], static_cast<int>(i & 1));
            }
            const uint8_t expectedClip = clipFlag;
            ResetEngineState();
            gain = 3.0;
            pitchRatio = ratio;
            std::vector<int16_t> got(samples + 1, 12345);
            ProcessStageBlock(input.data(), got.data(), samples);
            EXPECT_EQ(got[samples], 12345) << "wrote past the block";
            got.resize(samples);
            EXPECT_EQ(got, expected) << ratio << " / " << samples;
            EXPECT_EQ(clipFlag, expectedClip);
        }
    }
}

}  // namespace
