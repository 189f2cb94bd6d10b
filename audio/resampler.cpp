#include "audio/resampler.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t PHASES = 256;              // table rows per frame; the phase's top 8 bits
constexpr uint32_t FRACTION_BITS = 24;        // the rest, the weight between two rows
constexpr uint32_t ROW = 2 * Resampler::TAPS; // each coefficient twice, once per channel
constexpr double KAISER_BETA = 10.0;          // flat to 12 kHz within -95 dB at every phase
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

struct PhaseTable {
    alignas(16) float coefficients[PHASES + 1][ROW];
    alignas(16) float steps[PHASES][ROW]; // to the next row
};

// Row p holds the taps for the position p / PHASES past a frame; tap j sits at frame
// j - (TAPS / 2 - 1) from that frame. Each row sums to 1, so a constant passes unchanged.
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
            const float c = static_cast<float>(taps[j] / sum);
            table.coefficients[p][2 * j] = table.coefficients[p][2 * j + 1] = c;
        }
    }
    for (uint32_t p = 0; p < PHASES; ++p) {
        for (uint32_t k = 0; k < ROW; ++k) {
            table.steps[p][k] = table.coefficients[p + 1][k] - table.coefficients[p][k];
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

// One output frame at phase past the frame x + 2 * (LOOKAHEAD - 1): the taps from LOOKAHEAD - 1
// frames before that frame to LOOKAHEAD after, two frames (four samples) per register.
void Interpolate(const PhaseTable& table, const float* x, uint32_t phase, int16_t* out) {
    const uint32_t row = phase >> FRACTION_BITS;
    const __m128 weight = _mm_set1_ps(static_cast<float>(phase & ((1u << FRACTION_BITS) - 1)) *
                                      (1.0f / static_cast<float>(1u << FRACTION_BITS)));
    const float* c = table.coefficients[row];
    const float* d = table.steps[row];
    __m128 even = _mm_setzero_ps(), odd = _mm_setzero_ps();
    for (uint32_t k = 0; k < ROW; k += 8) {
        const __m128 c0 = _mm_add_ps(_mm_load_ps(c + k), _mm_mul_ps(weight, _mm_load_ps(d + k)));
        const __m128 c1 =
            _mm_add_ps(_mm_load_ps(c + k + 4), _mm_mul_ps(weight, _mm_load_ps(d + k + 4)));
        even = _mm_add_ps(even, _mm_mul_ps(c0, _mm_loadu_ps(x + k)));
        odd = _mm_add_ps(odd, _mm_mul_ps(c1, _mm_loadu_ps(x + k + 4)));
    }
    __m128 sum = _mm_add_ps(even, odd);
    sum = _mm_add_ps(sum, _mm_movehl_ps(sum, sum)); // left, right in the low two lanes
    sum = _mm_min_ps(_mm_max_ps(sum, _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
    const __m128i whole = _mm_cvtps_epi32(sum); // to nearest
    const int32_t pair = _mm_cvtsi128_si32(_mm_packs_epi32(whole, whole));
    std::memcpy(out, &pair, sizeof pair);
}

// Interleaved 16-bit samples to floats, eight at a time.
void Widen(const int16_t* in, uint32_t samples, float* out) {
    uint32_t i = 0;
    for (; i + 8 <= samples; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_ps(out + i, _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16)));
        _mm_storeu_ps(out + i + 4, _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(x, x), 16)));
    }
    for (; i < samples; ++i) {
        out[i] = in[i];
    }
}

} // namespace

void Resampler::Reset() {
    Table();
    std::memset(frames_, 0, sizeof frames_);
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

// In the bypass: the last BEFORE frames that went through become the history.
void Resampler::KeepHistory(const int16_t* input, uint32_t frames) {
    if (frames >= BEFORE) {
        Widen(input + 2 * (frames - BEFORE), 2 * BEFORE, frames_);
        return;
    }
    std::memmove(frames_, frames_ + 2 * frames, 2 * (BEFORE - frames) * sizeof(float));
    Widen(input, 2 * frames, frames_ + 2 * (BEFORE - frames));
}

// Back to the bypass at a whole position: the frames that have arrived beyond it, as they
// came, and the history moves up behind them.
uint32_t Resampler::Flush(int16_t* output) {
    const uint32_t count = lead_;
    for (uint32_t i = 0; i < 2 * count; ++i) {
        output[i] = static_cast<int16_t>(frames_[2 * BEFORE + i]);
    }
    std::memmove(frames_, frames_ + 2 * count, 2 * BEFORE * sizeof(float));
    lead_ = 0;
    bypassed_ = true;
    return count;
}

uint32_t Resampler::Process(const int16_t* input, uint32_t frames, int16_t* output) {
    uint32_t written = 0;
    if (!bypassed_ && step_ == ONE && phase_ == 0) {
        written = Flush(output);
    } else if (bypassed_ && step_ != ONE) {
        bypassed_ = false; // from the next frame to arrive, LOOKAHEAD frames later
    }
    if (bypassed_) {
        std::memcpy(output + 2 * written, input, frames * 2 * sizeof(int16_t));
        KeepHistory(input, frames);
        return written + frames;
    }
    // frames_ holds BEFORE frames of history, then lead_ frames from the position on; each
    // chunk of input goes after them, and what the next chunk needs moves back to the front.
    const PhaseTable& table = Table();
    for (uint32_t done = 0; done < frames;) {
        const uint32_t chunk = frames - done < CHUNK ? frames - done : CHUNK;
        Widen(input + 2 * done, 2 * chunk, frames_ + 2 * (BEFORE + lead_));
        done += chunk;
        const uint32_t end = BEFORE + lead_ + chunk;
        uint32_t position = BEFORE;
        while (end - position > LOOKAHEAD) {
            Interpolate(table, frames_ + 2 * (position - BEFORE), phase_, output + 2 * written);
            ++written;
            const uint64_t next = phase_ + step_;
            phase_ = static_cast<uint32_t>(next);
            position += static_cast<uint32_t>(next >> 32);
        }
        lead_ = end - position;
        std::memmove(frames_, frames_ + 2 * (position - BEFORE),
                     2 * (BEFORE + lead_) * sizeof(float));
    }
    return written;
}

uint32_t Resampler::Count(uint32_t frames) {
    uint32_t flushed = 0;
    if (!bypassed_ && step_ == ONE && phase_ == 0) {
        flushed = lead_;
        lead_ = 0;
        bypassed_ = true;
    } else if (bypassed_ && step_ != ONE) {
        bypassed_ = false;
    }
    if (bypassed_) {
        return flushed + frames;
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
