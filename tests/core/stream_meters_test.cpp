// What the blocks tell the monitor: each channel's peak and RMS at the input and the output,
// and each effect's share of its blocks' time, gathered between two takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <string>
#include <vector>

#include "audio/block_processing.h"
#include "audio/stream_meters.h"
#include "tests/core/fixtures.h"

namespace {

using StreamMetersTest = EngineTest;

// 441 frames: left a sine of the amplitude (a whole number of periods), right a constant.
Samples Block(double amplitude, int16_t right) {
    Samples block(2 * 441);
    for (size_t f = 0; f < 441; ++f) {
        block[2 * f] = static_cast<int16_t>(std::lround(
            amplitude * std::sin(6.283185307179586 * 10 * static_cast<double>(f) / 441)));
        block[2 * f + 1] = right;
    }
    return block;
}

// Levels as dBFS: -6 dBFS a sine's peak, 3 dB less its RMS; silence the floor; a constant at
// full scale 0 dB both ways.
TEST_F(StreamMetersTest, EachChannelsPeakAndRmsReadInDbfs) {
    struct Row {
        const char* what;
        double amplitude;
        int16_t right;
        double leftPeak, leftRms, rightPeak, rightRms;
    };
    const Row rows[] = {
        {"-6 dBFS sine, silence", 16384, 0, -6.02, -9.03, METER_FLOOR_DB, METER_FLOOR_DB},
        {"silence, full scale", 0, -32768, METER_FLOOR_DB, METER_FLOOR_DB, 0.0, 0.0},
        {"-40 dBFS sine, -20 dBFS", 327.68, 3277, -40.0, -43.01, -20.0, -20.0},
    };
    for (const Row& row : rows) {
        const Samples in = Block(row.amplitude, row.right);
        TakeMeterReading();
        MeterBlock(in.data(), in.data(), static_cast<uint32_t>(in.size()));
        MeterBlock(in.data(), in.data(), static_cast<uint32_t>(in.size()));
        const MeterReading r = TakeMeterReading();
        const double read[] = {
            LevelDb(r.input[0].peak / 32768.0), LevelDb(std::sqrt(r.input[0].meanSquare)),
            LevelDb(r.input[1].peak / 32768.0), LevelDb(std::sqrt(r.input[1].meanSquare))};
        const double expected[] = {row.leftPeak, row.leftRms, row.rightPeak, row.rightRms};
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(read[i], expected[i], 0.05) << row.what << " " << i;
        }
        EXPECT_EQ(r.frames, 882u) << row.what;
        EXPECT_EQ(TakeMeterReading().frames, 0u) << "taken: a fresh start";
    }
}

// Through the blocks: the output is the stage's (here at half the gain), and each effect of the
// chain its own share of its blocks' time: the mean of the blocks' shares and the worst one.
TEST_F(StreamMetersTest, TheBlocksMeterTheirOutputAndEachEffectsTime) {
    SetFade(0, 0);
    gain = 0.5;
    pluginActive.store(0);
    const Samples in = Block(16384, 0);
    Samples out(in.size());
    for (int b = 0; b < 3; ++b) {
        ProcessBlock(in.data(), static_cast<uint32_t>(in.size() * 2), out.data());
    }
    const MeterReading staged = TakeMeterReading();
    EXPECT_NEAR(LevelDb(staged.output[0].peak / 32768.0), -12.04, 0.1);
    EXPECT_NEAR(LevelDb(staged.input[0].peak / 32768.0), -6.02, 0.05);

    // A chain of two copies, the first bypassed: only the second's link is timed.
    struct Copy : EffectHandle {};
    Copy first, second;
    for (Copy* c : {&first, &second}) {
        c->process = [](EffectHandle*, const float* input, float* output, uint32_t frames) {
            std::copy(input, input + 2 * frames, output);
            return true;
        };
        c->setHostValues = [](EffectHandle*, const EffectHostValues&) {};
    }
    const ChainLink links[] = {{&first, true}, {&second, false}};
    SetBlockEffects(links, 2);
    pluginActive.store(1);
    for (int b = 0; b < 3; ++b) {
        ProcessBlock(in.data(), static_cast<uint32_t>(in.size() * 2), out.data());
    }
    const MeterReading chained = TakeMeterReading();
    EXPECT_EQ((std::make_tuple(chained.effects[0].blocks, chained.effects[1].blocks)),
              (std::make_tuple(0u, 3u)));
    EXPECT_NEAR(LevelDb(chained.output[0].peak / 32768.0), -6.02, 0.05) << "the copy's sound";
    SetBlockEffect(blockHandle);

    const uint64_t blockNs = 10000000; // 441 frames
    MeterEffect(1, blockNs / 2, 441);
    MeterEffect(1, blockNs / 10, 441);
    MeterEffect(1, blockNs * 3 / 10, 441);
    MeterEffect(MAX_CHAIN_EFFECTS, blockNs, 441); // no such link: nothing
    const MeterReading timed = TakeMeterReading();
    EXPECT_EQ((std::make_tuple(timed.effects[0].blocks, timed.effects[1].blocks)),
              (std::make_tuple(0u, 3u)));
    EXPECT_NEAR(timed.effects[1].share, 0.3, 1e-6);
    EXPECT_NEAR(timed.effects[1].worstShare, 0.5, 1e-6);
}

} // namespace
