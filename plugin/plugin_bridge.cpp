#include "plugin/plugin_bridge.h"

#include <cstddef>

#include "platform/platform.h"
#include "plugin/denormal_mode.h"
#include "plugin/effect_dispatch.h"
#include "plugin/plugin_host.h"
#include "plugin/sample_conversion.h"

namespace {

struct ProcessCall {
    ProcessReplacingProc processReplacing;
    AEffect* effect;
    float** inputs;
    float** outputs;
    int32_t frames;
};

void RunProcess(void* context) {
    const ProcessCall& c = *static_cast<const ProcessCall*>(context);
    c.processReplacing(c.effect, c.inputs, c.outputs, c.frames);
}

} // namespace

bool ProcessWithPlugin(const int16_t* input, int16_t* output, uint32_t frames) {
    if (effect == nullptr || frames == 0 || effectFault.load(std::memory_order_relaxed) != 0) {
        return false;
    }
    for (const float* buffer : pluginBuffers) {
        if (buffer == nullptr) {
            return false;
        }
    }
    // Beyond the caller's guarantee: the buffers cannot hold the block, so it is refused
    // whole rather than half played. A record without processReplacing cannot run a block.
    const ProcessReplacingProc processReplacing = effect->processReplacing;
    if (frames > blockSize || processReplacing == nullptr) {
        return false;
    }

    if (blockSizeSent != static_cast<int32_t>(blockSize)) {
        blockSizeSent = static_cast<int32_t>(blockSize);
        CallDispatcher(effect, effSetBlockSize, static_cast<VstIntPtr>(blockSize), nullptr, 0.0f);
    }

    // A size_t index (2 * i cannot wrap) lets the compiler turn this loop into vector code.
    const size_t count = frames;
    // The buffers are read once: a call given up while inside the effect may come back after
    // the host has forgotten them.
    float* const inL = pluginBuffers[PLUGIN_IN_L];
    float* const inR = pluginBuffers[PLUGIN_IN_R];
    float* const outL = pluginBuffers[PLUGIN_OUT_L];
    float* const outR = pluginBuffers[PLUGIN_OUT_R];
    for (size_t i = 0; i < count; ++i) {
        inL[i] = SampleToFloat(input[2 * i]);
        inR[i] = SampleToFloat(input[2 * i + 1]);
    }

    // Copies of the pointers: the effect may scribble on the arrays it is handed, never on
    // the host's own.
    float* inputs[2] = {inL, inR};
    float* outputs[2] = {outL, outR};
    ProcessCall call = {processReplacing, effect, inputs, outputs, static_cast<int32_t>(frames)};
    const uint32_t previousMode = EnterDenormalFlush();
    const uint32_t fault = GuardedCall(RunProcess, &call);
    LeaveDenormalFlush(previousMode);
    if (fault != 0) {
        RecordEffectFault(fault); // the block is declined, and the next goes through the stage
        return false;
    }

    // Left scalar: with SSE2 alone the compiler's vector form of the saturating conversion
    // measured slower than this loop.
    for (uint32_t i = 0; i < frames; ++i) {
        output[2 * i] = FloatToSample(outL[i]);
        output[2 * i + 1] = FloatToSample(outR[i]);
    }
    return true;
}
