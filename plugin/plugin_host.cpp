#include "plugin/plugin_host.h"

#include <new>

#include "audio/engine_state.h"
#include "plugin/effect_dispatch.h"
#include "plugin/host_callback.h"
#include "platform/platform.h"

namespace {

constexpr int32_t STEREO = 2;

float* AllocateFloats(uint32_t count) {
    return new (std::nothrow) float[count];
}

PluginBufferAllocator allocateBuffer = AllocateFloats;

void ReleasePluginBuffers(PluginHost& host) {
    for (float*& buffer : host.buffers) {
        delete[] buffer;
        buffer = nullptr;
    }
    host.sizedInputs = 0;
    host.sizedOutputs = 0;
}

// All of them or none: the bridge declines every block without them.
bool AllocatePluginBuffers(PluginHost& host, int32_t inputs, int32_t outputs) {
    for (int32_t i = 0; i < inputs + outputs; ++i) {
        float*& buffer = host.buffers[i < inputs ? i : PLUGIN_OUTPUTS + i - inputs];
        buffer = allocateBuffer(host.blockSize);
        if (buffer == nullptr) {
            ReleasePluginBuffers(host);
            return false;
        }
    }
    host.sizedInputs = inputs;
    host.sizedOutputs = outputs;
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

// The effect's record, entered with the questions it asks meanwhile answered from host.
AEffect* Enter(PluginHost& host, PluginEntryProc entry) {
    EntryCall call = {entry, nullptr};
    const HostCallScope entering(host);
    RecordEffectFault(host, GuardedCall(RunEntry, &call));
    return host.fault.load() == 0 ? call.result : nullptr;
}

} // namespace

PluginHost::PluginHost() {
    RegisterPluginHost(this);
}

PluginHost::~PluginHost() {
    UnloadPlugin(*this);
    UnregisterPluginHost(this);
}

bool EffectChannelsChanged(const PluginHost& host) {
    return host.effect != nullptr &&
           (host.effect->numInputs != host.inputs || host.effect->numOutputs != host.outputs);
}

void RecordEffectFault(PluginHost& host, uint32_t code) {
    uint32_t none = 0;
    if (code != 0 && host.fault.compare_exchange_strong(none, code)) {
        pluginActive.store(0);
    }
}

bool LoadPlugin(PluginHost& host, const wchar_t* path, int32_t sampleRate) {
    UnloadPlugin(host);
    host.fault.store(0);
    host.module = new ModuleHolder{nullptr};
    host.module->moduleHandle = ModuleLoad(path);
    if (host.module->moduleHandle == nullptr) {
        UnloadPlugin(host);
        return false;
    }
    PluginEntryProc entry = FindEntryPoint(host.module->moduleHandle);
    if (entry == nullptr) {
        UnloadPlugin(host);
        return false;
    }
    host.effect = Enter(host, entry);
    NameHostEffect(&host, host.effect);
    if (!IsAcceptable(host.effect)) {
        UnloadPlugin(host); // a returned but rejected record still gets suspended and closed
        return false;
    }
    // Read once: whatever the record says later, the buffers are made for these.
    host.inputs = host.effect->numInputs;
    host.outputs = host.effect->numOutputs;
    CallDispatcher(host, host.effect, effOpen, 0, nullptr, 0.0f);
    CallDispatcher(host, host.effect, effSetSampleRate, 0, nullptr, static_cast<float>(sampleRate));
    host.blockSizeSent = BLOCK_SIZE_NOT_SENT;
    if (host.fault.load() == 0 && EffectChannelsChanged(host)) {
        RecordEffectFault(host, EFFECT_CHANNELS_CHANGED);
    }
    if (host.fault.load() != 0) {
        UnloadPlugin(host);
        return false;
    }
    return true;
}

void UnloadPlugin(PluginHost& host) {
    if (host.effect != nullptr) {
        CallDispatcher(host, host.effect, effMainsChanged, 0, nullptr, 0.0f);
    }
    if (host.editorWindow != nullptr) {
        CloseEditorWindow(host.editorWindow);
        host.editorWindow = nullptr;
    }
    if (host.effect != nullptr) {
        CallDispatcher(host, host.effect, effClose, 0, nullptr, 0.0f);
        host.effect = nullptr;
        NameHostEffect(&host, nullptr);
    }
    host.inputs = 0;
    host.outputs = 0;
    if (host.module != nullptr) {
        if (host.module->moduleHandle != nullptr && host.fault.load() == 0) {
            ModuleFree(host.module->moduleHandle);
        }
        delete host.module;
        host.module = nullptr;
    }
    ReleasePluginBuffers(host);
}

void SetPluginBlockSize(PluginHost& host, uint32_t frames) {
    if (host.effect != nullptr) {
        CallDispatcher(host, host.effect, effMainsChanged, 0, nullptr, 0.0f);
    }
    host.blockSize = frames;
    ReleasePluginBuffers(host);
    AllocatePluginBuffers(host, host.effect != nullptr ? host.inputs : STEREO,
                          host.effect != nullptr ? host.outputs : STEREO);
    if (host.effect != nullptr) {
        host.blockSizeSent = static_cast<int32_t>(host.blockSize);
        CallDispatcher(host, host.effect, effSetBlockSize, static_cast<VstIntPtr>(host.blockSize),
                       nullptr, 0.0f);
        if (host.effect != nullptr) {
            host.samplePosition.store(0);
            CallDispatcher(host, host.effect, effMainsChanged, 1, nullptr, 0.0f);
        }
    }
}

void SetPluginBufferAllocator(PluginBufferAllocator allocator) {
    allocateBuffer = allocator != nullptr ? allocator : AllocateFloats;
}
