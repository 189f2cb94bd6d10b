#include "audio/pitch_stage.h"

#include <emmintrin.h>

#include <cstring>

#include "audio/engine_state.h"
#include "audio/frame_lanes.h"

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
// double arithmetic is IEEE double arithmetic, and cvttpd2dq truncates as cvttsd2si does).
// What is not lane work is moved out of the loop without changing a value:
// - The rings are read as doubles from an interleaved copy (int16 to double is exact, as in
//   StageStep); the inputs go into the copy as the loop runs and into the rings after each
//   stretch. The copy is kept from block to block while the rings stay as it left them.
// - `stage` begins with the history, oldest first, and s of every frame follows it, so the
//   delayed value h of a frame stands HISTORY_DELAY frames before its s, and the last
//   HISTORY_LENGTH frames of `stage` are always the history; it is written back once, after
//   the block.
// - A crossing only restarts the crossfade, and the crossfade only changes the output, so the
//   loop notes the frames where it sees one and the crossfaded outputs are computed after it
//   with CrossfadeResult.
// - The writers wrap between stretches, the readers on a rare branch; w - v of one call is
//   t - u of the next unless something wrapped in between, so it is carried over.
// - Clipping is judged from the extremes of mix: s > 32767 exactly when mix >= 32768.0, and
//   s < -32768 exactly when mix <= -32769.0.

constexpr uint32_t CHUNK_FRAMES = 512;

struct PairChunk {
    int16_t stage[2 * (HISTORY_LENGTH + CHUNK_FRAMES)];  // interleaved like the output
    uint16_t crossings[2][CHUNK_FRAMES];                 // frames where a lane crossed
    uint32_t crossingCount[2];
};

// Lane state between chunks.
struct PairLanes {
    __m128d readPos;
    __m128d writePosAsDouble;
    __m128d distance;  // writePos - readPos, the t - u of the next call
    __m128d mixHighest;
    __m128d mixLowest;
    int32_t writePos[2];
};

// Both rings as doubles, entry 2i the left ring's index i and 2i + 1 the right one's, and
// the rings as they stood when that copy was last up to date. Audio thread only, like the
// rings; zeros at program start, like the rings.
alignas(16) double ringCopy[2 * RING_LENGTH];
int16_t copiedRings[2][RING_LENGTH];

bool ChannelIsPairable(const PitchChannel& p) {
    return p.writePos >= 0 && p.writePos < RING_LENGTH && p.readPos >= 0.0 &&
           p.readPos < static_cast<double>(RING_LENGTH) && p.historyPos >= 0 &&
           p.historyPos < HISTORY_LENGTH;
}

// The lanes stand at the same places and, doing the same operations, stay there.
bool ChannelsMoveTogether() {
    return pitchChannels[0].writePos == pitchChannels[1].writePos &&
           std::memcmp(&pitchChannels[0].readPos, &pitchChannels[1].readPos,
                       sizeof(double)) == 0;
}

inline int32_t Neighbour(int32_t i) { return (i + 1 == RING_LENGTH) ? 0 : i + 1; }

// Sign-extends the 16-bit lanes 0..3 of x to 32 bits.
inline __m128i Widen(__m128i x) { return _mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16); }

void CopyRingsAsDoubles() {
    const int16_t* ringL = pitchChannels[0].ring;
    const int16_t* ringR = pitchChannels[1].ring;
    int i = 0;
    for (; i + 4 <= RING_LENGTH; i += 4) {
        const __m128i pairs = _mm_unpacklo_epi16(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(ringL + i)),
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(ringR + i)));
        const __m128i low = Widen(pairs);
        const __m128i high = Widen(_mm_unpackhi_epi64(pairs, pairs));
        _mm_store_pd(ringCopy + 2 * i, _mm_cvtepi32_pd(low));
        _mm_store_pd(ringCopy + 2 * i + 2, _mm_cvtepi32_pd(_mm_unpackhi_epi64(low, low)));
        _mm_store_pd(ringCopy + 2 * i + 4, _mm_cvtepi32_pd(high));
        _mm_store_pd(ringCopy + 2 * i + 6, _mm_cvtepi32_pd(_mm_unpackhi_epi64(high, high)));
    }
    for (; i < RING_LENGTH; ++i) {
        ringCopy[2 * i] = ringL[i];
        ringCopy[2 * i + 1] = ringR[i];
    }
}

void NoteRingsCopied() {
    std::memcpy(copiedRings[0], pitchChannels[0].ring, sizeof copiedRings[0]);
    std::memcpy(copiedRings[1], pitchChannels[1].ring, sizeof copiedRings[1]);
}

// Anything but a paired block (a lone sample, a test) may have changed the rings since.
void BringRingCopyUpToDate() {
    if (std::memcmp(copiedRings[0], pitchChannels[0].ring, sizeof copiedRings[0]) != 0 ||
        std::memcmp(copiedRings[1], pitchChannels[1].ring, sizeof copiedRings[1]) != 0) {
        CopyRingsAsDoubles();
        NoteRingsCopied();
    }
}

// The inputs of `frames` frames into the rings from writerL and writerR on, which do not
// reach the end of their rings.
void WriteRings(const int16_t* input, uint32_t frames, int16_t* writerL, int16_t* writerR) {
    uint32_t k = 0;
    for (; k + 4 <= frames; k += 4) {
        const __m128i x = SplitFourFrames(input + 2 * k);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(writerL + k), x);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(writerR + k), _mm_unpackhi_epi64(x, x));
    }
    for (; k < frames; ++k) {
        writerL[k] = input[2 * k];
        writerR[k] = input[2 * k + 1];
    }
}

inline __m128i LoadFrame(const int16_t* frame) {
    int32_t bits;
    std::memcpy(&bits, frame, sizeof bits);
    return _mm_cvtsi32_si128(bits);
}

inline void StoreFrame(int16_t* frame, __m128i packed) {
    const int32_t bits = _mm_cvtsi128_si32(packed);
    std::memcpy(frame, &bits, sizeof bits);
}

// Stage results s of `frames` frames (at most CHUNK_FRAMES) into chunk.stage after the
// HISTORY_LENGTH frames of history; advances the positions and notes the crossings. With
// Together the two lanes stand at the same places (ChannelsMoveTogether), so one index serves
// both and each frame of the ring copy is read and written whole.
template <bool Together>
void RunPairLoop(const int16_t* input, uint32_t frames, double g, double ratio,
                 PairLanes& lanes, PairChunk& chunk) {
    const __m128d one = _mm_set1_pd(1.0);
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

    for (uint32_t done = 0; done < frames;) {
        // A stretch in which no writer reaches the end of its ring before its last frame.
        const int32_t furthest = (writeL > writeR) ? writeL : writeR;
        const uint32_t room = static_cast<uint32_t>(RING_LENGTH - furthest);
        const uint32_t length = (frames - done < room) ? frames - done : room;
        const int16_t* in = input + 2 * done;
        int16_t* stage = chunk.stage + 2 * (HISTORY_LENGTH + done);
        double* copyL = ringCopy + 2 * writeL;
        double* copyR = ringCopy + 2 * writeR + 1;
        for (uint32_t k = 0; k < length; ++k) {
            const __m128d sample = _mm_cvtepi32_pd(Widen(LoadFrame(in + 2 * k)));
            if constexpr (Together) {
                _mm_store_pd(copyL + 2 * k, sample);
            } else {
                _mm_storel_pd(copyL + 2 * k, sample);
                _mm_storeh_pd(copyR + 2 * k, sample);
            }

            const __m128i i0 = _mm_cvttpd_epi32(u);
            const __m128d frac = _mm_sub_pd(u, _mm_cvtepi32_pd(i0));
            const int32_t i0L = _mm_cvtsi128_si32(i0);
            int32_t i0R = i0L;
            if constexpr (!Together) {
                i0R = _mm_extract_epi16(i0, 2);  // 0..881 fits the low half
            }
            __m128d a0;
            __m128d a1;
            if (i0L == RING_LENGTH - 1 || i0R == RING_LENGTH - 1) {  // a neighbour is index 0
                a0 = _mm_loadh_pd(_mm_load_sd(ringCopy + 2 * i0L), ringCopy + 2 * i0R + 1);
                a1 = _mm_loadh_pd(_mm_load_sd(ringCopy + 2 * Neighbour(i0L)),
                                  ringCopy + 2 * Neighbour(i0R) + 1);
            } else if constexpr (Together) {
                a0 = _mm_load_pd(ringCopy + 2 * i0L);
                a1 = _mm_load_pd(ringCopy + 2 * i0L + 2);
            } else {
                a0 = _mm_loadh_pd(_mm_load_sd(ringCopy + 2 * i0L), ringCopy + 2 * i0R + 1);
                a1 = _mm_loadh_pd(_mm_load_sd(ringCopy + 2 * i0L + 2), ringCopy + 2 * i0R + 3);
            }
            const __m128d mix = _mm_mul_pd(
                _mm_add_pd(_mm_mul_pd(a0, _mm_sub_pd(one, frac)), _mm_mul_pd(a1, frac)),
                gainV);
            highest = _mm_max_pd(highest, mix);
            lowest = _mm_min_pd(lowest, mix);
            const __m128i s = _mm_cvttpd_epi32(mix);
            StoreFrame(stage + 2 * k, _mm_packs_epi32(s, s));  // saturates as StageStep does

            const __m128d w = _mm_add_pd(t, one);
            __m128d v = _mm_add_pd(u, ratioV);
            __m128d after = _mm_sub_pd(w, v);
            const __m128d product = _mm_mul_pd(after, before);
            const __m128d readWraps = _mm_cmpge_pd(v, ringLength);
            // A negative product has its sign bit set (so has -0.0, which the exact test
            // below turns away).
            if (_mm_movemask_pd(_mm_or_pd(product, readWraps)) != 0) {
                const int crossed = _mm_movemask_pd(_mm_cmplt_pd(product, _mm_setzero_pd()));
                for (int lane = 0; lane < 2; ++lane) {
                    if ((crossed >> lane) & 1) {
                        chunk.crossings[lane][chunk.crossingCount[lane]++] =
                            static_cast<uint16_t>(done + k);
                    }
                }
                // Subtracting 0.0 from a lane that does not wrap leaves it as it is.
                v = _mm_sub_pd(v, _mm_and_pd(readWraps, ringLength));
                after = _mm_sub_pd(w, v);
            }
            u = v;
            t = w;
            before = after;
        }
        WriteRings(in, length, pitchChannels[0].ring + writeL, pitchChannels[1].ring + writeR);
        done += length;
        writeL += static_cast<int32_t>(length);
        writeR += static_cast<int32_t>(length);
        if (writeL == RING_LENGTH || writeR == RING_LENGTH) {
            writeL = (writeL == RING_LENGTH) ? 0 : writeL;
            writeR = (writeR == RING_LENGTH) ? 0 : writeR;
            t = _mm_sub_pd(t, _mm_and_pd(_mm_cmpge_pd(t, ringLength), ringLength));
            before = _mm_sub_pd(t, u);
        }
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
            const int32_t s = chunk.stage[2 * (HISTORY_LENGTH + n) + lane];
            const int32_t h = chunk.stage[2 * (HISTORY_LENGTH - HISTORY_DELAY + n) + lane];
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

// `frames` whole frames of a block, both channels at once, in chunks of CHUNK_FRAMES.
void RunPairs(const int16_t* input, int16_t* output, uint32_t frames, double g, double ratio,
              bool& clipped) {
    const bool together = ChannelsMoveTogether();
    BringRingCopyUpToDate();
    PairLanes lanes;
    lanes.readPos = _mm_set_pd(pitchChannels[1].readPos, pitchChannels[0].readPos);
    lanes.writePosAsDouble = _mm_set_pd(pitchChannels[1].writePos, pitchChannels[0].writePos);
    lanes.distance = _mm_sub_pd(lanes.writePosAsDouble, lanes.readPos);
    lanes.mixHighest = _mm_setzero_pd();
    lanes.mixLowest = _mm_setzero_pd();
    lanes.writePos[0] = pitchChannels[0].writePos;
    lanes.writePos[1] = pitchChannels[1].writePos;

    PairChunk chunk;
    for (int lane = 0; lane < 2; ++lane) {
        const PitchChannel& p = pitchChannels[lane];
        for (int k = 0; k < HISTORY_LENGTH; ++k) {
            chunk.stage[2 * k + lane] = p.history[(p.historyPos + k) % HISTORY_LENGTH];
        }
    }
    for (uint32_t done = 0; done < frames; done += CHUNK_FRAMES) {
        const uint32_t count = (frames - done < CHUNK_FRAMES) ? frames - done : CHUNK_FRAMES;
        if (done > 0) {
            std::memmove(chunk.stage, chunk.stage + 2 * CHUNK_FRAMES,
                         2 * HISTORY_LENGTH * sizeof(int16_t));
        }
        chunk.crossingCount[0] = 0;
        chunk.crossingCount[1] = 0;
        if (together) {
            RunPairLoop<true>(input + 2 * done, count, g, ratio, lanes, chunk);
        } else {
            RunPairLoop<false>(input + 2 * done, count, g, ratio, lanes, chunk);
        }
        int16_t* out = output + 2 * done;
        std::memcpy(out, chunk.stage + 2 * (HISTORY_LENGTH - HISTORY_DELAY),
                    count * 2 * sizeof(int16_t));
        for (int lane = 0; lane < 2; ++lane) {
            PitchChannel& p = pitchChannels[lane];
            p.crossfadeLeft = ApplyCrossfades(chunk, lane, count, p.crossfadeLeft, out);
        }
        if (done + count == frames) {
            // The last HISTORY_LENGTH frames of stage, oldest first, from the slot after the
            // newest on.
            for (int lane = 0; lane < 2; ++lane) {
                PitchChannel& p = pitchChannels[lane];
                p.historyPos = static_cast<int32_t>((p.historyPos + frames) % HISTORY_LENGTH);
                for (int k = 0; k < HISTORY_LENGTH; ++k) {
                    p.history[(p.historyPos + k) % HISTORY_LENGTH] =
                        chunk.stage[2 * (count + k) + lane];
                }
            }
        }
    }

    NoteRingsCopied();
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
