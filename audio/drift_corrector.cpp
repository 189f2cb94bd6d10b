#include "audio/drift_corrector.h"

#include "audio/audio_format.h"

namespace {

constexpr double MAX_DEVIATION = DriftCorrector::MAX_PPM * 1e-6;
// The loop's natural frequency (rad/s, critically damped): wide for the first seconds after it
// acts, then narrowed as 1/t^2 to the width at which reading noise moves the ratio by a small
// fraction of a ppm (narrow 21 s after it acted).
constexpr double WIDE_OMEGA = 1.0;
constexpr double NARROW_OMEGA = 0.02;
constexpr double WIDE_SECONDS = 3.0;
// Once acting, the fill goes through two low-passes in a row, together a quarter of the loop's
// time constant: smooth, and fast enough to keep the loop stable.
constexpr double FILTER_PER_OMEGA = 0.25;

double Clamp(double x, double low, double high) {
    return x < low ? low : (x > high ? high : x);
}

double LoopOmega(double engagedSeconds) {
    if (engagedSeconds <= WIDE_SECONDS) {
        return WIDE_OMEGA;
    }
    const double shrink = WIDE_SECONDS / engagedSeconds;
    const double omega = WIDE_OMEGA * shrink * shrink;
    return omega > NARROW_OMEGA ? omega : NARROW_OMEGA;
}

} // namespace

void DriftCorrector::Start(double targetFrames, double deadBandFrames, double watchSeconds) {
    resampler_.Reset();
    watchSeconds_ = watchSeconds;
    target_ = targetFrames;
    deadBand_ = deadBandFrames / SAMPLE_RATE;
    smoothed_ = filtered_ = firstError_ = integral_ = watchedSeconds_ = 0.0;
    engagedSeconds_ = -1.0;
    first_ = true;
}

void DriftCorrector::Steer(uint32_t frames, double queueFrames) {
    const double dt = static_cast<double>(frames) / SAMPLE_RATE;
    const double error = (queueFrames - target_) / SAMPLE_RATE;
    const bool engaged = engagedSeconds_ >= 0.0;
    watchedSeconds_ += dt;
    const double omega = LoopOmega(engaged ? engagedSeconds_ : 0.0);
    if (first_) {
        smoothed_ = filtered_ = firstError_ = error;
        first_ = false;
    } else {
        const double tau = (engaged ? FILTER_PER_OMEGA / omega : watchSeconds_) / 2;
        smoothed_ += dt / (tau + dt) * (error - smoothed_);
        filtered_ += dt / (tau + dt) * (smoothed_ - filtered_);
    }
    if (!engaged) {
        if (filtered_ <= deadBand_ && filtered_ >= -deadBand_) {
            return; // the ratio stays exactly 1
        }
        // The drift seen so far is the first estimate of the skew: the loop then refines it
        // rather than finding it.
        engagedSeconds_ = 0.0;
        const double drift =
            watchedSeconds_ > 0.0 ? (filtered_ - firstError_) / watchedSeconds_ : 0.0;
        integral_ = Clamp(drift, -MAX_DEVIATION, MAX_DEVIATION);
    }
    integral_ = Clamp(integral_ + omega * omega * filtered_ * dt, -MAX_DEVIATION, MAX_DEVIATION);
    const double deviation =
        Clamp(integral_ + 2.0 * omega * filtered_, -MAX_DEVIATION, MAX_DEVIATION);
    resampler_.SetRatio(1.0 + deviation);
    engagedSeconds_ += dt;
}

uint32_t DriftCorrector::Process(const int16_t* input, uint32_t frames, double queueFrames,
                                 int16_t* output) {
    Steer(frames, queueFrames);
    return resampler_.Process(input, frames, output);
}

uint32_t DriftCorrector::Count(uint32_t frames, double queueFrames) {
    Steer(frames, queueFrames);
    return resampler_.Count(frames);
}
