#include "tools/kawauso-render/render.h"

#include <algorithm>
#include <cstring>

#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "audio/slider_tables.h"

std::vector<int16_t> RenderSamples(const std::vector<int16_t>& input, const RenderOptions& options,
                                   uint32_t& clippedBlocks) {
    ResetEngineState();
    LockCreate(&EngineLock);
    gain = GainForVolumePosition(options.volumePosition);
    pitchRatio = PitchRatioForPosition(options.pitchPosition);
    bufferBytes = BufferBytesForMs(options.bufferMs);
    if (options.fadeIn) {
        SetFade(FADE_IN_FRAMES, 0);
    }

    const size_t blockSamples = bufferBytes / 2;
    std::vector<int16_t> playback[BUFFER_COUNT];
    for (auto& buffer : playback) {
        buffer.assign(blockSamples, 0);
    }

    std::vector<int16_t> output(input.size());
    clippedBlocks = 0;
    for (size_t offset = 0; offset < input.size(); offset += blockSamples) {
        const size_t count = std::min(blockSamples, input.size() - offset);
        int16_t* block = playback[playIndex].data();
        ProcessBlock(&input[offset], static_cast<uint32_t>(count * 2), block);
        if (clipFlag != 0) {
            ++clippedBlocks;
        }
        std::memcpy(&output[offset], block, count * sizeof(int16_t));
        playIndex = (playIndex + 1) % BUFFER_COUNT;
    }
    LockDestroy(&EngineLock);
    return output;
}
