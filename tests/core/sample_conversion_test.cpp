// The two sample conversions on their own: exact in, rounded and saturated out, and defined
// for every float an effect could produce.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "plugin/sample_conversion.h"

namespace {

float FloatFromBits(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

TEST(SampleConversion, EverySampleBecomesItsExactFraction) {
    for (int32_t s = -32768; s <= 32767; ++s) {
        const float x = SampleToFloat(static_cast<int16_t>(s));
        ASSERT_EQ(static_cast<double>(x) * 32768.0, static_cast<double>(s)) << s;
    }
    EXPECT_EQ(SampleToFloat(-32768), -1.0f);
    EXPECT_EQ(SampleToFloat(32767), 0.999969482421875f);
}

TEST(SampleConversion, ScaledValuesRoundHalfUpThenTruncateTowardZero) {
    const struct {
        double scaled;
        int16_t expected;
    } cases[] = {{0.4, 0},         {0.5, 1},        {-0.5, 0},      {-1.4, 0},
                 {-1.5, -1},       {-1.6, -1},      {32767.4, 32767}, {32768.0, 32767},
                 {-32768.0, -32767}, {-40000.0, -32768}, {1.0, 1},   {-1.0, 0},
                 {32766.5, 32767}, {-32767.5, -32767}, {-32768.5, -32768}};
    for (const auto& c : cases) {
        const float x = static_cast<float>(c.scaled / 32768.0);
        EXPECT_EQ(FloatToSample(x), c.expected) << c.scaled;
    }
}

TEST(SampleConversion, NonFiniteAndHugeValuesStayInRange) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(FloatToSample(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(FloatToSample(-std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(FloatToSample(std::numeric_limits<float>::signaling_NaN()), 0);
    EXPECT_EQ(FloatToSample(FloatFromBits(0x7FC12345u)), 0);  // a NaN with a payload
    EXPECT_EQ(FloatToSample(inf), 32767);
    EXPECT_EQ(FloatToSample(-inf), -32768);
    EXPECT_EQ(FloatToSample(std::numeric_limits<float>::max()), 32767);
    EXPECT_EQ(FloatToSample(std::numeric_limits<float>::lowest()), -32768);
    EXPECT_EQ(FloatToSample(65536.0f), 32767);
    EXPECT_EQ(FloatToSample(-65536.0f), -32768);
    EXPECT_EQ(FloatToSample(std::numeric_limits<float>::denorm_min()), 0);
    EXPECT_EQ(FloatToSample(-std::numeric_limits<float>::denorm_min()), 0);
}

// Across every 4099th float bit pattern (both signs, every exponent): never out of range,
// never decreasing as the value grows, and NaN alone gives 0 outside the rounding interval.
TEST(SampleConversion, MonotonicOverTheWholeFloatLine) {
    int16_t previous = -32768;
    for (int64_t step = -0x7F800000LL; step <= 0x7F800000LL; step += 4099) {
        const uint32_t bits = step < 0 ? 0x80000000u | static_cast<uint32_t>(-step)
                                       : static_cast<uint32_t>(step);
        const float x = FloatFromBits(bits);
        const int16_t s = FloatToSample(x);
        ASSERT_GE(s, previous) << x;
        const double scaled = static_cast<double>(x) * 32768.0 + 0.5;
        if (std::fabs(scaled) < 32767.0) {
            ASSERT_EQ(s, static_cast<int16_t>(std::trunc(scaled))) << x;
        }
        previous = s;
    }
    EXPECT_EQ(previous, 32767);
}

}  // namespace
