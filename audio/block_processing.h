// One recorded block into one playback block: the stage (under EngineLock) or the plug-in,
// then the fade ramp and the clip time stamp. Makes no device call.
#pragma once

#include <cstdint>

// input: byteCount bytes of interleaved 16-bit samples (at most MAX_BLOCK_FRAMES frames);
// output: at least byteCount bytes. While pluginActive is on and an effect of the chain is not
// bypassed (SetBlockEffects) the block goes through those in order, as floats from the first
// effect's input to the last one's output, else through the stage. False only when the block was
// inside the effect for so long that the window thread gave the call up: the stream has moved on
// without this thread, so output must not be played and the thread must touch nothing of the stream
// any more.
bool ProcessBlock(const int16_t* input, uint32_t byteCount, int16_t* output);

struct EffectHandle;
constexpr uint32_t MAX_CHAIN_EFFECTS = 8;
struct ChainLink {
    EffectHandle* handle;
    bool bypassed; // the block goes past it untouched
};
// The effects the blocks go through while pluginActive is on, in order, in this process or in
// a host process alike; none (count 0): the stage plays. Window thread. A block an effect
// leaves unanswered goes on past it as it came, when another effect answered it; when none
// did, the block plays as the first unbypassed effect's missedBlocksPlayStage says. Once
// pluginActive has been turned off under EngineLock and no call is running
// (plugin_call_watch), no block reaches any of them. A count above MAX_CHAIN_EFFECTS is cut.
void SetBlockEffects(const ChainLink* links, uint32_t count);
// The same change made while the blocks play, without a jump: an effect that stops playing
// (taken out, bypassed or moved) fades from its sound to what it was given over the first 10 ms
// of the next block, and the chain changes at that block's end; an effect that starts playing
// (added, no longer bypassed or moved) fades in over its first 10 ms. The effects that keep
// playing, in the same order, are untouched. With no effect playing before or after, the same
// as SetBlockEffects. An effect fading out is called until BlockEffectsChangePending() is false.
void CrossfadeBlockEffects(const ChainLink* links, uint32_t count);
bool BlockEffectsChangePending();
// Puts a change still waiting for a block in at once (no block came for it in time).
void SettleBlockEffects();
// One effect, or none with null.
void SetBlockEffect(EffectHandle* handle);
// How many effects the blocks hold now, bypassed ones too. Window thread.
uint32_t BlockEffectCount();
// Sizes those effects for blocks of frames; with no stream running, or with the effects taken
// away from the blocks. Window thread.
void SizeBlockEffect(uint32_t frames);

// The stage instead of every effect, each kept as it is (on), or the chain again (off), from the
// next block: the way out crosses from the chain's sound to the stage's over 10 ms, the way
// back from the stage's to the chain's. Any thread.
void SetEffectsBypassed(bool bypassed);
bool EffectsBypassed();

// Frames that went through an effect since the program started: what the window reads to
// know how long an effect has been processing. Audio thread writes, any thread reads.
uint64_t EffectFramesProcessed();
