#include "plugin/plugin_host.h"

#include <new>

#include "audio/engine_state.h"
#include "plugin/effect_dispatch.h"
#include "plugin/host_callback.h"
#include "platform/platform.h"

AEffect* effect = nullptr;
ModuleHolder* pluginModule = nullptr;
void* editorWindow = nullptr;
float* pluginBuffers[PLUGIN_BUFFER_COUNT] = {};
std::atomic<int64_t> blockSamplePosition{0};
int32_t effectInputs = 0;
int32_t effectOutputs = 0;
int32_t sizedInputs = 0;
int32_t sizedOutputs = 0;
uint32_t blockSize = 0;
int32_t blockSizeSent = 0;
std::atomic<uint32_t> effectFault{0};

namespace {

constexpr int32_t STEREO = 2;

float* AllocateFloats(uint32_t count) {
    return new (std::nothrow) float[count];
}

PluginBufferAllocator allocateBuffer = AllocateFloats;

void ReleasePluginBuffers() {
    for (float*& buffer : pluginBuffers) {
        delete[] buffer;
        buffer = nullptr;
    }
    sizedInputs = 0;
    sizedOutputs = 0;
}

// All of them or none: the bridge declines every block without them.
bool AllocatePluginBuffers(int32_t inputs, int32_t outputs) {
    for (int32_t i = 0; i < inputs + outputs; ++i) {
        float*& buffer = pluginBuffers[i < inputs ? i : PLUGIN_OUTPUTS + i - inputs];
        buffer = allocateBuffer(blockSize);
        if (buffer == nullptr) {
            ReleasePluginBuffers();
            return false;
        }
    }
    sizedInputs = inputs;
    sizedOutputs = outputs;
    return true;
}

bool ChannelsAcceptable(int32_t count) {
    return count >= 1 && count <= MAX_PLUGIN_CHANNELS;
}

// The exported entry point: "VSTPluginMain", and "main" only when that is missing.
PluginEntryProc FindEntryPoint(void* module) {
    void* symbol = ModuleSymbol(module, "VSTPluginMain");
    if (symbol == nullptr) {
        symbol = ModuleSymbol(module, "main");
    }
    return reinterpret_cast<PluginEntryProc>(symbol);
}

// An effect without inputs or outputs (an instrument, an analyser) has nothing to give the
// stream; without processReplacing no block could ever be processed.
bool IsAcceptable(const AEffect* candidate) {
    return candidate != nullptr && ChannelsAcceptable(candidate->numInputs) &&
           ChannelsAcceptable(candidate->numOutputs) && candidate->processReplacing != nullptr;
}

struct EntryCall {
    PluginEntryProc entry;
    AEffect* result;
};

void RunEntry(void* context) {
    EntryCall& c = *static_cast<EntryCall*>(context);
    c.result = c.entry(HostCallback);
}

} // namespace

bool EffectChannelsChanged() {
    return effect != nullptr &&
           (effect->numInputs != effectInputs || effect->numOutputs != effectOutputs);
}

void RecordEffectFault(uint32_t code) {
    uint32_t none = 0;
    if (code != 0 && effectFault.compare_exchange_strong(none, code)) {
        pluginActive.store(0);
    }
}

bool LoadPlugin(const wchar_t* path, int32_t sampleRate) {
    UnloadPlugin();
    effectFault.store(0);
    pluginModule = new ModuleHolder{nullptr};
    pluginModule->moduleHandle = ModuleLoad(path);
    if (pluginModule->moduleHandle == nullptr) {
        UnloadPlugin();
        return false;
    }
    PluginEntryProc entry = FindEntryPoint(pluginModule->moduleHandle);
    if (entry == nullptr) {
        UnloadPlugin();
        return false;
    }
    EntryCall call = {entry, nullptr};
    RecordEffectFault(GuardedCall(RunEntry, &call));
    effect = effectFault.load() == 0 ? call.result : nullptr;
    if (!IsAcceptable(effect)) {
        UnloadPlugin(); // a returned but rejected record still gets suspended and closed
        return false;
    }
    // Read once: whatever the record says later, the buffers are made for these.
    effectInputs = effect->numInputs;
    effectOutputs = effect->numOutputs;
    CallDispatcher(effect, effOpen, 0, nullptr, 0.0f);
    CallDispatcher(effect, effSetSampleRate, 0, nullptr, static_cast<float>(sampleRate));
    blockSizeSent = BLOCK_SIZE_NOT_SENT;
    if (effectFault.load() == 0 && EffectChannelsChanged()) {
        RecordEffectFault(EFFECT_CHANNELS_CHANGED);
    }
    if (effectFault.load() != 0) {
        UnloadPlugin();
        return false;
    }
    return true;
}

void UnloadPlugin() {
    if (effect != nullptr) {
        CallDispatcher(effect, effMainsChanged, 0, nullptr, 0.0f);
    }
    if (editorWindow != nullptr) {
        CloseEditorWindow(editorWindow);
        editorWindow = nullptr;
    }
    if (effect != nullptr) {
        CallDispatcher(effect, effClose, 0, nullptr, 0.0f);
        effect = nullptr;
    }
    effectInputs = 0;
    effectOutputs = 0;
    if (pluginModule != nullptr) {
        if (pluginModule->moduleHandle != nullptr && effectFault.load() == 0) {
            ModuleFree(pluginModule->moduleHandle);
        }
        delete pluginModule;
        pluginModule = nullptr;
    }
    ReleasePluginBuffers();
}

void SetPluginBlockSize(uint32_t frames) {
    if (effect != nullptr) {
        CallDispatcher(effect, effMainsChanged, 0, nullptr, 0.0f);
    }
    blockSize = frames;
    ReleasePluginBuffers();
    AllocatePluginBuffers(effect != nullptr ? effectInputs : STEREO,
                          effect != nullptr ? effectOutputs : STEREO);
    if (effect != nullptr) {
        blockSizeSent = static_cast<int32_t>(blockSize);
        CallDispatcher(effect, effSetBlockSize, static_cast<VstIntPtr>(blockSize), nullptr, 0.0f);
        if (effect != nullptr) {
            blockSamplePosition.store(0);
            CallDispatcher(effect, effMainsChanged, 1, nullptr, 0.0f);
        }
    }
}

void SetPluginBufferAllocator(PluginBufferAllocator allocator) {
    allocateBuffer = allocator != nullptr ? allocator : AllocateFloats;
}
