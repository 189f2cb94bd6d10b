// The built-in stage one sample at a time, and its block form, which must agree with it bit
// for bit: every output, clipFlag and the whole state of both channels.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "audio/pitch_stage.h"
#include "audio/slider_tables.h"
#include "tests/core/fixtures.h"

namespace {

std::mt19937 rng(20240611);

class PitchStageTest : public EngineTest {
  protected:
    static int Draw(int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1u)); }
    static int16_t AnySample() { return static_cast<int16_t>(rng()); }
    static void Fresh(double g, double ratio) { ResetEngineState(), gain = g, pitchRatio = ratio; }
    static Samples VariedSignal(size_t length);
};

// From the current state through ProcessSample in buffer order, then ProcessStageBlock.
::testing::AssertionResult BlockMatchesSampleCalls(const int16_t* input, uint32_t samples) {
    PitchChannel start[2], expectedState[2];
    std::memcpy(start, pitchChannels, sizeof start);
    Samples expected(samples), got(samples + 1, 12345); // one guard
    clipFlag = 0;
    for (uint32_t i = 0; i < samples; ++i) {
        expected[i] = ProcessSample(input[i], static_cast<int>(i & 1));
    }
    const uint8_t expectedClip = clipFlag;
    std::memcpy(expectedState, pitchChannels, sizeof expectedState);
    std::memcpy(pitchChannels, start, sizeof start);
    clipFlag = 0;
    ProcessStageBlock(input, got.data(), samples);
    const auto differ = std::mismatch(expected.begin(), expected.end(), got.begin());
    return ::testing::AssertionResult(differ.first == expected.end() && got[samples] == 12345 &&
                                      clipFlag == expectedClip &&
                                      !std::memcmp(expectedState, pitchChannels, sizeof start))
           << samples << " samples, first difference at " << differ.first - expected.begin()
           << ", guard " << got[samples] << ", clipFlag " << int(clipFlag) << " for "
           << int(expectedClip) << ", state differs "
           << std::memcmp(expectedState, pitchChannels, sizeof start);
}

// Stretches of full-scale noise, loud sines, runs of the extremes, near-silence and constant
// levels (between equal neighbours the interpolation's rounding alone decides a truncation).
Samples PitchStageTest::VariedSignal(size_t length) {
    Samples signal(length);
    for (size_t i = 0; i < length;) {
        const int stretch = Draw(200, 3200), kind = Draw(0, 4), level = Draw(-32768, 32767);
        const double step = 0.001 + 0.0002 * Draw(0, 999);
        for (int k = 0; k < stretch && i < length; ++k, ++i) {
            const int values[] = {
                AnySample(),
                static_cast<int>(30000 * std::sin(step * k + static_cast<double>(i & 1))),
                Draw(0, 1) ? 32767 : -32768, Draw(-32, 31), level};
            signal[i] = static_cast<int16_t>(values[kind]);
        }
    }
    return signal;
}

// The middle positions delay each channel by 32 samples, untouched by the other. The ends shift
// a tone an octave up and down, counted by its zero crossings, and the crossfades keep every
// step between samples near the shifted tone's own steepest (the tone's period does not
// divide the ring, so each lap of the reader is a jump in phase).
TEST_F(PitchStageTest, TheMiddleDelaysAndTheEndsShiftAToneWithoutClicks) {
    constexpr double HZ = 440, LEVEL = 10000, STEP = LEVEL * 6.283185307179586 * HZ / 44100;
    const Samples right = VariedSignal(44100);
    Samples tone(44100);
    for (int i = 0; i < 44100; ++i) {
        tone[i] = static_cast<int16_t>(LEVEL * std::sin(i * STEP / LEVEL));
    }
    for (int position : {0, PITCH_POSITION_MIN, PITCH_POSITION_MAX}) {
        Fresh(1.0, PitchRatioForPosition(position));
        const double shift = std::pow(2.0, -6.0 * position / 1200); // 6 cents a position, - is up
        int crossings = 0, steepest = 0, last = 0;
        for (int i = 0; i < 44100; ++i) {
            const int out = ProcessSample(tone[i], 0), other = ProcessSample(right[i], 1);
            if (position == 0) {
                ASSERT_EQ(
                    std::make_pair(out, other),
                    std::make_pair(i < 32 ? 0 : int(tone[i - 32]), i < 32 ? 0 : int(right[i - 32])))
                    << i;
            }
            crossings += (out < 0) != (last < 0);
            steepest = std::max(steepest, std::abs(out - last));
            last = out;
        }
        EXPECT_NEAR(crossings, 2 * HZ * shift, 12) << position;
        EXPECT_LT(steepest, 1.5 * STEP * shift) << position;
    }
}

// One call from a set state: the interpolation truncates toward zero and wraps to index 0;
// with b crossfade steps to go the output mixes the undelayed s and the delayed h (all h at
// the start, all s at the midpoint, 1/32 per step); a crossing restarts the crossfade in
// either direction and across a wrap, meeting exactly does not.
TEST_F(PitchStageTest, OneCallInterpolatesCrossfadesAndDetectsCrossings) {
    // clang-format off
    struct Case { int32_t writePos; double readPos, ratio; int16_t at, next, h; int32_t b; int16_t out; int32_t bAfter; };
    const Case cases[] = {
        {400, 10.25, 1, 1000, 2000, 0, 32, 1250, 31}, {400, 10.3, 1, -2, -1, 0, 32, -1, 31}, {400, 881.5, 1, 100, 300, 0, 32, 200, 31},
        {400, 10, 1, 1000, 0, -1000, 48, 0, 47}, {400, 10, 1, 3200, 0, 0, 1, 100, 0}, {400, 10, 1, 1000, 0, -1000, 0, -1000, 0},
        {100, 100.25, 0.5, 0, 0, 0, 10, 0, 63}, {881, 880.5, 2, 0, 0, 0, 10, 0, 63}, {5, 4, 2, 0, 0, 0, 10, 0, 9}};
    // clang-format on
    for (const Case& c : cases) {
        Fresh(1.0, c.ratio);
        PitchChannel& p = pitchChannels[0];
        p.writePos = c.writePos, p.readPos = c.readPos, p.crossfadeLeft = c.b;
        p.ring[int(c.readPos)] = c.at, p.ring[(int(c.readPos) + 1) % RING_LENGTH] = c.next;
        p.history[HISTORY_DELAY] = c.h; // what historyPos 0 reads
        EXPECT_EQ(ProcessSample(0, 0), c.out) << c.writePos << " " << c.readPos << " " << c.b;
        EXPECT_EQ(p.crossfadeLeft, c.bAfter);
        EXPECT_LT(p.writePos, RING_LENGTH);
        EXPECT_LT(p.readPos, RING_LENGTH);
    }
}

// Saturation and clipFlag just inside and just beyond full scale (mix at exactly 32768 or
// -32769), in blocks with the sample on either channel, even and odd.
TEST_F(PitchStageTest, BlocksMatchSampleCallsAtTheClipBoundaries) {
    // clang-format off
    const std::pair<int16_t, double> cases[] = {{32767, 32767.9 / 32767}, {16384, 2.0},
        {-32768, 32768.9 / 32768}, {-32768, 32769.0 / 32768}, {-32768, 10.0}};
    // clang-format on
    for (const auto& c : cases) {
        for (uint32_t samples : {1u, 2u, 3u, 130u, 131u}) {
            Fresh(c.second, 1.0);
            Samples input(samples, 0);
            input[samples - 1] = c.first;
            ASSERT_TRUE(BlockMatchesSampleCalls(input.data(), samples)) << c.first;
        }
    }
}

// Random rounds through all the block form does on its own: every ratio at gain 10, 1 or any;
// blocks short, long, odd and even; fresh, after a lone call on one channel, with random rings,
// histories and positions (channels apart or together); and read positions p/q past an index
// over ramps rising by multiples of q, where every interpolation is a whole number or a hair's
// breadth off one, so only the same operations in the same order agree.
TEST_F(PitchStageTest, RandomBlocksMatchSampleCalls) {
    const Samples signal = VariedSignal(1 << 18);
    bool evenOnly = true;
    Samples ramp(2 * 1300);
    for (int round = 0; round < 2500; ++round) {
        pitchRatio = PitchRatioForPosition(Draw(PITCH_POSITION_MIN, PITCH_POSITION_MAX));
        const int volume = Draw(-200, 200); // the loudest, the middle or any
        gain = GainForVolumePosition(volume < -100 ? -100 : (volume > 100 ? 0 : volume));
        uint32_t samples = Draw(0, Draw(0, 3) == 0 ? 130 : 2600);
        const int16_t* input = signal.data() + Draw(0, static_cast<int>(signal.size()) - 2601);
        const int situation = Draw(0, 29);
        if (situation == 0) {
            Fresh(gain, pitchRatio), evenOnly = true;
        } else if (situation < 4) {
            evenOnly = situation == 1;
            for (PitchChannel& p : pitchChannels) {
                std::generate(std::begin(p.ring), std::end(p.ring), AnySample);
                std::generate(std::begin(p.history), std::end(p.history), AnySample);
                p.writePos = evenOnly ? pitchChannels[0].writePos : Draw(0, RING_LENGTH - 1);
                p.readPos =
                    evenOnly ? pitchChannels[0].readPos : Draw(0, 8 * RING_LENGTH - 1) / 8.0;
                p.historyPos = Draw(0, HISTORY_LENGTH - 1);
                p.crossfadeLeft = Draw(0, CROSSFADE_STEPS);
            }
        } else if (situation < 6) {
            const int q = Draw(3, 13), p = Draw(1, q - 1);
            pitchRatio = 1.0;
            pitchChannels[0].writePos = 300, pitchChannels[1].writePos = 20;
            pitchChannels[0].readPos = 100 + static_cast<double>(p) / q;
            pitchChannels[1].readPos = 700 + static_cast<double>(q - p) / q;
            for (int n = 0; n < 1300; ++n) {
                ramp[2 * n] = static_cast<int16_t>((n * q * 7) % 60000 - 30000);
                ramp[2 * n + 1] = static_cast<int16_t>(3000 - (n * q * 3) % 6000);
            }
            input = ramp.data(), samples = std::min(samples, 2600u);
        } else if (situation == 6) {
            ProcessSample(AnySample(), Draw(0, 1)); // a lone call puts the channels apart
            evenOnly = false;
        }
        samples &= evenOnly ? ~1u : ~0u;
        ASSERT_TRUE(BlockMatchesSampleCalls(input, samples))
            << "round " << round << " situation " << situation << " ratio " << pitchRatio;
    }
}

} // namespace
