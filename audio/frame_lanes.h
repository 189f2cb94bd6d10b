// Four interleaved stereo frames as one register of two lanes: the left samples, then the right.
#pragma once

#include <emmintrin.h>

#include <cstdint>

// Frames L0 R0 .. L3 R3 from frames (unaligned) as L0 L1 L2 L3 | R0 R1 R2 R3.
inline __m128i SplitFourFrames(const int16_t* frames) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frames));
    x = _mm_shufflelo_epi16(x, 0xD8);  // L0 L1 R0 R1 | L2 R2 L3 R3
    x = _mm_shufflehi_epi16(x, 0xD8);  // L0 L1 R0 R1 | L2 L3 R2 R3
    return _mm_shuffle_epi32(x, 0xD8); // L0 L1 L2 L3 | R0 R1 R2 R3
}
