#include "audio/pitch_stage.h"

#include <emmintrin.h>

#include <cstring>

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

// The output of a call with b crossfade steps to go (b > 0): s undelayed, h delayed.
inline int16_t CrossfadeResult(int32_t b, int32_t s, int32_t h) {
    int32_t dist = (b > HISTORY_DELAY) ? b - HISTORY_DELAY : HISTORY_DELAY - b;
    return static_cast<int16_t>(Truncate((1.0 - dist * CROSSFADE_WEIGHT_STEP) * s +
                                         (h * dist) * CROSSFADE_WEIGHT_STEP));
}

// One call of the stage. Every value is computed in double precision in exactly this order;
// ProcessSample and every block that cannot take the paired path come here.
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
        result = CrossfadeResult(r.crossfadeLeft, s, h);
        r.crossfadeLeft -= 1;
    }

    r.historyPos = (r.historyPos + 1 == HISTORY_LENGTH) ? 0 : r.historyPos + 1;
    return static_cast<int16_t>(result);
}

void RunScalar(const int16_t* input, int16_t* output, uint32_t samples, double g, double ratio,
               bool& clipped) {
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
}

// ---- The paired path: left and right as the two lanes of one SSE2 register ----------------
//
// Each lane performs the very operations of StageStep on its own channel's values (SSE2
// double arithmetic is IEEE double arithmetic, and cvttpd2dq truncates as cvttsd2si does),
// so the lanes need not agree on any position. What is not lane work is moved out of the
// loop without changing a value:
// - s of every frame goes into `stage` after HISTORY_DELAY frames taken from the history,
//   so the delayed value h of frame n is simply frame n of `stage`; the history is written
//   back from it after the chunk.
// - A crossing only restarts the crossfade, and the crossfade only changes the output, so the
//   loop notes the frames where it sees one and the crossfaded outputs are computed after it
//   with CrossfadeResult.
// - Wrapping happens only on a rare branch; w - v of one call is t - u of the next unless
//   something wrapped in between, so it is carried over.

constexpr uint32_t CHUNK_FRAMES = 512;

struct PairChunk {
    int16_t stage[2 * (HISTORY_DELAY + CHUNK_FRAMES)];  // interleaved like the output
    uint16_t crossings[2][CHUNK_FRAMES];                 // frames where a lane crossed
    uint32_t crossingCount[2];
};

// Lane state between chunks.
struct PairLanes {
    __m128d readPos;
    __m128d writePosAsDouble;
    __m128d distance;      // writePos - readPos, the t - u of the next call
    __m128d mixHighest;    // for the clip test: s > 32767 exactly when mix >= 32768.0 ...
    __m128d mixLowest;     // ... and s < -32768 exactly when mix <= -32769.0
    int32_t writePos[2];
};

bool ChannelIsPairable(const PitchChannel& p) {
    return p.writePos >= 0 && p.writePos < RING_LENGTH && p.readPos >= 0.0 &&
           p.readPos < static_cast<double>(RING_LENGTH) && p.historyPos >= 0 &&
           p.historyPos < HISTORY_LENGTH;
}

inline int32_t Neighbour(int32_t i) { return (i + 1 == RING_LENGTH) ? 0 : i + 1; }

inline void StoreFrame(int16_t* frame, __m128i packed) {
    const int32_t bits = _mm_cvtsi128_si32(packed);
    std::memcpy(frame, &bits, sizeof bits);
}

// Stage results s of `frames` frames (at most CHUNK_FRAMES) into chunk.stage after the
// HISTORY_DELAY frames already there; advances the positions and notes the crossings.
void RunPairLoop(const int16_t* input, uint32_t frames, double g, double ratio,
                 PairLanes& lanes, PairChunk& chunk) {
    int16_t* const ringL = pitchChannels[0].ring;
    int16_t* const ringR = pitchChannels[1].ring;
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d zero = _mm_setzero_pd();
    const __m128d ringLength = _mm_set1_pd(static_cast<double>(RING_LENGTH));
    const __m128d gainV = _mm_set1_pd(g);
    const __m128d ratioV = _mm_set1_pd(ratio);
    __m128d u = lanes.readPos;
    __m128d t = lanes.writePosAsDouble;
    __m128d before = lanes.distance;
    __m128d highest = lanes.mixHighest;
    __m128d lowest = lanes.mixLowest;
    int32_t writeL = lanes.writePos[0];
    int32_t writeR = lanes.writePos[1];
    int16_t* stage = chunk.stage + 2 * HISTORY_DELAY;

    for (uint32_t n = 0; n < frames; ++n) {
        ringL[writeL] = input[2 * n];
        ringR[writeR] = input[2 * n + 1];

        const __m128i i0 = _mm_cvttpd_epi32(u);
        const __m128d frac = _mm_sub_pd(u, _mm_cvtepi32_pd(i0));
        const int32_t i0L = _mm_cvtsi128_si32(i0);
        const int32_t i0R = _mm_extract_epi16(i0, 2);  // 0..881 fits the low half
        // 16-bit lanes: ring[i0] left, right, ring[i1] left, right.
        __m128i taps = _mm_cvtsi32_si128(ringL[i0L]);
        taps = _mm_insert_epi16(taps, ringR[i0R], 1);
        taps = _mm_insert_epi16(taps, ringL[Neighbour(i0L)], 2);
        taps = _mm_insert_epi16(taps, ringR[Neighbour(i0R)], 3);
        taps = _mm_srai_epi32(_mm_unpacklo_epi16(taps, taps), 16);
        const __m128d a0 = _mm_cvtepi32_pd(taps);
        const __m128d a1 = _mm_cvtepi32_pd(_mm_shuffle_epi32(taps, 0xEE));
        const __m128d mix = _mm_mul_pd(
            _mm_add_pd(_mm_mul_pd(a0, _mm_sub_pd(one, frac)), _mm_mul_pd(a1, frac)), gainV);
        highest = _mm_max_pd(highest, mix);
        lowest = _mm_min_pd(lowest, mix);
        const __m128i s = _mm_cvttpd_epi32(mix);
        StoreFrame(stage + 2 * n, _mm_packs_epi32(s, s));  // packs saturates as step 6 does

        __m128d w = _mm_add_pd(t, one);
        __m128d v = _mm_add_pd(u, ratioV);
        __m128d after = _mm_sub_pd(w, v);
        const __m128d crossed = _mm_cmplt_pd(_mm_mul_pd(after, before), zero);
        const __m128d readWraps = _mm_cmpge_pd(v, ringLength);
        ++writeL;
        ++writeR;
        if ((_mm_movemask_pd(_mm_or_pd(crossed, readWraps)) | (writeL >= RING_LENGTH) |
             (writeR >= RING_LENGTH)) != 0) {
            const int crossedLanes = _mm_movemask_pd(crossed);
            for (int lane = 0; lane < 2; ++lane) {
                if ((crossedLanes >> lane) & 1) {
                    chunk.crossings[lane][chunk.crossingCount[lane]++] =
                        static_cast<uint16_t>(n);
                }
            }
            // Subtracting 0.0 from a lane that does not wrap leaves it as it is.
            v = _mm_sub_pd(v, _mm_and_pd(readWraps, ringLength));
            w = _mm_sub_pd(w, _mm_and_pd(_mm_cmpge_pd(w, ringLength), ringLength));
            writeL = (writeL >= RING_LENGTH) ? writeL - RING_LENGTH : writeL;
            writeR = (writeR >= RING_LENGTH) ? writeR - RING_LENGTH : writeR;
            after = _mm_sub_pd(w, v);
        }
        u = v;
        t = w;
        before = after;
    }
    lanes.readPos = u;
    lanes.writePosAsDouble = t;
    lanes.distance = before;
    lanes.mixHighest = highest;
    lanes.mixLowest = lowest;
    lanes.writePos[0] = writeL;
    lanes.writePos[1] = writeR;
}

// The outputs of one lane that a crossfade changes, from the crossfadeLeft before the chunk
// and the frames where the lane crossed; returns crossfadeLeft after the chunk.
int32_t ApplyCrossfades(const PairChunk& chunk, int lane, uint32_t frames, int32_t left,
                        int16_t* output) {
    uint32_t n = 0;
    uint32_t next = 0;
    for (;;) {
        const uint32_t end =
            (next < chunk.crossingCount[lane]) ? chunk.crossings[lane][next] : frames;
        for (; n < end && left > 0; ++n, --left) {
            const int32_t s = chunk.stage[2 * (HISTORY_DELAY + n) + lane];
            const int32_t h = chunk.stage[2 * n + lane];
            output[2 * n + lane] = CrossfadeResult(left, s, h);
        }
        if (next == chunk.crossingCount[lane]) {
            return left;
        }
        n = end;
        left = CROSSFADE_STEPS;
        ++next;
    }
}

void RunPairs(const int16_t* input, int16_t* output, uint32_t frames, double g, double ratio,
              bool& clipped) {
    PairLanes lanes;
    lanes.readPos = _mm_set_pd(pitchChannels[1].readPos, pitchChannels[0].readPos);
    lanes.writePosAsDouble = _mm_set_pd(pitchChannels[1].writePos, pitchChannels[0].writePos);
    lanes.distance = _mm_sub_pd(lanes.writePosAsDouble, lanes.readPos);
    lanes.mixHighest = _mm_setzero_pd();
    lanes.mixLowest = _mm_setzero_pd();
    lanes.writePos[0] = pitchChannels[0].writePos;
    lanes.writePos[1] = pitchChannels[1].writePos;

    PairChunk chunk;
    for (uint32_t done = 0; done < frames; done += CHUNK_FRAMES) {
        const uint32_t count = (frames - done < CHUNK_FRAMES) ? frames - done : CHUNK_FRAMES;
        for (int lane = 0; lane < 2; ++lane) {
            const PitchChannel& p = pitchChannels[lane];
            for (int k = 0; k < HISTORY_DELAY; ++k) {
                chunk.stage[2 * k + lane] =
                    p.history[(p.historyPos + HISTORY_DELAY + k) % HISTORY_LENGTH];
            }
            chunk.crossingCount[lane] = 0;
        }
        RunPairLoop(input + 2 * done, count, g, ratio, lanes, chunk);
        int16_t* out = output + 2 * done;
        std::memcpy(out, chunk.stage, count * 2 * sizeof(int16_t));
        for (int lane = 0; lane < 2; ++lane) {
            PitchChannel& p = pitchChannels[lane];
            p.crossfadeLeft = ApplyCrossfades(chunk, lane, count, p.crossfadeLeft, out);
            const uint32_t first =
                (count > HISTORY_LENGTH) ? count - HISTORY_LENGTH : 0;
            for (uint32_t k = first; k < count; ++k) {
                p.history[(p.historyPos + k) % HISTORY_LENGTH] =
                    chunk.stage[2 * (HISTORY_DELAY + k) + lane];
            }
            p.historyPos = static_cast<int32_t>((p.historyPos + count) % HISTORY_LENGTH);
        }
    }

    double readPos[2];
    _mm_storeu_pd(readPos, lanes.readPos);
    for (int lane = 0; lane < 2; ++lane) {
        pitchChannels[lane].readPos = readPos[lane];
        pitchChannels[lane].writePos = lanes.writePos[lane];
    }
    const __m128d clips =
        _mm_or_pd(_mm_cmpge_pd(lanes.mixHighest, _mm_set1_pd(32768.0)),
                  _mm_cmple_pd(lanes.mixLowest, _mm_set1_pd(-32769.0)));
    clipped |= _mm_movemask_pd(clips) != 0;
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
    const double g = gain;
    const double ratio = pitchRatio;
    bool clipped = false;
    if (ChannelIsPairable(pitchChannels[0]) && ChannelIsPairable(pitchChannels[1])) {
        const uint32_t frames = samples / 2;
        RunPairs(input, output, frames, g, ratio, clipped);
        if ((samples & 1u) != 0) {
            RunScalar(input + 2 * frames, output + 2 * frames, 1, g, ratio, clipped);
        }
    } else {
        RunScalar(input, output, samples, g, ratio, clipped);
    }
    if (clipped) {
        clipFlag = 1;
    }
}
