// Stereo 16-bit resampling by a ratio close to 1, for bridging two device clocks: a 16-tap
// windowed-sinc interpolator whose coefficients come from the nearest of 4096 phases. Until
// the ratio first leaves 1 the samples are copied bit for bit, and the history kept meanwhile
// lets the interpolator take over without a seam (it is exact at whole positions). No
// allocation, no lock: one object per stream run, touched by its audio thread only.
#pragma once

#include <cstdint>

class Resampler {
  public:
    static constexpr uint32_t TAPS = 16;
    // Input frames beyond an output position that must have arrived before it is computed.
    static constexpr uint32_t LOOKAHEAD = TAPS / 2;
    static constexpr double MAX_DEVIATION = 0.01; // ratios outside 1 +- this are clamped

    // Bypassed, with a silent history. Builds the coefficient table on first use, so call it
    // before the audio thread runs.
    void Reset();

    // Input frames consumed per output frame. The bypass lasts until the first ratio other
    // than exactly 1; from then on it resamples, at a ratio of 1 too.
    void SetRatio(double inputPerOutput);
    double Ratio() const;
    bool Bypassed() const { return bypassed_; }
    // Input frames taken in and not yet given out: what the interpolator holds ahead of its
    // position (none in the bypass; LOOKAHEAD and a fraction once it has taken over).
    double HeldFrames() const {
        return lead_ - static_cast<double>(phase_) / static_cast<double>(ONE);
    }

    // Takes frames input frames (interleaved stereo) and writes the output frames they
    // complete, returning how many; output must hold MaxOutputFrames(frames) frames.
    uint32_t Process(const int16_t* input, uint32_t frames, int16_t* output);
    // The same bookkeeping as Process without the samples: how many frames Process would
    // have written. For simulating hours of a stream in moments; it keeps no history, so an
    // object counts or processes, not both.
    uint32_t Count(uint32_t frames);

    static constexpr uint32_t MaxOutputFrames(uint32_t frames) {
        return frames + frames / 64 + 2 * TAPS;
    }

  private:
    static constexpr uint32_t BEFORE = TAPS / 2 - 1; // history frames before a position
    static constexpr uint32_t CHUNK = 256;           // input frames widened at a time
    static constexpr uint64_t ONE = uint64_t{1} << 32;

    void MoveToFront(uint32_t first, uint32_t count);
    void KeepHistory(const int16_t* input, uint32_t frames);
    uint32_t CountResampled(uint32_t frames);

    alignas(16) float left_[TAPS + CHUNK] = {};
    alignas(16) float right_[TAPS + CHUNK] = {};
    uint32_t lead_ = 0;   // frames held at and after the position
    uint32_t phase_ = 0;  // the position's fraction, in 2^-32 frames
    uint64_t step_ = ONE; // the ratio in 2^-32 frames
    bool bypassed_ = true;
};
