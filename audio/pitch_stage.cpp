#include "audio/pitch_stage.h"

#include "audio/engine_state.h"

namespace {

// The moving parts of one channel, held in registers for the length of a block.
struct StageRegisters {
    int16_t* ring;
    int16_t* history;
    int32_t writePos;
    double readPos;
    int32_t historyPos;
    int32_t crossfadeLeft;
};

StageRegisters LoadRegisters(PitchChannel* p) {
    return StageRegisters{p->ring, p->history, p->writePos, p->readPos, p->historyPos,
                          p->crossfadeLeft};
}

void StoreRegisters(PitchChannel* p, const StageRegisters& r) {
    p->writePos = r.writePos;
    p->readPos = r.readPos;
    p->historyPos = r.historyPos;
    p->crossfadeLeft = r.crossfadeLeft;
}

// Conversion to a 32-bit integer dropping the fraction (toward zero).
inline int32_t Truncate(double x) { return static_cast<int32_t>(x); }

// One call of the stage. Every value is computed in double precision in exactly this order;
// the block loop and ProcessSample both come here, so they cannot drift apart.
inline int16_t StageStep(StageRegisters& r, int16_t sample, double g, double ratio,
                         bool& clipped) {
    r.ring[r.writePos] = sample;  // stored before the read: a read at writePos sees it

    int32_t i0 = Truncate(r.readPos);
    int32_t i1 = (i0 + 1 == RING_LENGTH) ? 0 : i0 + 1;
    double frac = r.readPos - i0;
    double mix = (r.ring[i0] * (1.0 - frac) + r.ring[i1] * frac) * g;
    int32_t s = Truncate(mix);
    clipped |= (s > 32767) | (s < -32768);
    s = (s >= 32767) ? 32767 : ((s <= -32768) ? -32768 : s);

    // The crossing test uses the positions before wrapping, so a wrap is never a crossing
    // and a crossing that coincides with a wrap is still seen.
    int32_t t = r.writePos;
    double u = r.readPos;
    int32_t w = t + 1;
    double v = u + ratio;
    if ((w - v) * (t - u) < 0) {
        r.crossfadeLeft = CROSSFADE_STEPS;
    }
    r.writePos = (w >= RING_LENGTH) ? w - RING_LENGTH : w;
    r.readPos = (v >= static_cast<double>(RING_LENGTH)) ? v - RING_LENGTH : v;

    r.history[r.historyPos] = static_cast<int16_t>(s);
    int32_t d = r.historyPos + HISTORY_DELAY;
    if (d >= HISTORY_LENGTH) {
        d -= HISTORY_LENGTH;
    }
    int32_t h = r.history[d];

    int32_t result = h;
    if (r.crossfadeLeft > 0) {
        int32_t b = r.crossfadeLeft;
        int32_t dist = (b > HISTORY_DELAY) ? b - HISTORY_DELAY : HISTORY_DELAY - b;
        result = Truncate((1.0 - dist * CROSSFADE_WEIGHT_STEP) * s +
                          (h * dist) * CROSSFADE_WEIGHT_STEP);
        r.crossfadeLeft = b - 1;
    }

    r.historyPos = (r.historyPos + 1 == HISTORY_LENGTH) ? 0 : r.historyPos + 1;
    return static_cast<int16_t>(result);
}

}  // namespace

int16_t ProcessSample(int16_t sample, int channel) {
    PitchChannel* p = &pitchChannels[channel & 1];
    StageRegisters r = LoadRegisters(p);
    bool clipped = false;
    int16_t result = StageStep(r, sample, gain, pitchRatio, clipped);
    StoreRegisters(p, r);
    if (clipped) {
        clipFlag = 1;
    }
    return result;
}

void ProcessStageBlock(const int16_t* input, int16_t* output, uint32_t samples) {
    // Both channels advance in the same loop: their state chains are independent, so the
    // processor works on the two at once.
    const double g = gain;
    const double ratio = pitchRatio;
    bool clipped = false;
    StageRegisters left = LoadRegisters(&pitchChannels[0]);
    StageRegisters right = LoadRegisters(&pitchChannels[1]);
    const uint32_t frames = samples / 2;
    for (uint32_t n = 0; n < frames; ++n) {
        output[2 * n] = StageStep(left, input[2 * n], g, ratio, clipped);
        output[2 * n + 1] = StageStep(right, input[2 * n + 1], g, ratio, clipped);
    }
    if ((samples & 1u) != 0) {
        output[samples - 1] = StageStep(left, input[samples - 1], g, ratio, clipped);
    }
    StoreRegisters(&pitchChannels[0], left);
    StoreRegisters(&pitchChannels[1], right);
    if (clipped) {
        clipFlag = 1;
    }
}
