#include "audio/block_processing.h"

#include <cstring>

#include "audio/audio_format.h"
#include "audio/engine_state.h"
#include "audio/fade_ramp.h"
#include "audio/pitch_stage.h"
#include "plugin/plugin_bridge.h"
#include "plugin/effect_handle.h"
#include "plugin/plugin_call_watch.h"

namespace {

EffectHandle* blockEffect = nullptr; // EngineLock on both sides
std::atomic<bool> blockEffectInside{false};
std::atomic<uint64_t> effectFrames{0};
// From the stage's sound into the effect's over 10 ms, so that an effect in its own process
// coming back (after a late block, or started again) does not click in.
constexpr uint32_t CROSSFADE_FRAMES = 441;
bool lastThroughStage = false; // audio thread only

void CrossfadeFromStage(const int16_t* input, int16_t* output, uint32_t frames) {
    const uint32_t count = frames < CROSSFADE_FRAMES ? frames : CROSSFADE_FRAMES;
    int16_t stage[CROSSFADE_FRAMES * 2];
    LockEnter(&EngineLock);
    ProcessStageBlock(input, stage, count * 2);
    LockLeave(&EngineLock);
    for (uint32_t i = 0; i < count * 2; ++i) {
        const double weight = static_cast<double>(i / 2 + 1) / (count + 1);
        output[i] = static_cast<int16_t>(stage[i] + (output[i] - stage[i]) * weight);
    }
}

// Outside EngineLock, as the in-process effect's blocks are: a late host holds nothing the
// window needs. A block it misses goes through the stage instead.
void ProcessThroughHandle(EffectHandle* handle, const int16_t* input, int16_t* output,
                          uint32_t samples) {
    const uint32_t frames = samples / 2;
    handle->setHostValues(handle, EffectHostValues{static_cast<double>(SAMPLE_RATE),
                                                   static_cast<int32_t>(frames),
                                                   static_cast<int32_t>(PROCESS_LEVEL_REALTIME)});
    const bool processed = handle->process(handle, input, output, frames);
    blockEffectInside.store(false);
    if (processed) {
        if (lastThroughStage) {
            CrossfadeFromStage(input, output, frames);
        }
        lastThroughStage = false;
        effectFrames.fetch_add(frames, std::memory_order_relaxed);
        return;
    }
    LockEnter(&EngineLock);
    ProcessStageBlock(input, output, samples);
    LockLeave(&EngineLock);
    lastThroughStage = true;
}

bool ThroughInProcessHost(EffectHandle*, const int16_t* input, int16_t* output, uint32_t frames) {
    return ProcessWithPlugin(input, output, frames);
}

using EffectBlockProc = bool (*)(EffectHandle* handle, const int16_t* input, int16_t* output,
                                 uint32_t frames);

bool ProcessBlockWith(EffectBlockProc processEffect, EffectHandle* handle, const int16_t* input,
                      uint32_t byteCount, int16_t* output) {
    const uint32_t samples = byteCount / 2;
    clipFlag = 0;
    LockEnter(&EngineLock);
    EffectHandle* isolated = processEffect == ThroughInProcessHost ? blockEffect : nullptr;
    if (isolated != nullptr && pluginActive.load(std::memory_order_relaxed) != 0) {
        blockEffectInside.store(true);
        LockLeave(&EngineLock);
        ProcessThroughHandle(isolated, input, output, samples);
    } else if (pluginActive.load(std::memory_order_relaxed) != 0) {
        // The lock is not held inside the effect: a hung effect must not hold the sliders, a
        // stop or an unload with it. Marking the call under the lock is what tells whoever
        // turns pluginActive off whether a block is still inside.
        const PluginCallTicket call = BeginPluginCall();
        LockLeave(&EngineLock);
        const bool processed = processEffect(handle, input, output, samples / 2);
        if (!EndPluginCall(call)) {
            return false;
        }
        // A declined block is silence: the buffer still holds a block of eight earlier, and
        // playing that would loop old sound for as long as the effect declines.
        if (!processed) {
            std::memset(output, 0, samples * sizeof(int16_t));
        } else {
            effectFrames.fetch_add(samples / 2, std::memory_order_relaxed);
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

} // namespace

bool ProcessBlock(const int16_t* input, uint32_t byteCount, int16_t* output) {
    return ProcessBlockWith(ThroughInProcessHost, nullptr, input, byteCount, output);
}

bool ProcessBlockThrough(EffectHandle* handle, const int16_t* input, uint32_t byteCount,
                         int16_t* output) {
    return ProcessBlockWith(handle->process, handle, input, byteCount, output);
}

void SetBlockEffect(EffectHandle* handle) {
    LockEnter(&EngineLock);
    blockEffect = handle;
    LockLeave(&EngineLock);
}

bool BlockInsideEffectHandle() {
    return blockEffectInside.load();
}

uint64_t EffectFramesProcessed() {
    return effectFrames.load(std::memory_order_relaxed);
}
