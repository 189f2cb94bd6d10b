#include "tools/kawauso-render/render.h"

#include <algorithm>
#include <cstring>

#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "audio/slider_tables.h"
#include "plugin/plugin_host.h"
#include "plugin/plugin_state.h"
#include "tools/kawauso-render/utf8_text.h"

std::atomic<size_t> renderBlocksDone{0};

namespace {

const char* Refusal(StateRestore result) {
    return result == StateRestore::NotThisEffect ? "the plug-in state is for another effect"
                                                 : "the plug-in state is damaged";
}

// As the load command does it while the stream runs: under the lock, load, then size; a kept
// state goes back to the effect between the two, as it does when a slot starts.
bool LoadRenderPlugin(const RenderOptions& options, RenderFault& fault) {
    LockEnter(&EngineLock);
    bool loaded =
        LoadPlugin(WideFromUtf8(options.pluginPath).c_str(), static_cast<int32_t>(SAMPLE_RATE));
    if (loaded && !options.pluginState.empty()) {
        const StateRestore result = RestoreEffectState(options.pluginState);
        if (result != StateRestore::Restored) {
            fault.state = Refusal(result);
            UnloadPlugin();
            loaded = false;
        }
    }
    if (loaded) {
        SetPluginBlockSize(FramesForBufferBytes(bufferBytes));
    }
    LockLeave(&EngineLock);
    pluginActive.store(loaded ? 1 : 0);
    return loaded;
}

void UnloadRenderPlugin() {
    LockEnter(&EngineLock);
    UnloadPlugin();
    LockLeave(&EngineLock);
    pluginActive.store(0);
}

} // namespace

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
    const bool withPlugin = !options.pluginPath.empty();
    if (withPlugin && !LoadRenderPlugin(options, fault)) {
        fault.code = effectFault.load();
        LockDestroy(&EngineLock);
        return false;
    }

    const size_t blockSamples = bufferBytes / 2;
    std::vector<int16_t> playback[BUFFER_COUNT];
    for (auto& buffer : playback) {
        buffer.assign(blockSamples, 0);
    }

    std::vector<int16_t> rendered(input.size(), 0);
    clippedBlocks = 0;
    for (size_t offset = 0; offset < input.size() && fault.code == 0; offset += blockSamples) {
        const size_t count = std::min(blockSamples, input.size() - offset);
        int16_t* block = playback[playIndex].data();
        ProcessBlock(&input[offset], static_cast<uint32_t>(count * 2), block);
        if (clipFlag != 0) {
            ++clippedBlocks;
        }
        std::memcpy(&rendered[offset], block, count * sizeof(int16_t));
        playIndex = (playIndex + 1) % BUFFER_COUNT;
        const size_t blockNumber = offset / blockSamples + 1;
        if (effectFault.load() != 0) {
            fault = RenderFault{effectFault.load(), blockNumber};
        }
        renderBlocksDone.store(blockNumber);
    }
    if (withPlugin) {
        UnloadRenderPlugin();
    }
    LockDestroy(&EngineLock);
    if (fault.code != 0) {
        return false;
    }
    output.swap(rendered);
    return true;
}
