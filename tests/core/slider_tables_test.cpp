#include <cmath>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "audio/slider_tables.h"

namespace {

int64_t UlpDistance(double a, double b) {
    int64_t ia, ib;
    std::memcpy(&ia, &a, sizeof a);
    std::memcpy(&ib, &b, sizeof b);
    return ia > ib ? ia - ib : ib - ia;
}

TEST(SliderTables, AgreeWithTheFormulasWithinAFewUlps) {
    for (int p = VOLUME_POSITION_MIN; p <= VOLUME_POSITION_MAX; ++p) {
        double formula = std::pow(10.0, static_cast<double>(-p) / 100.0);
        EXPECT_LE(UlpDistance(GainForVolumePosition(p), formula), 4) << p;
    }
    for (int p = PITCH_POSITION_MIN; p <= PITCH_POSITION_MAX; ++p) {
        double formula = std::pow(1.0594630943592953, (static_cast<double>(-p) * 12.0) / 200.0);
        EXPECT_LE(UlpDistance(PitchRatioForPosition(p), formula), 4) << p;
    }
}

TEST(SliderTables, EndsAndMiddleAreTheCorrectlyRoundedValues) {
    EXPECT_EQ(GainForVolumePosition(0), 1.0);
    EXPECT_EQ(GainForVolumePosition(-100), 10.0);
    EXPECT_EQ(GainForVolumePosition(100), 0.1);
    EXPECT_EQ(PitchRatioForPosition(0), 1.0);
    // The double base raised to 12 lies just above 2: 2.000000000000001, not 2.0.
    EXPECT_EQ(PitchRatioForPosition(-200), 0x1.0000000000002p+1);
    EXPECT_LT(PitchRatioForPosition(200), 0.5);
    EXPECT_GT(PitchRatioForPosition(200), 0.4999999999999);
}

TEST(SliderTables, PositionsOutsideTheRangeTakeTheNearestEnd) {
    EXPECT_EQ(GainForVolumePosition(500), GainForVolumePosition(100));
    EXPECT_EQ(GainForVolumePosition(-2147483647 - 1), GainForVolumePosition(-100));
    EXPECT_EQ(PitchRatioForPosition(201), PitchRatioForPosition(200));
    EXPECT_EQ(PitchRatioForPosition(-999), PitchRatioForPosition(-200));
}

}  // namespace
