// One recorded block into one playback block: the stage (under EngineLock) or the plug-in,
// then the fade ramp and the clip time stamp. Makes no device call.
#pragma once

#include <cstdint>

// input: byteCount bytes of interleaved 16-bit samples; output: at least byteCount bytes.
// While pluginActive is on and an effect is set (SetBlockEffect) the block goes through it,
// else through the stage. False only when the block was inside the effect for so long that the
// window thread gave the call up: the stream has moved on without this thread, so output must
// not be played and the thread must touch nothing of the stream any more.
bool ProcessBlock(const int16_t* input, uint32_t byteCount, int16_t* output);

struct EffectHandle;
// The effect the blocks go through while pluginActive is on, in this process or in a host
// process alike; null for none (the stage plays). Window thread. A block the handle leaves
// unanswered plays as its missedBlocksPlayStage says. Once pluginActive has been turned off
// under EngineLock and no call is running (plugin_call_watch), no block reaches the handle.
void SetBlockEffect(EffectHandle* handle);
// Sizes that effect for blocks of frames; with no stream running, or with the effect taken
// away from the blocks. Window thread.
void SizeBlockEffect(uint32_t frames);

// Frames that went through an effect since the program started: what the window reads to
// know how long an effect has been processing. Audio thread writes, any thread reads.
uint64_t EffectFramesProcessed();
