// Runs one block of the live stream through a host's loaded VST 2 effect.
#pragma once

#include <cstdint>

// input/output: frames * 2 interleaved float samples (full scale 1), through as many inputs and
// outputs as the effect was sized with (one input takes the mono mix, one output plays on both
// channels). What the effect returns goes on as it is, beyond full scale too, but for NaN,
// which goes on as 0: whatever comes next (another effect, the conversion to 16 bits) gets a
// number.
// Returns true when the block went through the effect; false when it was declined, and then
// nothing was written and the effect was not called: no effect, frames 0, no float buffers,
// frames above blockSize (the buffers cannot hold it), or a record without processReplacing;
// false too when the effect faulted or now claims other channel counts than it was loaded with
// (EFFECT_CHANNELS_CHANGED), both recorded as the host's, and when the call was given up meanwhile
// (then nothing of it reaches the host: no fault recorded, no position moved). Audio thread, inside
// a call marked with BeginPluginCall (no lock held, so a hung effect holds nothing the window
// needs).
struct PluginHost;
bool ProcessWithPlugin(PluginHost& host, const float* input, float* output, uint32_t frames);
