#include "audio/engine_state.h"

#include <cstring>

#include "audio/block_processing.h"
#include "audio/mute_ramp.h"

static_assert(std::atomic<FadePair>::is_always_lock_free, "the fade pair must be lock-free");
static_assert(std::atomic<uint32_t>::is_always_lock_free, "shared words must be lock-free");

double gain = 0.0;
double pitchRatio = 0.0;
std::atomic<int32_t> pluginActive{0};
int32_t running = 0;
std::atomic<int32_t> stopping{0};
std::atomic<FadePair> fadePair{FadePair{0, 0}};
uint8_t clipFlag = 0;
std::atomic<uint32_t> lastClipTick{LAST_CLIP_TICK_NONE};
uint32_t bufferBytes = 0;
int32_t playIndex = 0;
PlatformLock EngineLock;
PitchChannel pitchChannels[2];

void ResetEngineState() {
    gain = 0.0;
    pitchRatio = 0.0;
    pluginActive.store(0);
    running = 0;
    stopping.store(0);
    fadePair.store(FadePair{0, 0});
    clipFlag = 0;
    lastClipTick.store(LAST_CLIP_TICK_NONE);
    bufferBytes = 0;
    playIndex = 0;
    std::memset(pitchChannels, 0, sizeof pitchChannels);
    ResetMuteRamp();
    SetEffectsBypassed(false);
}
