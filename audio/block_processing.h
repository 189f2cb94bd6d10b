// One recorded block into one playback block: the stage (under EngineLock) or the plug-in,
// then the fade ramp and the clip time stamp. Makes no device call.
#pragma once

#include <cstdint>

// input: byteCount bytes of interleaved 16-bit samples; output: at least byteCount bytes.
// False only when the block was inside the effect for so long that the window thread gave the
// call up: the stream has moved on without this thread, so output must not be played and the
// thread must touch nothing of the stream any more.
bool ProcessBlock(const int16_t* input, uint32_t byteCount, int16_t* output);

struct EffectHandle;
// As ProcessBlock, with the effect's blocks through handle instead of the process-wide host.
bool ProcessBlockThrough(EffectHandle* handle, const int16_t* input, uint32_t byteCount,
                         int16_t* output);
