// 16-bit blocks through an effect's float path as the live blocks go: each sample to a float on
// the way in, each answer back to 16 bits on the way out; nothing written when it declines.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/effect_handle.h"
#include "plugin/plugin_bridge.h"
#include "plugin/plugin_host.h"
#include "plugin/sample_conversion.h"

template <typename Process>
bool ThroughFloats(Process process, const int16_t* input, int16_t* output, uint32_t frames) {
    std::vector<float> in(2 * static_cast<size_t>(frames)), out(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = SampleToFloat(input[i]);
    }
    if (!process(in.data(), out.data())) {
        return false;
    }
    for (size_t i = 0; i < out.size(); ++i) {
        output[i] = FloatToSample(out[i]);
    }
    return true;
}

inline bool ProcessSamples(PluginHost& host, const int16_t* input, int16_t* output,
                           uint32_t frames) {
    return ThroughFloats(
        [&](const float* in, float* out) { return ProcessWithPlugin(host, in, out, frames); },
        input, output, frames);
}

inline bool ProcessHandleSamples(EffectHandle* handle, const int16_t* input, int16_t* output,
                                 uint32_t frames) {
    return ThroughFloats(
        [&](const float* in, float* out) { return handle->process(handle, in, out, frames); },
        input, output, frames);
}
