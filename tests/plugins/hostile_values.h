// What the hostile test effect writes to its outputs, cycling through the table (left in
// this order, right in reverse), and the 16-bit sample each must become in the host.
#pragma once

#include <cfloat>
#include <cstdint>
#include <limits>

// Scaled values (x * 32768) around the rounding and the ends of the range, then values beyond
// anything a 16-bit sample or the truncation can hold, NaN, tiny values and signed zeros.
// clang-format off
struct HostileValue { float value; int16_t expected; };
constexpr float HOSTILE_FULL_SCALE = 32768.0f, HOSTILE_INF = std::numeric_limits<float>::infinity(),
                HOSTILE_NAN = std::numeric_limits<float>::quiet_NaN();
const HostileValue HOSTILE_VALUES[] = {
    {0.4f / HOSTILE_FULL_SCALE, 0}, {0.5f / HOSTILE_FULL_SCALE, 1}, {-0.5f / HOSTILE_FULL_SCALE, 0},
    {-1.4f / HOSTILE_FULL_SCALE, 0}, {-1.5f / HOSTILE_FULL_SCALE, -1}, {-1.6f / HOSTILE_FULL_SCALE, -1},
    {32767.4f / HOSTILE_FULL_SCALE, 32767}, {1.0f, 32767}, {-1.0f, -32767}, {-40000.0f / HOSTILE_FULL_SCALE, -32768},
    {2.0f, 32767}, {-2.0f, -32768}, {1e10f, 32767}, {-1e10f, -32768}, {FLT_MAX, 32767}, {-FLT_MAX, -32768},
    {HOSTILE_INF, 32767}, {-HOSTILE_INF, -32768}, {HOSTILE_NAN, 0}, {-HOSTILE_NAN, 0},
    {std::numeric_limits<float>::signaling_NaN(), 0}, {1e-40f, 0}, {-1e-40f, 0}, {-0.0f, 0}, {0.0f, 0}};
constexpr size_t HOSTILE_VALUE_COUNT = sizeof HOSTILE_VALUES / sizeof HOSTILE_VALUES[0];
// clang-format on
