#include "plugin/plugin_bridge.h"

#include <cstddef>
#include <cstring>

#include "platform/platform.h"
#include "plugin/denormal_mode.h"
#include "plugin/host_callback.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/plugin_host.h"

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

struct BlockSizeCall {
    AEffect* effect;
    int32_t frames;
};

void RunBlockSize(void* context) {
    const BlockSizeCall& c = *static_cast<const BlockSizeCall*>(context);
    c.effect->dispatcher(c.effect, effSetBlockSize, 0, c.frames, nullptr, 0.0f);
}

// The block size, when the effect was last told another; its fault, or 0.
uint32_t TellBlockSize(PluginHost& host, AEffect* target) {
    if (host.blockSizeSent == static_cast<int32_t>(host.blockSize)) {
        return 0;
    }
    host.blockSizeSent = static_cast<int32_t>(host.blockSize);
    BlockSizeCall call = {target, host.blockSizeSent};
    return target->dispatcher != nullptr ? GuardedCall(RunBlockSize, &call) : 0;
}

// The stream's two channels into the effect's inputs: one input takes the mono mix, two take
// left and right, more take left, right and silence (side-chain inputs stay quiet). Chosen by
// block, not by sample.
void FillInputs(const float* input, float* const* inputs, int32_t count, size_t frames) {
    float* const inL = inputs[0];
    if (count == 1) {
        for (size_t i = 0; i < frames; ++i) {
            inL[i] = (input[2 * i] + input[2 * i + 1]) * 0.5f;
        }
        return;
    }
    // A size_t index (2 * i cannot wrap) lets the compiler turn this loop into vector code.
    float* const inR = inputs[1];
    for (size_t i = 0; i < frames; ++i) {
        inL[i] = input[2 * i];
        inR[i] = input[2 * i + 1];
    }
    for (int32_t extra = 2; extra < count; ++extra) {
        std::memset(inputs[extra], 0, frames * sizeof(float));
    }
}

float NumberOrZero(float x) {
    return x == x ? x : 0.0f;
}

// Two of the effect's outputs into the stream's left and right.
void TakeOutputs(const float* outL, const float* outR, float* output, size_t frames) {
    for (size_t i = 0; i < frames; ++i) {
        output[2 * i] = NumberOrZero(outL[i]);
        output[2 * i + 1] = NumberOrZero(outR[i]);
    }
}

} // namespace

bool ProcessWithPlugin(PluginHost& host, const float* input, float* output, uint32_t frames) {
    const int32_t inputCount = host.sizedInputs, outputCount = host.sizedOutputs;
    if (host.effect == nullptr || frames == 0 || inputCount == 0 || outputCount == 0 ||
        host.fault.load(std::memory_order_relaxed) != 0) {
        return false;
    }
    // Beyond the caller's guarantee: the buffers cannot hold the block, so it is refused
    // whole rather than half played. A record without processReplacing cannot run a block.
    AEffect* const target = host.effect;
    const ProcessReplacingProc processReplacing = target->processReplacing;
    if (frames > host.blockSize || processReplacing == nullptr) {
        return false;
    }

    // Copies of the buffer pointers, taken before the effect is called at all: the effect may
    // scribble on the arrays it is handed, never on the host's own, and a call given up while
    // inside the effect may come back after the host has forgotten the buffers.
    float* inputs[MAX_PLUGIN_CHANNELS];
    float* outputs[MAX_PLUGIN_CHANNELS];
    for (int32_t i = 0; i < inputCount; ++i) {
        inputs[i] = host.buffers[i];
    }
    for (int32_t i = 0; i < outputCount; ++i) {
        outputs[i] = host.buffers[PLUGIN_OUTPUTS + i];
    }
    // An effect that now claims other channel counts than it was entered with expects buffers
    // the host never made: it is not called again.
    NamePluginCallHost(&host);
    uint32_t fault =
        EffectChannelsChanged(host) ? EFFECT_CHANNELS_CHANGED : TellBlockSize(host, target);
    if (fault == 0 && !PluginCallGivenUp()) {
        FillInputs(input, inputs, inputCount, frames);
        ProcessCall call = {processReplacing, target, inputs, outputs,
                            static_cast<int32_t>(frames)};
        const uint32_t previousMode = EnterDenormalFlush();
        const HostCallScope calling(host);
        fault = GuardedCall(RunProcess, &call);
        LeaveDenormalFlush(previousMode);
    }
    // A call given up and back late leaves the host alone: by now it may hold another effect.
    // Once settled, the call still counts as running, so the buffers stay until it ends.
    if (!SettlePluginCall()) {
        return false;
    }
    if (fault != 0) {
        RecordEffectFault(host, fault); // declined, and the next goes through the stage
        return false;
    }
    // One output plays on both channels; outputs beyond two were written to buffers of their
    // own and are ignored.
    TakeOutputs(outputs[0], outputs[outputCount > 1 ? 1 : 0], output, frames);
    host.samplePosition.fetch_add(frames);
    return true;
}
