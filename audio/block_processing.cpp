#include "audio/block_processing.h"

#include <cstring>

#include "audio/audio_format.h"
#include "audio/engine_state.h"
#include "audio/fade_ramp.h"
#include "audio/pitch_stage.h"
#include "plugin/effect_handle.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/sample_conversion.h"

namespace {

ChainLink chain[MAX_CHAIN_EFFECTS] = {}; // EngineLock on both sides
uint32_t chainLength = 0;
std::atomic<uint64_t> effectFrames{0};
// From the stage's sound into the effect's over 10 ms, so that an effect in its own process
// coming back (after a late block, or started again) does not click in.
constexpr uint32_t CROSSFADE_FRAMES = 441;
bool lastThroughStage = false; // audio thread only
// The block on its way through the chain and the next effect's output, by turns; audio thread
// only, sized for the longest block so that nothing is allocated on the way.
float chainIn[2 * MAX_BLOCK_FRAMES];
float chainOut[2 * MAX_BLOCK_FRAMES];

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

// The next unbypassed effect from link index on while pluginActive is on, with index moved past
// it; null for none. EngineLock held.
EffectHandle* NextEffect(uint32_t& index) {
    if (pluginActive.load(std::memory_order_relaxed) == 0) {
        return nullptr;
    }
    for (; index < chainLength; ++index) {
        if (chain[index].handle != nullptr && !chain[index].bypassed) {
            return chain[index++].handle;
        }
    }
    return nullptr;
}

// The next effect, its call marked under EngineLock: read anew for each effect, so that one
// taken out of the chain meanwhile, or all of them with pluginActive off, is never called.
EffectHandle* BeginNextEffect(uint32_t& index, PluginCallTicket& call) {
    LockEnter(&EngineLock);
    EffectHandle* const handle = NextEffect(index);
    if (handle != nullptr) {
        call = BeginPluginCall();
    }
    LockLeave(&EngineLock);
    return handle;
}

// Outside EngineLock: a hung effect must not hold the sliders, a stop or an unload with it.
// Each effect's call is marked under the lock, which is what tells whoever turned pluginActive
// off whether a block is still inside; each answer is the next effect's input. No handle is
// touched once its call is marked done: from then on its owner may free it. False when a call
// was given up meanwhile.
bool ThroughEffects(EffectHandle* handle, uint32_t index, PluginCallTicket call,
                    const int16_t* input, int16_t* output, uint32_t samples) {
    const uint32_t frames = samples / 2;
    const bool stageCoversMisses = handle->missedBlocksPlayStage;
    const EffectHostValues values = {static_cast<double>(SAMPLE_RATE), static_cast<int32_t>(frames),
                                     static_cast<int32_t>(PROCESS_LEVEL_REALTIME)};
    for (uint32_t i = 0; i < samples; ++i) {
        chainIn[i] = SampleToFloat(input[i]);
    }
    float* in = chainIn;
    float* out = chainOut;
    bool processed = false;
    for (; handle != nullptr; handle = BeginNextEffect(index, call)) {
        handle->setHostValues(handle, values);
        if (handle->process(handle, in, out, frames)) {
            float* const answered = out;
            out = in;
            in = answered;
            processed = true;
        }
        if (!EndPluginCall(call)) {
            return false;
        }
    }
    if (processed) {
        for (uint32_t i = 0; i < samples; ++i) {
            output[i] = FloatToSample(in[i]);
        }
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
    uint32_t index = 0;
    EffectHandle* const first = samples <= 2 * MAX_BLOCK_FRAMES ? NextEffect(index) : nullptr;
    if (first != nullptr) {
        const PluginCallTicket call = BeginPluginCall();
        LockLeave(&EngineLock);
        if (!ThroughEffects(first, index, call, input, output, samples)) {
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

void SetBlockEffects(const ChainLink* links, uint32_t count) {
    LockEnter(&EngineLock);
    chainLength = count < MAX_CHAIN_EFFECTS ? count : MAX_CHAIN_EFFECTS;
    for (uint32_t i = 0; i < chainLength; ++i) {
        chain[i] = links[i];
    }
    LockLeave(&EngineLock);
}

uint32_t BlockEffectCount() {
    LockEnter(&EngineLock);
    const uint32_t count = chainLength;
    LockLeave(&EngineLock);
    return count;
}

void SetBlockEffect(EffectHandle* handle) {
    const ChainLink link = {handle, false};
    SetBlockEffects(&link, handle != nullptr ? 1 : 0);
}

void SizeBlockEffect(uint32_t frames) {
    EffectHandle* handles[MAX_CHAIN_EFFECTS];
    LockEnter(&EngineLock);
    const uint32_t count = chainLength;
    for (uint32_t i = 0; i < count; ++i) {
        handles[i] = chain[i].handle;
    }
    LockLeave(&EngineLock);
    for (uint32_t i = 0; i < count; ++i) {
        if (handles[i] != nullptr) {
            handles[i]->setBlockSize(handles[i], frames);
        }
    }
}

uint64_t EffectFramesProcessed() {
    return effectFrames.load(std::memory_order_relaxed);
}
