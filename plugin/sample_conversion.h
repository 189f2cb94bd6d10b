// The two sample conversions between the 16-bit stream and the effect's float buffers.
#pragma once

#include <cstdint>

constexpr double SAMPLE_SCALE = 32768.0;  // 2^15: full scale of a 16-bit sample

// s / 32768, exact: -1.0 .. 0.999969482421875. Any 16-bit value and its product with a power
// of two are exact in float, so single precision gives the very value the double product
// would, at four samples per vector instruction instead of two.
inline float SampleToFloat(int16_t s) {
    return static_cast<float>(s) * static_cast<float>(1.0 / SAMPLE_SCALE);
}

// x * 32768 + 0.5 in double, truncated toward zero and saturated to -32768..32767. Whatever
// the effect leaves in its buffers stays defined: NaN becomes 0, infinities and values too
// large for the truncation saturate like any other value beyond full scale.
inline int16_t FloatToSample(float x) {
    const double scaled = static_cast<double>(x) * SAMPLE_SCALE + 0.5;
    if (scaled != scaled) {
        return 0;
    }
    if (scaled >= 32767.0) {
        return 32767;
    }
    if (scaled <= -32768.0) {
        return -32768;
    }
    return static_cast<int16_t>(static_cast<int32_t>(scaled));
}
