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

// The effect running in a host process of its own that the blocks go through while
// pluginActive is on, instead of the process-wide host; null for that host. Window thread,
// which holds EngineLock around the change. A block the handle misses (late, or its host gone)
// goes through the stage at the sliders' values, never silence: the voice goes on. Takes the
// lock itself.
void SetBlockEffect(EffectHandle* handle);
// True while a block is inside the handle: once SetBlockEffect has taken it away and this is
// false, no block will reach it again (a block lasts no longer than its time there).
bool BlockInsideEffectHandle();

// Frames that went through an effect (either host) since the program started: what the window
// reads to know how long an effect has been processing. Audio thread writes, any thread reads.
uint64_t EffectFramesProcessed();
