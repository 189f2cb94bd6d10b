// The two sample conversions between the 16-bit stream and the effect's float buffers.
#pragma once

#include <cstdint>

constexpr double SAMPLE_SCALE = 32768.0;  // 2^15: full scale of a 16-bit sample

// s / 32768 computed in double and stored as float: exact, -1.0 .. 0.999969482421875.
inline float SampleToFloat(int16_t s) {
    return static_cast<float>(static_cast<double>(s) * (1.0 / SAMPLE_SCALE));
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
