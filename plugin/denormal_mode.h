// Flush-to-zero and denormals-are-zero for the duration of an effect's processing, so that a
// decaying tail in denormal range cannot slow the audio thread down. Only the SSE control
// register is touched, and always restored to the caller's mode afterwards.
#pragma once

#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <pmmintrin.h>
#include <xmmintrin.h>

// Sets both modes; returns the previous control word for LeaveDenormalFlush.
inline uint32_t EnterDenormalFlush() {
    const uint32_t previous = _mm_getcsr();
    _mm_setcsr(previous | _MM_FLUSH_ZERO_ON | _MM_DENORMALS_ZERO_ON);
    return previous;
}

inline void LeaveDenormalFlush(uint32_t previous) { _mm_setcsr(previous); }
#else
inline uint32_t EnterDenormalFlush() { return 0; }
inline void LeaveDenormalFlush(uint32_t /*previous*/) {}
#endif
