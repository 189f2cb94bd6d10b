// Runs one block of the live stream through the loaded VST 2 effect.
#pragma once

#include <cstdint>

// input/output: frames * 2 interleaved 16-bit samples. Returns true when the block went
// through the effect; false when it was declined, and then nothing was written.
bool ProcessWithPlugin(const int16_t* input, int16_t* output, uint32_t frames);
