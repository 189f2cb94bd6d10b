#include "audio/mute_ramp.h"

#include <atomic>

#include "audio/audio_format.h"

namespace {

// The level counts in steps of a fade-in's frame: full is FADE_IN_FRAMES, and a fade-out frame
// takes as many steps as make the whole way in FADE_OUT_FRAMES. Whole numbers: every build
// scales alike.
constexpr int32_t FULL_LEVEL = FADE_IN_FRAMES;
constexpr int32_t OUT_STEP = FADE_IN_FRAMES / FADE_OUT_FRAMES;
static_assert(FADE_IN_FRAMES % FADE_OUT_FRAMES == 0, "the fade-out's step is whole");

std::atomic<bool> muteWanted{false};
int32_t muteLevel = FULL_LEVEL; // audio thread only

} // namespace

void SetOutputMuted(bool muted) {
    muteWanted.store(muted);
}

bool OutputMuted() {
    return muteWanted.load();
}

void ApplyMuteRamp(int16_t* buffer, uint32_t samples) {
    const bool muted = muteWanted.load(std::memory_order_relaxed);
    if (!muted && muteLevel == FULL_LEVEL) {
        return;
    }
    for (uint32_t i = 0; i + 1 < samples; i += 2) {
        muteLevel = muted ? (muteLevel > OUT_STEP ? muteLevel - OUT_STEP : 0)
                          : (muteLevel < FULL_LEVEL ? muteLevel + 1 : FULL_LEVEL);
        buffer[i] = static_cast<int16_t>(buffer[i] * muteLevel / FULL_LEVEL);
        buffer[i + 1] = static_cast<int16_t>(buffer[i + 1] * muteLevel / FULL_LEVEL);
    }
}

void ResetMuteRamp() {
    muteWanted.store(false);
    muteLevel = FULL_LEVEL;
}
