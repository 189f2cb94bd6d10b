#include "audio/resampler.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>

#include "audio/frame_lanes.h"

namespace {

constexpr uint32_t PHASE_BITS = 12; // table rows per frame: 4096, the nearest one taken
constexpr uint32_t PHASES = 1u << PHASE_BITS;
constexpr double KAISER_BETA = 10.0; // flat to 12 kHz within -95 dB at every phase
constexpr double PI = 3.14159265358979323846;

// sin(pi x) from its series, so the table is the same bit for bit in every build whatever the
// system's own sine does.
double SinPi(double x) {
    x -= 2.0 * static_cast<double>(static_cast<int64_t>(x / 2.0)); // (-2, 2)
    if (x > 1.0) {
        x -= 2.0;
    } else if (x < -1.0) {
        x += 2.0;
    }
    if (x > 0.5) {
        x = 1.0 - x;
    } else if (x < -0.5) {
        x = -1.0 - x;
    }
    const double t = PI * x;
    double term = t, sum = t;
    for (int n = 1; n < 14; ++n) {
        term *= -t * t / ((2.0 * n) * (2.0 * n + 1.0));
        sum += term;
    }
    return sum;
}

// The modified Bessel function of order zero, from its series.
double BesselI0(double x) {
    double term = 1.0, sum = 1.0;
    for (int k = 1; k < 40; ++k) {
        const double half = x / (2.0 * k);
        term *= half * half;
        sum += term;
    }
    return sum;
}

// The Kaiser-windowed sinc at distance x (frames) from the position; exactly 1 at 0 and 0 at
// every other whole distance, which is what makes a whole position a plain copy.
double Kernel(double x) {
    if (x == 0.0) {
        return 1.0;
    }
    const double whole = static_cast<double>(static_cast<int64_t>(x));
    if (x == whole) {
        return 0.0;
    }
    const double r = x / (Resampler::TAPS / 2);
    if (r <= -1.0 || r >= 1.0) {
        return 0.0;
    }
    const double window = BesselI0(KAISER_BETA * std::sqrt(1.0 - r * r)) / BesselI0(KAISER_BETA);
    return SinPi(x) / (PI * x) * window;
}

// Row p holds the taps for the position p / PHASES past a frame; tap j sits at frame
// j - (TAPS / 2 - 1) from that frame. Each row sums to 1, so a constant passes unchanged. The
// nearest row is at most 1/8192 frame off, which at 8 kHz is below -80 dB.
struct PhaseTable {
    alignas(64) float rows[PHASES + 1][Resampler::TAPS];
};

bool BuildTable(PhaseTable& table) {
    for (uint32_t p = 0; p <= PHASES; ++p) {
        const double mu = static_cast<double>(p) / PHASES;
        double taps[Resampler::TAPS];
        double sum = 0.0;
        for (uint32_t j = 0; j < Resampler::TAPS; ++j) {
            taps[j] = Kernel(static_cast<double>(j) - (Resampler::TAPS / 2 - 1) - mu);
            sum += taps[j];
        }
        for (uint32_t j = 0; j < Resampler::TAPS; ++j) {
            table.rows[p][j] = static_cast<float>(taps[j] / sum);
        }
    }
    return true;
}

const PhaseTable& Table() {
    static PhaseTable table;
    static const bool built = BuildTable(table);
    (void)built;
    return table;
}

// The products of the taps and the frames, summed in four lanes, in the same order in every
// build.
inline __m128 Dot(const float* c, const float* x) {
    __m128 even = _mm_mul_ps(_mm_load_ps(c), _mm_loadu_ps(x));
    __m128 odd = _mm_mul_ps(_mm_load_ps(c + 4), _mm_loadu_ps(x + 4));
    for (uint32_t k = 8; k < Resampler::TAPS; k += 8) {
        even = _mm_add_ps(even, _mm_mul_ps(_mm_load_ps(c + k), _mm_loadu_ps(x + k)));
        if (k + 4 < Resampler::TAPS) {
            odd = _mm_add_ps(odd, _mm_mul_ps(_mm_load_ps(c + k + 4), _mm_loadu_ps(x + k + 4)));
        }
    }
    return _mm_add_ps(even, odd);
}

// One output frame at phase past the frame at index TAPS / 2 - 1 of left and right, from the
// TAPS frames there.
inline void Interpolate(const PhaseTable& table, const float* left, const float* right,
                        uint32_t phase, int16_t* out) {
    const uint32_t row = ((phase >> (31 - PHASE_BITS)) + 1) >> 1; // to nearest, 0 .. PHASES
    const float* c = table.rows[row];
    const __m128 l = Dot(c, left), r = Dot(c, right);
    __m128 sum = _mm_add_ps(_mm_unpacklo_ps(l, r), _mm_unpackhi_ps(l, r)); // l0+l2 r0+r2 ..
    sum = _mm_add_ps(sum, _mm_movehl_ps(sum, sum)); // left, right in the low two lanes
    // To nearest; within +-2^31 whatever the input (the taps' magnitudes sum to under 2), so
    // the pack's saturation is the only clipping needed.
    const __m128i whole = _mm_cvtps_epi32(sum);
    const int32_t pair = _mm_cvtsi128_si32(_mm_packs_epi32(whole, whole));
    std::memcpy(out, &pair, sizeof pair);
}

// Interleaved 16-bit frames to two rows of floats, four frames at a time.
void Widen(const int16_t* in, uint32_t frames, float* left, float* right) {
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        const __m128i x = SplitFourFrames(in + 2 * i);
        _mm_storeu_ps(left + i, _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16)));
        _mm_storeu_ps(right + i, _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(x, x), 16)));
    }
    for (; i < frames; ++i) {
        left[i] = in[2 * i];
        right[i] = in[2 * i + 1];
    }
}

} // namespace

void Resampler::Reset() {
    Table();
    std::memset(left_, 0, sizeof left_);
    std::memset(right_, 0, sizeof right_);
    lead_ = phase_ = 0;
    step_ = ONE;
    bypassed_ = true;
}

void Resampler::SetRatio(double inputPerOutput) {
    if (!(inputPerOutput >= 1.0 - MAX_DEVIATION)) { // NaN too
        inputPerOutput = 1.0 - MAX_DEVIATION;
    } else if (inputPerOutput > 1.0 + MAX_DEVIATION) {
        inputPerOutput = 1.0 + MAX_DEVIATION;
    }
    step_ = static_cast<uint64_t>(inputPerOutput * static_cast<double>(ONE) + 0.5);
}

double Resampler::Ratio() const {
    return static_cast<double>(step_) / static_cast<double>(ONE);
}

// Moves the frames from first on to the front of both rows.
void Resampler::MoveToFront(uint32_t first, uint32_t count) {
    std::memmove(left_, left_ + first, count * sizeof(float));
    std::memmove(right_, right_ + first, count * sizeof(float));
}

// In the bypass: the last BEFORE frames that went through become the history.
void Resampler::KeepHistory(const int16_t* input, uint32_t frames) {
    if (frames >= BEFORE) {
        Widen(input + 2 * (frames - BEFORE), BEFORE, left_, right_);
        return;
    }
    MoveToFront(frames, BEFORE - frames);
    Widen(input, frames, left_ + BEFORE - frames, right_ + BEFORE - frames);
}

uint32_t Resampler::Process(const int16_t* input, uint32_t frames, int16_t* output) {
    if (bypassed_ && step_ != ONE) {
        bypassed_ = false; // from the next frame to arrive, LOOKAHEAD frames later
    }
    if (bypassed_) {
        std::memcpy(output, input, frames * 2 * sizeof(int16_t));
        KeepHistory(input, frames);
        return frames;
    }
    uint32_t written = 0;
    // The rows hold BEFORE frames of history, then lead_ frames from the position on; each
    // chunk of input goes after them, and what the next chunk needs moves back to the front.
    // In locals: the output could alias the members, which would otherwise go through memory
    // every frame.
    const PhaseTable& table = Table();
    const uint64_t step = step_;
    uint32_t phase = phase_;
    for (uint32_t done = 0; done < frames;) {
        const uint32_t chunk = frames - done < CHUNK ? frames - done : CHUNK;
        Widen(input + 2 * done, chunk, left_ + BEFORE + lead_, right_ + BEFORE + lead_);
        done += chunk;
        const uint32_t end = BEFORE + lead_ + chunk;
        uint32_t position = BEFORE;
        while (end - position > LOOKAHEAD) {
            Interpolate(table, left_ + position - BEFORE, right_ + position - BEFORE, phase,
                        output + 2 * written);
            ++written;
            const uint64_t next = phase + step;
            phase = static_cast<uint32_t>(next);
            position += static_cast<uint32_t>(next >> 32);
        }
        lead_ = end - position;
        MoveToFront(position - BEFORE, BEFORE + lead_);
    }
    phase_ = phase;
    return written;
}

uint32_t Resampler::Count(uint32_t frames) {
    if (bypassed_ && step_ != ONE) {
        bypassed_ = false;
    }
    if (bypassed_) {
        return frames;
    }
    return CountResampled(frames);
}

// Output k is written once the frames consumed before it, (phase + k * step) >> 32, leave
// more than LOOKAHEAD frames: so the count is the number of k with phase + k * step below
// (lead - LOOKAHEAD) << 32.
uint32_t Resampler::CountResampled(uint32_t frames) {
    const uint64_t lead = uint64_t{lead_} + frames;
    if (lead <= LOOKAHEAD) {
        lead_ = static_cast<uint32_t>(lead);
        return 0;
    }
    const uint64_t room = ((lead - LOOKAHEAD) << 32) - phase_;
    const uint64_t count = (room + step_ - 1) / step_;
    const uint64_t end = phase_ + count * step_;
    phase_ = static_cast<uint32_t>(end);
    lead_ = static_cast<uint32_t>(lead - (end >> 32));
    return static_cast<uint32_t>(count);
}
