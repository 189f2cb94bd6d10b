#include "plugin/plugin_host.h"

#include <new>

#include "audio/engine_state.h"
#include "plugin/effect_dispatch.h"
#include "plugin/host_callback.h"
#include "platform/platform.h"

AEffect* effect = nullptr;
ModuleHolder* pluginModule = nullptr;
void* editorWindow = nullptr;
float* pluginBuffers[PLUGIN_BUFFER_COUNT] = {nullptr, nullptr, nullptr, nullptr};
uint32_t blockSize = 0;
int32_t blockSizeSent = 0;
std::atomic<uint32_t> effectFault{0};

namespace {

constexpr int32_t REQUIRED_CHANNELS = 2;

float* AllocateFloats(uint32_t count) { return new (std::nothrow) float[count]; }

PluginBufferAllocator allocateBuffer = AllocateFloats;

void ReleasePluginBuffers() {
    for (float*& buffer : pluginBuffers) {
        delete[] buffer;
        buffer = nullptr;
    }
}

// The exported entry point: "VSTPluginMain", and "main" only when that is missing.
PluginEntryProc FindEntryPoint(void* module) {
    void* symbol = ModuleSymbol(module, "VSTPluginMain");
    if (symbol == nullptr) {
        symbol = ModuleSymbol(module, "main");
    }
    return reinterpret_cast<PluginEntryProc>(symbol);
}

// Without processReplacing no block could ever be processed: the stream would play nothing
// for as long as the effect stays loaded.
bool IsAcceptable(const AEffect* candidate) {
    return candidate != nullptr && candidate->numInputs == REQUIRED_CHANNELS &&
           candidate->numOutputs == REQUIRED_CHANNELS && candidate->processReplacing != nullptr;
}

struct EntryCall {
    PluginEntryProc entry;
    AEffect* result;
};

void RunEntry(void* context) {
    EntryCall& c = *static_cast<EntryCall*>(context);
    c.result = c.entry(HostCallback);
}

}  // namespace

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
        UnloadPlugin();  // a returned but rejected record still gets suspended and closed
        return false;
    }
    CallDispatcher(effect, effOpen, 0, nullptr, 0.0f);
    CallDispatcher(effect, effSetSampleRate, 0, nullptr, static_cast<float>(sampleRate));
    blockSizeSent = BLOCK_SIZE_NOT_SENT;
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
    for (float*& buffer : pluginBuffers) {
        buffer = allocateBuffer(blockSize);
        if (buffer == nullptr) {
            ReleasePluginBuffers();  // all four or none: the bridge declines on none
            break;
        }
    }
    if (effect != nullptr) {
        blockSizeSent = static_cast<int32_t>(blockSize);
        CallDispatcher(effect, effSetBlockSize, static_cast<VstIntPtr>(blockSize), nullptr, 0.0f);
        if (effect != nullptr) {
            CallDispatcher(effect, effMainsChanged, 1, nullptr, 0.0f);
        }
    }
}

void SetPluginBufferAllocator(PluginBufferAllocator allocator) {
    allocateBuffer = allocator != nullptr ? allocator : AllocateFloats;
}
