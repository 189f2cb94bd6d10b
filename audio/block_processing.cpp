#include "audio/block_processing.h"

#include "audio/engine_state.h"
#include "audio/fade_ramp.h"
#include "audio/pitch_stage.h"
#include "plugin/plugin_bridge.h"

void ProcessBlock(const int16_t* input, uint32_t byteCount, int16_t* output) {
    const uint32_t samples = byteCount / 2;
    clipFlag = 0;
    LockEnter(&EngineLock);
    if (pluginActive.load(std::memory_order_relaxed) != 0) {
        ProcessWithPlugin(input, output, samples / 2);
    } else {
        ProcessStageBlock(input, output, samples);
    }
    LockLeave(&EngineLock);
    ApplyFadeRamp(output, samples);
    if (clipFlag != 0) {
        lastClipTick.store(TickCount());
    }
}
