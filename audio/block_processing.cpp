#include "audio/block_processing.h"

#include <cstring>

#include "audio/audio_format.h"
#include "audio/engine_state.h"
#include "audio/fade_ramp.h"
#include "audio/pitch_stage.h"
#include "plugin/effect_handle.h"
#include "plugin/plugin_call_watch.h"

namespace {

EffectHandle* blockEffect = nullptr; // EngineLock on both sides
std::atomic<uint64_t> effectFrames{0};
// From the stage's sound into the effect's over 10 ms, so that an effect in its own process
// coming back (after a late block, or started again) does not click in.
constexpr uint32_t CROSSFADE_FRAMES = 441;
bool lastThroughStage = false; // audio thread only

void ThroughStage(const int16_t* input, int16_t* output, uint32_t samples) {
    LockEnter(&EngineLock);
    ProcessStageBlock(input, output, samples);
    LockLeave(&EngineLock);
}

void CrossfadeFromStage(const int16_t* input, int16_t* output, uint32_t frames) {
    const uint32_t count = frames < CROSSFADE_FRAMES ? frames : CROSSFADE_FRAMES;
    int16_t stage[CROSSFADE_FRAMES * 2];
    ThroughStage(input, stage, count * 2);
    for (uint32_t i = 0; i < count * 2; ++i) {
        const double weight = static_cast<double>(i / 2 + 1) / (count + 1);
        output[i] = static_cast<int16_t>(stage[i] + (output[i] - stage[i]) * weight);
    }
}

// Outside EngineLock: a hung effect must not hold the sliders, a stop or an unload with it.
// The call was marked under the lock, which is what tells whoever turned pluginActive off
// whether a block is still inside. The handle is not touched once the call is marked done:
// from then on its owner may free it. False when the call was given up meanwhile.
bool ThroughEffect(EffectHandle* handle, PluginCallTicket call, const int16_t* input,
                   int16_t* output, uint32_t samples) {
    const uint32_t frames = samples / 2;
    const bool stageCoversMisses = handle->missedBlocksPlayStage;
    handle->setHostValues(handle, EffectHostValues{static_cast<double>(SAMPLE_RATE),
                                                   static_cast<int32_t>(frames),
                                                   static_cast<int32_t>(PROCESS_LEVEL_REALTIME)});
    const bool processed = handle->process(handle, input, output, frames);
    if (!EndPluginCall(call)) {
        return false;
    }
    if (processed) {
        if (lastThroughStage) {
            CrossfadeFromStage(input, output, frames);
        }
        lastThroughStage = false;
        effectFrames.fetch_add(frames, std::memory_order_relaxed);
    } else if (stageCoversMisses) {
        ThroughStage(input, output, samples);
        lastThroughStage = true;
    } else {
        // Silence: the buffer still holds a block of eight earlier, and playing that would
        // loop old sound for as long as the effect declines.
        std::memset(output, 0, samples * sizeof(int16_t));
    }
    return true;
}

} // namespace

bool ProcessBlock(const int16_t* input, uint32_t byteCount, int16_t* output) {
    const uint32_t samples = byteCount / 2;
    clipFlag = 0;
    LockEnter(&EngineLock);
    EffectHandle* handle =
        pluginActive.load(std::memory_order_relaxed) != 0 ? blockEffect : nullptr;
    if (handle != nullptr) {
        const PluginCallTicket call = BeginPluginCall();
        LockLeave(&EngineLock);
        if (!ThroughEffect(handle, call, input, output, samples)) {
            return false;
        }
    } else {
        ProcessStageBlock(input, output, samples);
        LockLeave(&EngineLock);
        lastThroughStage = true;
    }
    ApplyFadeRamp(output, samples);
    if (clipFlag != 0) {
        lastClipTick.store(TickCount());
    }
    return true;
}

void SetBlockEffect(EffectHandle* handle) {
    LockEnter(&EngineLock);
    blockEffect = handle;
    LockLeave(&EngineLock);
}

void SizeBlockEffect(uint32_t frames) {
    LockEnter(&EngineLock);
    EffectHandle* handle = blockEffect;
    LockLeave(&EngineLock);
    if (handle != nullptr) {
        handle->setBlockSize(handle, frames);
    }
}

uint64_t EffectFramesProcessed() {
    return effectFrames.load(std::memory_order_relaxed);
}
