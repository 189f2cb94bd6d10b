// The variables shared by the user-interface thread and the audio thread, and the one lock.
//
// Words shared without the lock are atomics. The fade pair (fadeTarget, fadeCounter) is one
// 8-byte atomic: the UI thread replaces both at once with SetFade, and ApplyFadeRamp takes
// the pair once per block, ramps its own copy and writes the counter back only with a
// compare-exchange against the pair it took. A block therefore sees the old pair or the new
// one, never a mix, and a stop request written during a block is never overwritten: it
// simply applies from the next block.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/pitch_stage.h"
#include "platform/platform.h"

struct FadePair {
    int32_t fadeTarget;   // > 0 fade-in of that many frames, < 0 fade-out, 0 none
    int32_t fadeCounter;  // frames into the ramp
};

extern double gain;        // EngineLock on both sides
extern double pitchRatio;  // EngineLock on both sides
extern std::atomic<int32_t> pluginActive;  // read under EngineLock by the audio thread
extern int32_t running;                    // UI thread only
extern std::atomic<int32_t> stopping;
extern std::atomic<FadePair> fadePair;
extern uint8_t clipFlag;                   // audio thread only
extern std::atomic<uint32_t> lastClipTick;
extern uint32_t bufferBytes;               // UI thread only
extern int32_t playIndex;                  // audio thread only; never reset
extern PlatformLock EngineLock;
extern PitchChannel pitchChannels[2];      // audio thread only; never reset

constexpr uint32_t LAST_CLIP_TICK_NONE = 0xFFFFFFFFu;

// UI side of the fade pair: replaces both values at once.
inline void SetFade(int32_t target, int32_t counter) { fadePair.store(FadePair{target, counter}); }

// Puts every variable back to its value at program start (the lock is not touched). For a
// fresh engine in the offline renderer and in tests.
void ResetEngineState();
