// The fade ramp applied to every block after processing: a fade-in after each start and a
// fade-out after each stop request, driven by the fade pair of EngineState.
#pragma once

#include <cstdint>

// Scales in place the first `samples` samples of an interleaved block, frame by frame,
// according to fadeTarget and fadeCounter, and counts fadeCounter on. Touches no sample at
// or beyond `samples`, also when the count is odd.
void ApplyFadeRamp(int16_t* buffer, uint32_t samples);
