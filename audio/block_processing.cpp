#include "audio/block_processing.h"

#include <cstring>

#include "audio/engine_state.h"
#include "audio/fade_ramp.h"
#include "audio/pitch_stage.h"
#include "plugin/plugin_bridge.h"
#include "plugin/effect_handle.h"
#include "plugin/plugin_call_watch.h"

namespace {

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
    if (pluginActive.load(std::memory_order_relaxed) != 0) {
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
        }
    } else {
        ProcessStageBlock(input, output, samples);
        LockLeave(&EngineLock);
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
