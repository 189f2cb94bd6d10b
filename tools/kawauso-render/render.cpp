#include "tools/kawauso-render/render.h"

#include <algorithm>
#include <cstring>

#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "audio/slider_tables.h"
#include "platform/child_process.h"
#include "plugin/effect_handle.h"
#include "plugin/module_machine.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/plugin_state.h"
#include "tools/kawauso-render/utf8_text.h"

std::atomic<size_t> renderBlocksDone{0};

namespace {

#ifdef _WIN32
constexpr char FOLDER_SEPARATOR = '\\';
#else
constexpr char FOLDER_SEPARATOR = '/';
#endif

const char* Refusal(StateRestore result) {
    return result == StateRestore::NotThisEffect ? "the plug-in state is for another effect"
                                                 : "the plug-in state is damaged";
}

EffectPlace PlaceOf(const RenderEffect& effect, ModuleMachine& machine) {
    uint16_t code = 0;
    machine = ReadModuleMachine(effect.path.c_str(), &code);
    return ChooseEffectPlace(machine, effect.isolated);
}

// The effect's handle: in this process, or in the host process its PE header calls for.
EffectHandle* OpenRenderEffect(const RenderOptions& options, const RenderEffect& effect,
                               RenderFault& fault) {
    ModuleMachine machine;
    const EffectPlace place = PlaceOf(effect, machine);
    if (place == EffectPlace::Refused) {
        fault.refusal = RefusalReason(machine);
        return nullptr;
    }
    if (place == EffectPlace::InProcess) {
        return OpenInProcessEffect();
    }
    fault.host = FxHostFileName(place);
    // Offline nothing is late: a block is waited for until it counts as hung.
    FxLimits limits;
    limits.hangMs = PluginHangLimitMs(static_cast<uint32_t>(options.bufferMs));
    limits.blockWaitMs = limits.hangMs;
    limits.blockAhead = options.blockAhead;
    const std::string folder =
        options.hostFolder.empty() ? ProgramFolderUtf8() : options.hostFolder;
    return OpenHostProcessEffect((folder + FOLDER_SEPARATOR + FxHostFileName(place)).c_str(),
                                 limits);
}

// As the load command does it while the stream runs: under the lock, load, then size; a kept
// state goes back to the effect between the two, as it does when a slot starts.
bool LoadRenderPlugin(EffectHandle* handle, const RenderEffect& effect, RenderFault& fault) {
    LockEnter(&EngineLock);
    bool loaded =
        handle->load(handle, WideFromUtf8(effect.path).c_str(), static_cast<int32_t>(SAMPLE_RATE));
    if (loaded && !effect.state.empty()) {
        const StateRestore result = handle->restoreState(handle, effect.state);
        if (result != StateRestore::Restored &&
            handle->fault(handle).kind == EffectFaultKind::None) {
            fault.state = Refusal(result);
        }
        loaded = result == StateRestore::Restored;
    }
    if (loaded) {
        handle->setBlockSize(handle, FramesForBufferBytes(bufferBytes));
    }
    fault.cause = handle->fault(handle);
    loaded = loaded && fault.cause.kind == EffectFaultKind::None;
    if (!loaded) {
        handle->unload(handle);
    }
    LockLeave(&EngineLock);
    return loaded;
}

void UnloadRenderPlugin(EffectHandle* handle) {
    LockEnter(&EngineLock);
    handle->unload(handle);
    LockLeave(&EngineLock);
}

// Every effect of the chain opened and loaded, in order, into handles; false at the first that
// is not (fault says which and why), the ones before it unloaded and closed again.
bool LoadRenderChain(const RenderOptions& options, std::vector<EffectHandle*>& handles,
                     RenderFault& fault) {
    for (const RenderEffect& effect : options.effects) {
        fault = RenderFault{};
        fault.effect = handles.size();
        EffectHandle* handle = OpenRenderEffect(options, effect, fault);
        if (handle == nullptr || !LoadRenderPlugin(handle, effect, fault)) {
            CloseEffect(handle);
            for (EffectHandle* loaded : handles) {
                UnloadRenderPlugin(loaded);
                CloseEffect(loaded);
            }
            handles.clear();
            return false;
        }
        handles.push_back(handle);
    }
    fault = RenderFault{};
    return true;
}

// The first fault of any effect, with its place in the chain; false when none has one.
bool ChainFault(const std::vector<EffectHandle*>& handles, RenderFault& fault) {
    for (size_t i = 0; i < handles.size(); ++i) {
        const EffectFault cause = handles[i]->fault(handles[i]);
        if (cause.kind != EffectFaultKind::None) {
            fault.cause = cause;
            fault.effect = i;
            return true;
        }
    }
    return false;
}

} // namespace

bool RenderEffectIsolated(const RenderEffect& effect) {
    ModuleMachine machine;
    const EffectPlace place = PlaceOf(effect, machine);
    return place == EffectPlace::OwnHost || place == EffectPlace::OtherHost;
}

bool RenderIsolated(const RenderOptions& options) {
    return !options.effects.empty() &&
           std::all_of(options.effects.begin(), options.effects.end(), RenderEffectIsolated);
}

bool RenderSamples(const std::vector<int16_t>& input, const RenderOptions& options,
                   std::vector<int16_t>& output, uint32_t& clippedBlocks, RenderFault& fault) {
    fault = RenderFault{};
    renderBlocksDone.store(0);
    ResetEngineState();
    LockCreate(&EngineLock);
    gain = GainForVolumePosition(options.volumePosition);
    pitchRatio = PitchRatioForPosition(options.pitchPosition);
    bufferBytes = BufferBytesForMs(options.bufferMs);
    if (options.fadeIn) {
        SetFade(FADE_IN_FRAMES, 0);
    }
    std::vector<EffectHandle*> handles;
    if (!LoadRenderChain(options, handles, fault)) {
        LockDestroy(&EngineLock);
        return false;
    }
    std::vector<ChainLink> links;
    for (EffectHandle* handle : handles) {
        links.push_back(ChainLink{handle, false});
    }
    pluginActive.store(handles.empty() ? 0 : 1);
    SetBlockEffects(links.data(), static_cast<uint32_t>(links.size()));
    const size_t blockSamples = bufferBytes / 2;
    std::vector<int16_t> playback[BUFFER_COUNT];
    for (auto& buffer : playback) {
        buffer.assign(blockSamples, 0);
    }

    std::vector<int16_t> rendered(input.size(), 0);
    clippedBlocks = 0;
    for (size_t offset = 0; offset < input.size() && fault.cause.kind == EffectFaultKind::None;
         offset += blockSamples) {
        const size_t count = std::min(blockSamples, input.size() - offset);
        int16_t* block = playback[playIndex].data();
        const uint32_t bytes = static_cast<uint32_t>(count * 2);
        ProcessBlock(&input[offset], bytes, block);
        if (clipFlag != 0) {
            ++clippedBlocks;
        }
        std::memcpy(&rendered[offset], block, count * sizeof(int16_t));
        playIndex = (playIndex + 1) % BUFFER_COUNT;
        const size_t blockNumber = offset / blockSamples + 1;
        if (ChainFault(handles, fault)) {
            fault.block = blockNumber;
        }
        renderBlocksDone.store(blockNumber);
    }
    SetBlockEffect(nullptr);
    pluginActive.store(0);
    for (EffectHandle* handle : handles) {
        UnloadRenderPlugin(handle);
        CloseEffect(handle);
    }
    LockDestroy(&EngineLock);
    if (fault.cause.kind != EffectFaultKind::None) {
        return false;
    }
    output.swap(rendered);
    return true;
}
