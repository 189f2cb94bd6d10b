// One block through a real effect: the guards, the block-size catch-up, the SSE modes around
// its processing, and whatever an effect may leave in its outputs.
#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "tests/support/sample_blocks.h"
#include "plugin/plugin_bridge.h"
#include "tests/core/fixtures.h"
#include "tests/plugins/hostile_values.h"

namespace {

using PluginBridgeTest = EngineTest;

constexpr int16_t UNTOUCHED = 0x5A5A;

std::string Processed(int frames) {
    return "process frames=" + std::to_string(frames) + " ftz=1 daz=1";
}

// Declined: no effect, not sized, no frames, more than the buffers hold. Then the size is
// told once, with no suspend around it, whenever a block finds it untold; the effect runs with
// denormals flushed and the caller's own mode is restored; a block writes only its frames.
TEST_F(PluginBridgeTest, DeclinedCaughtUpAndShortBlocks) {
    constexpr unsigned FLUSH_TO_ZERO = 0x8000, DENORMALS_ARE_ZERO = 0x0040, EXCEPTION_FLAGS = 0x3F;
    Samples in(2 * 65, 300), out(2 * 65, UNTOUCHED);
    EXPECT_FALSE(ProcessSamples(host, in.data(), out.data(), 64));
    Listen("copy_through");
    ASSERT_TRUE(Load("copy_through"));
    EXPECT_FALSE(ProcessSamples(host, in.data(), out.data(), 64));
    SetPluginBlockSize(host, 64);
    host.blockSizeSent = BLOCK_SIZE_NOT_SENT; // a catch-up is due, but not for a declined block
    EXPECT_FALSE(ProcessSamples(host, in.data(), out.data(), 0));
    EXPECT_FALSE(ProcessSamples(host, in.data(), out.data(), 65));
    EXPECT_EQ(Log("copy_through").size(), 7u); // opened and sized only
    EXPECT_EQ(out, Samples(out.size(), UNTOUCHED));
    const unsigned before = _mm_getcsr();
    ASSERT_EQ(before & (FLUSH_TO_ZERO | DENORMALS_ARE_ZERO), 0u);
    for (unsigned mode : {before, before | FLUSH_TO_ZERO}) {
        host.blockSizeSent = mode == before ? BLOCK_SIZE_NOT_SENT : 300;
        _mm_setcsr(mode);
        ASSERT_TRUE(ProcessSamples(host, in.data(), out.data(), 10));
        ASSERT_TRUE(ProcessSamples(host, in.data(), out.data(), 10));
        EXPECT_EQ(_mm_getcsr() & ~EXCEPTION_FLAGS, mode & ~EXCEPTION_FLAGS);
        _mm_setcsr(before);
        const Lines log = Log("copy_through");
        EXPECT_EQ(Lines(log.end() - 3, log.end()),
                  (Lines{Call(effSetBlockSize, 64), Processed(10), Processed(10)}));
        EXPECT_EQ(host.blockSizeSent, 64);
    }
    EXPECT_EQ(std::count(out.begin(), out.begin() + 20, 300), 20);      // both conversions
    EXPECT_EQ(std::count(out.begin() + 20, out.end(), UNTOUCHED), 110); // only its frames
}

// Each hostile output (the table's left in order, the right reversed) becomes a valid
// sample: NaN 0, beyond full scale saturated, the rounding as a copy-through shows it.
TEST_F(PluginBridgeTest, EveryOutputOfAHostileEffectBecomesAValidSample) {
    const int32_t frames = 200, n = static_cast<int32_t>(HOSTILE_VALUE_COUNT);
    Samples in(2 * frames), out(2 * frames);
    ASSERT_TRUE(Load("hostile"));
    SetPluginBlockSize(host, frames);
    ASSERT_TRUE(ProcessSamples(host, in.data(), out.data(), frames));
    for (int32_t i = 0; i < frames; ++i) {
        EXPECT_EQ(out[2 * i], HOSTILE_VALUES[i % n].expected) << "left, entry " << i % n;
        EXPECT_EQ(out[2 * i + 1], HOSTILE_VALUES[n - 1 - i % n].expected) << "right, " << i;
    }
}

// Every 16-bit value, on one channel or the other, through effects of every channel count: one
// input takes the mono mix, inputs beyond two hear silence, one output plays on both sides,
// outputs beyond two are ignored. (The channel effects pass input 0 to output 0, input 1 or 0
// negated to output 1, plus the sum of the inputs beyond two; they fill outputs beyond two
// with full scale.) Values counted in 16-bit steps are exact in float; the stream gets a whole
// negative step back one nearer zero, a half step rounded up, beyond full scale saturated.
TEST_F(PluginBridgeTest, EverySampleValueIsRoutedToAndFromTheStereoStream) {
    using Route = double (*)(double l, double r);
    const Route mix = [](double l, double r) { return (l + r) / 2; };
    const Route negatedMix = [](double l, double r) { return -(l + r) / 2; };
    const Route left = [](double l, double) { return l; };
    const Route right = [](double, double r) { return r; };
    const Route negatedRight = [](double, double r) { return -r; };
    const std::tuple<const char*, Route, Route> cases[] = {
        {"copy_through", left, right},   {"ch_1_1", mix, mix},
        {"ch_1_2", mix, negatedMix},     {"ch_2_1", left, left},
        {"ch_4_2", left, negatedRight},  {"ch_2_6", left, negatedRight},
        {"ch_64_2", left, negatedRight}, {"ch_2_64", left, negatedRight}}; // the most either way
    const auto back = [](double steps) {
        const double up = steps < 0 || steps != std::floor(steps) ? std::floor(steps) + 1 : steps;
        return static_cast<int16_t>(std::min(up, 32767.0));
    };
    constexpr int32_t FRAMES = 32768;
    Samples in(2 * FRAMES), out(2 * FRAMES);
    for (int32_t i = 0; i < 2 * FRAMES; ++i) { // each value once, in pairs that vary
        in[i] = static_cast<int16_t>((i * 40503LL) % 65536 - 32768);
    }
    for (const auto& [variant, toLeft, toRight] : cases) {
        ASSERT_TRUE(Load(variant)) << variant;
        SetPluginBlockSize(host, FRAMES);
        ASSERT_TRUE(ProcessSamples(host, in.data(), out.data(), FRAMES)) << variant;
        for (int32_t i = 0; i < FRAMES; ++i) {
            const double l = in[2 * i], r = in[2 * i + 1];
            ASSERT_EQ(std::make_pair(out[2 * i], out[2 * i + 1]),
                      std::make_pair(back(toLeft(l, r)), back(toRight(l, r))))
                << variant << ": " << l << ", " << r;
        }
    }
}

} // namespace
