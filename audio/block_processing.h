// One recorded block into one playback block: the stage or the plug-in under EngineLock,
// then the fade ramp and the clip time stamp. Makes no device call.
#pragma once

#include <cstdint>

// input: byteCount bytes of interleaved 16-bit samples; output: at least byteCount bytes.
void ProcessBlock(const int16_t* input, uint32_t byteCount, int16_t* output);
