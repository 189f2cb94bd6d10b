#include "plugin/plugin_bridge.h"

#include <cstddef>

#include "plugin/denormal_mode.h"
#include "plugin/effect_dispatch.h"
#include "plugin/plugin_host.h"
#include "plugin/sample_conversion.h"

bool ProcessWithPlugin(const int16_t* input, int16_t* output, uint32_t frames) {
    if (effect == nullptr || frames == 0) {
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
        CallDispatcher(effect, effSetBlockSize, static_cast<VstIntPtr>(blockSize), nullptr,
                       0.0f);
    }

    // A size_t index (2 * i cannot wrap) lets the compiler turn this loop into vector code.
    const size_t count = frames;
    float* const inL = pluginBuffers[PLUGIN_IN_L];
    float* const inR = pluginBuffers[PLUGIN_IN_R];
    for (size_t i = 0; i < count; ++i) {
        inL[i] = SampleToFloat(input[2 * i]);
        inR[i] = SampleToFloat(input[2 * i + 1]);
    }

    // Copies of the pointers: the effect may scribble on the arrays it is handed, never on
    // the host's own.
    float* inputs[2] = {inL, inR};
    float* outputs[2] = {pluginBuffers[PLUGIN_OUT_L], pluginBuffers[PLUGIN_OUT_R]};
    const uint32_t previousMode = EnterDenormalFlush();
    processReplacing(effect, inputs, outputs, static_cast<int32_t>(frames));
    LeaveDenormalFlush(previousMode);

    const float* const outL = pluginBuffers[PLUGIN_OUT_L];
    const float* const outR = pluginBuffers[PLUGIN_OUT_R];
    // Left scalar: with SSE2 alone the compiler's vector form of the saturating conversion
    // measured slower than this loop.
    for (uint32_t i = 0; i < frames; ++i) {
        output[2 * i] = FloatToSample(outL[i]);
        output[2 * i + 1] = FloatToSample(outR[i]);
    }
    return true;
}
