// What the hostile test effect writes to its outputs, cycling through the table (left in
// this order, right in reverse), and the 16-bit sample each must become in the host.
#pragma once

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <limits>

struct HostileValue {
    float value;
    int16_t expected;
};

constexpr float HOSTILE_FULL_SCALE = 32768.0f;

const HostileValue HOSTILE_VALUES[] = {
    // Scaled values (x * 32768) around the rounding and the ends of the range.
    {0.4f / HOSTILE_FULL_SCALE, 0},
    {0.5f / HOSTILE_FULL_SCALE, 1},
    {-0.5f / HOSTILE_FULL_SCALE, 0},
    {-1.4f / HOSTILE_FULL_SCALE, 0},
    {-1.5f / HOSTILE_FULL_SCALE, -1},
    {-1.6f / HOSTILE_FULL_SCALE, -1},
    {32767.4f / HOSTILE_FULL_SCALE, 32767},
    {1.0f, 32767},
    {-1.0f, -32767},
    {-40000.0f / HOSTILE_FULL_SCALE, -32768},
    // Beyond anything a 16-bit sample or the truncation can hold.
    {2.0f, 32767},
    {-2.0f, -32768},
    {2.5f, 32767},
    {-2.5f, -32768},
    {65536.0f, 32767},
    {-65536.0f, -32768},
    {1e10f, 32767},
    {-1e10f, -32768},
    {FLT_MAX, 32767},
    {-FLT_MAX, -32768},
    {std::numeric_limits<float>::infinity(), 32767},
    {-std::numeric_limits<float>::infinity(), -32768},
    {std::numeric_limits<float>::quiet_NaN(), 0},
    {-std::numeric_limits<float>::quiet_NaN(), 0},
    {std::numeric_limits<float>::signaling_NaN(), 0},
    // Tiny and signed zeros.
    {1e-40f, 0},
    {-1e-40f, 0},
    {-0.0f, 0},
    {0.0f, 0},
};

constexpr size_t HOSTILE_VALUE_COUNT = sizeof HOSTILE_VALUES / sizeof HOSTILE_VALUES[0];
