#include "audio/fade_ramp.h"

#include <cstring>

#include "audio/engine_state.h"

namespace {

// The factor of one frame: counter and length each in single precision, divided in double,
// narrowed to single precision again.
inline float RampFactor(int32_t counter, int32_t length) {
    double quotient = static_cast<double>(static_cast<float>(counter)) /
                      static_cast<double>(static_cast<float>(length));
    return static_cast<float>(quotient);
}

inline int16_t Scale(int16_t sample, float factor) {
    return static_cast<int16_t>(static_cast<int32_t>(static_cast<double>(sample) *
                                                     static_cast<double>(factor)));
}

// Frame k covers samples 2k and 2k + 1; with an odd count the last frame has only its left
// sample inside the block.
inline void ScaleFrame(int16_t* buffer, uint32_t k, uint32_t samples, float factor) {
    buffer[2 * k] = Scale(buffer[2 * k], factor);
    if (2 * k + 1 < samples) {
        buffer[2 * k + 1] = Scale(buffer[2 * k + 1], factor);
    }
}

inline void SilenceFrame(int16_t* buffer, uint32_t k, uint32_t samples) {
    buffer[2 * k] = 0;
    if (2 * k + 1 < samples) {
        buffer[2 * k + 1] = 0;
    }
}

}  // namespace

void ApplyFadeRamp(int16_t* buffer, uint32_t samples) {
    const FadePair taken = fadePair.load();
    const int32_t target = taken.fadeTarget;
    int32_t counter = taken.fadeCounter;
    const uint32_t frames = (samples + 1) / 2;

    if (target < 0) {
        const int32_t length = -target;
        if (counter <= 0) {
            std::memset(buffer, 0, static_cast<size_t>(samples) * sizeof(int16_t));
            return;
        }
        for (uint32_t k = 0; k < frames; ++k) {
            if (counter > 0) {
                ScaleFrame(buffer, k, samples, RampFactor(counter, length));
                --counter;
            } else {
                SilenceFrame(buffer, k, samples);
            }
        }
    } else if (target > 0 && counter < target) {
        for (uint32_t k = 0; k < frames && counter < target; ++k) {
            ScaleFrame(buffer, k, samples, RampFactor(counter, target));
            ++counter;
        }
    } else {
        return;
    }

    // Write the count back only if the UI thread has not put a new pair in meanwhile; a new
    // pair (a stop request) then takes effect from the next block.
    FadePair expected = taken;
    fadePair.compare_exchange_strong(expected, FadePair{target, counter});
}
